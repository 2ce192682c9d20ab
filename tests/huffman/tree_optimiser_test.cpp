// The tree header search: greedy run-length coding, plans for real blocks
// (judged by zlib) and random counts, and ties between combinations.
#include "huffman/tree_optimiser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "dynamic_block.h"
#include "huffman/code_lengths.h"
#include "huffman/header_search.h"

namespace {

using namespace huffmantest;
using Seq = std::vector<uint8_t>;

TEST(GreedyRunLengths, Runs) {
  const struct {
    Seq lengths, sequence;
  } cases[] = {
      {Seq(140, 0), {18, 127, 0, 0}},
      {Seq(145, 0), {18, 127, 17, 4}},
      {Seq(149, 0), {18, 127, 18, 0}},
      {Seq(11, 0), {18, 0}},
      {Seq(10, 0), {17, 7}},
      {Seq(2, 0), {0, 0}},
      {Seq(10, 5), {5, 16, 3, 16, 0}},
      {Seq(9, 5), {5, 16, 3, 5, 5}},
      {Seq(4, 5), {5, 16, 0}},
      {Seq(3, 5), {5, 5, 5}},
      {{7, 7, 0, 0, 0, 0, 9, 9, 9, 9, 9, 0}, {7, 7, 17, 1, 9, 16, 1, 0}},
  };
  for (auto c : cases) {
    c.lengths.push_back(255);
    Seq out(c.lengths.size());
    out.resize(GreedyRunLengths(c.lengths.data(), out.data()));
    EXPECT_EQ(out, c.sequence) << c.lengths.size() - 1 << " lengths from " << int{c.lengths[0]};
  }
}

class TreeOptimiserTest : public testing::Test {
 protected:
  void SetUp() override { InitTables(); }

  uint32_t Optimise(const uint32_t* litLen, const uint32_t* dist) {
    plan = {};
    plan.litLenTable = litLenCodes;
    plan.distTable = distCodes;
    const uint32_t total = OptimiseTreeHeader(litLen, dist, &plan);
    CheckPlan(litLen, dist, total);
    return total;
  }

  // What a plan promises, checked from the outside.
  void CheckPlan(const uint32_t* litLen, const uint32_t* dist, uint32_t total) {
    uint8_t lengths[286 + 30];
    uint64_t dataBits = 0;
    uint32_t litLenCount = 257, distCount = 1;
    for (uint32_t s = 0; s < 316; ++s) {
      const bool isDist = s >= 286;
      const uint32_t count = isDist ? dist[s - 286] : litLen[s];
      lengths[s] = static_cast<uint8_t>(isDist ? distCodes[s - 286].length : litLenCodes[s].length);
      ASSERT_EQ(lengths[s] == 0, count == 0) << "symbol " << s;
      const uint32_t extra = isDist    ? DistanceExtraBits[s - 286]
                             : s > 256 ? LengthExtraBits[s - 257]
                                       : 0;
      dataBits += uint64_t{count} * (lengths[s] + extra);
      if (lengths[s] && !isDist) litLenCount = std::max(litLenCount, s + 1);
      if (lengths[s] && isDist) distCount = s - 286 + 1;
    }
    EXPECT_EQ(total, plan.headerBits + dataBits);
    EXPECT_EQ(plan.litLenCodeCount, litLenCount);
    EXPECT_EQ(plan.distCodeCount, distCount);

    // The sequence carries exactly the lengths sent.
    Seq described, sent(lengths, lengths + litLenCount);
    sent.insert(sent.end(), lengths + 286, lengths + 286 + distCount);
    ASSERT_TRUE(ExpandSequence(plan.codeLengthSequence, plan.sequenceLength, &described));
    EXPECT_EQ(described, sent);
    for (uint32_t k = plan.clCodeCount; k < 19; ++k)
      EXPECT_EQ(plan.clLengths[CodeLengthOrder[k]], 0);

    // Shared state left as for the plan.
    EXPECT_EQ(std::memcmp(codeWork.lengthsScratch, plan.clLengths, 19), 0);
    EXPECT_EQ(std::memcmp(headerSearch.sequences[kSharedSequence], plan.codeLengthSequence,
                          plan.sequenceLength),
              0);

    // Written as it is, under the mode the search left, the header takes
    // exactly headerBits and normalisation changes nothing.
    uint8_t cl[19], seq[kSequenceCapacity];
    std::memcpy(cl, plan.clLengths, 19);
    std::memcpy(seq, plan.codeLengthSequence, plan.sequenceLength);
    Bytes out;
    StartWriting(out, 512);
    cursor.state.outBits = 17;  // as if block type and counts were written
    cursor.state.outPos += 2;
    EXPECT_EQ(EncodeTreeHeader(cl, plan.clCodeCount, seq, plan.sequenceLength, true),
              plan.headerBits);
    EXPECT_EQ(cursor.state.outBits, plan.headerBits);
    EXPECT_EQ(std::memcmp(cl, plan.clLengths, 19), 0);
    EXPECT_EQ(std::memcmp(seq, plan.codeLengthSequence, plan.sequenceLength), 0);
  }

  TreeHeaderPlan plan;
  CodeEntry litLenCodes[288];
  CodeEntry distCodes[32];
};

// Whole blocks written from the plan: zlib inflates them to the data, and
// they take exactly the bits announced.
TEST_F(TreeOptimiserTest, PlannedBlocksInflate) {
  const struct {
    Bytes data;
    bool copies;
  } cases[] = {
      {testutil::SampleText(40000, 1), true},
      {testutil::SampleText(3000, 2), false},
      {testutil::RandomBytes(5000, 3), true},
      {testutil::LongRuns(50000, 4), true},
      {testutil::Mixture(60000, 5), true},
      {Bytes{'x'}, true},
      {Bytes(10000, 0), true},
      {Bytes{'a', 'b', 'a', 'a'}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.data.size() << " bytes, copies " << c.copies);
    const std::vector<Token> tokens = Tokenise(c.data, c.copies);
    uint32_t litLen[286], dist[30];
    CountTokens(tokens, litLen, dist);
    const uint32_t total = Optimise(litLen, dist);
    if (!c.copies) {
      EXPECT_EQ(headerSearch.distCount, 1u);  // one all-zero distance code
    }
    Bytes out;
    StartWriting(out, c.data.size() * 2 + 1024);
    EXPECT_EQ(WritePlannedBlock(plan, tokens), plan.headerBits);
    EXPECT_EQ(cursor.state.outBits, total);
    out.resize((cursor.state.outBits + 7) / 8);
    Bytes inflated;
    ASSERT_TRUE(testutil::InflateRaw(out, &inflated));
    EXPECT_EQ(inflated, c.data);
  }
}

// Random counts, some skewed enough to need the depth limit, some without
// distances, with whatever mode the previous block left.
TEST_F(TreeOptimiserTest, RandomCountsGiveConsistentPlans) {
  std::mt19937 rng(2024);
  for (int trial = 0; trial < 200; ++trial) {
    SCOPED_TRACE(testing::Message() << "trial " << trial);
    uint32_t litLen[286] = {}, dist[30] = {};
    for (uint32_t s = 0; s < 286; ++s) {
      if (rng() % (trial % 4 == 3 ? 20 : 3) == 0) continue;
      litLen[s] = trial % 4 == 0   ? 1 + rng() % 8
                  : trial % 4 == 1 ? 1 + rng() % 50000
                                   : 1u << rng() % 24;
    }
    for (uint32_t d = 0; d < 30; ++d)
      if (trial % 5 != 0 && rng() % 3 != 0) dist[d] = 1 + rng() % 1000;
    Optimise(litLen, dist);
  }
}

// 256 equal counts give length 8 in every mode: one candidate of each kind,
// and a sequence (8, 16s, two zeros) whose code-length code has no ties, so
// all four code-length modes cost the same and the first must win.
TEST_F(TreeOptimiserTest, TiesKeepTheFirstCodeLengthMode) {
  uint32_t litLen[286] = {}, dist[30] = {};
  for (uint32_t s = 0; s < 256; ++s) litLen[s] = 1;
  for (uint32_t incoming = 0; incoming < 4; ++incoming) {
    codeWork.TieBreakMode = incoming;
    Optimise(litLen, dist);
    EXPECT_EQ(headerSearch.litLenCount * headerSearch.distCount, 1u);
    EXPECT_EQ(codeWork.TieBreakMode, 0u) << "incoming mode " << incoming;
  }
}

// Counts 4 1 3 3 3 4 4 give modes 0 and 1 codes that differ only in which
// of the last two symbols (both count 4) gets the 2-bit code. With every
// length alone between runs of zeros, both cost exactly the same data and
// header bits, so the code of mode 0 must be kept.
TEST_F(TreeOptimiserTest, TiesKeepTheEarlierCandidate) {
  const uint32_t counts[7] = {4, 1, 3, 3, 3, 4, 4};
  Seq byMode[2] = {Seq(7), Seq(7)};
  for (uint32_t mode = 0; mode < 2; ++mode) {
    codeWork.TieBreakMode = mode;
    BuildCodeLengths(counts, 7, byMode[mode].data(), 15);
  }
  std::swap(byMode[1][5], byMode[1][6]);
  ASSERT_EQ(byMode[0], byMode[1]) << "the two codes must be mirror images";
  std::swap(byMode[1][5], byMode[1][6]);
  ASSERT_NE(byMode[0], byMode[1]);

  const uint32_t litLenAt[7] = {20, 40, 60, 80, 100, 120, 256},
                 distAt[7] = {0, 4, 8, 12, 16, 20, 24};
  for (bool inDistances : {false, true}) {
    uint32_t litLen[286] = {}, dist[30] = {};
    litLen[256] = 1;
    for (int k = 0; k < 7; ++k) (inDistances ? dist[distAt[k]] : litLen[litLenAt[k]]) = counts[k];
    Optimise(litLen, dist);
    EXPECT_GE(inDistances ? headerSearch.distCount : headerSearch.litLenCount, 2u);
    Seq chosen;
    for (int k = 0; k < 7; ++k)
      chosen.push_back(inDistances ? distCodes[distAt[k]].length : litLenCodes[litLenAt[k]].length);
    EXPECT_EQ(chosen, byMode[0]) << (inDistances ? "distances" : "literals/lengths");
  }
}

}  // namespace
