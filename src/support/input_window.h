// Random access to an input of any size through a bounded window. An input
// in memory is its own window: every byte is in hand at once and nothing is
// copied. An input behind a read function is read a window at a time, so
// that memory does not grow with its size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace trimbit {

// Reads n bytes at `offset` into `buffer`; returns 0 on success and
// anything else on failure (the caller has the reason).
using ReadFunction = int (*)(void* context, uint64_t offset, void* buffer, size_t n);

class InputWindow {
 public:
  // The bytes at `bytes` are the input, all of them in hand.
  InputWindow(const uint8_t* bytes, uint64_t size);
  // Makes a window in memory stand for other bytes.
  void Reset(const uint8_t* bytes, uint64_t size);
  // The input is read through `read`, `capacity` bytes at most at a time.
  InputWindow(ReadFunction read, void* context, uint64_t size, size_t capacity);
  InputWindow(const InputWindow&) = delete;
  InputWindow& operator=(const InputWindow&) = delete;

  uint64_t size() const { return size_; }
  // The most bytes one Map can hand out contiguously.
  uint64_t capacity() const { return capacity_; }
  // Whether every byte is in hand for good.
  bool InMemory() const { return read_ == nullptr; }

  // Makes the bytes from `offset` on contiguous in memory, at least
  // min(want, capacity, size - offset) of them, and returns them with their
  // number in *available. Bytes already in hand from `offset` on are kept.
  // Pointers handed out earlier keep pointing into the same storage, which
  // Origin() and Base() relate to offsets. A failing read throws an
  // input-output error.
  const uint8_t* Map(uint64_t offset, uint64_t want, uint64_t* available);
  // Copies n bytes at `offset` out (n may exceed the capacity).
  void Read(uint64_t offset, void* to, uint64_t n);

  // The storage's first byte stands for input offset Base(); it moves only
  // when Map brings other bytes in.
  const uint8_t* Origin() const { return origin_; }
  uint64_t Base() const { return base_; }

 private:
  ReadFunction read_ = nullptr;
  void* context_ = nullptr;
  uint64_t size_ = 0;
  uint64_t capacity_ = 0;
  std::unique_ptr<uint8_t[]> storage_;
  const uint8_t* origin_ = nullptr;
  uint64_t base_ = 0;    // input offset of origin_[0]
  uint64_t filled_ = 0;  // bytes in hand from origin_ on
};

}  // namespace trimbit
