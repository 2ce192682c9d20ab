// MemoryBlocks: block boundaries, positions and restoring. Blocks are 16 MiB
// of untouched heap, so no test holds more than three of them.
#include "support/memory_blocks.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

constexpr uint32_t kBlock = MemoryBlocks::kBlockSize;

template <typename Action>
std::string Thrown(Action action) {
  try {
    action();
  } catch (const char* message) {
    return message;
  }
  return "";
}

// The object holds a 65,536-entry table: keep it off the stack.
std::unique_ptr<MemoryBlocks> NewArena() {
  return std::make_unique<MemoryBlocks>();
}

TEST(MemoryBlocks, FirstAllocationOfAnySizeCreatesTheFirstBlock) {
  for (uint32_t size : {0u, 1u, 100u, kBlock}) {
    SCOPED_TRACE(size);
    auto arena = NewArena();
    EXPECT_EQ(arena->BlockCount(), 0u);
    EXPECT_EQ(arena->GetPosition(), 0u);
    EXPECT_NE(arena->Allocate(size), nullptr);
    EXPECT_EQ(arena->BlockCount(), 1u);
  }
  auto arena = NewArena();
  EXPECT_EQ(Thrown([&] { arena->Allocate(kBlock + 1); }),
            "MemoryBlocks::Allocate(): Requested size too large");
  EXPECT_EQ(arena->BlockCount(), 0u);
}

TEST(MemoryBlocks, RequestsThatDoNotFitStartANewBlock) {
  auto arena = NewArena();
  uint8_t* first = arena->Allocate(kBlock - 10);
  uint8_t* tail = arena->Allocate(10);  // exactly fills the block
  EXPECT_EQ(tail, first + kBlock - 10);
  EXPECT_EQ(arena->BlockCount(), 1u);

  uint8_t* second = arena->Allocate(1);
  EXPECT_EQ(arena->BlockCount(), 2u);
  arena->Restore(arena->GetPosition());
  uint8_t* next = arena->Allocate(5);
  EXPECT_EQ(next, second + 1);  // continues in the new block

  // A request larger than the rest abandons the tail; the next one follows it.
  uint8_t* big = arena->Allocate(kBlock - 3);
  EXPECT_EQ(arena->BlockCount(), 3u);
  EXPECT_EQ(arena->Allocate(3), big + kBlock - 3);

  // AllocateBlock starts a block even when the current one has room.
  arena->Restore(1u << 24);  // back to the start of the second block
  EXPECT_EQ(arena->BlockCount(), 2u);
  EXPECT_EQ(arena->AllocateBlock(), 3u);
  arena->FreeAll();
  EXPECT_EQ(arena->BlockCount(), 0u);
  EXPECT_EQ(arena->GetPosition(), 0u);
  EXPECT_NE(arena->Allocate(1), nullptr);
}

TEST(MemoryBlocks, RestoreReturnsToAnEarlierPosition) {
  auto arena = NewArena();
  arena->Allocate(100);
  const uint32_t position = arena->GetPosition();
  EXPECT_EQ(position, 100u);
  uint8_t* after = arena->Allocate(7);
  arena->Allocate(1000);
  arena->Allocate(kBlock);  // a second block
  ASSERT_EQ(arena->BlockCount(), 2u);

  EXPECT_EQ(arena->Restore(position), after);
  EXPECT_EQ(arena->BlockCount(), 1u);
  EXPECT_EQ(arena->Allocate(7), after);

  // The position of a full block stays usable although its encoding names the
  // start of the block after it.
  auto full = NewArena();
  full->Allocate(kBlock);
  const uint32_t end = full->GetPosition();
  EXPECT_EQ(end, 1u << 24);
  EXPECT_EQ(Thrown([&] { full->Restore(end); }), "");
  full->Allocate(1);
  EXPECT_EQ(full->BlockCount(), 2u);
  EXPECT_EQ(Thrown([&] { full->Restore(end); }), "");
  EXPECT_EQ(full->GetPosition(), 1u << 24);
}

TEST(MemoryBlocks, RestoreRefusesPositionsNoLongerAvailable) {
  const std::string refused =
      "MemoryBlocks::Restore(): Attempt to restore to a position that is not or no longer "
      "available";
  auto arena = NewArena();
  arena->Allocate(10);
  arena->Allocate(kBlock);
  const uint32_t inSecond = arena->GetPosition();
  arena->Restore(5);  // releases the second block
  EXPECT_EQ(arena->BlockCount(), 1u);
  EXPECT_EQ(Thrown([&] { arena->Restore(inSecond); }), refused);
  EXPECT_EQ(Thrown([&] { arena->Restore(6); }), refused);  // beyond what is in use
  EXPECT_EQ(Thrown([&] { arena->Restore(5); }), "");

  EXPECT_EQ(arena->Restore(0), nullptr);  // position 0 releases everything
  EXPECT_EQ(arena->BlockCount(), 0u);
  EXPECT_EQ(Thrown([&] { arena->Restore(5); }), refused);
}

}  // namespace
