// Canonical Huffman codes (RFC 1951 3.2.2) from code lengths, ready to be
// written, and a measure of how a set of lengths fills the code space.
#pragma once

#include <cstdint>

namespace trimbit {

// One symbol of a code: its length (0: no code), its code and the symbol.
// As BuildCanonicalCodes makes it the code is bit-reversed, ready to be ORed
// into the output; in a decoding table it stands in stream order too.
struct CodeEntry {
  uint32_t length;
  uint32_t code;
  uint32_t symbol;
};

// Fills codes[0..n-1] with each symbol's length, its code (bit-reversed)
// and the symbol. n is at most 288. With sendCountOut, stores the number of
// lengths a header must send: the index of the last non-zero length plus
// one, 1 when all lengths are 0. Lengths above 15, or more codes than the
// lengths allow, are internal faults: every caller hands over lengths that
// were checked or built to be a prefix code.
void BuildCanonicalCodes(const uint8_t* lengths, uint32_t n, CodeEntry* codes,
                         uint32_t* sendCountOut);

// How n code lengths fill the code space.
struct CodeSpace {
  int32_t left;      // space no code takes, in 2^-15 of the whole: 0 complete,
                     // above 0 incomplete, below 0 over-subscribed
  uint32_t codes;    // lengths above 0
  uint32_t longest;  // the largest length
};
// Lengths must be at most 15 and n at most 320.
CodeSpace MeasureCodeSpace(const uint8_t* lengths, uint32_t n);

}  // namespace trimbit
