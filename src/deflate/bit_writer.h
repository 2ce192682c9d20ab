// The bit writer: appends fields least significant bit first, as deflate
// packs them, by ORing 32-bit little-endian words into a zero-filled
// destination. Its position is the writer fields of the live StreamState, so
// rewinding the state rewinds the writer too.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "deflate/stream_state.h"
#include "support/message.h"

static_assert(std::endian::native == std::endian::little, "the bit writer ORs little-endian words");

// Appends the n low bits of value (no bits at or above bit n; n <= 16 in
// practice, n + outBits mod 8 <= 32). Touches up to 3 bytes past the byte
// that takes the last bit, which must be zero.
inline void WriteBits(uint32_t value, uint32_t n) {
  StreamState& s = cursor.state;
  const uint32_t shift = s.outBits & 7;
  uint32_t word;
  std::memcpy(&word, s.outPos, 4);
  word |= value << shift;
  std::memcpy(s.outPos, &word, 4);
  s.outPos += (shift + n) >> 3;
  s.outBits += n;
}

// Moves to the next byte boundary; the skipped bits stay 0.
inline void AlignOutput() {
  StreamState& s = cursor.state;
  if (s.outBits & 7) {
    s.outBits = (s.outBits + 7) & ~7u;
    s.outPos += 1;
  }
}

// Writes a code, refusing one of length 0 (a symbol the code does not cover).
inline void WriteCode(uint32_t length, uint32_t code) {
  if (length == 0) throw static_cast<Message>("Trying to write 0 bits");
  WriteBits(code, length);
}
