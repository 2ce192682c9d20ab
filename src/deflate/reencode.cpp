// ReencodeStream: decodes a raw deflate stream block by block and writes
// every block again in up to four passes (its own codes with a normalised
// tree header, a new dynamic code, the fixed codes, stored), keeping the
// smallest; pass_policy.h says which pass follows which. Consecutive fixed
// blocks are merged, blocks that decode to nothing are dropped, and a
// dynamic block that still comes out longer is copied back bit for bit.
//
// Only the first pass over a block decodes it from the input. It keeps the
// block's symbols in a compact record, and the later passes replay that
// record (symbol_replay.h). Every decision that looks at the bytes of a copy
// reads them from the window: for a block that fits in the window, as the
// first pass left it; for a longer one the replay rebuilds the window as the
// decoder would.
//
// The new stream is built in a working buffer and checked by decoding it
// again before it reaches the caller's destination.
#include "deflate/reencode.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>

#include "deflate/block_cost.h"
#include "deflate/block_decoder.h"
#include "deflate/block_report.h"
#include "deflate/block_rewind.h"
#include "deflate/fixed_codes.h"
#include "deflate/pass_policy.h"
#include "deflate/pass_writer.h"
#include "deflate/split_reencode.h"
#include "deflate/stream_check.h"
#include "deflate/symbol_replay.h"
#include "deflate/work_spill.h"
#include "huffman/tree_header.h"
#include "huffman/tree_optimiser.h"
#include "support/bit_writer.h"
#include "support/error.h"

namespace trimbit {
namespace {

// Bytes the working buffer has beyond the input's length. Within a block
// only a re-sent tree header can run ahead of the input (a header is at most
// 17 + 57 + 321 * 14 bits), and the sixteen grace bits can be copied back.
constexpr uint32_t kWorkSlack = 4096;
// Room that must be left after any block or header has been written.
constexpr uint32_t kWorkReserve = 2048;
// Room a pass needs before its first symbol: block and tree headers.
constexpr uint32_t kHeaderRoom = 1024;
// The smallest working buffer: a stored block and its headers fit.
constexpr uint32_t kLeastWorkWindow = 64u << 10;
// The window through which a new stream is read back for its self-check,
// when the sink does not keep it in memory.
constexpr uint32_t kReadBackWindow = 4u << 20;

// Decodes the block's symbols from the input and writes them in pass kPass;
// the first pass also records them for the later passes.
template <uint32_t kPass>
void WriteBlockSymbols(CodecState& codec, const CodeEntry* encLitLen, const CodeEntry* encDist) {
  Reencoder& r = codec.reencoder;
  StreamState& s = codec.cursor.state;
  PassWriter<kPass> writer = {};
  writer.digest = &r.originalDigest;
  writer.encLitLen = encLitLen;
  writer.encDist = encDist;
  writer.work = &codec.work;
  writer.spill = &r;
  writer.Begin(s.writer);
  if constexpr (kPass == kOwnCodes) {
    writer.record = r.record.get();
    writer.recordEnd =
        writer.record + (r.recordCapacity < r.recordLimit ? r.recordCapacity : r.recordLimit);
  }
  DecodeSymbols(codec, writer);
  writer.Finish(s.writer);
  if constexpr (kPass == kOwnCodes) {
    r.recordValid = writer.record != nullptr;
    r.recordLength = r.recordValid ? static_cast<uint32_t>(writer.record - r.record.get()) : 0;
  }
}

void WriteSymbols(CodecState& codec, uint32_t pass, const CodeEntry* encLitLen,
                  const CodeEntry* encDist) {
  switch (pass) {
    case kOwnCodes:
      WriteBlockSymbols<kOwnCodes>(codec, encLitLen, encDist);
      break;
    case kFixed:
      WriteBlockSymbols<kFixed>(codec, encLitLen, encDist);
      break;
    case kRedo:
      WriteBlockSymbols<kRedo>(codec, encLitLen, encDist);
      break;
    default:
      WriteBlockSymbols<kStored>(codec, encLitLen, encDist);
      break;
  }
}

void CheckRoom(const CodecState& codec) {
  if (codec.cursor.state.writer.outPos > codec.reencoder.workLimit)
    Fault("Re-encoded stream outgrew its buffer!?!?!?");
}

// Reads the block's header and body in the current pass and writes it; a
// later pass over a recorded block takes the header the first pass read and
// replays the record instead. Returns whether the pass merged the block into
// the preceding one.
bool WriteBlockPass(CodecState& codec) {
  Reencoder& r = codec.reencoder;
  StreamState& s = codec.cursor.state;
  BitWriter& w = s.writer;
  BlockHeader& h = codec.header;
  const FixedCodes& fixed = GetFixedCodes();
  const uint32_t pass = r.pass;
  const bool replay = pass != kOwnCodes && r.recordValid;

  s.blockStart = w.outBits;
  s.blockNumber += 1;
  s.blockBitsRead = 0;
  if (!replay) ReadBlockHeader(codec);
  const uint32_t btype = h.btype;
  const uint32_t type = pass == kStored ? 0 : pass == kFixed ? 1 : btype;
  s.writtenType = static_cast<uint8_t>(type);
  bool merged = false;
  if (type == 1 && r.blockSnapshot.writtenType == 1) {
    // Take back the preceding block's end-of-block code (seven 0 bits in
    // the fixed code) and go on with this block's symbols.
    w.outBits = s.blockStart - 7;
    w.outPos = WorkByte(r, w.outBits);
    s.blockStart = r.blockSnapshot.blockStart;
    merged = true;
  } else {
    WriteBits(w, h.bfinal, 1);
    WriteBits(w, type, 2);
    if (pass == kStored) {
      AlignOutput(w);
      WriteBits(w, static_cast<uint32_t>(r.bytesSinceHeader), 16);
      WriteBits(w, static_cast<uint32_t>(r.bytesSinceHeader) ^ 0xFFFF, 16);
    }
    r.bytesSinceHeader = 0;
  }
  CheckBlockType(codec);

  if (btype == 0) {
    // Only ever met in a first pass: a stored block stays stored.
    const uint8_t* data = ReadStoredBlock(codec);
    const uint32_t length = h.storedLength;
    DigestBytes(&r.originalDigest, data, length);
    AlignOutput(w);
    WriteBits(w, length, 16);
    WriteBits(w, length ^ 0xFFFF, 16);
    EnsureWorkRoom(r, w, uint64_t{length} + 16);
    std::memcpy(w.outPos, data, length);
    w.outPos += length;
    w.outBits += 8 * length;
    return merged;
  }

  if (btype == 1) {
    if (replay) {
      ReplaySymbols(codec, pass, fixed.litLen, fixed.dist);
      RestoreReaderAfterBlock(codec);
    } else {
      UseFixedTables(codec);
      WriteSymbols(codec, pass, fixed.litLen, fixed.dist);
      if (pass == kOwnCodes) SaveReaderAfterBlock(codec);
    }
    return merged;
  }

  if (!replay) ReadDynamicHeader(codec);
  if (pass == kOwnCodes) {
    WriteBits(w, h.litLenCodeCount - 257, 5);
    WriteBits(w, h.distCodeCount - 1, 5);
    WriteBits(w, h.clCodeCount - 4, 4);
    r.headerBitsWritten = EncodeTreeHeader(h.clLengths, h.clCodeCount, h.codeLengthSequence,
                                           h.sequenceLength, codec.tieBreak, &w);
    CheckRoom(codec);
  } else if (pass == kRedo) {
    const TreeHeaderPlan& plan = r.plan;
    WriteBits(w, plan.litLenCodeCount - 257, 5);
    WriteBits(w, plan.distCodeCount - 1, 5);
    WriteBits(w, plan.clCodeCount - 4, 4);
    uint8_t clLengths[19];
    uint8_t sequence[kSequenceCapacity];
    std::memcpy(clLengths, plan.clLengths, sizeof clLengths);
    std::memcpy(sequence, plan.codeLengthSequence, plan.sequenceLength);
    EncodeTreeHeader(clLengths, plan.clCodeCount, sequence, plan.sequenceLength, codec.tieBreak,
                     &w);
    CheckRoom(codec);
  }
  if (replay) {
    if (pass == kFixed) {
      ReplaySymbols(codec, pass, fixed.litLen, fixed.dist);
    } else if (pass == kRedo) {
      ReplaySymbols(codec, pass, r.newLitLenCodes, r.newDistCodes);
    } else {
      ReplaySymbols(codec, pass, nullptr, nullptr);  // stored: no codes
    }
    RestoreReaderAfterBlock(codec);
    return merged;
  }
  // The first pass writes with the block's own literal/length code, which
  // BuildBlockTables leaves in the workspace.
  BuildBlockTables(codec);
  if (pass == kFixed) {
    WriteSymbols(codec, pass, fixed.litLen, fixed.dist);
  } else if (pass == kRedo) {
    WriteSymbols(codec, pass, r.newLitLenCodes, r.newDistCodes);
  } else {
    WriteSymbols(codec, pass, codec.work.blockLitLenCodes, nullptr);
  }
  ReleaseBlockTables(codec);
  if (pass == kOwnCodes) SaveReaderAfterBlock(codec);
  return merged;
}

// Whether the plan was made in this block from the present counts; if not,
// notes them as the counts of the plan about to be made.
bool SamePlanCounts(CodecState& codec) {
  Reencoder& r = codec.reencoder;
  const CodeWorkspace& work = codec.work;
  uint32_t* const litLen = r.planCounts;
  uint32_t* const dist = r.planCounts + 288;
  if (r.planValid && std::memcmp(litLen, work.litLenCounts, sizeof work.litLenCounts) == 0 &&
      std::memcmp(dist, work.distCounts, sizeof work.distCounts) == 0)
    return true;
  std::memcpy(litLen, work.litLenCounts, sizeof work.litLenCounts);
  std::memcpy(dist, work.distCounts, sizeof work.distCounts);
  r.planValid = 1;
  return false;
}

void ReportFirstPass(const CodecState& codec, const Reporter& reporter, uint64_t blockBytes,
                     uint64_t blockBits) {
  const Reencoder& r = codec.reencoder;
  const StreamState& s = codec.cursor.state;
  const BlockHeader& h = codec.header;
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
    stats.litLenCounts = codec.work.litLenCounts;
    stats.distCounts = codec.work.distCounts;
  }
  ReportBlock(reporter, stats);
}

// Makes the working buffer ready for a stream of `handled` bytes: zero
// where the last stream wrote, long enough, and the symbol record as large
// as the input allows.
void PrepareWork(Reencoder& r, uint32_t handled) {
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
  r.workStart = r.work.data();
  r.workLimit = r.workStart + workNeeded - kWorkReserve;
  r.spillAt = r.workLimit - 16;
  r.workBase = 0;
}

int ReadBackFromSink(void* context, uint64_t offset, void* buffer, size_t n) {
  static_cast<OutputSink*>(context)->ReadAt(offset, buffer, n);
  return 0;
}

// Decodes the new stream (`length` bytes at `origin` of the sink, `bits`
// bits) again and compares it with what the original decoded to.
void VerifyInSink(CodecState& codec, OutputSink& sink, uint64_t origin, uint64_t length,
                  uint64_t bits, const DecodedDigest& original) {
  const uint8_t* const bytes = sink.Contiguous();
  if (bytes != nullptr) {
    InputWindow window(bytes, sink.size());
    VerifyReencodedStreamIn(codec, window, origin, length, bits, original);
  } else {
    // Room for the whole stream when it is short.
    const uint64_t room = length < kReadBackWindow ? length + 8 : kReadBackWindow;
    InputWindow window(ReadBackFromSink, &sink, sink.size(), static_cast<size_t>(room));
    VerifyReencodedStreamIn(codec, window, origin, length, bits, original);
  }
}

// Moves the `length` bytes at `from` of the sink down to `to` (below it).
void MoveDown(OutputSink& sink, uint64_t from, uint64_t to, uint64_t length) {
  uint8_t piece[64 << 10];
  for (uint64_t done = 0; done < length;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(length - done, sizeof piece));
    sink.ReadAt(from + done, piece, n);
    sink.WriteAt(to + done, piece, n);
    done += n;
  }
}

// With -x: the stream once more with new block boundaries, after the one
// at the stream's origin of *lengthInOut bytes; it takes that one's place
// when it is shorter in bytes (ties keep the default). `before` is the
// tie-break record as the stream began. Returns the bits saved by what is
// kept (`savedDefault` when the default stays).
uint64_t KeepShorterSplit(CodecState& codec, const Reporter& reporter, InputWindow& input,
                          uint64_t start, uint64_t inputLength, OutputSink& sink,
                          const TieBreakState& before, uint64_t* lengthInOut,
                          uint64_t savedDefault) {
  Reencoder& r = codec.reencoder;
  const uint64_t origin = r.streamOrigin;
  const uint64_t candidate = sink.size();
  TieBreakState tieBreak = before;
  const uint64_t bits = AppendSplitStream(codec, input, start, inputLength, sink, &tieBreak,
                                          reporter.verbosity >= kReportVerbose);
  const uint64_t length = sink.size() - candidate;
  if (bits == 0 || length >= *lengthInOut) {
    sink.Truncate(candidate);
    return savedDefault;
  }
  VerifyInSink(codec, sink, candidate, length, bits, r.originalDigest);
  MoveDown(sink, candidate, origin, length);
  sink.Truncate(origin + length);
  // The next blocks inherit the mode of the stream kept; what the default
  // way read stays read, since it decided between the two.
  codec.tieBreak.mode = tieBreak.mode;
  codec.tieBreak.written = tieBreak.written;
  codec.tieBreak.readBeforeWritten |= tieBreak.readBeforeWritten;
  ReportSplitBlocks(codec, reporter);
  *lengthInOut = length;
  return r.totalBitsRead - bits;
}

}  // namespace

const DecodedDigest& LastDecodedDigest(const CodecState& codec) {
  return codec.reencoder.originalDigest;
}

uint32_t SetWorkWindow(CodecState& codec, uint32_t bytes) {
  const uint32_t previous = codec.reencoder.workWindow;
  codec.reencoder.workWindow = bytes < kLeastWorkWindow ? kLeastWorkWindow : bytes;
  return previous;
}

uint32_t SetSymbolRecordLimit(CodecState& codec, uint32_t symbols) {
  const uint32_t previous = codec.reencoder.recordLimit;
  codec.reencoder.recordLimit = symbols;
  return previous;
}

namespace {

// The stream the reader was started on, re-encoded into the sink.
uint64_t ReencodeStarted(CodecState& codec, const Reporter& reporter, InputWindow& input,
                         uint64_t start, uint64_t inputLength, OutputSink& sink,
                         uint64_t* newLengthOut, uint64_t* inputUsedOut) {
  Reencoder& r = codec.reencoder;
  StreamState& s = codec.cursor.state;
  BitWriter& w = s.writer;
  const bool verbose = reporter.verbosity >= kReportVerbose;
  const TieBreakState before = codec.tieBreak;

  const uint32_t window = r.workWindow;
  PrepareWork(r, static_cast<uint32_t>(inputLength < window ? inputLength : window));
  r.sink = &sink;
  r.streamOrigin = sink.size();
  uint8_t* const out = r.workStart;

  w.outPos = out;
  w.outBits = 0;
  r.pass = kOwnCodes;
  r.totalBitsRead = 0;
  r.bytesSinceHeader = 0;
  StartDigest(&r.originalDigest);

  for (;;) {
    if (r.pass == kOwnCodes) {
      // Nothing before the byte ahead of the block's start changes any
      // more: a long stream sends it out here.
      if (w.outPos - out >= window / 4) w.outPos = SpillWork(r, w.outPos - 1, w.outPos);
      TakeSnapshot(codec);
      r.planValid = 0;
      r.recordValid = 0;
      r.windowKept = 0;
    } else {
      Rewind(codec);
    }
    EnsureWorkRoom(r, w, kHeaderRoom);
    const bool merged = WriteBlockPass(codec);
    CheckRoom(codec);

    const StreamState& snap = r.blockSnapshot;
    const uint64_t blockBytes = s.windowPos - snap.windowPos;
    const uint64_t blockBits = w.outBits - snap.writer.outBits;
    if (r.pass == kOwnCodes) r.windowKept = r.recordValid && blockBytes <= kWindowSize;
    const bool wroteDynamic = s.writtenType == 2;
    if (wroteDynamic) {
      r.fixedCost = FixedBlockBits(codec.work.litLenCounts, codec.header.litLenCodeCount,
                                   codec.work.distCounts, codec.header.distCodeCount);
      // The search depends on the counts alone: when a pass left them as
      // they were, its plan stands.
      if (!SamePlanCounts(codec)) {
        r.plan = {};
        r.plan.litLenTable = r.newLitLenCodes;
        r.plan.distTable = r.newDistCodes;
        r.dynamicCost = OptimiseTreeHeader(codec.headerSearch, codec.tieBreak,
                                           codec.work.litLenCounts, codec.work.distCounts, &r.plan);
      }
    }
    if (r.pass == kOwnCodes) {
      r.totalBitsRead += s.blockBitsRead;
      if (verbose) ReportFirstPass(codec, reporter, blockBytes, blockBits);
    }
    if (wroteDynamic && verbose) ReportRedo(reporter, r.dynamicCost, r.plan);

    const BlockFacts facts = {
        codec.header.btype, wroteDynamic, merged,          codec.header.bfinal != 0,
        blockBytes,         blockBits,    s.blockBitsRead, r.bytesSinceHeader + blockBytes,
        s.blockStart,       r.fixedCost,  r.dynamicCost};
    const PassDecision decision = DecideAfterPass(facts);
    if (decision.drop) DropBlock(codec);
    s.blockOffset += blockBytes;
    r.bytesSinceHeader += blockBytes;
    if (decision.copyBack) CopyBlockBack(codec);
    if (decision.streamDone) break;
    r.pass = decision.next == kNoPass ? kOwnCodes : decision.next;
  }

  if (w.outBits == 0) {
    // Every block was empty: the stream becomes the shortest that decodes
    // to nothing, a final fixed block holding only its end-of-block code
    // (03 00). No stream is shorter, so it never grows.
    s.blockStart = 0;
    WriteBits(w, 1, 1);
    WriteBits(w, 1, 2);
    WriteBits(w, 0, 7);
  }
  // The last block written carries BFINAL, also when the final block was
  // merged into it or dropped.
  const uint64_t finalByte = s.blockStart / 8;
  const uint8_t finalBit = static_cast<uint8_t>(1u << (s.blockStart % 8));
  if (finalByte >= r.workBase) {
    out[finalByte - r.workBase] |= finalBit;
  } else {
    uint8_t byte = 0;
    sink.ReadAt(r.streamOrigin + finalByte, &byte, 1);
    byte |= finalBit;
    sink.WriteAt(r.streamOrigin + finalByte, &byte, 1);
  }
  // Nothing was written past the last byte and the word behind it.
  r.workDirty = static_cast<size_t>(w.outPos - out) + 8;
  const uint64_t newLength = w.outBits / 8 + (w.outBits % 8 != 0);
  sink.Append(out, static_cast<size_t>(newLength - r.workBase));

  const uint64_t readBytes = r.totalBitsRead / 8 + (r.totalBitsRead % 8 != 0);
  const uint64_t used = readBytes < inputLength ? readBytes : inputLength;
  if (inputUsedOut != nullptr) *inputUsedOut = used;
  // Never longer in bytes than the input: the bits read may include the
  // grace bits past the end of the input, which the new stream would spell out.
  uint64_t kept = newLength, saved = 0;
  if (newLength > used || w.outBits > r.totalBitsRead) {
    sink.Truncate(r.streamOrigin);
    CopyWindowBytes(input, start, used, sink);
    kept = used;
  } else {
    saved = r.totalBitsRead - w.outBits;
    VerifyInSink(codec, sink, r.streamOrigin, newLength, w.outBits, r.originalDigest);
  }
  if (codec.splitBlocks)
    saved =
        KeepShorterSplit(codec, reporter, input, start, inputLength, sink, before, &kept, saved);
  *newLengthOut = kept;
  return saved;
}

}  // namespace

uint64_t ReencodeStreamIn(CodecState& codec, const Reporter& reporter, InputWindow& input,
                          uint64_t start, uint64_t length, OutputSink& sink, uint64_t* newLengthOut,
                          uint64_t* inputUsedOut) {
  Report(reporter, kReportVerbose, ReportKind::Detail, "\nCompressed data:\n");
  StartReadingWindow(codec, input, start, length);
  return ReencodeStarted(codec, reporter, input, start, length, sink, newLengthOut, inputUsedOut);
}

uint32_t ReencodeStream(CodecState& codec, const Reporter& reporter, const uint8_t* input,
                        uint32_t inputLength, uint8_t* destination, uint32_t* newLengthOut,
                        uint32_t* inputUsedOut) {
  Report(reporter, kReportVerbose, ReportKind::Detail, "\nCompressed data:\n");
  // Built in memory; the destination may be the input itself, so it is
  // written only once the input has been read in full.
  StartReading(codec, input, inputLength);
  InputWindow& window = codec.cursor.memory;
  BufferSink sink(codec.reencoder.scratch);
  uint64_t newLength = 0, used = 0;
  const uint64_t saved =
      ReencodeStarted(codec, reporter, window, 0, window.size(), sink, &newLength, &used);
  if (newLength != 0) std::memmove(destination, codec.reencoder.scratch.data(), newLength);
  *newLengthOut = static_cast<uint32_t>(newLength);
  if (inputUsedOut != nullptr) *inputUsedOut = static_cast<uint32_t>(used);
  return static_cast<uint32_t>(saved);
}

}  // namespace trimbit
