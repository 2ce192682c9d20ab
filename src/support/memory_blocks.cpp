// The arena behind the list of file names. The offset in the current block
// is kept as a count rather than a pointer, so that the empty arena (no
// block, looking full) needs no pointer that points nowhere.
#include "support/memory_blocks.h"

#include <new>

#include "support/message.h"

MemoryBlocks::MemoryBlocks() : blocks_{}, blockStart_(nullptr), used_(kBlockSize), blockCount_(0) {}

MemoryBlocks::~MemoryBlocks() {
  FreeAll();
}

uint8_t* MemoryBlocks::Allocate(uint32_t n) {
  if (n > kBlockSize)
    throw static_cast<Message>("MemoryBlocks::Allocate(): Requested size too large");
  // Both terms are at most kBlockSize, so the sum cannot wrap.
  if (blockCount_ == 0 || used_ + n > kBlockSize) {
    if (blockCount_ == kMaxBlocks)
      throw static_cast<Message>("MemoryBlocks::Allocate(): Array of blocks full");
    AllocateBlock();
  }
  uint8_t* result = blockStart_ + used_;
  used_ += n;
  return result;
}

void MemoryBlocks::AllocateBlock() {
  uint8_t* block = new (std::nothrow) uint8_t[kBlockSize];
  if (block == nullptr)
    throw static_cast<Message>("MemoryBlocks::AllocateBlock(): Could not allocate block");
  blocks_[blockCount_] = block;
  blockCount_ += 1;
  blockStart_ = block;
  used_ = 0;
}

void MemoryBlocks::FreeAll() {
  while (blockCount_ > 0) {
    blockCount_ -= 1;
    delete[] blocks_[blockCount_];
    blocks_[blockCount_] = nullptr;
  }
  blockStart_ = nullptr;
  used_ = kBlockSize;
}
