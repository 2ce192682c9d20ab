// The parts of block decoding that run once per block or per field: the
// slow paths of the bit reader, block and stored headers, the dynamic tree
// header and the decoding tables. The symbol loop is in the header.
#include "deflate/block_decoder.h"

#include <cstddef>

#include "deflate/fixed_codes.h"
#include "huffman/canonical_codes.h"
#include "support/error.h"

namespace trimbit {

static_assert(kMaxCodeLengths - 1 + 138 <= kLengthsScratchSize,
              "a final repeat may run 137 lengths past the declared total");

void FailDecoding(const char* message) {
  Refuse(message);
}

namespace {

// The input offset the reader stands at.
uint64_t ReaderOffset(const StreamCursor& c) {
  const BitReaderPosition& r = c.state.reader;
  return r.inBase + static_cast<uint64_t>(r.inPos - c.input->Origin());
}

// What a reader starting somewhere asks to have in hand: whatever more the
// window holds already comes along, and it moves only when less is there.
// Asking for the whole window each time would move it at every member of a
// file of many small members.
constexpr uint64_t kFirstLook = 1u << 16;

// Brings the input from `keep` on (at least `want` bytes where the input has
// them) into the window and points the reader at offset `at` (at least
// `keep`).
void MapInput(StreamCursor& c, uint64_t keep, uint64_t at, uint64_t want) {
  InputWindow& input = *c.input;
  uint64_t available = 0;
  const uint8_t* bytes = input.Map(keep, want, &available);
  const uint64_t end = keep + available < c.streamEnd ? keep + available : c.streamEnd;
  BitReaderPosition& r = c.state.reader;
  r.inPos = bytes + (at - keep);
  r.inBase = input.Base();
  c.inEnd = bytes + (end - keep);
  c.inEndOffset = end;
}

// Moves the window on to the reader's position, keeping the eight bytes
// before it (a stored block hands the bytes in the bit buffer back) and,
// when it leaves room for at least half a window more, everything from the
// block's start, so that the block's later passes find it in hand.
void RefillInput(StreamCursor& c) {
  const uint64_t at = ReaderOffset(c);
  const uint64_t behind = at - c.streamStart < 8 ? at - c.streamStart : 8;
  uint64_t keep = at - behind;
  if (c.pin < keep && at - c.pin <= c.input->capacity() / 2) keep = c.pin;
  MapInput(c, keep, at, c.input->capacity());
}

}  // namespace

void SyncReader(StreamCursor& c) {
  BitReaderPosition& r = c.state.reader;
  if (r.inBase == c.input->Base()) return;
  const uint64_t at = ReaderOffset(c);
  const uint64_t behind = at - c.streamStart < 8 ? at - c.streamStart : 8;
  MapInput(c, at - behind, at, behind + kFirstLook);
}

void PinReader(StreamCursor& c) {
  const uint64_t at = ReaderOffset(c);
  c.pin = at - (at - c.streamStart < 8 ? at - c.streamStart : 8);
}

void LoadAvailableBits(StreamCursor& c) {
  BitReaderPosition& r = c.state.reader;
  if (c.inEnd - r.inPos < 8 && c.inEndOffset < c.streamEnd) RefillInput(c);
  while (r.bitCount <= 56 && r.inPos < c.inEnd) {
    r.bitBuffer |= static_cast<uint64_t>(*r.inPos++) << r.bitCount;
    r.bitCount += 8;
  }
}

void NeedBitsSlow(StreamCursor& c, uint32_t n) {
  BitReaderPosition& r = c.state.reader;
  LoadAvailableBits(c);
  if (r.bitCount >= n) return;
  // Past the end of the input: sixteen zero bits once (the bits above
  // bitCount are zero, since nothing past the end was ever loaded).
  if (c.inputClamped) FailDecoding("Deflate data too large");
  if (r.graceGiven) FailDecoding("Unexpected end of data");
  r.graceGiven = 1;
  r.bitCount += 16;
}

namespace {

void StartReadingAt(CodecState& c, InputWindow& input, uint64_t start, uint64_t length) {
  StreamState& s = c.cursor.state;
  // Everything but the window, whose bytes are never read before written.
  std::memset(&s, 0, offsetof(StreamState, window));
  std::memset(&s.windowPos, 0, sizeof s - offsetof(StreamState, windowPos));
  StreamCursor& cursor = c.cursor;
  if (start > input.size() || length > input.size() - start) Fault("Stream beyond its input!?!?!?");
  cursor.input = &input;
  cursor.streamStart = start;
  cursor.streamEnd = start + length;
  cursor.pin = start;
  MapInput(cursor, start, start, kFirstLook);
}

}  // namespace

void StartReading(CodecState& c, const uint8_t* input, uint32_t inputLength) {
  const bool clamped = inputLength > kLongestStream;
  const uint32_t length = clamped ? kLongestStream : inputLength;
  static const uint8_t kNoBytes[1] = {0};
  c.cursor.memory.Reset(input != nullptr ? input : kNoBytes, length);
  StartReadingAt(c, c.cursor.memory, 0, length);
  c.cursor.inputClamped = clamped;
}

void StartReadingWindow(CodecState& c, InputWindow& input, uint64_t start, uint64_t length) {
  StartReadingAt(c, input, start, length);
  c.cursor.inputClamped = 0;
}

void ReadBlockHeader(CodecState& c) {
  c.header.bfinal = TakeBits(c.cursor, 1);
  c.header.btype = TakeBits(c.cursor, 2);
}

void CheckBlockType(const CodecState& c) {
  if (c.header.btype == 3) FailDecoding("Invalid block type");
}

const uint8_t* ReadStoredBlock(CodecState& c) {
  StreamState& s = c.cursor.state;
  BitReaderPosition& r = s.reader;
  const uint32_t drop = r.bitCount & 7;
  r.bitBuffer >>= drop;
  r.bitCount -= drop;
  s.blockBitsRead += drop;
  const uint32_t length = TakeBits(c.cursor, 16);
  const uint32_t complement = TakeBits(c.cursor, 16);
  if (length != (complement ^ 0xFFFF))
    FailDecoding("Discrepancy in length and complemented length in stored block");
  // Once the zero bits past the end have been granted, no data byte is left.
  if (r.graceGiven) FailDecoding("Too few bytes to be stored from input!?!?!?");
  // The data start at the first whole byte the buffer holds: hand those
  // bytes back to the input.
  r.inPos -= r.bitCount >> 3;
  r.bitBuffer = 0;
  r.bitCount = 0;
  // The data must lie in the window as one piece.
  if (length > static_cast<size_t>(c.cursor.inEnd - r.inPos)) RefillInput(c.cursor);
  if (length > static_cast<size_t>(c.cursor.inEnd - r.inPos)) {
    if (c.cursor.inputClamped) FailDecoding("Deflate data too large");
    FailDecoding("Too few bytes to be stored from input!?!?!?");
  }
  const uint8_t* data = r.inPos;
  s.blockBitsRead += 8 * length;
  uint32_t done = 0;
  while (done < length) {
    const uint32_t index = static_cast<uint32_t>(s.windowPos) & (kWindowSize - 1);
    uint32_t piece = kWindowSize - index;  // stop where the window wraps
    if (piece > length - done) piece = length - done;
    std::memcpy(s.window + index, data + done, piece);
    s.windowPos += piece;
    done += piece;
  }
  r.inPos += length;
  c.header.storedLength = length;
  return data;
}

namespace {

// A code the block may use, by the rule zlib decodes by: complete, or, as
// the one exception, a single code of length 1 (its other pattern is
// refused when it comes); a distance code may also hold no code at all (a
// copy is then refused). Anything else would be "repaired" into a stream
// with other content, so it is refused here.
void CheckCodeSpace(const uint8_t* lengths, uint32_t n, bool mayBeEmpty, const char* overSubscribed,
                    const char* incomplete) {
  const CodeSpace space = MeasureCodeSpace(lengths, n);
  if (space.left < 0) FailDecoding(overSubscribed);
  if (space.left > 0 && space.longest != 1 && !(mayBeEmpty && space.codes == 0))
    FailDecoding(incomplete);
}

}  // namespace

void ReadDynamicHeader(CodecState& c) {
  StreamCursor& cursor = c.cursor;
  StreamState& s = cursor.state;
  BlockHeader& h = c.header;
  h.litLenCodeCount = TakeBits(cursor, 5) + 257;
  h.distCodeCount = TakeBits(cursor, 5) + 1;
  h.clCodeCount = TakeBits(cursor, 4) + 4;
  // Literal/length symbols 286 and 287 and distances 30 and 31 have no
  // meaning; zlib refuses a header that declares them.
  if (h.litLenCodeCount > 286) FailDecoding("Too many literal/length codes (more than 286)");
  if (h.distCodeCount > 30) FailDecoding("Too many distance codes (more than 30)");
  std::memset(h.clLengths, 0, sizeof h.clLengths);
  for (uint32_t i = 0; i < h.clCodeCount; ++i)
    h.clLengths[CodeLengthOrder[i]] = static_cast<uint8_t>(TakeBits(cursor, 3));
  // The code-length code has no exception: it must be complete.
  const CodeSpace clSpace = MeasureCodeSpace(h.clLengths, 19);
  if (clSpace.left < 0) FailDecoding("Over-subscribed code-length code");
  if (clSpace.left > 0) FailDecoding("Incomplete code-length code");

  const uint32_t sequenceStart = s.blockBitsRead;
  CodeEntry clCodes[19];
  BuildCanonicalCodes(h.clLengths, 19, clCodes, nullptr);
  DecodeTable table;
  BuildDecodeTable(clCodes, 19, kCodeLengthRootBits, c.decodeStorage.codeLength,
                   kCodeLengthTableSize, &table);

  uint8_t* lengths = c.work.lengthsScratch;
  std::memset(lengths, 0, kLengthsCleared);
  const uint32_t total = h.litLenCodeCount + h.distCodeCount;
  uint32_t k = 0;
  uint32_t last = 0;
  uint32_t n = 0;
  while (k < total) {
    const DecodedSymbol d = DecodeSymbol(cursor, table);
    if (d.length == 0) Fault("Invalid code-length code!?!?!?");  // the code is complete
    h.codeLengthSequence[n++] = static_cast<uint8_t>(d.symbol);
    if (d.symbol <= 15) {
      lengths[k++] = static_cast<uint8_t>(d.symbol);
      last = d.symbol;
      continue;
    }
    uint32_t repeat;
    uint32_t value = 0;
    if (d.symbol == 16) {
      repeat = TakeBits(cursor, 2);
      h.codeLengthSequence[n++] = static_cast<uint8_t>(repeat);
      repeat += 3;
      value = last;
    } else if (d.symbol == 17) {
      repeat = TakeBits(cursor, 3);
      h.codeLengthSequence[n++] = static_cast<uint8_t>(repeat);
      repeat += 3;
      last = 0;
    } else {
      repeat = TakeBits(cursor, 7);
      h.codeLengthSequence[n++] = static_cast<uint8_t>(repeat);
      repeat += 11;
      last = 0;
    }
    // Room for the overrun: the count check below refuses it.
    std::memset(lengths + k, static_cast<int>(value), repeat);
    k += repeat;
  }
  if (k != total) FailDecoding("Discrepancy in number of code lengths");
  if (lengths[256] == 0) FailDecoding("Missing end-of-block code");
  CheckCodeSpace(lengths, h.litLenCodeCount, false, "Over-subscribed literal/length code",
                 "Incomplete literal/length code");
  CheckCodeSpace(lengths + h.litLenCodeCount, h.distCodeCount, true,
                 "Over-subscribed distance code", "Incomplete distance code");
  h.sequenceLength = n;
  h.sequenceBitsRead = s.blockBitsRead - sequenceStart;
  std::memcpy(h.codeLengths, lengths, total);
}

void UseFixedTables(CodecState& c) {
  const FixedCodes& fixed = GetFixedCodes();
  c.header.litLenCodeCount = 286;
  c.header.distCodeCount = 30;
  c.work.litLenDecode = fixed.litLenDecode;
  c.work.distDecode = fixed.distDecode;
}

void BuildBlockTables(CodecState& c) {
  const BlockHeader& h = c.header;
  CodeEntry distCodes[32];
  BuildCanonicalCodes(h.codeLengths + h.litLenCodeCount, h.distCodeCount, distCodes, nullptr);
  BuildDecodeTable(distCodes, h.distCodeCount, kDistRootBits, c.decodeStorage.dist, kDistTableSize,
                   &c.work.distDecode);
  BuildCanonicalCodes(h.codeLengths, h.litLenCodeCount, c.work.blockLitLenCodes, nullptr);
  BuildDecodeTable(c.work.blockLitLenCodes, h.litLenCodeCount, kLitLenRootBits,
                   c.decodeStorage.litLen, kLitLenTableSize, &c.work.litLenDecode);
}

void ReleaseBlockTables(CodecState& c) {
  // The tables live in reused storage; only the references go.
  c.work.litLenDecode = {};
  c.work.distDecode = {};
}

}  // namespace trimbit
