// The block boundary search, judged by exact block sizes that the header
// search computes: the symbols of zlib streams and hand-made symbol lists
// must be cut where their statistics change, not cut up where they do not,
// and never cost more than with their original boundaries.
#include "deflate/block_split.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/zlib_util.h"
#include "deflate/block_decoder.h"
#include "huffman/deflate_alphabet.h"
#include "huffman/tree_optimiser.h"
#include "support/error.h"
#include "zlib_streams.h"

namespace {

using namespace trimbit;

using testutil::Bytes;
using Symbols = std::vector<uint32_t>;

struct Blocks {
  Symbols symbols;
  Symbols starts = {0};  // of every block, the empty ones included, and the end
};

// A raw deflate stream's symbols in the packed form and its block starts.
struct Collector {
  static constexpr bool kDigest = false;
  DecodedDigest* digest = nullptr;
  Blocks* out;
  void Literal(uint32_t b, uint32_t, uint32_t) { out->symbols.push_back(b); }
  void Copy(const CopyEvent& c, const uint8_t*, uint64_t) {
    out->symbols.push_back(
        trimbit::PackedCopy(c.lengthSymbol, c.lengthExtra, c.distSymbol, c.distExtra));
  }
  void EndOfBlock(uint32_t, uint32_t) {}
  void StoredData(const uint8_t* data, uint32_t length) {
    out->symbols.insert(out->symbols.end(), data, data + length);
  }
  void BlockEnd() { out->starts.push_back(static_cast<uint32_t>(out->symbols.size())); }
};

CodecState& Codec() {
  static const std::unique_ptr<CodecState> codec = NewCodecState();
  return *codec;
}

Blocks Decode(const Bytes& stream) {
  Blocks b;
  Collector c{nullptr, &b};
  DecodeStream(Codec(), stream.data(), static_cast<uint32_t>(stream.size()), c);
  return b;
}

// Exact bits of symbols [begin, end) in the cheapest of the dynamic form
// with the best header, the fixed codes and stored blocks (5 alignment bits).
uint64_t ExactBits(const Symbols& s, uint32_t begin, uint32_t end) {
  uint32_t litLen[288] = {}, dist[32] = {};
  uint64_t bytes = 0, fixed = 3 + 7;
  litLen[256] = 1;
  for (uint32_t i = begin; i < end; ++i) {
    const uint32_t w = s[i];
    if (!trimbit::IsPackedCopy(w)) {
      litLen[w] += 1;
      bytes += 1;
      fixed += w < 144 ? 8 : 9;
      continue;
    }
    const uint32_t l = trimbit::PackedLengthIndex(w), d = trimbit::PackedDistanceSymbol(w);
    litLen[257 + l] += 1;
    dist[d] += 1;
    bytes += LengthBase[l] + trimbit::PackedLengthExtra(w);
    const uint32_t extra = LengthExtraBits[l] + DistanceExtraBits[d];
    fixed += (l < 23 ? 7 : 8) + 5 + extra;
  }
  TreeHeaderPlan plan = {};
  CodeEntry litLenCodes[288], distCodes[32];
  plan.litLenTable = litLenCodes;
  plan.distTable = distCodes;
  TieBreakState tieBreak = {};
  const uint64_t dynamic = OptimiseTreeHeader(Codec().headerSearch, tieBreak, litLen, dist, &plan);
  const uint64_t stored = 8 * bytes + 40 * ((bytes + 65534) / 65535 + (bytes == 0));
  return std::min({dynamic, fixed, stored});
}

struct Outcome {
  Symbols starts;
  uint64_t originalBits = 0, chosenBits = 0;
  uint32_t exactCalls = 0;
};

// Runs the search and checks the contract: strictly increasing starts from
// 0, all inside, and no more exact bits than the original blocks.
Outcome Choose(const Blocks& b, uint32_t window = trimbit::kSplitWindowSymbols) {
  Outcome o;
  const Symbols& s = b.symbols;
  const uint32_t n = static_cast<uint32_t>(s.size());
  const trimbit::ExactBlockBits exact = [&](uint32_t begin, uint32_t end) {
    EXPECT_LT(begin, end);
    EXPECT_LE(end, n);
    o.exactCalls += 1;
    return ExactBits(s, begin, end);
  };
  o.starts = trimbit::ChooseBlockStarts(s, b.starts, exact, window);
  EXPECT_EQ(o.starts.at(0), 0u);
  EXPECT_TRUE(std::adjacent_find(o.starts.begin(), o.starts.end(), std::greater_equal<>()) ==
              o.starts.end());
  EXPECT_TRUE(n == 0 || o.starts.back() < n);
  auto total = [&](const Symbols& starts) {
    uint64_t bits = 0;
    for (size_t i = 0; i < starts.size(); ++i) {
      const uint32_t end = i + 1 < starts.size() ? starts[i + 1] : n;
      if (starts[i] < end) bits += ExactBits(s, starts[i], end);
    }
    return bits;
  };
  o.originalBits = total(b.starts);
  o.chosenBits = total(o.starts);
  EXPECT_LE(o.chosenBits, o.originalBits);
  return o;
}

// Literals drawn from `alphabet` by a fixed pseudo-random sequence.
Symbols Letters(const std::string& alphabet, uint32_t count, uint32_t seed) {
  Symbols s;
  for (uint32_t i = 0; i < count; ++i) {
    seed = seed * 1103515245u + 12345u;
    s.push_back(static_cast<uint8_t>(alphabet[(seed >> 16) % alphabet.size()]));
  }
  return s;
}

template <class V>
V Join(V a, const V& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Pieces of different kinds in one original block: the new blocks must
// change near each symbol where the data change, and exactly there when
// neighbouring pieces share no symbol. A hundred pieces in turn leave no
// single cut of the whole that helps, so recursive splitting alone would
// not find them.
TEST(BlockSplit, CutsWhereTheDataChange) {
  const Bytes text = testutil::SampleText(9000, 3), noise = testutil::RandomBytes(5000, 4);
  const Bytes runs = testutil::LongRuns(20000, 5);
  auto alternating = [](uint32_t piece, uint32_t pieces) {
    Blocks b = {{}, {0, piece * pieces}};
    for (uint32_t i = 0; i < pieces; ++i)
      b.symbols = Join(b.symbols, Letters(i % 2 ? "0123456789" : "etaoin shr", piece, 7 + i));
    return b;
  };
  struct {
    const char* name;
    Blocks blocks;
    std::vector<uint32_t> changeBytes;  // where the data change (empty: every 1500 bytes)
    bool exact;                         // the cuts must be there to the symbol
  } cases[] = {
      {"text, then random bytes", Decode(testutil::DeflateRaw(Join(text, noise))), {9000}, false},
      {"random bytes, then text", Decode(testutil::DeflateRaw(Join(noise, text))), {5000}, false},
      {"text, then runs", Decode(testutil::DeflateRaw(Join(text, runs))), {9000}, false},
      {"text, then random bytes, Huffman only",
       Decode(testutil::DeflateRaw(Join(text, noise), 6, Z_HUFFMAN_ONLY)),
       {9000},
       false},
      // Cuts just below and just above a multiple of 1024 symbols.
      {"letters, then digits", alternating(3000, 2), {3000}, true},
      {"more letters, then digits", alternating(4600, 2), {4600}, true},
      {"letters and digits in turn", alternating(1500, 100), {}, true},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(c.blocks.starts.size(), 2u);  // one block
    if (c.changeBytes.empty())
      for (uint32_t at = 1500; at < c.blocks.symbols.size(); at += 1500)
        c.changeBytes.push_back(at);
    const Outcome o = Choose(c.blocks);
    const uint32_t slack = c.exact ? 0 : 1 + static_cast<uint32_t>(c.blocks.symbols.size()) / 50;
    uint32_t change = 0;
    uint64_t bytes = 0;
    for (uint32_t changeByte : c.changeBytes) {
      for (; bytes < changeByte; ++change) {
        const uint32_t w = c.blocks.symbols[change];
        bytes += trimbit::IsPackedCopy(w)
                     ? LengthBase[trimbit::PackedLengthIndex(w)] + trimbit::PackedLengthExtra(w)
                     : 1;
      }
      EXPECT_TRUE(
          std::any_of(o.starts.begin() + 1, o.starts.end(),
                      [&](uint32_t s) { return s + slack >= change && s <= change + slack; }))
          << "change at " << change << ", " << testing::PrintToString(o.starts);
    }
    EXPECT_LE(o.starts.size(), c.exact ? c.changeBytes.size() + 1 : 4u);
    EXPECT_LT(o.chosenBits, o.originalBits);
  }
}

// Data of one kind throughout is not cut up, whether zlib gave it one
// block or many. (Text from a small vocabulary is mostly literals at first
// and mostly copies later, which a few blocks follow.)
TEST(BlockSplit, UniformDataStaysInFewBlocks) {
  const struct {
    const char* name;
    Blocks blocks;
    size_t most;
  } cases[] = {
      {"text in one block", Decode(testutil::DeflateRaw(testutil::SampleText(60000, 9), 9)), 4},
      {"text in 128-symbol blocks",
       Decode(testutil::DeflateRaw(testutil::SampleText(60000, 10), 6, Z_DEFAULT_STRATEGY, 15, 1)),
       4},
      {"letters", {Letters("abcdefghij", 20000, 11), {0, 20000}}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome o = Choose(c.blocks);
    EXPECT_LE(o.starts.size(), c.most);
  }
}

// Every stream of the deflate tests: never dearer, whatever the level,
// strategy or flushes; the same choice every time; and no exact sizes asked
// for when nothing changes.
TEST(BlockSplit, NeverDearerAndDeterministic) {
  for (const auto& [name, stream] : handmade::ZlibStreams()) {
    SCOPED_TRACE(name);
    const Blocks b = Decode(stream);
    const Outcome first = Choose(b);
    const Blocks copy = b;
    EXPECT_EQ(Choose(copy).starts, first.starts);
    Symbols nonEmpty;
    for (size_t i = 0; i + 1 < b.starts.size(); ++i)
      if (b.starts[i] < b.starts[i + 1]) nonEmpty.push_back(b.starts[i]);
    if (first.starts == nonEmpty) {
      EXPECT_EQ(first.exactCalls, 0u);
    }
  }
}

// Windows end at original boundaries, or inside a block longer than a
// window; either way the result keeps the contract.
TEST(BlockSplit, WindowsOfLongInputs) {
  const Blocks many = Decode(testutil::DeflateRaw(testutil::Mixture(400000, 12), 6));
  ASSERT_GT(many.starts.size(), 4u);
  auto abc = [](uint32_t count, uint32_t seed) {
    return Join(Join(Letters("abc", count, seed), Letters("0123456789", count, seed + 1)),
                Letters("abc", count, seed + 2));
  };
  const Blocks one = {abc(30000, 13), {0, 90000}}, small = {abc(1000, 16), {0, 1500, 3000}};
  const struct {
    const Blocks& blocks;
    uint32_t window;
    bool gains;  // the two changes are found
  } cases[] = {
      {many, 1000, false}, {many, 7000, false}, {one, 7000, true},
      {one, 40000, true},  {small, 2, false},   {small, 1500, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.window);
    const Outcome o = Choose(c.blocks, c.window);
    if (c.gains) {
      EXPECT_LT(o.chosenBits, o.originalBits);
    }
  }
}

// The caller's exact sizes have the last word: sizes that punish every
// block the original stream did not have bring the original blocks back,
// and a flat size per block merges everything.
TEST(BlockSplit, ExactSizesDecide) {
  const Symbols s = Join(Join(Letters("abc", 4000, 18), Letters("0123456789", 4000, 19)),
                         Letters("abc", 4000, 20));
  const Symbols original = {0, 3000, 6000, 9000};
  auto isOriginal = [&](uint32_t begin, uint32_t end) {
    const auto it = std::find(original.begin(), original.end(), begin);
    return it != original.end() && (it + 1 == original.end() ? 12000 : *(it + 1)) == end;
  };
  const struct {
    const char* name;
    trimbit::ExactBlockBits exact;
    Symbols expected;
  } cases[] = {
      {"new blocks dear",
       [&](uint32_t b, uint32_t e) { return ExactBits(s, b, e) + (isOriginal(b, e) ? 0 : 100000); },
       original},
      {"flat", [](uint32_t, uint32_t) { return uint64_t{1000}; }, {0}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(trimbit::ChooseBlockStarts(s, original, c.exact), c.expected) << c.name;
}

TEST(BlockSplit, Refusals) {
  const Symbols three = {'a', 'b', 'c'};
  const trimbit::ExactBlockBits exact = [&](uint32_t begin, uint32_t end) {
    return ExactBits(three, begin, end);
  };
  const struct {
    Symbols symbols, starts;
    const char* error;  // nullptr: no failure, and these starts
    Symbols expected;
  } cases[] = {
      {three, {0, 0, 1, 1, 3, 3}, nullptr, {0}},  // empty blocks are no blocks
      {{}, {0}, nullptr, {0}},
      {{}, {0, 0}, nullptr, {0}},
      {three, {}, "Block starts do not begin at 0!?!?!?", {}},
      {three, {1, 2}, "Block starts do not begin at 0!?!?!?", {}},
      {three, {0, 2, 1}, "Block starts out of order!?!?!?", {}},
      {three, {0, 4}, "Block starts out of order!?!?!?", {}},
      {{'a', 256}, {0}, "Invalid symbol in block split search!?!?!?", {}},
      {{'a', trimbit::PackedCopy(286, 0, 0, 0)},
       {0},
       "Invalid symbol in block split search!?!?!?",
       {}},
      {{'a', trimbit::PackedCopy(257, 0, 30, 0)},
       {0},
       "Invalid symbol in block split search!?!?!?",
       {}},
  };
  for (const auto& c : cases) {
    std::string error;
    Symbols starts;
    try {
      starts = trimbit::ChooseBlockStarts(c.symbols, c.starts, exact);
    } catch (const Error& e) {
      error = e.message();
    }
    EXPECT_EQ(error, c.error ? c.error : "");
    EXPECT_EQ(starts, c.expected);
  }
}

// The estimate against sizes worked out by hand: the fixed form of a few
// literals, the stored form of bytes no code shrinks, and the entropy of
// two equally frequent literals.
TEST(BlockSplit, Estimates) {
  Symbols noise;
  for (uint8_t b : testutil::RandomBytes(3000, 16)) noise.push_back(b);
  // Entropy of two letters and one end of block, plus 170 + 3 x 3 bits of
  // header; counts above 4096 take the interpolated logarithms. Each
  // logarithm is rounded to 1/65536, hence the tolerance.
  auto twoLetters = [](uint32_t count) {
    const Symbols ab = Letters("ab", count, 17);
    const double a = static_cast<double>(std::count(ab.begin(), ab.end(), 'a'));
    const double b = count - a, total = count + 1;
    return std::pair(ab,
                     a * std::log2(total / a) + b * std::log2(total / b) + std::log2(total) + 179);
  };
  const auto [ab, abBits] = twoLetters(2048);
  const auto [moreAb, moreAbBits] = twoLetters(50000);
  const struct {
    const char* name;
    Symbols symbols;
    double bits;
  } cases[] = {
      {"five literals, fixed", {'a', 'b', 'c', 0x90, 0x91}, 3 + 3 * 8 + 2 * 9 + 7},
      {"a copy, fixed", {'a', trimbit::PackedCopy(265, 1, 4, 1)}, 3 + 8 + 7 + 1 + 5 + 1 + 7},
      {"random bytes, stored", noise, 8 * 3000 + 40},
      {"two letters, dynamic", ab, abBits},
      {"more of two letters, dynamic", moreAb, moreAbBits},
  };
  for (const auto& c : cases) {
    const double estimate = static_cast<double>(trimbit::EstimateBlockBits(
                                c.symbols, 0, static_cast<uint32_t>(c.symbols.size()))) /
                            trimbit::kEstimateScale;
    EXPECT_NEAR(estimate, c.bits, std::max(0.1, c.bits * 2e-5)) << c.name;
  }
}

}  // namespace

// The search's own estimates, from cumulative counts every 1024 symbols,
// agree to the unit with estimates made by adding symbols one at a time:
// blocks short and long, starting and ending on either side of the
// checkpoints.
TEST(BlockSplit, EstimatesAgree) {
  const Symbols s = Decode(testutil::DeflateRaw(testutil::Mixture(300000, 21), 6)).symbols;
  const uint32_t n = static_cast<uint32_t>(s.size());
  Symbols starts = {0};
  for (uint32_t state = 1;;) {
    state = state * 1103515245u + 12345u;
    const uint32_t length = 1 + (state >> 8) % 3000;
    if (starts.back() + length >= n) break;
    starts.push_back(starts.back() + length);
  }
  ASSERT_GT(starts.size(), 50u);
  uint64_t sum = 0;
  for (size_t i = 0; i < starts.size(); ++i)
    sum += trimbit::EstimateBlockBits(s, starts[i], i + 1 < starts.size() ? starts[i + 1] : n);
  EXPECT_EQ(trimbit::EstimateBlocksBits(s, starts), sum);
}
