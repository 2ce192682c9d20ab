// A raw deflate stream through the re-encoder. Whatever the input, nothing
// is read or written out of bounds (the buffers are exactly as large as the
// contract demands); the re-encoder refuses a stream exactly when zlib
// refuses it; and a stream it accepts comes out no longer and inflating
// (with zlib) to the same bytes.
//
// One case is not zlib's to decide: a stream cut short. The program's
// decoder reads sixteen zero bits past the end of its input (a container
// always has bytes there), where zlib waits for more input. A cut stream the
// re-encoder accepts must then read, with those two zero bytes behind it, as
// zlib reads it with them.
//
// Inputs of odd length run with -x, and also without it from the same
// carried mode: -x never comes out longer, and when it is not shorter it
// leaves the default bytes as they are. Half of them search windows of 64
// symbols, so that windows end inside blocks and between them.
#include <cstring>
#include <memory>
#include <vector>

#include "deflate/reencode.h"
#include "deflate/split_reencode.h"
#include "fuzz_common.h"
#include "support/error.h"

namespace {

fuzz::Verdict InflateWithGrace(const uint8_t* data, size_t size, fuzz::Bytes* out) {
  fuzz::Bytes padded(data, data + size);
  padded.insert(padded.end(), 2, 0);
  return fuzz::InflateVerdict(padded.data(), padded.size(), out, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using fuzz::Verdict;
  // One state for the whole session, as one run keeps one for all its
  // files: what one input leaves behind must not harm the next.
  static const std::unique_ptr<trimbit::CodecState> codec = trimbit::NewCodecState();
  static const std::unique_ptr<trimbit::CodecState> plain = trimbit::NewCodecState();
  codec->splitBlocks = size % 2 == 1;
  trimbit::SetSplitWindow(*codec, size % 4 == 3 ? 64 : 1u << 20);
  plain->tieBreak = codec->tieBreak;
  if (size > (1u << 20)) return 0;
  std::vector<uint8_t> input(data, data + size);
  std::vector<uint8_t> output(size + 4, 0);
  fuzz::Bytes before, after;
  const Verdict zlib = fuzz::InflateVerdict(input.data(), size, &before, nullptr);
  if (zlib == Verdict::kTooLarge) return 0;

  uint32_t newLength = 0, used = 0;
  try {
    trimbit::ReencodeStream(*codec, trimbit::Reporter{}, input.data(), static_cast<uint32_t>(size),
                            output.data(), &newLength, &used);
  } catch (const trimbit::Error& error) {
    if (error.kind() == trimbit::Error::Kind::Internal) fuzz::Fail(error.what());
    if (zlib == Verdict::kRead) fuzz::Fail("refused a stream zlib reads");
    return 0;
  }
  if (zlib == Verdict::kRefused) fuzz::Fail("accepted a stream zlib refuses");
  if (used > size || newLength > used) fuzz::Fail("the new stream is longer than the input stream");

  if (zlib == Verdict::kRead) {
    if (fuzz::InflateVerdict(output.data(), newLength, &after, nullptr) != Verdict::kRead)
      fuzz::Fail("zlib reads the input but not the output");
  } else {
    if (InflateWithGrace(input.data(), size, &before) != Verdict::kRead)
      fuzz::Fail("accepted a cut stream zlib does not read with the grace bits");
    if (InflateWithGrace(output.data(), newLength, &after) != Verdict::kRead)
      fuzz::Fail("zlib does not read the output with the grace bits");
  }
  if (before != after) fuzz::Fail("the output inflates to other bytes");

  if (codec->splitBlocks) {
    std::vector<uint8_t> again(size + 4, 0);
    uint32_t plainLength = 0, plainUsed = 0;
    trimbit::ReencodeStream(*plain, trimbit::Reporter{}, input.data(), static_cast<uint32_t>(size),
                            again.data(), &plainLength, &plainUsed);
    if (newLength > plainLength) fuzz::Fail("-x made the stream longer");
    if (newLength == plainLength && std::memcmp(output.data(), again.data(), newLength) != 0)
      fuzz::Fail("-x changed a stream it did not shorten");
  }
  return 0;
}
