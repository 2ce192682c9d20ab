// An arena of blocks: byte ranges handed out one after another, never freed
// one by one, released all at once. Cheap storage for a large number of
// small strings. The first block is small and each new one twice the size of
// the last, up to 16 MiB, so the arena stays in proportion to what it holds.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace trimbit {

class MemoryBlocks {
 public:
  static constexpr uint32_t kFirstBlockSize = 65536;  // bytes in the first block
  static constexpr uint32_t kBlockSize = 16777216;    // the largest block, and request

  MemoryBlocks() = default;
  MemoryBlocks(const MemoryBlocks&) = delete;
  MemoryBlocks& operator=(const MemoryBlocks&) = delete;

  // n uninitialised bytes, unaligned, following the previous allocation in
  // the current block; a request that does not fit the rest of the block
  // starts a new block (large enough for it) and abandons the old tail.
  // Refuses n above kBlockSize.
  uint8_t* Allocate(uint32_t n);
  // Releases every block; the arena is empty again.
  void FreeAll();

  uint32_t BlockCount() const { return static_cast<uint32_t>(blocks_.size()); }

 private:
  std::vector<std::unique_ptr<uint8_t[]>> blocks_;  // the blocks; the last is the current one
  uint32_t blockSize_ = 0;                          // bytes in the current block
  uint32_t used_ = 0;                               // bytes used in the current block
};

}  // namespace trimbit
