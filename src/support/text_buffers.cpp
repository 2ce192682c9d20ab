#include "support/text_buffers.h"

#include <cstring>
#include <new>

#include "support/memory_blocks.h"
#include "support/message.h"

TextBuffers::~TextBuffers() {
  Clear();
}

void TextBuffers::Clear() {
  if (blocks_ == nullptr) return;
  blocks_->FreeAll();
  delete blocks_;
  blocks_ = nullptr;
}

const char* TextBuffers::AddText(const char* text) {
  const size_t length = std::strlen(text);
  if (blocks_ == nullptr) {
    blocks_ = new (std::nothrow) MemoryBlocks;
    if (blocks_ == nullptr)
      throw static_cast<Message>("TextBuffers::AddText(): Could not new MemoryBlocks");
  }
  // A copy that cannot fit a block is passed on as an oversized request, so
  // that the arena refuses it with its own message.
  const uint32_t size = length < MemoryBlocks::kBlockSize ? static_cast<uint32_t>(length + 1)
                                                          : MemoryBlocks::kBlockSize + 1;
  char* copy = reinterpret_cast<char*>(blocks_->Allocate(size));
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}
