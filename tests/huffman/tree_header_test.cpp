// Tree header normalisation and writing: rewrites of repeat codes, exchanges
// of code lengths, unused repeat codes dropped, the failures, and zlib's
// verdict on written headers.
#include "huffman/tree_header.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "dynamic_block.h"
#include "huffman/code_lengths.h"
#include "huffman/tree_optimiser.h"

namespace {

using namespace huffmantest;
using Cl = std::array<uint8_t, 19>;
using Seq = std::vector<uint8_t>;

Cl MakeCl(std::initializer_list<std::pair<int, int>> lengths) {
  Cl cl{};
  for (auto [symbol, length] : lengths) cl[symbol] = static_cast<uint8_t>(length);
  return cl;
}

Seq Cat(Seq a, const Seq& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Normalises without writing; returns the new sequence.
Seq Normalise(Cl& cl, Seq seq) {
  const uint32_t length = static_cast<uint32_t>(seq.size());
  seq.resize(kSequenceCapacity);
  seq.resize(EncodeTreeHeader(cl.data(), 19, seq.data(), length, false));
  return seq;
}

class TreeHeaderTest : public testing::Test {
 protected:
  void SetUp() override {
    InitTables();
    codeWork.TieBreakMode = 0;
  }
};

TEST_F(TreeHeaderTest, NormalisationRewrites) {
  const Seq zeros12(12, 0), fives10(10, 5), fives4(4, 5), sixes4(4, 6);
  const struct {
    const char* name;
    Cl cl;
    Seq seq;
    Cl wantCl;
    Seq wantSeq;
  } cases[] = {
      // 11 zeros cost 11 bits against 5 + 7; the unused 18 then loses its
      // code and the code is rebuilt.
      {"18 to zeros", MakeCl({{0, 1}, {18, 5}}), Cat(zeros12, {18, 0}), MakeCl({{0, 1}}),
       Seq(23, 0)},
      {"18 kept at equal cost", MakeCl({{0, 1}, {18, 4}}), Cat(zeros12, {18, 0}),
       MakeCl({{0, 1}, {18, 4}}), Cat(zeros12, {18, 0})},
      {"17 to zeros",
       MakeCl({{0, 1}, {5, 2}, {17, 2}}),
       {5, 5, 17, 0, 0, 0, 5, 17, 0},
       MakeCl({{0, 1}, {5, 1}}),
       {5, 5, 0, 0, 0, 0, 0, 5, 0, 0, 0}},
      // Five zeros: 3 + 2 bits by a 16, 3 + 3 by the 17, 10 as literals.
      {"17 after a zero to 16",
       MakeCl({{0, 2}, {5, 2}, {16, 3}, {17, 3}}),
       {0, 17, 2, 5, 17, 2},
       MakeCl({{0, 2}, {5, 2}, {16, 3}, {17, 3}}),
       {0, 16, 2, 5, 17, 2}},
      {"17 kept, 16 dearer",
       MakeCl({{0, 2}, {5, 2}, {16, 4}, {17, 3}}),
       {0, 17, 2, 5, 17, 2},
       MakeCl({{0, 2}, {5, 2}, {17, 1}}),
       {0, 17, 2, 5, 17, 2}},
      {"17 after 18 to 16",
       MakeCl({{5, 2}, {16, 3}, {17, 3}, {18, 3}}),
       {18, 0, 17, 2, 5, 17, 2},
       MakeCl({{5, 2}, {16, 3}, {17, 3}, {18, 3}}),
       {18, 0, 16, 2, 5, 17, 2}},
      {"16 to copies", MakeCl({{7, 1}, {16, 4}}), {7, 16, 0}, MakeCl({{7, 1}}), {7, 7, 7, 7}},
      {"16 kept at equal cost",
       MakeCl({{7, 1}, {16, 1}}),
       {7, 16, 0},
       MakeCl({{7, 1}, {16, 1}}),
       {7, 16, 0}},
      {"lengths exchanged", MakeCl({{5, 3}, {6, 2}}), Cat(fives10, sixes4),
       MakeCl({{5, 2}, {6, 3}}), Cat(fives10, sixes4)},
      {"equal counts kept", MakeCl({{5, 3}, {6, 2}}), Cat(fives4, sixes4), MakeCl({{5, 3}, {6, 2}}),
       Cat(fives4, sixes4)},
      {"unused 16 dropped",
       MakeCl({{0, 2}, {8, 1}, {16, 2}}),
       {8, 8, 8, 8, 0, 0, 0},
       MakeCl({{0, 1}, {8, 1}}),
       {8, 8, 8, 8, 0, 0, 0}},
      {"unused 18 dropped",
       MakeCl({{0, 2}, {3, 2}, {17, 2}, {18, 2}}),
       {3, 17, 7, 3, 0, 3},
       MakeCl({{0, 2}, {3, 1}, {17, 2}}),
       {3, 17, 7, 3, 0, 3}},
      {"empty sequence", MakeCl({{3, 1}, {16, 2}, {18, 1}}), {}, Cl{}, {}},
  };
  for (const auto& c : cases) {
    Cl cl = c.cl;
    EXPECT_EQ(Normalise(cl, c.seq), c.wantSeq) << c.name;
    EXPECT_EQ(cl, c.wantCl) << c.name;
    Cl again = cl;  // a fixed point
    EXPECT_EQ(Normalise(again, c.wantSeq), c.wantSeq) << c.name;
    EXPECT_EQ(again, cl) << c.name;
  }
}

TEST_F(TreeHeaderTest, Failures) {
  Seq tooLong;
  for (int i = 0; i < 30; ++i) tooLong.insert(tooLong.end(), {18, 0});  // 30 x 11 zeros
  const struct {
    Cl cl;
    Seq seq;
    bool write;
    std::string message;
  } cases[] = {
      {MakeCl({{0, 1}, {16, 1}}),
       {16, 0, 0},
       false,
       "Code 16, but there is no last value yet!?!?!?"},
      {MakeCl({{0, 1}, {18, 1}}), {0, 18}, false, "Discrepancy in number of codes (location 1)"},
      {MakeCl({{0, 1}, {16, 1}}), {0, 16}, true, "Discrepancy in number of codes (location 1)"},
      {MakeCl({{0, 1}}), {0, 19, 0}, false, "Invalid code-length symbol!?!?!?"},
      {MakeCl({{0, 1}, {18, 5}}), tooLong, false, "Too many code lengths in tree header!?!?!?"},
      {MakeCl({{5, 1}, {6, 1}}), {5, 6, 3}, true, "Trying to write 0 bits"},
  };
  for (const auto& c : cases) {
    Cl cl = c.cl;
    Seq seq = c.seq;
    seq.resize(kSequenceCapacity);
    Bytes out;
    StartWriting(out, 64);
    std::string thrown = "(nothing)";
    try {
      EncodeTreeHeader(cl.data(), 19, seq.data(), static_cast<uint32_t>(c.seq.size()), c.write);
    } catch (const char* message) {
      thrown = message;
    }
    EXPECT_EQ(thrown, c.message);
  }
}

// Plans whose code-length code is then handed out against the frequencies,
// so that lengths are exchanged and dear repeat codes expanded, are written
// with their data: zlib must inflate the block to the data, and the size
// returned must be the bits written.
TEST_F(TreeHeaderTest, WrittenHeadersInflate) {
  const Bytes inputs[] = {testutil::SampleText(20000, 3), testutil::LongRuns(8000, 4),
                          testutil::Mixture(30000, 5), Bytes(300, 'a')};
  for (const Bytes& data : inputs) {
    const std::vector<Token> tokens = Tokenise(data);
    uint32_t litLen[286], dist[30];
    CountTokens(tokens, litLen, dist);
    CodeEntry litLenCodes[286], distCodes[30];
    TreeHeaderPlan plan{};
    plan.litLenTable = litLenCodes;
    plan.distTable = distCodes;
    OptimiseTreeHeader(litLen, dist, &plan);

    uint32_t uses[19] = {};
    for (uint32_t i = 0; i < plan.sequenceLength; i += plan.codeLengthSequence[i] >= 16 ? 2 : 1)
      uses[plan.codeLengthSequence[i]] += 1;
    std::vector<int> coded;  // rarest first
    std::vector<uint8_t> pool;
    for (int s = 0; s < 19; ++s) {
      if (plan.clLengths[s] == 0) continue;
      coded.push_back(s);
      pool.push_back(plan.clLengths[s]);
    }
    std::sort(pool.begin(), pool.end());
    std::stable_sort(coded.begin(), coded.end(), [&](int a, int b) { return uses[a] < uses[b]; });
    for (size_t i = 0; i < coded.size(); ++i) plan.clLengths[coded[i]] = pool[i];
    const Cl before = std::to_array(plan.clLengths);

    Bytes out;
    StartWriting(out, data.size() * 2 + 1024);
    WritePlannedBlock(plan, tokens);
    EXPECT_NE(std::to_array(plan.clLengths), before);
    out.resize((cursor.state.outBits + 7) / 8);
    Bytes inflated;
    ASSERT_TRUE(testutil::InflateRaw(out, &inflated));
    EXPECT_EQ(inflated, data);
  }

  // An empty sequence: only the code-length code is written, all zero now.
  Cl cl = MakeCl({{16, 2}, {17, 2}});
  uint8_t seq[kSequenceCapacity];
  Bytes out;
  StartWriting(out, 8);
  EXPECT_EQ(EncodeTreeHeader(cl.data(), 4, seq, 0, true), 17u + 12u);
  EXPECT_EQ(cursor.state.outBits, 12u);
  EXPECT_EQ(cl, Cl{});
  EXPECT_EQ(out, Bytes(8, 0));
}

}  // namespace
