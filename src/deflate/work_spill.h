// The working buffer the new stream is built in, as a window on the output:
// bit positions of the new stream map to bytes of the buffer, and bytes no
// pass can change any more are sent to the sink to make room.
#pragma once

#include <cstdint>

#include "deflate/codec_state.h"

namespace trimbit {

// The byte of the working buffer that holds bit `bit` of the new stream.
inline uint8_t* WorkByte(const Reencoder& r, uint64_t bit) {
  return r.workStart + (bit / 8 - r.workBase);
}

// Sends the bytes before keepFrom to the sink and moves the rest, up to
// the writer at outPos and the word behind it, to the buffer's start;
// returns where the writer's byte is now. Bytes from keepFrom on stay, as
// the bits still to come may be ORed into them.
uint8_t* SpillWork(Reencoder& r, uint8_t* keepFrom, uint8_t* outPos);

// Spills all but the eight bytes behind the writer's byte outPos; returns
// where that byte is now.
uint8_t* SpillBehind(Reencoder& r, uint8_t* outPos);

// Spills when fewer than `bytes` bytes are left before spillAt, keeping a
// few bytes behind the writer `w`.
void EnsureWorkRoom(Reencoder& r, BitWriter& w, uint64_t bytes);

}  // namespace trimbit
