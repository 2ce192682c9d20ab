// Length-limited code construction: the shapes the tie rules and the depth
// limit must give, and completeness of every code built.
#include "huffman/code_lengths.h"

#include <gtest/gtest.h>

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

// Every code is complete, within its limit, codes exactly the used symbols
// and never gives the more frequent symbol the longer code.
TEST(BuildCodeLengths, EveryCodeIsCompleteWithinItsLimit) {
  std::mt19937 rng(12345);
  const uint32_t alphabets[][2] = {{19, 7}, {30, 15}, {286, 15}, {8, 3}};
  for (const auto& [n, limit] : alphabets) {
    for (int trial = 0; trial < 300; ++trial) {
      std::vector<uint32_t> counts(n, 0);
      for (uint32_t& c : counts)
        if (rng() % 4 != 0)
          c = trial % 3 == 0   ? 1 + rng() % 6
              : trial % 3 == 1 ? 1 + rng() % 100000
                               : 1u << rng() % 24;
      const uint32_t used = n - static_cast<uint32_t>(std::count(counts.begin(), counts.end(), 0u));
      if (used >= 1u << limit) continue;
      for (uint32_t mode = 0; mode < 4; ++mode) {
        SCOPED_TRACE(testing::Message() << n << " symbols, trial " << trial << ", mode " << mode);
        const Lengths lengths = Build(counts, limit, mode);
        for (uint32_t s = 0; s < n; ++s) {
          ASSERT_EQ(lengths[s] == 0, counts[s] == 0);
          ASSERT_LE(lengths[s], limit);
          for (uint32_t t = 0; t < n; ++t)
            ASSERT_TRUE(counts[t] == 0 || counts[s] <= counts[t] || lengths[s] <= lengths[t]);
        }
        ASSERT_TRUE(used < 2 || huffmantest::KraftSum(lengths.data(), n) == 32768u);
      }
    }
  }
}

}  // namespace
