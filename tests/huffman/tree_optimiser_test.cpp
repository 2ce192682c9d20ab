// The tree header search: greedy run-length coding, plans for real blocks
// (judged by zlib) and random counts, and ties between combinations.
#include "huffman/tree_optimiser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "dynamic_block.h"
#include "huffman/header_search.h"

namespace {

using namespace huffmantest;

TEST(GreedyRunLengths, Runs) {
  const struct {
    const char *lengths, *sequence;
  } cases[] = {
      {"0*140", "18 127 0 0"}, {"0*145", "18 127 17 4"}, {"0*149", "18 127 18 0"},
      {"0*10", "17 7"},        {"5*10", "5 16 3 16 0"},  {"5*9", "5 16 3 5 5"},
      {"5*4", "5 16 0"},       {"5*3", "5 5 5"},         {"7 7 0*4 9*5 0", "7 7 17 1 9 16 1 0"},
  };
  for (const auto& c : cases) {
    const Seq lengths = ParseSeq(c.lengths);
    Seq out(lengths.size());
    out.resize(GreedyRunLengths(lengths.data(), static_cast<uint32_t>(lengths.size()), out.data()));
    EXPECT_EQ(out, ParseSeq(c.sequence)) << c.lengths;
  }
}

class TreeOptimiserTest : public testing::Test {
 protected:
  // Plans the header and checks what the plan promises from the outside:
  // codes for exactly the used symbols, and a header that, written as it
  // is under the mode the search left, takes exactly headerBits with
  // nothing to normalise. (Whole blocks check the total.)
  uint32_t Optimise(const uint32_t* litLen, const uint32_t* dist) {
    plan = {};
    plan.litLenTable = litLenCodes;
    plan.distTable = distCodes;
    StartTieBreakRecord(tieBreak);
    const uint32_t total = OptimiseTreeHeader(*search, tieBreak, litLen, dist, &plan);
    EXPECT_TRUE(tieBreak.written && !tieBreak.readBeforeWritten);
    for (uint32_t s = 0; s < 286; ++s) EXPECT_EQ(litLenCodes[s].length == 0, litLen[s] == 0) << s;
    for (uint32_t s = 0; s < 30; ++s) EXPECT_EQ(distCodes[s].length == 0, dist[s] == 0) << s;
    TreeHeaderPlan copy = plan;
    Bytes out;
    BitWriter w = StartWriting(out, 512);
    w.outBits = 17;  // as if block type and counts were written
    w.outPos += 2;
    EXPECT_EQ(EncodeTreeHeader(copy.clLengths, copy.clCodeCount, copy.codeLengthSequence,
                               copy.sequenceLength, tieBreak, &w),
              plan.headerBits);
    EXPECT_EQ(w.outBits, plan.headerBits);
    EXPECT_EQ(std::memcmp(copy.clLengths, plan.clLengths, 19), 0);
    return total;
  }

  std::unique_ptr<HeaderSearchState> search = std::make_unique<HeaderSearchState>();
  TieBreakState tieBreak = {};
  TreeHeaderPlan plan;
  CodeEntry litLenCodes[288];
  CodeEntry distCodes[32];
};

// Whole blocks written from the plan take exactly the bits announced, and
// zlib inflates them to the data.
TEST_F(TreeOptimiserTest, PlannedBlocksInflate) {
  std::vector<Token> runs = {Lit(0)}, bytes, one = {Lit('x')};
  runs.insert(runs.end(), 40, Copy(258, 1));
  for (uint32_t i = 0; i < 5000; ++i) bytes.push_back(Lit(static_cast<uint8_t>(i * 7 + i / 256)));
  // The last two without copies: a single distance length, 0.
  const std::vector<Token> cases[] = {
      SomeTokens(8000, 1, 0),    SomeTokens(300, 2, 0, 40), bytes, runs, one,
      SomeTokens(3000, 3, 0, 0), Literals("abaa")};
  for (const std::vector<Token>& tokens : cases) {
    SCOPED_TRACE(testing::Message() << tokens.size() << " tokens");
    const Counts counts = CountTokens(tokens);
    const uint32_t total = Optimise(counts.litLen.data(), counts.dist.data());
    const bool copies = std::count(counts.dist.begin(), counts.dist.end(), 0u) < 32;
    EXPECT_TRUE(copies || (plan.distCodeCount == 1 && distCodes[0].length == 0));
    Bytes out, data, inflated;
    BitWriter w = StartWriting(out, tokens.size() * 6 + 1024);
    EXPECT_EQ(WritePlannedBlock(w, tieBreak, plan, tokens), plan.headerBits);
    EXPECT_EQ(w.outBits, total);
    out.resize((w.outBits + 7) / 8);
    Expand(tokens, &data);
    ASSERT_TRUE(testutil::InflateRaw(out, &inflated));
    EXPECT_EQ(inflated, data);
  }
}

// 256 equal counts give length 8 in every mode: one candidate of each kind,
// and a sequence (8, 16s, two zeros) whose code-length code has no ties, so
// all four code-length modes cost the same and the first must win.
TEST_F(TreeOptimiserTest, TiesKeepTheFirstCodeLengthMode) {
  uint32_t litLen[286] = {}, dist[30] = {};
  std::fill(litLen, litLen + 256, 1);
  for (uint32_t incoming = 0; incoming < 4; ++incoming) {
    tieBreak.mode = incoming;
    Optimise(litLen, dist);
    EXPECT_EQ(search->litLenCount * search->distCount, 1u);
    EXPECT_EQ(tieBreak.mode, 0u) << "incoming mode " << incoming;
  }
}

// Random counts, some skewed enough to need the depth limit, some without
// distances or literals, with long runs of zeros or runs that meet where the
// two alphabets do, with whatever mode the previous block left: every plan
// is consistent, and a search that takes none of its shortcuts (from a fresh
// state; this one keeps its code cache from search to search) leaves the
// same plan, total, candidates, shared sequence and carried mode.
TEST_F(TreeOptimiserTest, RandomCountsGiveTheSamePlansWithoutShortcuts) {
  std::mt19937 rng(4711);
  auto outcome = [](const HeaderSearchState& hs, const TreeHeaderPlan& p, uint32_t total,
                    const TieBreakState& t) {
    std::vector<uint32_t> v = {total,
                               p.headerBits,
                               p.litLenCodeCount,
                               p.distCodeCount,
                               p.clCodeCount,
                               p.sequenceLength,
                               t.mode,
                               hs.litLenCount,
                               hs.distCount,
                               hs.sequenceLengths[kSharedSequence]};
    v.insert(v.end(), p.clLengths, p.clLengths + 19);
    v.insert(v.end(), p.codeLengthSequence, p.codeLengthSequence + p.sequenceLength);
    v.insert(v.end(), hs.sequences[kSharedSequence],
             hs.sequences[kSharedSequence] + hs.sequenceLengths[kSharedSequence]);
    for (uint32_t s = 0; s < 286 + 30; ++s) {
      const CodeEntry& e = s < 286 ? p.litLenTable[s] : p.distTable[s - 286];
      v.insert(v.end(), {e.length, e.code});
    }
    return v;
  };
  for (int trial = 0; trial < 800; ++trial) {
    SCOPED_TRACE(testing::Message() << "trial " << trial);
    uint32_t litLen[286] = {}, dist[30] = {};
    const int shape = trial % 8;
    auto some = [&](uint32_t* c, uint32_t n, uint32_t keep) {
      for (uint32_t i = 0; i < n; ++i)
        if (rng() % 8 < keep || shape == 7)
          c[i] = shape == 0   ? 1 + rng() % 3
                 : shape == 1 ? 1 + rng() % 50000
                 : shape == 2 ? 1u << rng() % 22  // deep trees: the depth limit
                 : shape == 3 ? (i < 2 ? 1 : c[i - 1] + c[i - 2])
                 : shape == 4 ? 5
                              : (rng() % 4 == 0 ? 1 + rng() % 5000 : 1 + rng() % 4);
    };
    some(litLen, 256, shape == 5 ? 1 : 6);  // shape 5: long runs of zeros
    some(litLen + 257, 29, trial % 3 == 0 ? 0 : 4);
    some(dist, 30, trial % 5 == 0 ? 0 : 5);
    litLen[256] = 1;
    if (shape == 7) {  // a gap of zeros coded as an 18 and a short 17
      const uint32_t gap = 139 + rng() % 10, at = rng() % (256 - gap);
      std::fill(litLen + at, litLen + at + gap, 0u);
    }
    if (shape == 6) {  // runs that meet where the alphabets do
      std::fill(litLen + 257, litLen + 286, 3u);
      std::fill(dist, dist + 30, 3u);
    }
    if (trial % 29 == 0) std::fill(litLen, litLen + 256, 0u);  // end-of-block alone
    tieBreak.mode = rng() % 4;
    TieBreakState plainTieBreak = tieBreak;
    const uint32_t total = Optimise(litLen, dist);

    auto plainSearch = std::make_unique<HeaderSearchState>();
    plainSearch->plainSearch = true;
    TreeHeaderPlan plain = {};
    CodeEntry plainLitLen[288], plainDist[32];
    plain.litLenTable = plainLitLen;
    plain.distTable = plainDist;
    const uint32_t plainTotal =
        OptimiseTreeHeader(*plainSearch, plainTieBreak, litLen, dist, &plain);
    ASSERT_EQ(outcome(*search, plan, total, tieBreak),
              outcome(*plainSearch, plain, plainTotal, plainTieBreak));
  }
}

}  // namespace
