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

namespace {

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

}  // namespace

const char* TextBuffers::AddText(const char* text, bool unquote, bool trim) {
  if (text == nullptr) text = "";
  const char* begin = text;
  const char* end = text + std::strlen(text);
  if (unquote && end - begin >= 2 && begin[0] == '"' && end[-1] == '"') {
    begin += 1;
    end -= 1;
  }
  if (trim) {
    while (end > begin && IsBlank(end[-1])) --end;
    while (begin < end && IsBlank(begin[0])) ++begin;
  }
  if (blocks_ == nullptr) {
    blocks_ = new (std::nothrow) MemoryBlocks;
    if (blocks_ == nullptr)
      throw static_cast<Message>("TextBuffers::AddText(): Could not new MemoryBlocks");
  }
  const size_t length = static_cast<size_t>(end - begin);
  // A copy that cannot fit a block is passed on as an oversized request, so
  // that the arena refuses it with its own message.
  const uint32_t size = length < MemoryBlocks::kBlockSize ? static_cast<uint32_t>(length + 1)
                                                          : MemoryBlocks::kBlockSize + 1;
  char* copy = reinterpret_cast<char*>(blocks_->Allocate(size));
  std::memcpy(copy, begin, length);
  copy[length] = '\0';
  return copy;
}
