// Canonical Huffman codes (RFC 1951 3.2.2) from code lengths, ready to be
// written. The decoding tables are built from them by BuildDecodeTable
// (decode_table.h), in storage reused from block to block.
#pragma once

#include <cstdint>

#include "deflate/code_workspace.h"

// Fills codeWork.codeTable[0..n-1] with each symbol's length, its code
// (bit-reversed, ready to be ORed into the output) and the symbol. n is at
// most 288, lengths at most 15. With sendCountOut, stores the number of
// lengths a header must send: the index of the last non-zero length plus
// one, 1 when all lengths are 0. A set of lengths with more codes than the
// lengths allow is not a prefix code and is refused ("Over-subscribed set of
// code lengths").
void BuildCanonicalCodes(const uint8_t* lengths, uint32_t n, uint32_t* sendCountOut);

// How n code lengths fill the code space.
struct CodeSpace {
  int32_t left;      // space no code takes, in 2^-15 of the whole: 0 complete,
                     // above 0 incomplete, below 0 over-subscribed
  uint32_t codes;    // lengths above 0
  uint32_t longest;  // the largest length
};
// Lengths must be at most 15 and n at most 320.
CodeSpace MeasureCodeSpace(const uint8_t* lengths, uint32_t n);
