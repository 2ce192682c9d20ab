// A raw deflate stream through the re-encoder. Whatever the input, nothing
// is read or written out of bounds (the buffers are exactly as large as the
// contract demands), and a stream the re-encoder accepts comes out no longer
// and decoding to the same bytes: judged by zlib where zlib reads the input,
// by the program's own decoder where it does not.
#include <cstring>
#include <vector>

#include "deflate/reencode.h"
#include "deflate/stream_check.h"
#include "deflate/tables.h"
#include "driver/run_state.h"
#include "fuzz_common.h"
#include "support/message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = (InitTables(), settings.verbosity = 0, true);
  (void)ready;
  if (size > (1u << 20)) return 0;
  std::vector<uint8_t> input(data, data + size);
  std::vector<uint8_t> output(size + 4, 0);
  uint32_t newLength = 0, used = 0, saved = 0;
  try {
    saved = ReencodeStream(input.data(), static_cast<uint32_t>(size), output.data(), &newLength, &used);
  } catch (Message) {
    return 0;
  }
  if (used > size || newLength > used) fuzz::Fail("the new stream is longer than the input stream");
  (void)saved;

  fuzz::Bytes before, after;
  size_t zlibUsed = 0;
  if (fuzz::Inflate(input.data(), size, &before, &zlibUsed)) {
    if (!fuzz::Inflate(output.data(), newLength, &after, nullptr))
      fuzz::Fail("zlib reads the input but not the output");
    if (before != after) fuzz::Fail("the output inflates to other bytes");
    return 0;
  }
  // zlib refuses the input (an incomplete code, say): the program's own
  // decoder must find the same content in both.
  DecodedDigest original{}, rewritten{};
  try {
    DigestStream(input.data(), static_cast<uint32_t>(size), &original);
  } catch (Message) {
    fuzz::Fail("the input was accepted but does not decode again");
  }
  try {
    DigestStream(output.data(), newLength, &rewritten);
  } catch (Message) {
    fuzz::Fail("the output does not decode");
  }
  if (original.length != rewritten.length || original.crc != rewritten.crc)
    fuzz::Fail("the output decodes to other bytes");
  return 0;
}
