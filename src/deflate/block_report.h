// The verbose block report: where each block lies, how large it is decoded
// and as read, how its tree header was sent and re-sent, what the fixed
// codes, a stored block and a new code would cost, and which codes it
// defined but never used. Reported only at verbosity 2.
#pragma once

#include <cstdint>

#include "huffman/tree_optimiser.h"
#include "support/report.h"

namespace trimbit {

// What the re-encoder knows of a block at the end of its first pass.
struct BlockStatistics {
  uint32_t blockNumber;
  uint32_t btype;          // as read
  uint64_t blockOffset;    // decoded bytes before the block
  uint64_t blockBytes;     // decoded bytes of the block
  uint64_t blockBitsRead;  // input bits of the block, header included
  uint64_t blockStart;     // output bit position of the header it was written under
  // Dynamic blocks only:
  uint32_t litLenCodeCount;
  uint32_t distCodeCount;
  uint32_t clCodeCount;
  uint32_t sequenceBitsRead;
  uint32_t headerBitsWritten;  // the tree header as re-sent with the block's own codes
  uint64_t blockBits;          // bits the first pass wrote for the block
  uint64_t fixedCost;
  const uint8_t* codeLengths;    // the decoded lengths: literal/length, then distance
  const uint32_t* litLenCounts;  // symbol counts after the pass
  const uint32_t* distCounts;
};

// The block's statistics, its stored cost and, for a dynamic block, its
// header lines and the codes it defined but never used, as verbose details.
void ReportBlock(const Reporter& reporter, const BlockStatistics& stats);

// A block written at new boundaries (type 0 stored, 1 fixed, 2 dynamic),
// as a verbose detail.
void ReportNewBlock(const Reporter& reporter, uint32_t number, uint32_t type, uint64_t offset,
                    uint64_t bytes, uint64_t bits);
// What a new code and tree header would cost the block, as a verbose detail.
void ReportRedo(const Reporter& reporter, uint32_t dynamicCost, const TreeHeaderPlan& plan);

}  // namespace trimbit
