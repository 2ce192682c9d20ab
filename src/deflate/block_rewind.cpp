// Snapshot, rewind, drop and copy-back of a block. The destination is
// restored byte for byte, the word at the block's start and the byte before
// it included, since the bit writer ORs whole words into it.
#include "deflate/block_rewind.h"

#include <cstddef>
#include <cstring>

#include "deflate/bit_reader.h"
#include "deflate/block_decoder.h"
#include "deflate/work_spill.h"
#include "support/bit_writer.h"
#include "support/byte_order.h"

namespace trimbit {
namespace {

// Puts the destination back as it was when the block began: a merged pass
// may have written up to 7 bits into the byte before the block's start.
// When the passes sent bytes from there on out already, they are taken back
// from the sink.
void RestoreDestination(CodecState& codec) {
  Reencoder& r = codec.reencoder;
  const uint64_t start = r.blockSnapshot.writer.outBits / 8;
  const uint64_t low = start > 0 ? start - 1 : 0;
  uint8_t* const end = codec.cursor.state.writer.outPos + 8;
  if (low < r.workBase) {
    r.sink->Truncate(r.streamOrigin + low);
    std::memset(r.workStart, 0, static_cast<size_t>(end - r.workStart));
    r.workBase = low;
  } else {
    uint8_t* const from = r.workStart + (low - r.workBase);
    if (end > from) std::memset(from, 0, static_cast<size_t>(end - from));
  }
  uint8_t* const at = r.workStart + (start - r.workBase);
  StoreLe32(at, r.blockSnapshot.savedWord);
  if (start > 0) at[-1] = r.savedPrevByte;
}

// The writer's byte and the reader's input again, after the live state was
// set back to positions taken earlier.
void SyncPositions(CodecState& codec) {
  StreamState& s = codec.cursor.state;
  s.writer.outPos = WorkByte(codec.reencoder, s.writer.outBits);
  SyncReader(codec.cursor);
}

}  // namespace

void TakeSnapshot(CodecState& codec) {
  Reencoder& r = codec.reencoder;
  const StreamState& s = codec.cursor.state;
  r.blockSnapshot = s;
  r.blockSnapshot.savedWord = LoadLe32(s.writer.outPos);
  r.savedPrevByte = s.writer.outBits >= 8 ? s.writer.outPos[-1] : 0;
  PinReader(codec.cursor);
}

void Rewind(CodecState& codec) {
  RestoreDestination(codec);
  const Reencoder& r = codec.reencoder;
  StreamState& s = codec.cursor.state;
  if (!r.windowKept) {
    s = r.blockSnapshot;
    SyncPositions(codec);
    return;
  }
  constexpr size_t kBefore = offsetof(StreamState, window);
  constexpr size_t kAfter = offsetof(StreamState, windowPos);
  auto* to = reinterpret_cast<unsigned char*>(&s);
  const auto* from = reinterpret_cast<const unsigned char*>(&r.blockSnapshot);
  std::memcpy(to, from, kBefore);
  std::memcpy(to + kAfter, from + kAfter, sizeof(StreamState) - kAfter);
  SyncPositions(codec);
}

void DropBlock(CodecState& codec) {
  StreamState& s = codec.cursor.state;
  const BitReaderPosition reader = s.reader;
  Rewind(codec);
  s.reader = reader;
  SyncReader(codec.cursor);
  s.blockNumber += 1;
}

void CopyBlockBack(CodecState& codec) {
  Reencoder& r = codec.reencoder;
  StreamState& s = codec.cursor.state;
  const StreamState& snap = r.blockSnapshot;
  uint64_t left = s.blockBitsRead;
  RestoreDestination(codec);
  s.reader = snap.reader;
  s.writer = snap.writer;
  SyncPositions(codec);
  s.blockStart = snap.writer.outBits;
  s.blockBitsRead = 0;
  while (left > 0) {
    if (r.spillAt - s.writer.outPos < 16) [[unlikely]]
      EnsureWorkRoom(r, s.writer, 16);
    const uint32_t n = left < 16 ? static_cast<uint32_t>(left) : 16;
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
  SyncReader(codec.cursor);
}

}  // namespace trimbit
