#include "support/output_buffer.h"

#include <new>

#include "support/error.h"

namespace trimbit {

void OutputBuffer::Reserve(size_t n) {
  if (n > capacity_) Reallocate(n);
}

void OutputBuffer::Grow(size_t n) {
  if (n > SIZE_MAX - size_) OutOfMemory("Could not allocate output buffer");
  const size_t needed = size_ + n;
  // Growing by half again at least keeps a run of appends linear.
  const size_t larger = capacity_ + capacity_ / 2;
  Reallocate(larger > needed ? larger : needed);
}

void OutputBuffer::Reallocate(size_t capacity) {
  std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[capacity]);
  if (!bytes) OutOfMemory("Could not allocate output buffer");
  if (size_ != 0) std::memcpy(bytes.get(), bytes_.get(), size_);
  bytes_ = std::move(bytes);
  capacity_ = capacity;
}

}  // namespace trimbit
