// The search for a block's cheapest dynamic encoding: codes under every
// tie-break mode, combined with every code-length-code mode, run-length
// coded greedily and improved in passes.
#pragma once

#include <cstdint>

#include "deflate/code_workspace.h"

constexpr uint32_t kSequenceCapacity = 321;

struct TreeHeaderPlan {
  uint32_t headerBits;       // 3 block-type bits plus the tree header
  CodeEntry* litLenTable;    // caller's room for 286 entries of the chosen code
  CodeEntry* distTable;      // caller's room for 30 entries of the chosen code
  uint32_t litLenCodeCount;  // 257..286
  uint32_t distCodeCount;    // 1..30
  uint32_t clCodeCount;      // 4..19
  uint32_t sequenceLength;   // bytes of codeLengthSequence
  uint8_t clLengths[19];     // code-length code
  uint8_t codeLengthSequence[kSequenceCapacity];
};

// Returns the block's total bits as a dynamic block and fills the plan.
// Leaves TieBreakMode at the chosen code-length mode.
uint32_t OptimiseTreeHeader(const uint32_t* litLenCounts, const uint32_t* distCounts,
                            TreeHeaderPlan* plan);
