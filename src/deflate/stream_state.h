// The whole position of the re-encoder in one record: bit reader, bit
// writer, window and block counters. A block's passes start from a copy of
// it, so everything a pass changes must live here.
#pragma once

#include <cstdint>

#include "support/bit_writer.h"
#include "support/input_window.h"

namespace trimbit {

constexpr uint32_t kWindowSize = 32768;

// Where the bit reader stands: moved as one whenever a pass rewinds the
// reader without the rest of the state.
struct BitReaderPosition {
  const uint8_t* inPos;  // next input byte to load into bitBuffer
  uint64_t inBase;       // the input window's Base() when inPos was set: inPos stands for
                         // input offset inBase + (inPos - window origin)
  uint64_t bitBuffer;    // loaded input bits not yet taken; next bit is bit 0
  uint32_t bitCount;     // valid bits in bitBuffer
  uint32_t graceGiven;   // the 16 zero bits past the end of the input have been granted
};

// Cache-line aligned, so that the snapshot a block starts from is copied
// between equally aligned places, and the window starts on a line.
struct alignas(64) StreamState {
  BitReaderPosition reader;
  BitWriter writer;
  uint32_t savedWord;   // in blockSnapshot only: the output word at outPos when the block began
  uint64_t blockStart;  // output bit position of the header of the block being written
  alignas(64) uint8_t window[kWindowSize];  // decoded byte k of the stream at index k mod 32768
  uint64_t windowPos;                       // bytes decoded from the stream so far
  uint64_t blockBitsRead;                   // input bits taken by the current block
  uint32_t blockNumber;                     // 1-based number of the current block
  uint64_t blockOffset;                     // decoded bytes that precede the current block
  uint8_t writtenType;  // type (0 stored, 1 fixed, 2 dynamic) the last block was written in
};

// The live state and the input of the stream being decoded. The input is
// read through a window; the bytes in hand end at inEnd, and the slow paths
// of the reader bring the next ones in. A stream in memory is in hand whole.
struct StreamCursor {
  StreamState state;      // the live state
  const uint8_t* inEnd;   // end of the input bytes in hand
  uint32_t inputClamped;  // the stream stops short of the caller's input (longest stream handled)
  InputWindow* input;     // where the stream's bytes come from
  uint64_t inEndOffset;   // input offset of inEnd
  uint64_t streamStart;   // input offsets of the stream's first byte and of its end
  uint64_t streamEnd;
  uint64_t pin;  // earliest input offset a rewind to the block's start needs again
  InputWindow memory{nullptr, 0};  // the window over a stream handed in memory
};

}  // namespace trimbit
