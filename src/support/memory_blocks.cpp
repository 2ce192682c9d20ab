#include "support/memory_blocks.h"

#include <new>

#include "support/error.h"

namespace trimbit {

uint8_t* MemoryBlocks::Allocate(uint32_t n) {
  if (n > kBlockSize) Refuse("MemoryBlocks::Allocate(): Requested size too large");
  // Both terms are at most kBlockSize, so the sum cannot wrap.
  if (blocks_.empty() || used_ + n > blockSize_) {
    uint32_t size = blocks_.empty() ? kFirstBlockSize : blockSize_ * 2;
    if (size > kBlockSize) size = kBlockSize;
    if (size < n) size = n;
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[size]);
    if (!block) OutOfMemory("MemoryBlocks::AllocateBlock(): Could not allocate block");
    blocks_.push_back(std::move(block));
    blockSize_ = size;
    used_ = 0;
  }
  uint8_t* result = blocks_.back().get() + used_;
  used_ += n;
  return result;
}

void MemoryBlocks::FreeAll() {
  blocks_.clear();
  blockSize_ = 0;
  used_ = 0;
}

}  // namespace trimbit
