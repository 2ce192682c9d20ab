#include "support/output_sink.h"

#include <cstring>

#include "support/error.h"
#include "support/input_window.h"

namespace trimbit {
namespace {

[[noreturn]] void FailWrite() {
  throw Error(Error::Kind::InputOutput, "Could not write the output");
}

}  // namespace

void OutputSink::Append(const void* bytes, size_t n) {
  if (n == 0) return;
  if (!DoAppend(bytes, n)) FailWrite();
  size_ += n;
}

void OutputSink::WriteAt(uint64_t offset, const void* bytes, size_t n) {
  if (offset > size_ || n > size_ - offset) Fault("Patch beyond the output!?!?!?");
  if (n != 0 && !DoWriteAt(offset, bytes, n)) FailWrite();
}

void OutputSink::ReadAt(uint64_t offset, void* to, size_t n) {
  if (offset > size_ || n > size_ - offset) Fault("Read beyond the output!?!?!?");
  if (n != 0 && !DoReadAt(offset, to, n))
    throw Error(Error::Kind::InputOutput, "Could not read the output back");
}

void OutputSink::Truncate(uint64_t size) {
  if (size >= size_) return;
  if (!DoTruncate(size)) FailWrite();
  size_ = size;
}

bool BufferSink::DoAppend(const void* bytes, size_t n) {
  buffer_.Append(bytes, n);
  return true;
}

bool BufferSink::DoWriteAt(uint64_t offset, const void* bytes, size_t n) {
  buffer_.Patch(static_cast<size_t>(offset), bytes, n);
  return true;
}

bool BufferSink::DoReadAt(uint64_t offset, void* to, size_t n) {
  std::memcpy(to, buffer_.data() + offset, n);
  return true;
}

bool BufferSink::DoTruncate(uint64_t size) {
  buffer_.Truncate(static_cast<size_t>(size));
  return true;
}

void CopyWindowBytes(InputWindow& input, uint64_t at, uint64_t length, OutputSink& sink) {
  while (length > 0) {
    uint64_t available = 0;
    const uint8_t* bytes = input.Map(at, length, &available);
    const uint64_t piece = available < length ? available : length;
    if (piece == 0) Fault("Input read past its end!?!?!?");
    sink.Append(bytes, static_cast<size_t>(piece));
    at += piece;
    length -= piece;
  }
}

}  // namespace trimbit
