// The replay loop, one instance per pass and per window mode, so that each
// runs with the writer held in locals as the symbol loop does.
#include "deflate/symbol_replay.h"

#include <cstring>

#include "deflate/pass_writer.h"
#include "huffman/deflate_alphabet.h"

namespace trimbit {
namespace {

// What DecodeSymbols would hand the writer, taken from the record. Counts
// the symbols and moves windowPos as decoding does; with kRebuild also
// writes the window as decoding does, otherwise it reads the bytes the
// first pass left there.
template <uint32_t kPass, bool kRebuild>
void ReplayBlockSymbols(CodecState& codec, const CodeEntry* encLitLen, const CodeEntry* encDist) {
  static_assert(kPass != kOwnCodes, "the first pass decodes");
  Reencoder& r = codec.reencoder;
  StreamState& s = codec.cursor.state;
  CodeWorkspace& work = codec.work;
  std::memset(work.litLenCounts, 0, sizeof work.litLenCounts);
  std::memset(work.distCounts, 0, sizeof work.distCounts);
  PassWriter<kPass> v = {};
  v.encLitLen = encLitLen;
  v.encDist = encDist;
  v.work = &work;
  v.spill = &codec.reencoder;
  v.Begin(s.writer);
  uint64_t windowPos = s.windowPos;
  const uint32_t* word = r.record.get();
  const uint32_t* const end = word + r.recordLength;
  for (; word != end; ++word) {
    const uint32_t w = *word;
    if (w < 256) {
      work.litLenCounts[w] += 1;
      if constexpr (kRebuild) s.window[windowPos & (kWindowSize - 1)] = static_cast<uint8_t>(w);
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
    if constexpr (kRebuild) CopyInWindow(s.window, windowPos, c.distance, c.length);
    windowPos += c.length;
    v.Copy(c, s.window, windowPos);
    // Counted after the writer, which may have taken the copy back for
    // literals: the sums are the same either way.
    work.litLenCounts[c.lengthSymbol] += 1;
    work.distCounts[c.distSymbol] += 1;
  }
  work.litLenCounts[kEndOfBlock] += 1;
  v.EndOfBlock(0, 0);
  v.Finish(s.writer);
  s.windowPos = windowPos;
}

template <bool kRebuild>
void ReplayIn(CodecState& codec, uint32_t pass, const CodeEntry* encLitLen,
              const CodeEntry* encDist) {
  switch (pass) {
    case kFixed:
      ReplayBlockSymbols<kFixed, kRebuild>(codec, encLitLen, encDist);
      break;
    case kRedo:
      ReplayBlockSymbols<kRedo, kRebuild>(codec, encLitLen, encDist);
      break;
    default:
      ReplayBlockSymbols<kStored, kRebuild>(codec, encLitLen, encDist);
      break;
  }
}

}  // namespace

void ReplaySymbols(CodecState& codec, uint32_t pass, const CodeEntry* encLitLen,
                   const CodeEntry* encDist) {
  if (codec.reencoder.windowKept)
    ReplayIn<false>(codec, pass, encLitLen, encDist);
  else
    ReplayIn<true>(codec, pass, encLitLen, encDist);
}

}  // namespace trimbit
