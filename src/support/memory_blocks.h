// An arena of 16 MiB blocks: byte ranges handed out one after another,
// never freed one by one, released all at once. Cheap storage for a large
// number of small strings.
#pragma once

#include <cstdint>

class MemoryBlocks {
 public:
  static constexpr uint32_t kBlockSize = 16777216;  // bytes in every block
  static constexpr uint32_t kMaxBlocks = 65536;     // entries of the block table

  MemoryBlocks();
  ~MemoryBlocks();
  MemoryBlocks(const MemoryBlocks&) = delete;
  MemoryBlocks& operator=(const MemoryBlocks&) = delete;

  // n uninitialised bytes, unaligned, following the previous allocation in
  // the current block; a request that does not fit the rest of the block
  // starts a new block and abandons the old tail. Refuses n above kBlockSize.
  uint8_t* Allocate(uint32_t n);
  // Releases every block; the arena is empty again.
  void FreeAll();

  uint32_t BlockCount() const { return blockCount_; }

 private:
  // Adds a block and makes it current; the caller checks the table has room.
  void AllocateBlock();

  uint8_t* blocks_[kMaxBlocks];  // the blocks, null beyond blockCount_
  uint8_t* blockStart_;          // the current (last) block, null before the first
  uint32_t used_;                // bytes used in the current block; kBlockSize while none
  uint32_t blockCount_;          // blocks in the table; the current one is blockCount_ - 1
};
