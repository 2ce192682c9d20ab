// The bytes of a new image as they are put together: appended at the end,
// and patched where a length is known only later (a ZIP member's compressed
// size, a PNG chunk's length). The storage is kept from one image to the
// next and grows to the largest; a failed growth is thrown as "Could not
// allocate output buffer" with the bytes so far intact.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace trimbit {

class OutputBuffer {
 public:
  size_t size() const { return size_; }
  uint8_t* data() { return bytes_.get(); }
  const uint8_t* data() const { return bytes_.get(); }

  // Forgets the bytes; the storage stays.
  void Clear() { size_ = 0; }
  // Makes room for n bytes in all, so that appends up to that size never
  // move the bytes.
  void Reserve(size_t n);
  // Makes room for n more bytes and returns where they go; Commit then adds
  // the bytes written there. Appends and patches move no byte, but a later
  // Room may move them all.
  uint8_t* Room(size_t n) {
    if (capacity_ - size_ < n) Grow(n);
    return bytes_.get() + size_;
  }
  void Commit(size_t n) { size_ += n; }
  void Append(const void* source, size_t n) {
    if (n == 0) return;
    std::memcpy(Room(n), source, n);
    size_ += n;
  }
  // Drops the bytes from n on.
  void Truncate(size_t n) {
    if (n < size_) size_ = n;
  }
  // Overwrites n bytes at `at`, which must lie within the bytes so far.
  void Patch(size_t at, const void* source, size_t n) { std::memcpy(bytes_.get() + at, source, n); }

 private:
  void Grow(size_t n);               // room for n more bytes
  void Reallocate(size_t capacity);  // exactly `capacity` bytes, the bytes so far kept

  std::unique_ptr<uint8_t[]> bytes_;  // the storage; null before the first growth
  size_t size_ = 0;                   // bytes in use
  size_t capacity_ = 0;               // bytes allocated
};

}  // namespace trimbit
