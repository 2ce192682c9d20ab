// MemoryBlocks: blocks that start small and double up to the largest size,
// and requests at their boundaries.
#include "support/memory_blocks.h"

#include <gtest/gtest.h>

#include "support/error.h"

namespace {

using trimbit::MemoryBlocks;

constexpr uint32_t kFirst = MemoryBlocks::kFirstBlockSize;
constexpr uint32_t kLargest = MemoryBlocks::kBlockSize;

TEST(MemoryBlocks, BlocksGrowAndRequestsStayInOneBlock) {
  MemoryBlocks arena;
  EXPECT_THROW(arena.Allocate(kLargest + 1), trimbit::Error);
  uint8_t* first = arena.Allocate(kFirst - 10);
  EXPECT_EQ(arena.Allocate(10), first + kFirst - 10);  // exactly fills the first block
  EXPECT_EQ(arena.BlockCount(), 1u);
  // The next block is twice as large; a request larger than the rest
  // abandons the tail, and the one after it follows it.
  uint8_t* second = arena.Allocate(5);
  EXPECT_EQ(arena.BlockCount(), 2u);
  uint8_t* big = arena.Allocate(2 * kFirst - 5);
  EXPECT_EQ(big, second + 5);
  uint8_t* third = arena.Allocate(3);
  EXPECT_EQ(arena.BlockCount(), 3u);
  // A request larger than the next block's size gets a block of its own size.
  uint8_t* huge = arena.Allocate(kLargest);
  EXPECT_NE(huge, third + 3);
  EXPECT_EQ(arena.BlockCount(), 4u);
  arena.FreeAll();
  EXPECT_EQ(arena.BlockCount(), 0u);
  EXPECT_NE(arena.Allocate(kLargest), nullptr);  // exactly one largest block is allowed
  EXPECT_EQ(arena.BlockCount(), 1u);
}

}  // namespace
