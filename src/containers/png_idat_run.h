// The data of an IDAT run: they lie in many chunks of the file, between
// their length, type and CRC fields, and are read as the one zlib stream
// they form. Only every kIdatMarkSpacing-th chunk with data is noted; a read
// walks the chunk headers on from the nearest note, so memory stays small
// however many chunks the run has.
#pragma once

#include <cstdint>
#include <vector>

#include "support/input_window.h"

namespace trimbit {

constexpr uint32_t kIdatMarkSpacing = 1024;

class IdatRun {
 public:
  // `file` holds the image; every offset is below 4 GiB.
  explicit IdatRun(InputWindow& file) : file_(file) {}
  IdatRun(const IdatRun&) = delete;
  IdatRun& operator=(const IdatRun&) = delete;

  // Adds the chunk whose `length` data bytes begin at `dataAt` of the file;
  // their sum must stay below 4 GiB, as it does in a file that size.
  void Add(uint32_t dataAt, uint32_t length);
  // Bytes of joined data so far.
  uint32_t size() const { return size_; }
  // Chunks with data so far.
  uint32_t pieces() const { return pieces_; }
  // Where the first chunk's data begin in the file (with one piece, the
  // whole run is there).
  uint32_t FirstDataAt() const { return marks_.empty() ? 0 : marks_[0].dataAt; }

  // Copies n bytes of the joined data at `offset` out. Throws an
  // input-output error when the chunks are no longer where they were.
  void Read(uint64_t offset, uint8_t* to, uint64_t n);
  // Read as an InputWindow's read function over an IdatRun.
  static int ReadJoined(void* run, uint64_t offset, void* buffer, size_t n);

 private:
  struct Piece {
    uint32_t joined;  // offset of its first byte in the joined data
    uint32_t dataAt;  // offset of its first byte in the file
    uint32_t length;
  };
  void Seek(uint64_t offset);
  void StepToNextPiece();

  InputWindow& file_;
  std::vector<Piece> marks_;  // every kIdatMarkSpacing-th piece, the first included
  uint32_t size_ = 0;
  uint32_t pieces_ = 0;
  Piece at_ = {0, 0, 0};  // the piece the last read ended in
};

}  // namespace trimbit
