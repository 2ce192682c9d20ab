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

#include "deflate/code_workspace.h"
#include "deflate/decode_table.h"
#include "deflate/stream_state.h"
#include "deflate/tables.h"

// Loads input bytes until at least n (at most 16) bits are held; past the
// end of the input grants the sixteen zero bits once, and after that fails
// with "Unexpected end of data". Call only when fewer than n bits are held.
void NeedBitsSlow(uint32_t n);

// Loads whatever input is left into the buffer, as far as it has room;
// never grants the grace bits and never fails.
void LoadAvailableBits();

inline void NeedBits(uint32_t n) {
  if (cursor.state.bitCount < n) NeedBitsSlow(n);
}

// Takes an n-bit field (n at most 16), counting it in blockBitsRead.
inline uint32_t TakeBits(uint32_t n) {
  NeedBits(n);
  StreamState& s = cursor.state;
  const uint32_t value = static_cast<uint32_t>(s.bitBuffer) & tables.bitMask[n];
  s.bitBuffer >>= n;
  s.bitCount -= n;
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
inline DecodedSymbol DecodeSymbol(const DecodeTable& table) {
  NeedBits(table.maxBits);
  StreamState& s = cursor.state;
  const uint32_t entry = LookUpCode(table, s.bitBuffer);
  const uint32_t length = EntryLength(entry);
  const DecodedSymbol d = {EntrySymbol(entry), length,
                           static_cast<uint32_t>(s.bitBuffer) & tables.bitMask[length]};
  s.bitBuffer >>= length;
  s.bitCount -= length;
  s.blockBitsRead += length;
  return d;
}
