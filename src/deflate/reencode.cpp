// ReencodeStream: decodes a raw deflate stream block by block and writes
// every block again in up to four passes (its own codes with a normalised
// tree header, a new dynamic code, the fixed codes, stored), keeping the
// smallest. A copy whose reference costs more than its bytes as literals is
// written as literals, consecutive fixed blocks are merged, blocks that
// decode to nothing are dropped, and a dynamic block that still comes out
// longer is copied back bit for bit.
//
// Only the first pass over a block decodes it from the input. It keeps the
// block's symbols in a compact record, and the later passes replay that
// record. Every decision that looks at the bytes of a copy reads them from
// the window: for a block that fits in the window, as the first pass left
// it; for a longer one the replay rebuilds the window as the decoder would.
//
// The new stream is built in a working buffer and checked by decoding it
// again before it reaches the caller's destination.
#include "deflate/reencode.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "deflate/bit_writer.h"
#include "deflate/block_decoder.h"
#include "deflate/block_report.h"
#include "deflate/stream_check.h"
#include "driver/console.h"
#include "driver/run_state.h"
#include "huffman/tree_header.h"
#include "huffman/tree_optimiser.h"

namespace {

enum PassKind : uint32_t { kOwnCodes = 0, kFixed = 1, kRedo = 2, kStored = 3, kNoPass = 4 };

constexpr uint32_t kImpossible = 0xFFFFFFFF;  // the cost of what cannot be written

// Bytes the working buffer has beyond the input's length. Within a block
// only a re-sent tree header can run ahead of the input (a header is at most
// 17 + 57 + 321 * 14 bits), and the sixteen grace bits can be copied back.
constexpr uint32_t kWorkSlack = 4096;
// Room that must be left after any block or header has been written.
constexpr uint32_t kWorkReserve = 2048;

// A block's symbols as recorded for replay, one word each: a literal is its
// byte value; a copy has bit 31 set, the length symbol less 257 in bits
// 23-27, the length extra value in bits 18-22, the distance symbol in bits
// 13-17 and the distance extra value in bits 0-12. The end of the block is
// the end of the record.
constexpr uint32_t kCopyFlag = 0x80000000u;
inline uint32_t PackCopy(const CopyEvent& c) {
  return kCopyFlag | (c.lengthSymbol - 257) << 23 | c.lengthExtra << 18 | c.distSymbol << 13 |
         c.distExtra;
}
// Records longer than this many symbols are not kept: such a block is
// decoded again in each pass. (A symbol takes at least one input bit.)
constexpr uint32_t kDefaultRecordLimit = 1u << 20;

}  // namespace

// The re-encoder's state for the stream in hand, outside StreamState: a
// rewind to a block's start leaves all of it as it is.
struct Reencoder {
  StreamState blockSnapshot;   // the live state as the current block began
  uint8_t savedPrevByte;       // the output byte before blockSnapshot.outPos then
  uint32_t pass;               // PassKind of the pass in progress
  uint32_t nextPass;           // PassKind of the next pass over the block, or kNoPass
  uint64_t bytesSinceHeader;   // decoded bytes written since the last block header
  uint32_t totalBitsRead;      // input bits of the blocks so far
  uint64_t fixedCost;          // the block with the fixed codes, as the last dynamic pass counted
  uint32_t dynamicCost;        // the block with the new code of the plan
  uint32_t headerBitsWritten;  // the tree header as re-sent in the first pass
  TreeHeaderPlan plan;         // the cheapest dynamic form of the block's counts
  uint32_t planValid;          // plan and dynamicCost were made in this block from planCounts
  uint32_t planCounts[288 + 32];  // the literal/length and distance counts of the plan
  CodeEntry newLitLenCodes[288];
  CodeEntry newDistCodes[32];
  DecodedDigest originalDigest;  // what the input stream decodes to
  std::vector<uint8_t> work;     // the new stream is built here; zero where not yet written
  size_t workDirty;              // leading bytes of work that may not be zero
  uint8_t* workLimit;            // writing past here means a broken invariant
  // The symbol record of the current block (see PackCopy).
  std::unique_ptr<uint32_t[]> record;
  uint32_t recordCapacity;  // words allocated
  uint32_t recordLimit = kDefaultRecordLimit;
  uint32_t recordLength;  // words of the current block's record
  uint32_t recordValid;   // the first pass kept the whole block
  // The block fits in the window: the later passes find its bytes there as
  // the first pass left them, and so neither restore nor write the window.
  uint32_t windowKept;
  // The reader as the first pass left it at the end of the block.
  const uint8_t* afterInPos;
  uint64_t afterBitBuffer;
  uint32_t afterBitCount;
  uint32_t afterGraceGiven;
  uint32_t afterBlockBitsRead;
};

Reencoder reencoder;

namespace {

// Writes the symbols of one pass. The writer lives in the visitor while the
// symbol loop runs, so it stays in registers: fields gather in a 64-bit
// accumulator whose lowest bit belongs at bit (bits & 7) of the byte at
// outPos (the bits below are already there), and go out by whole 32-bit
// words ORed into the zero-filled destination.
// The first pass also records the symbols while there is room (record
// becomes null when there was not).
template <uint32_t kPass>
struct PassWriter {
  static constexpr bool kDigest = kPass == kOwnCodes;
  DecodedDigest* digest;
  const CodeEntry* encLitLen;
  const CodeEntry* encDist;
  uint8_t* outPos;
  uint32_t outBits;      // bits written, the accumulator's included
  uint64_t pending;      // bits not yet ORed into the destination, from bit (outBits & 7) up
  uint32_t pendingBits;  // counted from bit 0 of the byte at outPos
  uint32_t* record;
  uint32_t* recordEnd;
  // The shortest literal code (0 when no literal has one): a copy whose
  // bytes cost at least its reference even at that length stays a copy
  // without looking at its bytes.
  uint32_t shortestLiteral;

  void Begin(uint8_t* pos, uint32_t bits) {
    outPos = pos;
    outBits = bits;
    pending = 0;
    pendingBits = bits & 7;
    shortestLiteral = 0;
    if constexpr (kPass != kStored) {
      uint32_t shortest = 16;
      for (uint32_t b = 0; b < 256; ++b) {
        const uint32_t length = encLitLen[b].length;
        if (length != 0 && length < shortest) shortest = length;
      }
      shortestLiteral = shortest == 16 ? 0 : shortest;
    }
  }
  // Puts the accumulator out; outPos becomes the byte that takes the next bit.
  void Finish() {
    uint32_t word;
    std::memcpy(&word, outPos, 4);
    word |= static_cast<uint32_t>(pending);
    std::memcpy(outPos, &word, 4);
    outPos += pendingBits >> 3;
  }

  void Record(uint32_t word) {
    if constexpr (kPass == kOwnCodes) {
      if (record != recordEnd) [[likely]] {
        *record++ = word;
      } else {
        record = nullptr;
        recordEnd = nullptr;
      }
    }
  }

  void Put(uint32_t value, uint32_t n) {
    pending |= static_cast<uint64_t>(value) << pendingBits;
    pendingBits += n;
    outBits += n;
    if (pendingBits >= 32) {
      uint32_t word;
      std::memcpy(&word, outPos, 4);
      word |= static_cast<uint32_t>(pending);
      std::memcpy(outPos, &word, 4);
      outPos += 4;
      pending >>= 32;
      pendingBits -= 32;
    }
  }
  void PutCode(uint32_t length, uint32_t code) {
    if (length == 0) [[unlikely]]
      throw static_cast<Message>("Trying to write 0 bits");
    Put(code, length);
  }

  void Literal(uint32_t byte, uint32_t bits, uint32_t codeLength) {
    if constexpr (kPass == kOwnCodes) {
      Record(byte);
      PutCode(codeLength, bits);
    } else if constexpr (kPass == kStored) {
      Put(byte, 8);
    } else {
      PutCode(encLitLen[byte].length, encLitLen[byte].code);
    }
  }

  void Copy(const CopyEvent& c, const uint8_t* window, uint64_t windowPos) {
    Record(PackCopy(c));
    const uint64_t start = windowPos - c.length;
    auto byteAt = [&](uint32_t i) { return window[(start + i) & (kWindowSize - 1)]; };
    if constexpr (kPass == kStored) {
      for (uint32_t i = 0; i < c.length; ++i) Put(byteAt(i), 8);
      return;
    }
    const uint32_t extraBits = c.lengthExtraCount + c.distExtraCount;
    uint32_t refCost;
    if constexpr (kPass == kOwnCodes) {
      refCost = c.lengthCodeLength + c.distCodeLength + extraBits;
    } else {
      const uint32_t lengthCode = encLitLen[c.lengthSymbol].length;
      const uint32_t distCode = encDist[c.distSymbol].length;
      refCost = lengthCode + distCode + extraBits;
      if (kPass == kRedo && (lengthCode == 0 || distCode == 0)) refCost = kImpossible;
    }
    // The bytes as literals; the reference stays as soon as they cost as
    // much, or when one of them has no code.
    uint32_t litCost = 0;
    bool literalsPossible = true;
    const bool referenceCheaper = shortestLiteral != 0 && shortestLiteral * c.length >= refCost;
    for (uint32_t i = 0; i < c.length && !referenceCheaper; ++i) {
      const uint32_t length = encLitLen[byteAt(i)].length;
      if (length == 0) {
        literalsPossible = false;
        break;
      }
      litCost += length;
      if (litCost >= refCost) break;
    }
    if (!literalsPossible && refCost == kImpossible) [[unlikely]]
      throw static_cast<Message>("Can do lit nor ref?!?!?!");
    if (!referenceCheaper && literalsPossible && refCost > litCost) {
      codeWork.litLenCounts[c.lengthSymbol] -= 1;
      codeWork.distCounts[c.distSymbol] -= 1;
      for (uint32_t i = 0; i < c.length; ++i) {
        const uint32_t b = byteAt(i);
        codeWork.litLenCounts[b] += 1;
        PutCode(encLitLen[b].length, encLitLen[b].code);
      }
      return;
    }
    if constexpr (kPass == kOwnCodes) {
      PutCode(c.lengthCodeLength, c.lengthBits);
    } else {
      PutCode(encLitLen[c.lengthSymbol].length, encLitLen[c.lengthSymbol].code);
    }
    if (c.lengthExtraCount > 0) Put(c.lengthExtra, c.lengthExtraCount);
    if constexpr (kPass == kOwnCodes) {
      PutCode(c.distCodeLength, c.distBits);
    } else {
      PutCode(encDist[c.distSymbol].length, encDist[c.distSymbol].code);
    }
    if (c.distExtraCount > 0) Put(c.distExtra, c.distExtraCount);
  }

  void EndOfBlock(uint32_t bits, uint32_t codeLength) {
    if constexpr (kPass == kOwnCodes) {
      PutCode(codeLength, bits);
    } else if constexpr (kPass != kStored) {
      PutCode(encLitLen[256].length, encLitLen[256].code);
    }
  }
};

template <uint32_t kPass>
void WriteBlockSymbols(const CodeEntry* encLitLen, const CodeEntry* encDist) {
  Reencoder& r = reencoder;
  StreamState& s = cursor.state;
  PassWriter<kPass> writer = {};
  writer.digest = &r.originalDigest;
  writer.encLitLen = encLitLen;
  writer.encDist = encDist;
  writer.Begin(s.outPos, s.outBits);
  if constexpr (kPass == kOwnCodes) {
    writer.record = r.record.get();
    writer.recordEnd =
        writer.record + (r.recordCapacity < r.recordLimit ? r.recordCapacity : r.recordLimit);
  }
  DecodeSymbols(writer);
  writer.Finish();
  s.outPos = writer.outPos;
  s.outBits = writer.outBits;
  if constexpr (kPass == kOwnCodes) {
    r.recordValid = writer.record != nullptr;
    r.recordLength = r.recordValid ? static_cast<uint32_t>(writer.record - r.record.get()) : 0;
  }
}

// A later pass over the recorded block: what DecodeSymbols would hand the
// writer, taken from the record. Counts the symbols and moves windowPos as
// decoding does; with kRebuild also writes the window as decoding does,
// otherwise it reads the bytes the first pass left there.
template <uint32_t kPass, bool kRebuild>
void ReplayBlockSymbols(const CodeEntry* encLitLen, const CodeEntry* encDist) {
  static_assert(kPass != kOwnCodes, "the first pass decodes");
  Reencoder& r = reencoder;
  StreamState& s = cursor.state;
  PassWriter<kPass> v = {};
  v.encLitLen = encLitLen;
  v.encDist = encDist;
  v.Begin(s.outPos, s.outBits);
  std::memset(codeWork.litLenCounts, 0, sizeof codeWork.litLenCounts);
  std::memset(codeWork.distCounts, 0, sizeof codeWork.distCounts);
  uint32_t* const litLenCounts = codeWork.litLenCounts;
  uint32_t* const distCounts = codeWork.distCounts;
  uint8_t* const window = s.window;
  uint64_t windowPos = s.windowPos;
  const uint32_t* word = r.record.get();
  const uint32_t* const end = word + r.recordLength;
  for (; word != end; ++word) {
    const uint32_t w = *word;
    if (w < 256) {
      litLenCounts[w] += 1;
      if constexpr (kRebuild) window[windowPos & (kWindowSize - 1)] = static_cast<uint8_t>(w);
      windowPos += 1;
      v.Literal(w, 0, 0);
      continue;
    }
    CopyEvent c;
    const uint32_t lengthIndex = (w >> 23) & 31;
    c.lengthSymbol = 257 + lengthIndex;
    c.lengthBits = 0;
    c.lengthCodeLength = 0;
    c.lengthExtra = (w >> 18) & 31;
    c.lengthExtraCount = LengthExtraBits[lengthIndex];
    c.length = LengthBase[lengthIndex] + c.lengthExtra;
    c.distSymbol = (w >> 13) & 31;
    c.distBits = 0;
    c.distCodeLength = 0;
    c.distExtra = w & 0x1FFF;
    c.distExtraCount = DistanceExtraBits[c.distSymbol];
    c.distance = DistanceBase[c.distSymbol] + c.distExtra;
    litLenCounts[c.lengthSymbol] += 1;
    distCounts[c.distSymbol] += 1;
    if constexpr (kRebuild) CopyInWindow(window, windowPos, c.distance, c.length);
    windowPos += c.length;
    v.Copy(c, window, windowPos);
  }
  litLenCounts[256] += 1;
  v.EndOfBlock(0, 0);
  v.Finish();
  s.windowPos = windowPos;
  s.outPos = v.outPos;
  s.outBits = v.outBits;
}

template <bool kRebuild>
void ReplaySymbolsIn(uint32_t pass, const CodeEntry* encLitLen, const CodeEntry* encDist) {
  switch (pass) {
    case kFixed:
      ReplayBlockSymbols<kFixed, kRebuild>(encLitLen, encDist);
      break;
    case kRedo:
      ReplayBlockSymbols<kRedo, kRebuild>(encLitLen, encDist);
      break;
    default:
      ReplayBlockSymbols<kStored, kRebuild>(encLitLen, encDist);
      break;
  }
}

void ReplaySymbols(uint32_t pass, const CodeEntry* encLitLen, const CodeEntry* encDist) {
  if (reencoder.windowKept)
    ReplaySymbolsIn<false>(pass, encLitLen, encDist);
  else
    ReplaySymbolsIn<true>(pass, encLitLen, encDist);
}

void WriteSymbols(uint32_t pass, const CodeEntry* encLitLen, const CodeEntry* encDist) {
  switch (pass) {
    case kOwnCodes:
      WriteBlockSymbols<kOwnCodes>(encLitLen, encDist);
      break;
    case kFixed:
      WriteBlockSymbols<kFixed>(encLitLen, encDist);
      break;
    case kRedo:
      WriteBlockSymbols<kRedo>(encLitLen, encDist);
      break;
    default:
      WriteBlockSymbols<kStored>(encLitLen, encDist);
      break;
  }
}

void CheckRoom() {
  if (cursor.state.outPos > reencoder.workLimit)
    throw static_cast<Message>("Re-encoded stream outgrew its buffer!?!?!?");
}

void TakeSnapshot(uint8_t* out) {
  Reencoder& r = reencoder;
  const StreamState& s = cursor.state;
  r.blockSnapshot = s;
  std::memcpy(&r.blockSnapshot.savedWord, s.outPos, 4);
  r.savedPrevByte = s.outPos > out ? s.outPos[-1] : 0;
}

// Puts the destination back as it was when the block began: a merged pass
// may have written up to 7 bits into the byte before the block's start.
void RestoreDestination(uint8_t* out) {
  const Reencoder& r = reencoder;
  uint8_t* const start = r.blockSnapshot.outPos;
  uint8_t* const low = start > out ? start - 1 : start;
  std::memset(low, 0, static_cast<size_t>(cursor.state.outPos + 4 - low));
  std::memcpy(start, &r.blockSnapshot.savedWord, 4);
  if (start > out) start[-1] = r.savedPrevByte;
}

// Back to the block's start: the destination and the whole StreamState,
// the window excepted while the later passes keep it as it is.
void Rewind(uint8_t* out) {
  RestoreDestination(out);
  const Reencoder& r = reencoder;
  if (!r.windowKept) {
    cursor.state = r.blockSnapshot;
    return;
  }
  constexpr size_t kBefore = offsetof(StreamState, window);
  constexpr size_t kAfter = offsetof(StreamState, windowPos);
  auto* to = reinterpret_cast<unsigned char*>(&cursor.state);
  const auto* from = reinterpret_cast<const unsigned char*>(&r.blockSnapshot);
  std::memcpy(to, from, kBefore);
  std::memcpy(to + kAfter, from + kAfter, sizeof(StreamState) - kAfter);
}

// A block that decodes to nothing leaves no trace in the output; its input
// stays consumed, and it keeps its number.
void DropBlock(uint8_t* out) {
  StreamState& s = cursor.state;
  const uint8_t* const inPos = s.inPos;
  const uint64_t bitBuffer = s.bitBuffer;
  const uint32_t bitCount = s.bitCount;
  const uint32_t graceGiven = s.graceGiven;
  Rewind(out);
  s.inPos = inPos;
  s.bitBuffer = bitBuffer;
  s.bitCount = bitCount;
  s.graceGiven = graceGiven;
  s.blockNumber += 1;
}

// Writes the block's input bits unchanged in place of what the passes
// wrote: reader and writer go back to the block's start, nothing else.
void CopyBlockBack(uint8_t* out) {
  StreamState& s = cursor.state;
  const StreamState& snap = reencoder.blockSnapshot;
  uint32_t left = s.blockBitsRead;
  RestoreDestination(out);
  s.inPos = snap.inPos;
  s.bitBuffer = snap.bitBuffer;
  s.bitCount = snap.bitCount;
  s.graceGiven = snap.graceGiven;
  s.outPos = snap.outPos;
  s.outBits = snap.outBits;
  s.blockStart = snap.outBits;
  s.blockBitsRead = 0;
  while (left > 0) {
    const uint32_t n = left < 16 ? left : 16;
    WriteBits(TakeBits(n), n);
    left -= n;
  }
  s.writtenType = 2;
}

// The block's symbols with the fixed codes, as counted after this pass.
uint64_t FixedCost() {
  const BlockHeader& h = blockHeader;
  uint64_t cost = 3;
  for (uint32_t i = 0; i < h.litLenCodeCount; ++i) {
    const uint32_t extra = i > 256 ? LengthExtraBits[i - 257] : 0;
    cost += static_cast<uint64_t>(codeWork.litLenCounts[i]) *
            (tables.fixedLitLenCodes[i].length + extra);
  }
  const uint32_t distLimit = h.distCodeCount < 30 ? h.distCodeCount : 30;
  for (uint32_t d = 0; d < distLimit; ++d)
    cost += static_cast<uint64_t>(codeWork.distCounts[d]) *
            (DistanceExtraBits[d] + tables.fixedDistCodes[d].length);
  return cost;
}

// The reader at the end of the block, as the first pass leaves it and as a
// replayed pass must leave it too.
void SaveReaderAfterBlock() {
  Reencoder& r = reencoder;
  const StreamState& s = cursor.state;
  r.afterInPos = s.inPos;
  r.afterBitBuffer = s.bitBuffer;
  r.afterBitCount = s.bitCount;
  r.afterGraceGiven = s.graceGiven;
  r.afterBlockBitsRead = s.blockBitsRead;
}

void RestoreReaderAfterBlock() {
  const Reencoder& r = reencoder;
  StreamState& s = cursor.state;
  s.inPos = r.afterInPos;
  s.bitBuffer = r.afterBitBuffer;
  s.bitCount = r.afterBitCount;
  s.graceGiven = r.afterGraceGiven;
  s.blockBitsRead = r.afterBlockBitsRead;
}

// Reads the block's header and body in the current pass and writes it; a
// later pass over a recorded block takes the header the first pass read and
// replays the record instead. Returns whether the pass merged the block into
// the preceding one.
bool WriteBlockPass(uint8_t* out) {
  Reencoder& r = reencoder;
  StreamState& s = cursor.state;
  const uint32_t pass = r.pass;
  const bool replay = pass != kOwnCodes && r.recordValid;

  s.blockStart = s.outBits;
  s.blockNumber += 1;
  s.blockBitsRead = 0;
  if (!replay) ReadBlockHeader();
  const uint32_t btype = blockHeader.btype;
  const uint32_t type = pass == kStored ? 0 : pass == kFixed ? 1 : btype;
  s.writtenType = static_cast<uint8_t>(type);
  bool merged = false;
  if (type == 1 && r.blockSnapshot.writtenType == 1) {
    // Take back the preceding block's end-of-block code (seven 0 bits in
    // the fixed code) and go on with this block's symbols.
    s.outBits = s.blockStart - 7;
    s.outPos = out + s.outBits / 8;
    s.blockStart = r.blockSnapshot.blockStart;
    merged = true;
  } else {
    WriteBits(blockHeader.bfinal, 1);
    WriteBits(type, 2);
    if (pass == kStored) {
      AlignOutput();
      WriteBits(static_cast<uint32_t>(r.bytesSinceHeader), 16);
      WriteBits(static_cast<uint32_t>(r.bytesSinceHeader) ^ 0xFFFF, 16);
    }
    r.bytesSinceHeader = 0;
  }
  CheckBlockType();

  if (btype == 0) {
    // Only ever met in a first pass: a stored block stays stored.
    const uint8_t* data = ReadStoredBlock();
    const uint32_t length = blockHeader.storedLength;
    DigestBytes(&r.originalDigest, data, length);
    AlignOutput();
    WriteBits(length, 16);
    WriteBits(length ^ 0xFFFF, 16);
    std::memcpy(s.outPos, data, length);
    s.outPos += length;
    s.outBits += 8 * length;
    return merged;
  }

  if (btype == 1) {
    if (replay) {
      ReplaySymbols(pass, tables.fixedLitLenCodes, tables.fixedDistCodes);
      RestoreReaderAfterBlock();
    } else {
      UseFixedTables();
      WriteSymbols(pass, tables.fixedLitLenCodes, tables.fixedDistCodes);
      if (pass == kOwnCodes) SaveReaderAfterBlock();
    }
    return merged;
  }

  BlockHeader& h = blockHeader;
  if (!replay) ReadDynamicHeader();
  if (pass == kOwnCodes) {
    WriteBits(h.litLenCodeCount - 257, 5);
    WriteBits(h.distCodeCount - 1, 5);
    WriteBits(h.clCodeCount - 4, 4);
    r.headerBitsWritten =
        EncodeTreeHeader(h.clLengths, h.clCodeCount, h.codeLengthSequence, h.sequenceLength, true);
    CheckRoom();
  } else if (pass == kRedo) {
    const TreeHeaderPlan& plan = r.plan;
    WriteBits(plan.litLenCodeCount - 257, 5);
    WriteBits(plan.distCodeCount - 1, 5);
    WriteBits(plan.clCodeCount - 4, 4);
    uint8_t clLengths[19];
    uint8_t sequence[kSequenceCapacity];
    std::memcpy(clLengths, plan.clLengths, sizeof clLengths);
    std::memcpy(sequence, plan.codeLengthSequence, plan.sequenceLength);
    EncodeTreeHeader(clLengths, plan.clCodeCount, sequence, plan.sequenceLength, true);
    CheckRoom();
  }
  if (replay) {
    if (pass == kFixed) {
      ReplaySymbols(pass, tables.fixedLitLenCodes, tables.fixedDistCodes);
    } else if (pass == kRedo) {
      ReplaySymbols(pass, r.newLitLenCodes, r.newDistCodes);
    } else {
      ReplaySymbols(pass, nullptr, nullptr);  // stored: no codes
    }
    RestoreReaderAfterBlock();
    return merged;
  }
  // After the header, which rebuilt codeTable: the block's own
  // literal/length code is left there.
  BuildBlockTables();
  if (pass == kFixed) {
    WriteSymbols(pass, tables.fixedLitLenCodes, tables.fixedDistCodes);
  } else if (pass == kRedo) {
    WriteSymbols(pass, r.newLitLenCodes, r.newDistCodes);
  } else {
    WriteSymbols(pass, codeWork.codeTable, nullptr);
  }
  ReleaseBlockTables();
  if (pass == kOwnCodes) SaveReaderAfterBlock();
  return merged;
}

// Whether the plan was made in this block from the present counts; if not,
// notes them as the counts of the plan about to be made.
bool SamePlanCounts() {
  Reencoder& r = reencoder;
  uint32_t* const litLen = r.planCounts;
  uint32_t* const dist = r.planCounts + 288;
  if (r.planValid &&
      std::memcmp(litLen, codeWork.litLenCounts, sizeof codeWork.litLenCounts) == 0 &&
      std::memcmp(dist, codeWork.distCounts, sizeof codeWork.distCounts) == 0)
    return true;
  std::memcpy(litLen, codeWork.litLenCounts, sizeof codeWork.litLenCounts);
  std::memcpy(dist, codeWork.distCounts, sizeof codeWork.distCounts);
  r.planValid = 1;
  return false;
}

void ReportFirstPass(uint64_t blockBytes, uint32_t blockBits) {
  const Reencoder& r = reencoder;
  const StreamState& s = cursor.state;
  const BlockHeader& h = blockHeader;
  BlockStatistics stats = {};
  stats.blockNumber = s.blockNumber;
  stats.btype = h.btype;
  stats.blockOffset = s.blockOffset;
  stats.blockBytes = blockBytes;
  stats.blockBitsRead = s.blockBitsRead;
  stats.blockStart = s.blockStart;
  if (h.btype == 2) {
    stats.litLenCodeCount = h.litLenCodeCount;
    stats.distCodeCount = h.distCodeCount;
    stats.clCodeCount = h.clCodeCount;
    stats.sequenceBitsRead = h.sequenceBitsRead;
    stats.headerBitsWritten = r.headerBitsWritten;
    stats.blockBits = blockBits;
    stats.fixedCost = r.fixedCost;
    stats.codeLengths = h.codeLengths;
    stats.litLenCounts = codeWork.litLenCounts;
    stats.distCounts = codeWork.distCounts;
  }
  ReportBlock(stats);
}

}  // namespace

const DecodedDigest& LastDecodedDigest() {
  return reencoder.originalDigest;
}

uint32_t SetSymbolRecordLimit(uint32_t symbols) {
  const uint32_t previous = reencoder.recordLimit;
  reencoder.recordLimit = symbols;
  return previous;
}

uint32_t ReencodeStream(const uint8_t* input, uint32_t inputLength, uint8_t* destination,
                        uint32_t* newLengthOut, uint32_t* inputUsedOut) {
  Reencoder& r = reencoder;
  StreamState& s = cursor.state;
  PrintMessage(kLevelVerbose, "\nCompressed data:\n");

  const uint32_t handled = inputLength < kLongestStream ? inputLength : kLongestStream;
  // The working buffer is kept from stream to stream, and only what the last
  // stream wrote is cleared: many small streams at the start of a long input
  // (the members of a GZIP file) then cost what they write, not the rest of
  // the input each. Until this stream ends well, all of it counts as written.
  const size_t workNeeded = static_cast<size_t>(handled) + kWorkSlack;
  const size_t dirty = r.workDirty < r.work.size() ? r.workDirty : r.work.size();
  if (dirty > 0) std::memset(r.work.data(), 0, dirty);
  if (r.work.size() < workNeeded) r.work.resize(workNeeded);  // new bytes are zero
  r.workDirty = r.work.size();
  // Room for the symbols of the longest block the input can hold; without
  // it every pass decodes.
  const uint64_t mostSymbols = 8 * static_cast<uint64_t>(handled) + 16;
  const uint32_t wanted =
      static_cast<uint32_t>(mostSymbols < r.recordLimit ? mostSymbols : r.recordLimit);
  if (wanted > r.recordCapacity) {
    r.record.reset(new (std::nothrow) uint32_t[wanted]);
    r.recordCapacity = r.record ? wanted : 0;
  }
  uint8_t* const out = r.work.data();
  r.workLimit = out + workNeeded - kWorkReserve;

  StartReading(input, inputLength);
  s.outPos = out;
  s.outBits = 0;
  r.pass = kOwnCodes;
  r.totalBitsRead = 0;
  r.bytesSinceHeader = 0;
  StartDigest(&r.originalDigest);

  for (;;) {
    if (r.pass == kOwnCodes) {
      TakeSnapshot(out);
      r.planValid = 0;
      r.recordValid = 0;
      r.windowKept = 0;
    } else {
      Rewind(out);
    }
    const bool merged = WriteBlockPass(out);
    CheckRoom();

    const StreamState& snap = r.blockSnapshot;
    const uint64_t blockBytes = s.windowPos - snap.windowPos;
    const uint32_t blockBits = s.outBits - snap.outBits;
    if (r.pass == kOwnCodes) r.windowKept = r.recordValid && blockBytes <= kWindowSize;
    const uint32_t btype = blockHeader.btype;
    const bool final = blockHeader.bfinal != 0;
    r.nextPass = kNoPass;
    const bool wroteDynamic = s.writtenType == 2;
    if (wroteDynamic) {
      r.fixedCost = FixedCost();
      // The search depends on the counts alone: when a pass left them as
      // they were, its plan stands.
      if (!SamePlanCounts()) {
        r.plan = {};
        r.plan.litLenTable = r.newLitLenCodes;
        r.plan.distTable = r.newDistCodes;
        r.dynamicCost = OptimiseTreeHeader(codeWork.litLenCounts, codeWork.distCounts, &r.plan);
      }
      if (r.dynamicCost < r.fixedCost && r.dynamicCost < blockBits) r.nextPass = kRedo;
    }
    if (r.pass == kOwnCodes) {
      r.totalBitsRead += s.blockBitsRead;
      if (settings.verbosity == 2) ReportFirstPass(blockBytes, blockBits);
    }
    if (wroteDynamic && settings.verbosity == 2) ReportRedo(r.dynamicCost, r.plan);

    const bool dropped = blockBytes == 0;
    if (dropped) {
      DropBlock(out);
      r.nextPass = kNoPass;
    }
    s.blockOffset += blockBytes;
    r.bytesSinceHeader += blockBytes;

    // A dropped block is finished. A block merged into its predecessor has
    // no header of its own and so no stored form: a stored block must carry
    // exactly the bytes since its header.
    if (!dropped && r.nextPass == kNoPass && r.bytesSinceHeader > 0) {
      uint64_t best = blockBits;
      if (btype == 2 && r.fixedCost < best) {
        best = r.fixedCost;
        r.nextPass = kFixed;
      }
      if (!merged) {
        const uint64_t pad = (8 - ((s.blockStart + 3) % 8)) % 8;
        const uint64_t storedCost = 8 * r.bytesSinceHeader + 35 + pad;
        if (storedCost <= 65535 && storedCost < best) {
          r.pass = kStored;
          continue;
        }
      }
    }
    if (!dropped && r.nextPass == kNoPass && btype == 2 && s.blockBitsRead > 0 &&
        blockBits > s.blockBitsRead) {
      CopyBlockBack(out);
    }
    if (final && r.nextPass == kNoPass) break;
    r.pass = r.nextPass == kNoPass ? kOwnCodes : r.nextPass;
  }

  if (s.outBits == 0) {
    // Every block was empty: the stream becomes the shortest that decodes
    // to nothing, a final fixed block holding only its end-of-block code
    // (03 00). No stream is shorter, so it never grows.
    s.blockStart = 0;
    WriteBits(1, 1);
    WriteBits(1, 2);
    WriteBits(0, 7);
  }
  // The last block written carries BFINAL, also when the final block was
  // merged into it or dropped.
  out[s.blockStart / 8] |= static_cast<uint8_t>(1u << (s.blockStart % 8));
  // Nothing was written past the last byte and the word behind it.
  r.workDirty = static_cast<size_t>(s.outPos - out) + 8;

  const uint32_t readBytes = r.totalBitsRead / 8 + (r.totalBitsRead % 8 != 0);
  const uint32_t used = readBytes < inputLength ? readBytes : inputLength;
  if (inputUsedOut != nullptr) *inputUsedOut = used;
  const uint32_t newLength = s.outBits / 8 + (s.outBits % 8 != 0);
  // Never longer in bytes than the input: the bits read may include the
  // grace bits past the end of the input, which the new stream would spell out.
  if (newLength > used || s.outBits > r.totalBitsRead) {
    std::memcpy(destination, input, used);
    *newLengthOut = used;
    return 0;
  }
  const uint32_t newBits = s.outBits;
  const uint32_t saved = r.totalBitsRead - newBits;
  VerifyReencodedStream(out, newLength, newBits, r.originalDigest);
  std::memcpy(destination, out, newLength);
  *newLengthOut = newLength;
  return saved;
}
