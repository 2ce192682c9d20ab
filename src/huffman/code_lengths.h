// Length-limited Huffman code lengths from symbol counts, with ties broken
// by the process-wide codeWork.TieBreakMode.
#pragma once

#include <cstdint>

// Writes n code lengths (0 for unused symbols), none above `limit`.
// n <= 286; 2^limit must exceed the number of used symbols. Never throws.
void BuildCodeLengths(const uint32_t* counts, uint32_t n, uint8_t* lengths, uint32_t limit);
