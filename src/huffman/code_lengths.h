// Length-limited Huffman code lengths from symbol counts, with ties broken
// by one of four modes.
#pragma once

#include <cstdint>

namespace trimbit {

// Writes n code lengths (0 for unused symbols), none above `limit`.
// n <= 286; 2^limit must exceed the number of used symbols; mode 0..3
// (bit 1: the extraction orders by weight alone, bit 0: the merge does).
// Never throws.
void BuildCodeLengths(const uint32_t* counts, uint32_t n, uint8_t* lengths, uint32_t limit,
                      uint32_t mode);

}  // namespace trimbit
