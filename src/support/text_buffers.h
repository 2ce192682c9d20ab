// Copies of strings kept in a MemoryBlocks arena. The copies stay valid
// until the TextBuffers is cleared or destroyed.
#pragma once

class MemoryBlocks;

class TextBuffers {
 public:
  TextBuffers() = default;
  ~TextBuffers();
  TextBuffers(const TextBuffers&) = delete;
  TextBuffers& operator=(const TextBuffers&) = delete;

  // Stores a NUL-terminated copy of `text`, byte for byte. Creates the
  // arena on first use. Refuses a copy longer than a block.
  const char* AddText(const char* text);
  // Releases every stored copy and the arena.
  void Clear();

 private:
  MemoryBlocks* blocks_ = nullptr;  // the arena, null until the first AddText
};
