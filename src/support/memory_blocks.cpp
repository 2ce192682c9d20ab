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

uint32_t MemoryBlocks::AllocateBlock() {
  if (blockCount_ == kMaxBlocks)
    throw static_cast<Message>("MemoryBlocks::AllocateBlock(): Array of blocks full");
  uint8_t* block = new (std::nothrow) uint8_t[kBlockSize];
  if (block == nullptr)
    throw static_cast<Message>("MemoryBlocks::AllocateBlock(): Could not allocate block");
  blocks_[blockCount_] = block;
  blockCount_ += 1;
  blockStart_ = block;
  used_ = 0;
  return blockCount_;
}

uint32_t MemoryBlocks::GetPosition() const {
  if (blockCount_ == 0) return 0;
  // A full block gives (blocks << 24): the same place as the start of the
  // next block, which is where the next allocation would go anyway.
  const uint64_t position = (static_cast<uint64_t>(blockCount_ - 1) << 24) + used_;
  if (position > UINT32_MAX)
    throw static_cast<Message>("MemoryBlocks::GetPosition(): No position beyond the 256th block");
  return static_cast<uint32_t>(position);
}

uint8_t* MemoryBlocks::Restore(uint32_t position) {
  if (position == 0) {
    FreeAll();
    return nullptr;
  }
  const uint32_t keep = (position >> 24) + 1;
  const uint32_t offset = position & 0xFFFFFF;
  if (keep == blockCount_ + 1 && offset == 0 && used_ == kBlockSize) {
    return blockStart_ + used_;  // the position of a full current block: nothing to undo
  }
  if (keep > blockCount_ || (keep == blockCount_ && offset > used_))
    throw static_cast<Message>(
        "MemoryBlocks::Restore(): Attempt to restore to a position that is not or no longer "
        "available");
  ReleaseBlocksDownTo(keep);
  blockStart_ = blocks_[keep - 1];
  used_ = offset;
  return blockStart_ + used_;
}

void MemoryBlocks::FreeAll() {
  ReleaseBlocksDownTo(0);
}

void MemoryBlocks::ReleaseBlocksDownTo(uint32_t keep) {
  while (blockCount_ > keep) {
    blockCount_ -= 1;
    delete[] blocks_[blockCount_];
    blocks_[blockCount_] = nullptr;
  }
  if (blockCount_ == 0) {
    blockStart_ = nullptr;
    used_ = kBlockSize;
  } else {
    // The remaining last block becomes current; the caller sets the offset.
    blockStart_ = blocks_[blockCount_ - 1];
  }
}
