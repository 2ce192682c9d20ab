// Length-limited Huffman code lengths from symbol counts, with ties broken
// by one of four modes.
#pragma once

#include <cstdint>

namespace trimbit {

// A set of tie-break modes: bit m stands for mode m.
using ModeSet = uint32_t;
constexpr ModeSet kAllModes = 0xF;

// Writes n code lengths (0 for unused symbols), none above `limit`.
// n <= 286; 2^limit must exceed the number of used symbols; mode 0..3
// (bit 1: the extraction orders by weight alone, bit 0: the merge does).
// Never throws.
void BuildCodeLengths(const uint32_t* counts, uint32_t n, uint8_t* lengths, uint32_t limit,
                      uint32_t mode);

// The same, and returns the modes that take exactly the steps this build
// took, and so build the same lengths from these counts: `mode` itself and
// every mode whose orderings agreed with this mode's in each comparison the
// merge made. A mode differs from another only in how it orders two items
// of equal weight and different height; when the heap never compared such
// a pair in a sift where the two modes differ, they merge alike.
ModeSet BuildCodeLengthsNotingTies(const uint32_t* counts, uint32_t n, uint8_t* lengths,
                                   uint32_t limit, uint32_t mode);

}  // namespace trimbit
