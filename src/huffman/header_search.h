// Working state of the tree header search: the candidate codes of the block
// being planned and the three code-length sequence buffers. Between calls
// only the shared sequence buffer (sequences[kSharedSequence]) matters: it
// holds the sequence of the plan last chosen.
#pragma once

#include <cstdint>

#include "huffman/canonical_codes.h"
#include "huffman/deflate_alphabet.h"
#include "huffman/tree_header.h"

namespace trimbit {

// The three sequence buffers: the shared one, which holds the chosen
// sequence when the search returns, and two working buffers.
constexpr uint32_t kSharedSequence = 0;
constexpr uint32_t kFirstWorking = 1;
constexpr uint32_t kSecondWorking = 2;

// A code built under one tie-break mode, kept unless an earlier mode built
// the same lengths (same CRC-32).
template <uint32_t kSymbols>
struct CandidateCode {
  CodeEntry codes[kSymbols];  // lengths and bit-reversed codes, ready to write
  uint8_t lengths[kSymbols];
  uint32_t codeCount;  // lengths a header must send
  uint32_t dataBits;   // the block's symbols under this code, extra bits included
  uint32_t crc;        // CRC-32 of the lengths
};

// The code-length codes one evaluation under mode 0 built, in order, with
// the counts they were built from. An evaluation under another mode takes
// the very same steps, and so comes to the same total, when that mode builds
// the same codes from these counts.
constexpr uint32_t kTraceCapacity = 8;
struct ModeTrace {
  uint32_t builds;  // codes recorded
  uint32_t usable;  // 0: more codes than recorded, or one rebuilt in the normalisation
  uint32_t counts[kTraceCapacity][19];
  uint8_t lengths[kTraceCapacity][19];
};

struct HeaderSearchState {
  CandidateCode<kLitLenSymbols> litLen[4];
  CandidateCode<kDistSymbols> dist[4];
  ModeTrace traces[4][4];  // by literal/length and distance candidate
  uint32_t litLenCount;    // candidates kept
  uint32_t distCount;
  uint8_t sequences[3][kSequenceCapacity];
  uint32_t sequenceLengths[3];
};

// Run-length codes code lengths up to the sentinel byte 255 into `out`
// (room for one byte per length): a run of a non-zero value as one literal
// and 16s of six, the rest as a shorter 16 or literals; a run of zeros as
// 18s of up to 138, then a 17 or literal zeros. Returns the bytes written.
uint32_t GreedyRunLengths(const uint8_t* lengths, uint8_t* out);

}  // namespace trimbit
