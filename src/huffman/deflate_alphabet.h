// The constants of deflate's alphabets (RFC 1951 3.2.5 and 3.2.7): what the
// length and distance symbols stand for, how many extra bits follow them,
// and the code-length alphabet of a dynamic block's tree header.
#pragma once

#include <cstdint>

namespace trimbit {

constexpr uint32_t kLitLenSymbols = 286;  // literal/length symbols that have a meaning
constexpr uint32_t kDistSymbols = 30;     // distance symbols that have a meaning
constexpr uint32_t kEndOfBlock = 256;

// By length symbol - 257, for symbols 257..288; 0 after 285.
inline constexpr uint16_t LengthBase[32] = {3,  4,   5,   6,   7,   8,   9,   10, 11, 13, 15,
                                            17, 19,  23,  27,  31,  35,  43,  51, 59, 67, 83,
                                            99, 115, 131, 163, 195, 227, 258, 0,  0,  0};
inline constexpr uint8_t LengthExtraBits[32] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                                3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 0, 0, 0};
inline constexpr uint16_t DistanceBase[30] = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
inline constexpr uint8_t DistanceExtraBits[30] = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                  4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                  9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// The order in which a tree header sends the code-length-code lengths.
inline constexpr uint8_t CodeLengthOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                11, 4,  12, 3, 13, 2, 14, 1, 15};

// Extra bits after the repeat codes 16, 17 and 18 of the code-length alphabet.
inline constexpr uint32_t RepeatExtraBits[3] = {2, 3, 7};

// Extra bits of a literal/length symbol (0 for literals and end of block).
inline uint32_t LitLenExtraBits(uint32_t symbol) {
  return symbol > 256 ? LengthExtraBits[symbol - 257] : 0;
}

}  // namespace trimbit
