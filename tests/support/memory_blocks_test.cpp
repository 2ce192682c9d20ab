// MemoryBlocks: block boundaries, positions and restoring. Blocks are 16 MiB
// of untouched heap, so no test holds more than three of them.
#include "support/memory_blocks.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr uint32_t kBlock = MemoryBlocks::kBlockSize;

TEST(MemoryBlocks, BlockBoundariesAndRestore) {
  auto arena = std::make_unique<MemoryBlocks>();  // its block table is too big for the stack
  EXPECT_THROW(arena->Allocate(kBlock + 1), const char*);
  EXPECT_EQ(arena->GetPosition(), 0u);
  uint8_t* first = arena->Allocate(kBlock - 10);
  EXPECT_EQ(arena->Allocate(10), first + kBlock - 10);  // exactly fills the block
  EXPECT_EQ(arena->BlockCount(), 1u);
  // The position of a full block stays usable, before and after the next block.
  const uint32_t full = arena->GetPosition();
  EXPECT_NO_THROW(arena->Restore(full));
  uint8_t* second = arena->Allocate(5);
  EXPECT_EQ(arena->BlockCount(), 2u);
  const uint32_t inSecond = arena->GetPosition();
  EXPECT_EQ(inSecond, (1u << 24) + 5);
  // A request larger than the rest abandons the tail; the next one follows it.
  uint8_t* big = arena->Allocate(kBlock - 3);
  EXPECT_EQ(arena->Allocate(3), big + kBlock - 3);
  EXPECT_EQ(arena->BlockCount(), 3u);

  EXPECT_EQ(arena->Restore(inSecond), second + 5);  // releases the third block
  EXPECT_EQ(arena->BlockCount(), 2u);
  EXPECT_EQ(arena->Allocate(5), second + 5);
  EXPECT_THROW(arena->Restore(inSecond + 6), const char*);  // beyond what is in use
  EXPECT_EQ(arena->Restore(full), second);
  EXPECT_EQ(arena->AllocateBlock(), 3u);  // even though the current block has room
  EXPECT_EQ(arena->Restore(5), first + 5);
  EXPECT_THROW(arena->Restore(inSecond), const char*);  // released
  EXPECT_EQ(arena->Restore(0), nullptr);
  EXPECT_EQ(arena->BlockCount(), 0u);
  EXPECT_THROW(arena->Restore(5), const char*);
  EXPECT_NE(arena->Allocate(1), nullptr);
}

}  // namespace
