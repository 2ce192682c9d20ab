// Copies of strings kept in a MemoryBlocks arena, optionally without
// surrounding double quotes and surrounding blanks. The copies stay valid
// until the TextBuffers is cleared or destroyed.
#pragma once

class MemoryBlocks;

class TextBuffers {
 public:
  TextBuffers() = default;
  ~TextBuffers();
  TextBuffers(const TextBuffers&) = delete;
  TextBuffers& operator=(const TextBuffers&) = delete;

  // Stores a NUL-terminated copy of `text` (null counts as empty). With
  // `unquote`, a pair of double quotes enclosing the whole text is dropped;
  // with `trim`, then bytes up to 32 (blanks, control characters) at both
  // ends. Creates the arena on first use. Refuses a copy longer than a block.
  const char* AddText(const char* text, bool unquote, bool trim);
  // Releases every stored copy and the arena.
  void Clear();

 private:
  MemoryBlocks* blocks_ = nullptr;  // the arena, null until the first AddText
};
