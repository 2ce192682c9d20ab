#include "support/text_buffers.h"

#include <cstring>

namespace trimbit {

const char* TextBuffers::AddText(const char* text) {
  const size_t length = std::strlen(text);
  // A copy that cannot fit a block is passed on as an oversized request, so
  // that the arena refuses it with its own message.
  const uint32_t size = length < MemoryBlocks::kBlockSize ? static_cast<uint32_t>(length + 1)
                                                          : MemoryBlocks::kBlockSize + 1;
  char* copy = reinterpret_cast<char*>(blocks_.Allocate(size));
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

}  // namespace trimbit
