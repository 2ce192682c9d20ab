// The rules that decide how a run of code lengths is sent in a tree header:
// as a repeat code (16, 17, 18) or as literal lengths, and whether a 17 is
// better sent as a 16. The header normalisation and the improvement passes
// of the header search both decide by these, so they cannot drift apart.
#pragma once

#include <cstdint>

#include "huffman/deflate_alphabet.h"

namespace trimbit {

// How many lengths the repeat code `symbol` (16, 17 or 18) with `extra`
// stands for.
inline uint32_t RepeatRun(uint32_t symbol, uint32_t extra) {
  return extra + (symbol == 18 ? 11 : 3);
}

// Bits of the repeat code `symbol` whose code is `codeLength` long, its
// extra bits included.
inline uint32_t RepeatCodeBits(uint32_t symbol, uint32_t codeLength) {
  return codeLength + RepeatExtraBits[symbol - 16];
}

// Whether `run` literal lengths of a value whose code is `literalLength`
// long (0: no code) are strictly cheaper than a repeat code of `repeatBits`.
// At equal cost the repeat code stays.
inline bool LiteralsAreCheaper(uint32_t run, uint32_t literalLength, uint32_t repeatBits) {
  return literalLength != 0 && run * literalLength < repeatBits;
}

// Whether a 17 right after a zero length is sent as a 16 repeating that
// zero: its run fits a 16 (extra at most 3, so 3 to 6 zeros) and the 16's
// code is no longer than the 17's.
inline bool SixteenForSeventeen(uint32_t last, uint32_t extra, uint32_t length16,
                                uint32_t length17) {
  return last == 0 && extra <= 3 && length16 != 0 && length16 <= length17;
}

}  // namespace trimbit
