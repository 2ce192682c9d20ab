#include "support/input_window.h"

#include <cstring>
#include <new>

#include "support/error.h"

namespace trimbit {

InputWindow::InputWindow(const uint8_t* bytes, uint64_t size)
    : size_(size), capacity_(size), origin_(bytes), filled_(size) {}

void InputWindow::Reset(const uint8_t* bytes, uint64_t size) {
  if (!InMemory()) Fault("InputWindow::Reset(): Not in memory!?!?!?");
  size_ = capacity_ = filled_ = size;
  origin_ = bytes;
  base_ = 0;
}

InputWindow::InputWindow(ReadFunction read, void* context, uint64_t size, size_t capacity)
    : read_(read), context_(context), size_(size), capacity_(capacity) {
  // No more room than the input can fill.
  if (capacity_ > size_) capacity_ = size_ > 0 ? size_ : 1;
  storage_.reset(new (std::nothrow) uint8_t[capacity_]);
  if (!storage_) OutOfMemory("Could not allocate input window");
  origin_ = storage_.get();
}

const uint8_t* InputWindow::Map(uint64_t offset, uint64_t want, uint64_t* available) {
  if (offset > size_) Fault("Input read past its end!?!?!?");
  const uint64_t left = size_ - offset;
  if (want > capacity_) want = capacity_;
  if (want > left) want = left;
  if (offset < base_ || offset - base_ + want > filled_) {
    // Keep what is in hand from `offset` on, read the rest behind it.
    uint8_t* const storage = storage_.get();
    uint64_t kept = 0;
    if (offset >= base_ && offset < base_ + filled_) {
      kept = base_ + filled_ - offset;
      std::memmove(storage, storage + (offset - base_), kept);
    }
    base_ = offset;
    filled_ = kept;
    const uint64_t more = (left < capacity_ ? left : capacity_) - kept;
    if (more > 0 && read_(context_, offset + kept, storage + kept, more) != 0)
      throw Error(Error::Kind::InputOutput, "Could not read the input");
    filled_ = kept + more;
  }
  *available = base_ + filled_ - offset;
  return origin_ + (offset - base_);
}

void InputWindow::Read(uint64_t offset, void* to, uint64_t n) {
  uint8_t* out = static_cast<uint8_t*>(to);
  while (n > 0) {
    uint64_t available = 0;
    const uint8_t* from = Map(offset, n, &available);
    const uint64_t piece = available < n ? available : n;
    if (piece == 0) Fault("Input read past its end!?!?!?");
    std::memcpy(out, from, piece);
    out += piece;
    offset += piece;
    n -= piece;
  }
}

}  // namespace trimbit
