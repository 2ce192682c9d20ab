// Length-limited code construction: the shapes the tie rules and the depth
// limit must give, and completeness of every code built.
#include "huffman/code_lengths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

#include "dynamic_block.h"

namespace {

using Lengths = std::vector<uint8_t>;

Lengths Build(const std::vector<uint32_t>& counts, uint32_t limit, uint32_t mode) {
  Lengths lengths(counts.size(), 0xEE);
  trimbit::BuildCodeLengths(counts.data(), static_cast<uint32_t>(counts.size()), lengths.data(),
                            limit, mode);
  return lengths;
}

std::vector<uint32_t> Fibonacci(uint32_t n) {
  std::vector<uint32_t> f{1, 1};
  while (f.size() < n) f.push_back(f[f.size() - 1] + f[f.size() - 2]);
  return f;
}

TEST(BuildCodeLengths, PinnedShapes) {
  const Lengths fibonacciLimited = huffmantest::ParseSeq("7*16 3 2 1");  // 18 deep unlimited
  // A limit equal to the height changes nothing.
  const Lengths chain = huffmantest::ParseSeq("15 15 14 13 12 11 10 9 8 7 6 5 4 3 2 1");
  const struct {
    const char* name;
    std::vector<uint32_t> counts;
    uint32_t limit;
    Lengths modes02, modes13;
  } cases[] = {
      {"ties", {1, 1, 2, 2}, 15, {2, 2, 2, 2}, {3, 3, 2, 1}},
      {"one symbol", {0, 0, 7, 0}, 15, {0, 0, 1, 0}, {0, 0, 1, 0}},
      {"two symbols", {0, 5, 0, 900}, 15, {0, 1, 0, 1}, {0, 1, 0, 1}},
      {"fibonacci, limit 7", Fibonacci(19), 7, fibonacciLimited, fibonacciLimited},
      {"fibonacci, limit = height", Fibonacci(16), 15, chain, chain},
  };
  for (const auto& c : cases)
    for (uint32_t mode = 0; mode < 4; ++mode)
      EXPECT_EQ(Build(c.counts, c.limit, mode), mode & 1 ? c.modes13 : c.modes02)
          << c.name << ", mode " << mode;
}

// The merge as plainly as it can be written: one record per symbol that
// stands for its subtree once merged, a heap of symbols sifted down one
// level at a time, depths from the tree, and the depth limit repaired in a
// histogram and handed out in the order the merge first took the symbols.
Lengths ReferenceBuild(const std::vector<uint32_t>& counts, uint32_t limit, uint32_t mode) {
  const uint32_t n = static_cast<uint32_t>(counts.size());
  struct Record {
    uint32_t weight, height, node;
    bool taken;
  };
  struct Node {
    int left, right, symbol;  // left -1 for a leaf
  };
  std::vector<Record> rec(n);
  std::vector<Node> nodes;
  std::vector<uint32_t> heap, popOrder;
  for (uint32_t s = 0; s < n; ++s)
    if (counts[s] != 0) {
      rec[s] = {counts[s], 0, static_cast<uint32_t>(nodes.size()), false};
      nodes.push_back({-1, -1, static_cast<int>(s)});
      heap.push_back(s);
    }
  Lengths lengths(n, 0);
  if (heap.size() <= 1) {
    if (heap.size() == 1) lengths[heap[0]] = 1;
    return lengths;
  }
  auto lighter = [&](uint32_t a, uint32_t b, bool byHeight) {
    if (rec[a].weight != rec[b].weight) return rec[a].weight < rec[b].weight;
    return byHeight && rec[a].height < rec[b].height;
  };
  auto siftDown = [&](size_t p, size_t size, bool byHeight) {
    for (;;) {
      size_t c = 2 * p + 1;
      if (c >= size) return;
      if (c + 1 < size && lighter(heap[c + 1], heap[c], byHeight)) ++c;
      if (!lighter(heap[c], heap[p], byHeight)) return;
      std::swap(heap[c], heap[p]);
      p = c;
    }
  };
  auto take = [&](uint32_t s) {
    if (!rec[s].taken) popOrder.insert(popOrder.begin(), s);
    rec[s].taken = true;
  };
  for (size_t p = heap.size() / 2; p-- > 0;) siftDown(p, heap.size(), false);
  uint32_t s2 = 0;
  for (size_t size = heap.size(); size > 1;) {
    const uint32_t s1 = heap[0];
    take(s1);
    heap[0] = heap[--size];
    siftDown(0, size, (mode & 2) == 0);
    s2 = heap[0];
    take(s2);
    nodes.push_back({static_cast<int>(rec[s2].node), static_cast<int>(rec[s1].node), -1});
    rec[s2] = {rec[s1].weight + rec[s2].weight, std::max(rec[s1].height, rec[s2].height) + 1,
               static_cast<uint32_t>(nodes.size() - 1), true};
    siftDown(0, size, (mode & 1) == 0);
  }
  std::vector<uint32_t> depth(nodes.size(), 0);
  for (size_t k = nodes.size(); k-- > 0;)
    if (nodes[k].left >= 0) depth[nodes[k].left] = depth[nodes[k].right] = depth[k] + 1;
  for (const Node& leaf : nodes)
    if (leaf.left < 0) lengths[leaf.symbol] = static_cast<uint8_t>(depth[&leaf - &nodes[0]]);
  uint32_t height = rec[s2].height;
  if (height <= limit) return lengths;

  std::vector<uint32_t> hist(height + 1, 0);
  for (uint32_t s : popOrder) hist[lengths[s]] += 1;
  while (height > limit) {
    uint32_t j = limit - 1;
    while (hist[j] == 0) --j;
    hist[j] -= 1;
    hist[j + 1] += 2;
    hist[height - 1] += 1;
    hist[height] -= 2;
    if (hist[height] == 0) --height;
  }
  size_t next = 0;
  for (uint32_t len = 1; next < popOrder.size(); ++len)
    for (uint32_t k = hist[len]; k > 0; --k) lengths[popOrder[next++]] = static_cast<uint8_t>(len);
  return lengths;
}

// Against the plain merge, on random counts and on counts made to tie: every
// mode builds its lengths, and every mode a build notes as building alike
// does build the same lengths. Every code is complete, within its limit,
// codes exactly the used symbols and never gives the more frequent symbol
// the longer code.
TEST(BuildCodeLengths, MatchesThePlainMergeAndItsTieNotes) {
  std::mt19937 rng(99);
  const uint32_t alphabets[][2] = {{19, 7}, {30, 15}, {286, 15}, {40, 6}, {8, 3}};
  uint32_t noted = 0;
  for (int trial = 0; trial < 6000; ++trial) {
    const auto [n, limit] = alphabets[trial % 5];
    std::vector<uint32_t> counts(n, 0);
    const int shape = trial / 5 % 8;
    for (uint32_t i = 0; i < n; ++i) {
      if (rng() % 3 == 0 && shape != 5) continue;
      counts[i] = shape == 0   ? 1 + rng() % 3  // many ties
                  : shape == 1 ? 1 + rng() % 60
                  : shape == 2 ? 1u << rng() % 20
                  : shape == 3 ? 1 + rng() % 200000  // few ties
                  : shape == 4 ? (i < 2 ? 1 : counts[i - 1] + counts[i - 2] + rng() % 2)
                  : shape == 5 ? (rng() % 5 == 0 ? 7 : 0)
                  : shape == 6 ? 0xFFFFFFFFu / 400 * (1 + rng() % 2)  // large totals
                               : (rng() % 4 == 0 ? 1 + rng() % 9 : 1);
    }
    if (rng() % 16 == 0) std::fill(counts.begin(), counts.end(), 0);
    if (rng() % 16 == 0) counts.assign(n, 0), counts[rng() % n] = 1 + rng() % 5;
    const uint32_t used = n - static_cast<uint32_t>(std::count(counts.begin(), counts.end(), 0u));
    if (used >= 1u << limit) continue;
    Lengths reference[4];
    for (uint32_t mode = 0; mode < 4; ++mode) reference[mode] = ReferenceBuild(counts, limit, mode);
    for (uint32_t mode = 0; mode < 4; ++mode) {
      SCOPED_TRACE(testing::Message() << n << " symbols, trial " << trial << ", mode " << mode);
      Lengths lengths = Build(counts, limit, mode);
      ASSERT_EQ(lengths, reference[mode]);
      std::vector<uint32_t> order(n);  // by count, then longest first
      std::iota(order.begin(), order.end(), 0u);
      std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        return counts[a] != counts[b] ? counts[a] < counts[b] : lengths[a] > lengths[b];
      });
      for (uint32_t k = 0; k < n; ++k) {
        const uint32_t s = order[k], t = order[k == 0 ? 0 : k - 1];
        ASSERT_EQ(lengths[s] == 0, counts[s] == 0);
        ASSERT_LE(lengths[s], limit);
        ASSERT_TRUE(counts[t] == 0 || counts[t] == counts[s] || lengths[t] >= lengths[s]);
      }
      ASSERT_TRUE(used < 2 || huffmantest::KraftSum(lengths.data(), n) == 32768u);
      const trimbit::ModeSet same =
          trimbit::BuildCodeLengthsNotingTies(counts.data(), n, lengths.data(), limit, mode);
      ASSERT_EQ(lengths, reference[mode]);
      ASSERT_TRUE(same >> mode & 1);
      for (uint32_t other = 0; other < 4; ++other) {
        if (same >> other & 1) {
          ASSERT_EQ(reference[other], reference[mode]) << "noted " << other;
        }
      }
      noted += std::popcount(same) - 1;
    }
  }
  EXPECT_GT(noted, 1000u);  // the notes do prove something
}

}  // namespace
