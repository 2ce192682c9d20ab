// The bit writer: appends fields least significant bit first, as deflate
// packs them, by ORing 32-bit little-endian words into a zero-filled
// destination. It is a plain record, so that the state it lives in (the
// re-encoder's stream state) rewinds it by being copied back.
#pragma once

#include <cstdint>

#include "support/byte_order.h"
#include "support/error.h"

namespace trimbit {

struct BitWriter {
  uint8_t* outPos;   // output byte that receives the next bit
  uint64_t outBits;  // bits written to the output so far
};

// Appends the n low bits of value (no bits at or above bit n; n <= 16 in
// practice, n + outBits mod 8 <= 32). Touches up to 3 bytes past the byte
// that takes the last bit, which must be zero.
inline void WriteBits(BitWriter& w, uint32_t value, uint32_t n) {
  const uint32_t shift = static_cast<uint32_t>(w.outBits & 7);
  StoreLe32(w.outPos, LoadLe32(w.outPos) | value << shift);
  w.outPos += (shift + n) >> 3;
  w.outBits += n;
}

// Moves to the next byte boundary; the skipped bits stay 0.
inline void AlignOutput(BitWriter& w) {
  if (w.outBits & 7) {
    w.outBits = (w.outBits + 7) & ~uint64_t{7};
    w.outPos += 1;
  }
}

// Writes a code, refusing one of length 0: a symbol its code does not
// cover, which only a broken invariant can ask for.
inline void WriteCode(BitWriter& w, uint32_t length, uint32_t code) {
  if (length == 0) Fault("Trying to write 0 bits");
  WriteBits(w, code, length);
}

}  // namespace trimbit
