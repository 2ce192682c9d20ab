// Where a new image goes while it is made: bytes are appended as they are
// produced, patched where a length or flag is known only later, read back
// for the self-check, and cut back when a stream is withdrawn. The engine
// writes through this interface alone, so that a client may keep the image
// in memory or send it to a file as it comes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/output_buffer.h"

namespace trimbit {

class InputWindow;

class OutputSink {
 public:
  virtual ~OutputSink() = default;
  uint64_t size() const { return size_; }
  void Append(const void* bytes, size_t n);
  // Overwrites n bytes at `offset`, which must lie within the bytes so far.
  void WriteAt(uint64_t offset, const void* bytes, size_t n);
  // Copies n bytes at `offset` (within the bytes so far) out.
  void ReadAt(uint64_t offset, void* to, size_t n);
  // Drops the bytes from `size` on.
  void Truncate(uint64_t size);
  // The bytes so far when they lie in memory, else null; valid until the
  // next change.
  virtual const uint8_t* Contiguous() const { return nullptr; }
  // Says that about `size` bytes will come, so that memory is taken once.
  virtual void Reserve(uint64_t /*size*/) {}

 protected:
  // Each returns false on failure; the client knows why.
  virtual bool DoAppend(const void* bytes, size_t n) = 0;
  virtual bool DoWriteAt(uint64_t offset, const void* bytes, size_t n) = 0;
  virtual bool DoReadAt(uint64_t offset, void* to, size_t n) = 0;
  virtual bool DoTruncate(uint64_t size) = 0;

 private:
  uint64_t size_ = 0;
};

// A sink that keeps the image in an OutputBuffer.
class BufferSink : public OutputSink {
 public:
  explicit BufferSink(OutputBuffer& buffer) : buffer_(buffer) { buffer_.Clear(); }
  const uint8_t* Contiguous() const override { return buffer_.data(); }
  void Reserve(uint64_t size) override { buffer_.Reserve(static_cast<size_t>(size)); }

 protected:
  bool DoAppend(const void* bytes, size_t n) override;
  bool DoWriteAt(uint64_t offset, const void* bytes, size_t n) override;
  bool DoReadAt(uint64_t offset, void* to, size_t n) override;
  bool DoTruncate(uint64_t size) override;

 private:
  OutputBuffer& buffer_;
};

// Appends `length` bytes at `at` of `input` to `sink`, a window at a time.
void CopyWindowBytes(InputWindow& input, uint64_t at, uint64_t length, OutputSink& sink);

}  // namespace trimbit
