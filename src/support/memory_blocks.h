// An arena of 16 MiB blocks: byte ranges handed out one after another,
// never freed one by one, released all at once or back to a position taken
// earlier. Cheap storage for a large number of small strings.
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
  // Adds a block and makes it current, whether or not the current block has
  // room. Returns the new number of blocks.
  uint32_t AllocateBlock();
  // Where the next allocation will go: (blocks - 1) in the upper 8 bits, the
  // offset in the current block in the lower 24; 0 when there is no block.
  // Refuses to name a block beyond the 256th, which the encoding cannot hold.
  uint32_t GetPosition() const;
  // Returns to a position taken by GetPosition(), releasing the blocks after
  // it; position 0 releases every block. Refuses a position that is not, or
  // no longer, available. Returns the address of the next allocation (null
  // after a restore to 0).
  uint8_t* Restore(uint32_t position);
  // Releases every block; the arena is empty again.
  void FreeAll();

  uint32_t BlockCount() const { return blockCount_; }

 private:
  void ReleaseBlocksDownTo(uint32_t keep);

  uint8_t* blocks_[kMaxBlocks];  // the blocks, null beyond blockCount_
  uint8_t* blockStart_;          // the current (last) block, null before the first
  uint32_t used_;                // bytes used in the current block; kBlockSize while none
  uint32_t blockCount_;          // blocks in the table; the current one is blockCount_ - 1
};
