// Length-limited code construction: the shapes the tie rules and the depth
// limit must give, and completeness and optimality of every code built.
#include "huffman/code_lengths.h"

#include <gtest/gtest.h>

#include <functional>
#include <queue>
#include <random>
#include <vector>

#include "deflate/code_workspace.h"
#include "dynamic_block.h"

namespace {

using huffmantest::KraftSum;
using Lengths = std::vector<uint8_t>;

Lengths Build(const std::vector<uint32_t>& counts, uint32_t limit, uint32_t mode) {
  codeWork.TieBreakMode = mode;
  Lengths lengths(counts.size(), 0xEE);
  BuildCodeLengths(counts.data(), static_cast<uint32_t>(counts.size()), lengths.data(), limit);
  return lengths;
}

std::vector<uint32_t> Fibonacci(uint32_t n) {
  std::vector<uint32_t> f{1, 1};
  while (f.size() < n) f.push_back(f[f.size() - 1] + f[f.size() - 2]);
  return f;
}

TEST(BuildCodeLengths, PinnedShapes) {
  Lengths fibonacciLimited(19, 7);  // 18 deep unlimited
  fibonacciLimited[16] = 3, fibonacciLimited[17] = 2, fibonacciLimited[18] = 1;
  Lengths chain{15};  // a limit equal to the height changes nothing
  for (uint8_t l = 15; l >= 1; --l) chain.push_back(l);
  const struct {
    const char* name;
    std::vector<uint32_t> counts;
    uint32_t limit;
    Lengths modes02, modes13;
  } cases[] = {
      {"ties", {1, 1, 2, 2}, 15, {2, 2, 2, 2}, {3, 3, 2, 1}},
      {"all zero", {0, 0, 0}, 15, {0, 0, 0}, {0, 0, 0}},
      {"one symbol", {0, 0, 7, 0}, 15, {0, 0, 1, 0}, {0, 0, 1, 0}},
      {"two symbols", {0, 5, 0, 900}, 15, {0, 1, 0, 1}, {0, 1, 0, 1}},
      {"fibonacci, limit 7", Fibonacci(19), 7, fibonacciLimited, fibonacciLimited},
      {"fibonacci, limit = height", Fibonacci(16), 15, chain, chain},
  };
  for (const auto& c : cases) {
    for (uint32_t mode = 0; mode < 4; ++mode) {
      EXPECT_EQ(Build(c.counts, c.limit, mode), mode & 1 ? c.modes13 : c.modes02)
          << c.name << ", mode " << mode;
    }
  }

  uint8_t untouched = 0xAB;
  BuildCodeLengths(Fibonacci(2).data(), 0, &untouched, 15);
  EXPECT_EQ(untouched, 0xAB);
}

// Cost of an optimal unlimited prefix code: the sum of all merged weights.
uint64_t OptimalCost(const std::vector<uint32_t>& counts) {
  std::priority_queue<uint64_t, std::vector<uint64_t>, std::greater<>> q;
  for (uint32_t c : counts)
    if (c) q.push(c);
  uint64_t cost = q.size() == 1 ? q.top() : 0;
  while (q.size() > 1) {
    const uint64_t a = q.top();
    q.pop();
    const uint64_t sum = a + q.top();
    q.pop();
    cost += sum;
    q.push(sum);
  }
  return cost;
}

// Every code is complete, within its limit, codes exactly the used symbols
// and never gives the more frequent symbol the longer code. When the limit
// cannot bind it is optimal in every mode.
TEST(BuildCodeLengths, EveryCodeIsCompleteWithinItsLimit) {
  std::mt19937 rng(12345);
  const uint32_t alphabets[][2] = {{19, 7}, {30, 15}, {286, 15}, {8, 3}};
  int limited = 0;
  for (const auto& [n, limit] : alphabets) {
    for (int trial = 0; trial < 300; ++trial) {
      std::vector<uint32_t> counts(n, 0);
      for (uint32_t& c : counts) {
        if (rng() % 4 == 0) continue;
        c = trial % 3 == 0 ? 1 + rng() % 6 : trial % 3 == 1 ? 1 + rng() % 100000 : 1u << rng() % 24;
      }
      uint32_t used = 0;
      for (uint32_t c : counts) used += c != 0;
      if (used >= 1u << limit) continue;
      for (uint32_t mode = 0; mode < 4; ++mode) {
        SCOPED_TRACE(testing::Message() << n << " symbols, trial " << trial << ", mode " << mode);
        const Lengths lengths = Build(counts, limit, mode);
        uint64_t cost = 0;
        for (uint32_t s = 0; s < n; ++s) {
          ASSERT_EQ(lengths[s] == 0, counts[s] == 0);
          ASSERT_LE(lengths[s], limit);
          for (uint32_t t = 0; t < n; ++t)
            if (counts[t] != 0 && counts[s] > counts[t]) {
              ASSERT_LE(lengths[s], lengths[t]);
            }
          cost += uint64_t{counts[s]} * lengths[s];
        }
        if (used >= 2) {
          ASSERT_EQ(KraftSum(lengths.data(), n), 32768u);
        }
        const uint64_t optimal = OptimalCost(counts);
        ASSERT_GE(cost, optimal);
        if (used <= limit + 1) {
          ASSERT_EQ(cost, optimal);
        }
        limited += cost != optimal;
      }
    }
  }
  EXPECT_GT(limited, 0) << "no case needed the depth limit";
}

}  // namespace
