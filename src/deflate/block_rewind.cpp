// Snapshot, rewind, drop and copy-back of a block. The destination is
// restored byte for byte, the word at the block's start and the byte before
// it included, since the bit writer ORs whole words into it.
#include "deflate/block_rewind.h"

#include <cstddef>
#include <cstring>

#include "deflate/bit_reader.h"
#include "support/bit_writer.h"
#include "support/byte_order.h"

namespace trimbit {
namespace {

// Puts the destination back as it was when the block began: a merged pass
// may have written up to 7 bits into the byte before the block's start.
void RestoreDestination(CodecState& codec) {
  const Reencoder& r = codec.reencoder;
  uint8_t* const out = r.workStart;
  uint8_t* const start = r.blockSnapshot.writer.outPos;
  uint8_t* const low = start > out ? start - 1 : start;
  std::memset(low, 0, static_cast<size_t>(codec.cursor.state.writer.outPos + 4 - low));
  StoreLe32(start, r.blockSnapshot.savedWord);
  if (start > out) start[-1] = r.savedPrevByte;
}

}  // namespace

void TakeSnapshot(CodecState& codec) {
  Reencoder& r = codec.reencoder;
  const StreamState& s = codec.cursor.state;
  r.blockSnapshot = s;
  r.blockSnapshot.savedWord = LoadLe32(s.writer.outPos);
  r.savedPrevByte = s.writer.outPos > r.workStart ? s.writer.outPos[-1] : 0;
}

void Rewind(CodecState& codec) {
  RestoreDestination(codec);
  const Reencoder& r = codec.reencoder;
  StreamState& s = codec.cursor.state;
  if (!r.windowKept) {
    s = r.blockSnapshot;
    return;
  }
  constexpr size_t kBefore = offsetof(StreamState, window);
  constexpr size_t kAfter = offsetof(StreamState, windowPos);
  auto* to = reinterpret_cast<unsigned char*>(&s);
  const auto* from = reinterpret_cast<const unsigned char*>(&r.blockSnapshot);
  std::memcpy(to, from, kBefore);
  std::memcpy(to + kAfter, from + kAfter, sizeof(StreamState) - kAfter);
}

void DropBlock(CodecState& codec) {
  StreamState& s = codec.cursor.state;
  const BitReaderPosition reader = s.reader;
  Rewind(codec);
  s.reader = reader;
  s.blockNumber += 1;
}

void CopyBlockBack(CodecState& codec) {
  StreamState& s = codec.cursor.state;
  const StreamState& snap = codec.reencoder.blockSnapshot;
  uint32_t left = s.blockBitsRead;
  RestoreDestination(codec);
  s.reader = snap.reader;
  s.writer = snap.writer;
  s.blockStart = snap.writer.outBits;
  s.blockBitsRead = 0;
  while (left > 0) {
    const uint32_t n = left < 16 ? left : 16;
    WriteBits(s.writer, TakeBits(codec.cursor, n), n);
    left -= n;
  }
  s.writtenType = 2;
}

void SaveReaderAfterBlock(CodecState& codec) {
  Reencoder& r = codec.reencoder;
  const StreamState& s = codec.cursor.state;
  r.afterReader = s.reader;
  r.afterBlockBitsRead = s.blockBitsRead;
}

void RestoreReaderAfterBlock(CodecState& codec) {
  const Reencoder& r = codec.reencoder;
  StreamState& s = codec.cursor.state;
  s.reader = r.afterReader;
  s.blockBitsRead = r.afterBlockBitsRead;
}

}  // namespace trimbit
