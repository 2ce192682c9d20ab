// MemoryBlocks: block boundaries. Blocks are 16 MiB of untouched heap, so no
// test holds more than three of them.
#include "support/memory_blocks.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr uint32_t kBlock = MemoryBlocks::kBlockSize;

TEST(MemoryBlocks, BlockBoundaries) {
  auto arena = std::make_unique<MemoryBlocks>();  // its block table is too big for the stack
  EXPECT_THROW(arena->Allocate(kBlock + 1), const char*);
  uint8_t* first = arena->Allocate(kBlock - 10);
  EXPECT_EQ(arena->Allocate(10), first + kBlock - 10);  // exactly fills the block
  EXPECT_EQ(arena->BlockCount(), 1u);
  arena->Allocate(5);
  EXPECT_EQ(arena->BlockCount(), 2u);
  // A request larger than the rest abandons the tail; the next one follows it.
  uint8_t* big = arena->Allocate(kBlock - 3);
  EXPECT_EQ(arena->Allocate(3), big + kBlock - 3);
  EXPECT_EQ(arena->BlockCount(), 3u);
  arena->FreeAll();
  EXPECT_EQ(arena->BlockCount(), 0u);
  EXPECT_NE(arena->Allocate(kBlock), nullptr);  // exactly one block is allowed
  EXPECT_EQ(arena->BlockCount(), 1u);
}

}  // namespace
