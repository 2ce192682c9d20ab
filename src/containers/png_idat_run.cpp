#include "containers/png_idat_run.h"

#include <algorithm>

#include "support/byte_order.h"
#include "support/error.h"

namespace trimbit {
namespace {

constexpr uint32_t kIdatType = 0x49444154;

[[noreturn]] void FailChanged() {
  throw Error(Error::Kind::InputOutput, "The file changed while it was read");
}

}  // namespace

void IdatRun::Add(uint32_t dataAt, uint32_t length) {
  if (length == 0) return;
  if (uint64_t{size_} + length > UINT32_MAX) Fault("IDAT run beyond 4 GiB!?!?!?");
  if (pieces_ % kIdatMarkSpacing == 0) marks_.push_back({size_, dataAt, length});
  if (pieces_ == 0) at_ = marks_[0];
  pieces_ += 1;
  size_ += length;
}

// The chunk after at_ that holds data, read from its header: the run was
// checked when it was read, so anything else means the file changed since.
void IdatRun::StepToNextPiece() {
  const uint64_t joined = uint64_t{at_.joined} + at_.length;
  uint64_t chunk = uint64_t{at_.dataAt} + at_.length + 4;
  for (;;) {
    if (chunk > file_.size() || file_.size() - chunk < 12) FailChanged();
    uint8_t header[8];
    file_.Read(chunk, header, 8);
    const uint32_t length = LoadBe32(header);
    if (LoadBe32(header + 4) != kIdatType || length > size_ - joined ||
        length > file_.size() - chunk - 12)
      FailChanged();
    if (length != 0) {
      at_ = {static_cast<uint32_t>(joined), static_cast<uint32_t>(chunk + 8), length};
      return;
    }
    chunk += 12;
  }
}

void IdatRun::Seek(uint64_t offset) {
  if (offset < at_.joined) {
    // Back to the last mark at or before the offset.
    const auto after = std::upper_bound(marks_.begin(), marks_.end(), offset,
                                        [](uint64_t o, const Piece& p) { return o < p.joined; });
    at_ = *(after - 1);
  }
  while (offset >= uint64_t{at_.joined} + at_.length) StepToNextPiece();
}

void IdatRun::Read(uint64_t offset, uint8_t* to, uint64_t n) {
  if (offset > size_ || n > size_ - offset) Fault("Read beyond the IDAT run!?!?!?");
  while (n > 0) {
    Seek(offset);
    const uint64_t into = offset - at_.joined;
    const uint64_t piece = std::min<uint64_t>(n, at_.length - into);
    file_.Read(at_.dataAt + into, to, piece);
    to += piece;
    offset += piece;
    n -= piece;
  }
}

int IdatRun::ReadJoined(void* run, uint64_t offset, void* buffer, size_t n) {
  static_cast<IdatRun*>(run)->Read(offset, static_cast<uint8_t*>(buffer), n);
  return 0;
}

}  // namespace trimbit
