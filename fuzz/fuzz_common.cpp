#include "fuzz_common.h"

#include <zlib.h>

#include <cstdio>
#include <cstdlib>

namespace fuzz {

namespace {

void CheckEvent(void*, const trimbit_event* event) {
  if (event->text == nullptr || event->text[event->length] != '\0' ||
      (event->level != 1 && event->level != 2))
    Fail("an event is not a line of text");
}

}  // namespace

void Fail(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

Bytes Optimise(const uint8_t* data, size_t size, trimbit_format format) {
  static trimbit_session* const session = trimbit_session_new();
  // The length picks the verbosity and whether -x is on, so that each input
  // meets a mix of them.
  if (session == nullptr || trimbit_session_set_carried_mode(session, 0) != TRIMBIT_OK ||
      trimbit_session_set_split_blocks(session, (size / 2) % 2 == 1) != TRIMBIT_OK)
    Fail("no session");
  const trimbit_options options = {0, 0, 0, 0, size % 2 == 1 ? 2 : 1};
  trimbit_result result;
  const trimbit_status status =
      trimbit_optimise(session, &options, format, data, size, CheckEvent, nullptr, &result);
  const char* message = trimbit_session_message(session);
  if (status == TRIMBIT_INTERNAL_FAULT || status == TRIMBIT_INVALID_ARGUMENT) Fail(message);
  if (status != TRIMBIT_OK) {
    if (*message == '\0') Fail("a refusal without a message");
    if (result.output != nullptr) Fail("a refusal with a new image");
    return Bytes(data, data + size);
  }
  if (result.keep_original) {
    if (result.output != nullptr || result.bytes_saved != 0) Fail("kept, yet a new image");
    return Bytes(data, data + size);
  }
  if (result.output_size > size) Fail("the image grew");
  if (result.bytes_saved != size - result.output_size) Fail("the bytes saved are miscounted");
  Bytes image(result.output, result.output + result.output_size);
  // An image that read no carried mode comes out the same under any other:
  // parallel runs rely on it.
  if (!result.read_carried_mode) {
    trimbit_result again;
    if (trimbit_session_set_carried_mode(session, 3) != TRIMBIT_OK ||
        trimbit_optimise(session, &options, format, data, size, CheckEvent, nullptr, &again) !=
            TRIMBIT_OK)
      Fail("a second run failed");
    if (again.keep_original || Bytes(again.output, again.output + again.output_size) != image)
      Fail("an image that read no carried mode depends on it");
  }
  return image;
}

Verdict InflateVerdict(const uint8_t* data, size_t size, Bytes* out, size_t* used, int windowBits) {
  z_stream zs{};
  if (inflateInit2(&zs, windowBits) != Z_OK) Fail("inflateInit2 failed");
  out->clear();
  uint8_t chunk[65536];
  zs.next_in = const_cast<Bytef*>(data);
  zs.avail_in = static_cast<uInt>(size);
  int rc;
  bool tooLarge = false;
  do {
    zs.next_out = chunk;
    zs.avail_out = sizeof chunk;
    rc = inflate(&zs, Z_NO_FLUSH);
    out->insert(out->end(), chunk, chunk + (sizeof chunk - zs.avail_out));
    // Inputs are small, but a tiny stream can still inflate to a lot.
    tooLarge = out->size() > (64u << 20);
  } while (rc == Z_OK && !tooLarge && (zs.avail_in > 0 || zs.avail_out == 0));
  if (used) *used = size - zs.avail_in;
  inflateEnd(&zs);
  if (rc == Z_STREAM_END) return Verdict::kRead;
  if (tooLarge) return Verdict::kTooLarge;
  // Z_OK or Z_BUF_ERROR: all input taken and the stream not ended.
  return rc == Z_OK || rc == Z_BUF_ERROR ? Verdict::kCut : Verdict::kRefused;
}

}  // namespace fuzz
