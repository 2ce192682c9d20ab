// The search for a block's cheapest dynamic encoding: codes under every
// tie-break mode, combined with every code-length-code mode, run-length
// coded greedily and improved in passes.
#pragma once

#include <cstdint>

#include "huffman/canonical_codes.h"
#include "huffman/header_search.h"
#include "huffman/tie_break.h"
#include "huffman/tree_header.h"

namespace trimbit {

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

// litLenCounts: 286 counts; distCounts: 30 counts; plan: litLenTable and
// distTable point at the caller's storage. Fills the plan and returns the
// block's total bits as a dynamic block (3 block-type bits, the tree header
// and the data). Works in `search`, which is left holding the chosen
// sequence in its shared buffer; leaves the chosen code-length mode in
// `tieBreak` for the blocks that follow.
uint32_t OptimiseTreeHeader(HeaderSearchState& search, TieBreakState& tieBreak,
                            const uint32_t* litLenCounts, const uint32_t* distCounts,
                            TreeHeaderPlan* plan);

}  // namespace trimbit
