// Canonical Huffman codes (RFC 1951 3.2.2) from code lengths: the codes to
// write, and on request a decoding table indexed by the next maxBits bits.
#pragma once

#include <cstdint>

#include "deflate/code_workspace.h"

// Fills codeWork.codeTable[0..n-1] with each symbol's length, its code
// (bit-reversed) and the symbol. n is at most 288, lengths at most 15.
//  - With maxBitsOut: stores the longest length there and returns a new
//    decoding table of 2^maxBits entries (one entry when every length is 0),
//    to be released with FreeDecodeTable. Entries no code covers are all zero.
//  - Without: returns null; with sendCountOut, stores the index of the last
//    non-zero length plus one (1 when all lengths are 0).
// A set of lengths with more codes than the lengths allow is not a prefix
// code and is refused ("Over-subscribed set of code lengths").
CodeEntry* BuildCanonicalCodes(const uint8_t* lengths, uint32_t n, uint32_t* maxBitsOut,
                               uint32_t* sendCountOut);

void FreeDecodeTable(CodeEntry* table);
