// The -x way of writing a stream. The stream is decoded again into packed
// symbols one window at a time (about a million symbols, ending at an
// original block boundary), so that memory stays bounded however long the
// stream: per symbol its packed word, the decoded bytes before it, and every
// 1024 symbols the counts so far, from which the counts of any range come by
// one difference and a short scan. The search chooses the window's new
// blocks; each is then written in its cheapest form, and consecutive fixed
// blocks share one header, as the default way does.
#include "deflate/split_reencode.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "deflate/block_cost.h"
#include "deflate/block_decoder.h"
#include "deflate/block_report.h"
#include "deflate/block_split.h"
#include "deflate/fixed_codes.h"
#include "huffman/deflate_alphabet.h"
#include "huffman/tree_header.h"
#include "huffman/tree_optimiser.h"
#include "support/bit_writer.h"
#include "support/error.h"

namespace trimbit {
namespace {

constexpr uint32_t kCheckpointSpacing = 1024;
constexpr uint32_t kCountWords = kLitLenSymbols + kDistSymbols;
// The new stream gathers in a buffer of this many bytes before it goes out;
// the slack takes any one header or symbol written after a check for room.
constexpr size_t kOutputChunk = 1u << 20;
constexpr size_t kOutputSlack = 4096;
constexpr uint32_t kStoredMost = 65535;

struct NewBlock {
  uint32_t type;
  uint64_t offset;  // decoded bytes before it
  uint64_t bytes;
  uint64_t bits;
};

}  // namespace

struct SplitWork {
  std::vector<uint32_t> symbols;      // the window's symbols, packed
  std::vector<uint32_t> starts;       // where each original block of the window starts
  std::vector<uint32_t> bytesBefore;  // decoded bytes of the window before each symbol, and all
  std::vector<uint32_t> checkpoints;  // counts of symbols [0, 1024 k), kCountWords for each k
  // The header search runs here, never in the state the default way uses.
  HeaderSearchState search;
  TreeHeaderPlan plan;
  CodeEntry litLenCodes[288];
  CodeEntry distCodes[32];
  // A second plan, made from the counts the first plan's code leaves once
  // the copies dearer than their bytes are literals, and the window the
  // counting runs in.
  TreeHeaderPlan redoPlan;
  CodeEntry redoLitLenCodes[288];
  CodeEntry redoDistCodes[32];
  uint8_t probe[kWindowSize];
  // The new stream: bytes from outBase on are in `out`, the rest in the sink.
  std::vector<uint8_t> out;
  size_t outDirty;  // leading bytes of `out` that may not be zero
  BitWriter writer;
  uint64_t outBase;
  uint64_t sinkOrigin;     // the sink's size when the new stream began
  uint64_t lastHeaderBit;  // of the last block header written, which takes BFINAL
  bool fixedOpen;          // the last block is fixed and its end-of-block code still to come
  // The decoded bytes, for stored blocks: the last 32 KiB, as decoding keeps them.
  uint8_t window[kWindowSize];
  uint64_t windowPos;
  std::vector<NewBlock> blocks;  // as written, for the -v report
  bool keepBlocks;               // whether they are listed
  // The stream in hand.
  OutputSink* sink;
  TieBreakState* tieBreak;  // the mode the blocks written leave
  // A window ends at the first block end past this many symbols, and inside
  // an original block at twice as many (as if the block ended there).
  uint32_t windowSymbols;
  uint64_t windowOffset;  // decoded bytes before the window
};

void SplitWorkDeleter::operator()(SplitWork* work) const {
  delete work;
}

namespace {

void SplitWindow(SplitWork& s);

struct Collector {
  static constexpr bool kDigest = false;
  static constexpr bool kCountSymbols = false;
  DecodedDigest* digest;
  SplitWork* work;
  void Push(uint32_t word) {
    if (work->symbols.size() >= 2 * work->windowSymbols) [[unlikely]] {
      // The block goes on in the next window.
      SplitWindow(*work);
      work->starts.assign(1, 0);
    }
    work->symbols.push_back(word);
  }
  void Literal(uint32_t byte, uint32_t, uint32_t) { Push(byte); }
  void Copy(const CopyEvent& c, const uint8_t*, uint64_t) {
    // Symbols 286 and 287 copy nothing and have no place in a new block.
    if (c.lengthSymbol > 285) Fault("Copy of no length in a split stream!?!?!?");
    Push(PackedCopy(c.lengthSymbol, c.lengthExtra, c.distSymbol, c.distExtra));
  }
  void EndOfBlock(uint32_t, uint32_t) {}
};

uint32_t SymbolBytes(uint32_t word) {
  if (!IsPackedCopy(word)) return 1;
  const uint32_t l = PackedLengthIndex(word);
  return LengthBase[l] + PackedLengthExtra(word);
}

// Decodes original blocks into the window until it holds enough symbols or
// the final block is in. Returns whether the final block was.
bool FillWindow(CodecState& codec, SplitWork& s) {
  const BlockHeader& h = codec.header;
  s.symbols.clear();
  s.starts.clear();
  Collector collector = {nullptr, &s};
  for (;;) {
    // Empty blocks share one start: a stream of nothing but empty blocks
    // would otherwise take memory in proportion to its length.
    const auto start = static_cast<uint32_t>(s.symbols.size());
    if (s.starts.empty() || s.starts.back() != start) s.starts.push_back(start);
    // What lies before the block is not read again: a stored block's data
    // then find room in the input window.
    PinReader(codec.cursor);
    ReadBlockHeader(codec);
    CheckBlockType(codec);
    if (h.btype == 0) {
      const uint8_t* data = ReadStoredBlock(codec);
      for (uint32_t i = 0; i < h.storedLength; ++i) collector.Push(data[i]);
    } else {
      if (h.btype == 1) {
        UseFixedTables(codec);
      } else {
        ReadDynamicHeader(codec);
        BuildBlockTables(codec);
      }
      DecodeSymbols(codec, collector);
      ReleaseBlockTables(codec);
    }
    if (h.bfinal) return true;
    if (s.symbols.size() >= s.windowSymbols) return false;
  }
}

void IndexWindow(SplitWork& s) {
  const uint32_t n = static_cast<uint32_t>(s.symbols.size());
  s.bytesBefore.resize(n + 1);
  s.checkpoints.assign((n / kCheckpointSpacing + 1) * size_t{kCountWords}, 0);
  uint32_t counts[kCountWords] = {};
  uint32_t bytes = 0;
  for (uint32_t i = 0; i < n; ++i) {
    if (i % kCheckpointSpacing == 0)
      std::memcpy(&s.checkpoints[(i / kCheckpointSpacing) * size_t{kCountWords}], counts,
                  sizeof counts);
    const uint32_t w = s.symbols[i];
    s.bytesBefore[i] = bytes;
    bytes += SymbolBytes(w);
    if (IsPackedCopy(w)) {
      counts[257 + PackedLengthIndex(w)] += 1;
      counts[kLitLenSymbols + PackedDistanceSymbol(w)] += 1;
    } else {
      counts[w] += 1;
    }
  }
  s.bytesBefore[n] = bytes;
  if (n % kCheckpointSpacing == 0)
    std::memcpy(&s.checkpoints[(n / kCheckpointSpacing) * size_t{kCountWords}], counts,
                sizeof counts);
}

void CountSymbol(uint32_t w, uint32_t* litLen, uint32_t* dist, uint32_t add) {
  if (IsPackedCopy(w)) {
    litLen[257 + PackedLengthIndex(w)] += add;
    dist[PackedDistanceSymbol(w)] += add;
  } else {
    litLen[w] += add;
  }
}

// The counts of symbols [begin, end) and one end of block: a difference of
// checkpoints, corrected by the symbols past each.
void RangeCounts(const SplitWork& s, uint32_t begin, uint32_t end, uint32_t* litLen,
                 uint32_t* dist) {
  const uint32_t from = begin / kCheckpointSpacing, to = end / kCheckpointSpacing;
  const uint32_t* a = &s.checkpoints[from * size_t{kCountWords}];
  const uint32_t* b = &s.checkpoints[to * size_t{kCountWords}];
  for (uint32_t i = 0; i < kLitLenSymbols; ++i) litLen[i] = b[i] - a[i];
  for (uint32_t d = 0; d < kDistSymbols; ++d)
    dist[d] = b[kLitLenSymbols + d] - a[kLitLenSymbols + d];
  for (uint32_t i = to * kCheckpointSpacing; i < end; ++i)
    CountSymbol(s.symbols[i], litLen, dist, 1);
  for (uint32_t i = from * kCheckpointSpacing; i < begin; ++i)
    CountSymbol(s.symbols[i], litLen, dist, ~0u);  // wraps: subtracts one
  litLen[256] = 1;
}

// Stored blocks of `bytes` bytes, the first header at bit `headerBit`:
// every block after the first starts on a byte boundary.
uint64_t StoredBits(uint64_t bytes, uint64_t headerBit) {
  const uint64_t first = std::min<uint64_t>(bytes, kStoredMost);
  uint64_t bits = StoredBlockBits(first, headerBit);
  for (uint64_t rest = bytes - first; rest > 0;) {
    const uint64_t piece = std::min<uint64_t>(rest, kStoredMost);
    bits += StoredBlockBits(piece, 0);
    rest -= piece;
  }
  return bits;
}

uint32_t PlanDynamic(SplitWork& s, TieBreakState& tieBreak, const uint32_t* litLen,
                     const uint32_t* dist) {
  s.plan = {};
  s.plan.litLenTable = s.litLenCodes;
  s.plan.distTable = s.distCodes;
  return OptimiseTreeHeader(s.search, tieBreak, litLen, dist, &s.plan);
}

// What the search asks: the block's bits in its cheapest form. The stored
// form is counted as if its first header began on a byte boundary (five
// bits of padding), as every later one does. Works on a scratch tie-break
// record: only the blocks written leave their mode.
uint64_t ExactBits(SplitWork& s, uint32_t begin, uint32_t end) {
  uint32_t litLen[288], dist[32];
  RangeCounts(s, begin, end, litLen, dist);
  TieBreakState scratch = {};
  const uint64_t dynamic = PlanDynamic(s, scratch, litLen, dist);
  const uint64_t fixed = FixedBlockBits(litLen, kLitLenSymbols, dist, kDistSymbols);
  const uint64_t stored = StoredBits(s.bytesBefore[end] - s.bytesBefore[begin], 0);
  return std::min({dynamic, fixed, stored});
}

// ---- Writing ----

void MakeRoom(SplitWork& s, OutputSink& sink) {
  BitWriter& w = s.writer;
  uint8_t* const data = s.out.data();
  if (w.outPos < data + kOutputChunk) return;
  // Whole bytes go out; the byte in progress moves to the front. Nothing
  // past it was written (the writer ORs zero bits there).
  const size_t n = static_cast<size_t>(w.outPos - data);
  sink.Append(data, n);
  data[0] = data[n];
  std::memset(data + 1, 0, n);
  s.outBase += n;
  w.outPos = data;
}

void BeginHeader(SplitWork& s, OutputSink& sink, uint32_t type) {
  MakeRoom(s, sink);
  s.lastHeaderBit = s.writer.outBits;
  WriteBits(s.writer, 0, 1);  // BFINAL is set at the end
  WriteBits(s.writer, type, 2);
}

void CloseFixed(SplitWork& s) {
  if (!s.fixedOpen) return;
  const CodeEntry& end = GetFixedCodes().litLen[256];
  WriteCode(s.writer, end.length, end.code);
  s.fixedOpen = false;
}

// Moves a decoded window over symbol w; returns the bytes it decodes to.
uint32_t AdvanceIn(uint8_t* window, uint64_t& windowPos, uint32_t w) {
  if (!IsPackedCopy(w)) {
    window[windowPos & (kWindowSize - 1)] = static_cast<uint8_t>(w);
    windowPos += 1;
    return 1;
  }
  const uint32_t d = PackedDistanceSymbol(w);
  const uint32_t length = SymbolBytes(w);
  CopyInWindow(window, windowPos, DistanceBase[d] + PackedDistanceExtra(w), length);
  windowPos += length;
  return length;
}

uint32_t Advance(SplitWork& s, uint32_t w) {
  return AdvanceIn(s.window, s.windowPos, w);
}

// Whether the copy just added to the window (its last `length` bytes)
// costs more than its bytes as literals in this code; a literal without a
// code rules them out.
bool LiteralsCheaper(const uint8_t* window, uint64_t windowPos, const CodeEntry* litLen,
                     uint32_t length, uint32_t referenceBits) {
  uint32_t bits = 0;
  for (uint64_t at = windowPos - length; at < windowPos && bits < referenceBits; ++at) {
    const uint32_t codeLength = litLen[window[at & (kWindowSize - 1)]].length;
    if (codeLength == 0) return false;
    bits += codeLength;
  }
  return bits < referenceBits;
}

// The bits of a copy in these codes; a copy they have no code for (a code
// made after the copy went as literals) must go as literals.
uint32_t ReferenceBits(uint32_t word, const CodeEntry* litLen, const CodeEntry* dist) {
  const uint32_t l = PackedLengthIndex(word), d = PackedDistanceSymbol(word);
  if (litLen[257 + l].length == 0 || dist[d].length == 0) return UINT32_MAX;
  return litLen[257 + l].length + LengthExtraBits[l] + dist[d].length + DistanceExtraBits[d];
}

// Writes symbols [begin, end) with these codes; a copy that costs more than
// its bytes as literals goes as the literals, as the default way does.
void WriteCoded(SplitWork& s, OutputSink& sink, uint32_t begin, uint32_t end,
                const CodeEntry* litLen, const CodeEntry* dist) {
  BitWriter& w = s.writer;
  for (uint32_t i = begin; i < end; ++i) {
    MakeRoom(s, sink);
    const uint32_t word = s.symbols[i];
    const uint32_t length = Advance(s, word);
    if (!IsPackedCopy(word)) {
      WriteCode(w, litLen[word].length, litLen[word].code);
      continue;
    }
    const uint32_t l = PackedLengthIndex(word), d = PackedDistanceSymbol(word);
    if (LiteralsCheaper(s.window, s.windowPos, litLen, length, ReferenceBits(word, litLen, dist))) {
      for (uint64_t at = s.windowPos - length; at < s.windowPos; ++at) {
        const CodeEntry& c = litLen[s.window[at & (kWindowSize - 1)]];
        WriteCode(w, c.length, c.code);
      }
      continue;
    }
    WriteCode(w, litLen[257 + l].length, litLen[257 + l].code);
    if (LengthExtraBits[l] > 0) WriteBits(w, PackedLengthExtra(word), LengthExtraBits[l]);
    WriteCode(w, dist[d].length, dist[d].code);
    if (DistanceExtraBits[d] > 0) WriteBits(w, PackedDistanceExtra(word), DistanceExtraBits[d]);
  }
}

void WriteStored(SplitWork& s, OutputSink& sink, uint32_t begin, uint32_t end) {
  BitWriter& w = s.writer;
  uint64_t left = s.bytesBefore[end] - s.bytesBefore[begin];
  uint32_t room = 0;  // bytes the current stored block still takes
  for (uint32_t i = begin; i < end; ++i) {
    const uint64_t from = s.windowPos;
    const uint32_t length = Advance(s, s.symbols[i]);
    for (uint32_t k = 0; k < length; ++k) {
      if (room == 0) {
        room = static_cast<uint32_t>(std::min<uint64_t>(left, kStoredMost));
        BeginHeader(s, sink, 0);
        AlignOutput(w);
        WriteBits(w, room, 16);
        WriteBits(w, room ^ 0xFFFF, 16);
      }
      MakeRoom(s, sink);
      WriteBits(w, s.window[(from + k) & (kWindowSize - 1)], 8);
      room -= 1;
      left -= 1;
    }
  }
}

// The counts of symbols [begin, end) once the copies dearer than their
// bytes in the plan's code are literals, as WriteCoded will write them;
// returns whether any is. Works on a copy of the window.
bool CountsAfterLiterals(SplitWork& s, uint32_t begin, uint32_t end, uint32_t* litLen,
                         uint32_t* dist) {
  std::memcpy(s.probe, s.window, sizeof s.window);
  uint64_t windowPos = s.windowPos;
  bool changed = false;
  for (uint32_t i = begin; i < end; ++i) {
    const uint32_t word = s.symbols[i];
    const uint32_t length = AdvanceIn(s.probe, windowPos, word);
    if (!IsPackedCopy(word) || !LiteralsCheaper(s.probe, windowPos, s.litLenCodes, length,
                                                ReferenceBits(word, s.litLenCodes, s.distCodes)))
      continue;
    litLen[257 + PackedLengthIndex(word)] -= 1;
    dist[PackedDistanceSymbol(word)] -= 1;
    for (uint64_t at = windowPos - length; at < windowPos; ++at)
      litLen[s.probe[at & (kWindowSize - 1)]] += 1;
    changed = true;
  }
  return changed;
}

// Bits of a dynamic block with the plan's header and code and these counts.
uint64_t PlannedBits(const TreeHeaderPlan& plan, const uint32_t* litLen, const uint32_t* dist) {
  uint64_t bits = plan.headerBits;
  for (uint32_t i = 0; i < kLitLenSymbols; ++i)
    bits += uint64_t{litLen[i]} * (plan.litLenTable[i].length + LitLenExtraBits(i));
  for (uint32_t d = 0; d < kDistSymbols; ++d)
    bits += uint64_t{dist[d]} * (plan.distTable[d].length + DistanceExtraBits[d]);
  return bits;
}

// Writes the window's new blocks in their cheapest forms.
void WriteWindow(SplitWork& s, OutputSink& sink, std::span<const uint32_t> starts,
                 uint64_t windowOffset, TieBreakState& tieBreak) {
  const FixedCodes& fixed = GetFixedCodes();
  const uint32_t n = static_cast<uint32_t>(s.symbols.size());
  for (size_t i = 0; i < starts.size(); ++i) {
    const uint32_t begin = starts[i], end = i + 1 < starts.size() ? starts[i + 1] : n;
    uint32_t litLen[288], dist[32];
    RangeCounts(s, begin, end, litLen, dist);
    const uint64_t bytes = s.bytesBefore[end] - s.bytesBefore[begin];
    // Leaving an open fixed block costs its end-of-block code; going on
    // with it saves this block's header and the code.
    const uint64_t close = s.fixedOpen ? 7 : 0;
    const uint64_t dynamicBits = close + PlanDynamic(s, tieBreak, litLen, dist);
    const uint64_t fixedBits =
        FixedBlockBits(litLen, kLitLenSymbols, dist, kDistSymbols) - (s.fixedOpen ? 10 : 0);
    const uint64_t storedBits = close + StoredBits(bytes, s.writer.outBits + close);
    uint32_t type = 2;
    if (fixedBits < dynamicBits) type = 1;
    if (storedBits < std::min(dynamicBits, fixedBits)) type = 0;
    const bool goOn = type == 1 && s.fixedOpen;
    // The end-of-block code that closes a fixed block counts with that block.
    if (!goOn) CloseFixed(s);
    const uint64_t blockStart = s.writer.outBits;

    if (goOn) {
      WriteCoded(s, sink, begin, end, fixed.litLen, fixed.dist);
    } else {
      if (type == 2) {
        // When literals change the counts, a code made for the new counts
        // may cost less still.
        const TreeHeaderPlan* chosen = &s.plan;
        if (CountsAfterLiterals(s, begin, end, litLen, dist)) {
          TieBreakState redoMode = {};
          s.redoPlan = {};
          s.redoPlan.litLenTable = s.redoLitLenCodes;
          s.redoPlan.distTable = s.redoDistCodes;
          const uint64_t redoBits =
              OptimiseTreeHeader(s.search, redoMode, litLen, dist, &s.redoPlan);
          if (redoBits < PlannedBits(s.plan, litLen, dist)) {
            chosen = &s.redoPlan;
            WriteCarriedMode(tieBreak, redoMode.mode);
          }
        }
        const TreeHeaderPlan& plan = *chosen;
        BeginHeader(s, sink, 2);
        WriteBits(s.writer, plan.litLenCodeCount - 257, 5);
        WriteBits(s.writer, plan.distCodeCount - 1, 5);
        WriteBits(s.writer, plan.clCodeCount - 4, 4);
        uint8_t clLengths[19];
        uint8_t sequence[kSequenceCapacity];
        std::memcpy(clLengths, plan.clLengths, sizeof clLengths);
        std::memcpy(sequence, plan.codeLengthSequence, plan.sequenceLength);
        EncodeTreeHeader(clLengths, plan.clCodeCount, sequence, plan.sequenceLength, tieBreak,
                         &s.writer);
        WriteCoded(s, sink, begin, end, plan.litLenTable, plan.distTable);
        const CodeEntry& eob = plan.litLenTable[256];
        WriteCode(s.writer, eob.length, eob.code);
      } else if (type == 1) {
        BeginHeader(s, sink, 1);
        WriteCoded(s, sink, begin, end, fixed.litLen, fixed.dist);
        s.fixedOpen = true;
      } else {
        WriteStored(s, sink, begin, end);
      }
    }
    const uint64_t offset = windowOffset + s.bytesBefore[begin];
    const uint64_t bits = s.writer.outBits - blockStart + (type == 1 && !goOn ? 7 : 0);
    if (!s.keepBlocks) continue;
    if (type == 1 && !s.blocks.empty() && s.blocks.back().type == 1 &&
        s.blocks.back().offset + s.blocks.back().bytes == offset) {
      s.blocks.back().bytes += bytes;
      s.blocks.back().bits += bits;
    } else {
      s.blocks.push_back({type, offset, bytes, bits});
    }
  }
}

// Chooses the new blocks of the window's symbols and writes them; the
// window is then empty.
void SplitWindow(SplitWork& s) {
  if (s.symbols.empty()) return;
  IndexWindow(s);
  const ExactBlockBits exact = [&s](uint32_t begin, uint32_t end) {
    return ExactBits(s, begin, end);
  };
  const std::vector<uint32_t> starts =
      ChooseBlockStarts(s.symbols, s.starts, exact, std::max<uint32_t>(s.windowSymbols, 2));
  WriteWindow(s, *s.sink, starts, s.windowOffset, *s.tieBreak);
  s.windowOffset += s.bytesBefore.back();
  s.symbols.clear();
}

}  // namespace

uint64_t AppendSplitStream(CodecState& codec, InputWindow& input, uint64_t start, uint64_t length,
                           OutputSink& sink, TieBreakState* tieBreak, bool listBlocks) {
  if (!codec.split) codec.split.reset(new SplitWork());
  SplitWork& s = *codec.split;
  s.sink = &sink;
  s.tieBreak = tieBreak;
  s.windowOffset = 0;
  s.windowSymbols = std::max<uint32_t>(codec.splitWindow, 1);
  if (s.out.size() != kOutputChunk + kOutputSlack) {
    s.out.assign(kOutputChunk + kOutputSlack, 0);
  } else {
    std::memset(s.out.data(), 0, s.outDirty);
  }
  s.outDirty = s.out.size();  // until the stream ends well
  s.writer = {s.out.data(), 0};
  s.outBase = 0;
  s.sinkOrigin = sink.size();
  s.lastHeaderBit = 0;
  s.fixedOpen = false;
  s.windowPos = 0;
  s.blocks.clear();
  s.keepBlocks = listBlocks;

  StartReadingWindow(codec, input, start, length);
  for (bool final = false; !final;) {
    final = FillWindow(codec, s);
    SplitWindow(s);
  }
  if (s.writer.outBits == 0) return 0;
  CloseFixed(s);
  const uint64_t finalByte = s.lastHeaderBit / 8;
  const uint8_t finalBit = static_cast<uint8_t>(1u << (s.lastHeaderBit % 8));
  if (finalByte >= s.outBase) {
    s.out[finalByte - s.outBase] |= finalBit;
  } else {
    uint8_t byte = 0;
    sink.ReadAt(s.sinkOrigin + finalByte, &byte, 1);
    byte |= finalBit;
    sink.WriteAt(s.sinkOrigin + finalByte, &byte, 1);
  }
  const uint64_t bytes = (s.writer.outBits + 7) / 8;
  sink.Append(s.out.data(), static_cast<size_t>(bytes - s.outBase));
  s.outDirty = static_cast<size_t>(bytes - s.outBase) + 8;
  // The buffers of a long window go; a short one's stay for the next stream.
  if (s.symbols.capacity() > s.windowSymbols) {
    decltype(s.symbols)().swap(s.symbols);
    decltype(s.bytesBefore)().swap(s.bytesBefore);
  }
  return s.writer.outBits;
}

uint32_t SetSplitWindow(CodecState& codec, uint32_t symbols) {
  const uint32_t previous = codec.splitWindow;
  codec.splitWindow = symbols;
  return previous;
}

void ReportSplitBlocks(const CodecState& codec, const Reporter& reporter) {
  if (reporter.verbosity < kReportVerbose || !codec.split) return;
  Report(reporter, kReportVerbose, ReportKind::Detail, "\nNew block boundaries:\n");
  uint32_t number = 0;
  for (const NewBlock& b : codec.split->blocks)
    ReportNewBlock(reporter, ++number, b.type, b.offset, b.bytes, b.bits);
}

}  // namespace trimbit
