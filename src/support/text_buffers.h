// Copies of strings kept in a MemoryBlocks arena. The copies stay valid
// until the TextBuffers is cleared or destroyed.
#pragma once

#include "support/memory_blocks.h"

namespace trimbit {

class TextBuffers {
 public:
  TextBuffers() = default;
  TextBuffers(const TextBuffers&) = delete;
  TextBuffers& operator=(const TextBuffers&) = delete;

  // Stores a NUL-terminated copy of `text`, byte for byte. Refuses a copy
  // longer than the largest block.
  const char* AddText(const char* text);
  // Releases every stored copy.
  void Clear() { blocks_.FreeAll(); }

 private:
  MemoryBlocks blocks_;  // where the copies live
};

}  // namespace trimbit
