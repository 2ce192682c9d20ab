// Bit input over the live StreamState: fields are taken least significant
// bit first, as deflate packs them. The reader grants sixteen zero bits past
// the end of the input once; a load needed after that fails.
//
// The bit buffer is 64 bits wide and may hold more input than the next
// field needs. That changes nothing a caller can see: bits are granted,
// taken and counted exactly as a byte-at-a-time reader would, and the grace
// bits are granted only when a field needs more bits than the input has left.
#pragma once

#include <cstdint>

#include "deflate/decode_table.h"
#include "deflate/stream_state.h"

namespace trimbit {

// Loads input bytes until at least n (at most 16) bits are held; past the
// end of the input grants the sixteen zero bits once, and after that
// refuses the stream ("Unexpected end of data", or "Deflate data too large"
// when the input was cut to the longest stream handled). Call only when
// fewer than n bits are held.
void NeedBitsSlow(StreamCursor& c, uint32_t n);

// Loads whatever input is left into the buffer, as far as it has room;
// never grants the grace bits and never fails.
void LoadAvailableBits(StreamCursor& c);

inline void NeedBits(StreamCursor& c, uint32_t n) {
  if (c.state.reader.bitCount < n) NeedBitsSlow(c, n);
}

// Takes an n-bit field (n at most 16), counting it in blockBitsRead.
inline uint32_t TakeBits(StreamCursor& c, uint32_t n) {
  NeedBits(c, n);
  StreamState& s = c.state;
  BitReaderPosition& r = s.reader;
  const uint32_t value = static_cast<uint32_t>(r.bitBuffer) & ((1u << n) - 1);
  r.bitBuffer >>= n;
  r.bitCount -= n;
  s.blockBitsRead += n;
  return value;
}

// A decoded symbol with the code bits exactly as they stood in the stream.
struct DecodedSymbol {
  uint32_t symbol;
  uint32_t length;  // code length; 0 when no code covers the bits
  uint32_t bits;
};

// Peeks as many bits as the table's longest code, looks the symbol up and
// takes its code. A pattern no code covers yields symbol 0 with length 0 and
// takes nothing.
inline DecodedSymbol DecodeSymbol(StreamCursor& c, const DecodeTable& table) {
  NeedBits(c, table.maxBits);
  StreamState& s = c.state;
  BitReaderPosition& r = s.reader;
  const uint32_t entry = LookUpCode(table, r.bitBuffer);
  const uint32_t length = EntryLength(entry);
  const DecodedSymbol d = {EntrySymbol(entry), length,
                           static_cast<uint32_t>(r.bitBuffer) & ((1u << length) - 1)};
  r.bitBuffer >>= length;
  r.bitCount -= length;
  s.blockBitsRead += length;
  return d;
}

}  // namespace trimbit
