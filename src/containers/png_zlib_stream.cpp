// The zlib streams inside PNG chunks: the header's check bits, and the
// in-place re-encoding of the deflate data between the 2-byte header and the
// Adler-32. The uncompressed data do not change, so the Adler-32 stays valid
// and is carried over as it stands.
#include <cstring>

#include "containers/png_state.h"
#include "containers/stream_glue.h"
#include "deflate/reencode.h"
#include "support/byte_order.h"
#include "support/crc32.h"
#include "support/error.h"
#include "support/number_text.h"

namespace trimbit {

uint8_t ZlibCheckedFlags(uint8_t cmf, uint8_t flg) {
  // The check value is always the smallest that works: a header whose
  // check bits are 31 where 0 would do is rewritten with 0.
  const uint32_t r = (static_cast<uint32_t>(cmf) * 256 + (flg & 0xE0u)) % 31;
  const uint32_t check = r == 0 ? 0 : 31 - r;
  return static_cast<uint8_t>((flg & 0xE0u) | check);
}

void OpenPngStream(PngState& s, size_t chunk, uint32_t length, uint32_t offset) {
  uint8_t* const data = s.job.output.data() + chunk + 8;
  const uint32_t type = LoadBe32(data - 4);
  if (offset > length || length - offset < 2)
    Refuse(FormatText("%s chunk too short for a zlib header", TypeText(type).c_str()));
  uint8_t* const header = data + offset;
  // With a preset dictionary the deflate data would start 4 bytes later and
  // refer to bytes no one here has; PNG does not allow it.
  if (header[1] & 0x20)
    Refuse(
        FormatText("zlib stream in %s chunk asks for a preset dictionary", TypeText(type).c_str()));
  const uint8_t flg = ZlibCheckedFlags(header[0], header[1]);
  if (flg != header[1]) {
    header[1] = flg;
    StoreBe32(data + length, Crc32(data - 4, length + 4));
  }
  s.streamOffset = offset + 2;
}

void ReencodePngStream(PngState& s, size_t chunkAt) {
  const ImageJob& job = s.job;
  uint8_t* const chunk = job.output.data() + chunkAt;
  uint8_t* const data = chunk + 8;
  const uint32_t offset = s.streamOffset;
  // Header, Adler-32, and at least one byte of deflate data.
  if (s.streamLength < 7)
    Refuse(FormatText("zlib stream in %s chunk too short", TypeText(LoadBe32(chunk + 4)).c_str()));
  uint8_t* const stream = data + offset;
  const uint32_t deflateLength = s.streamLength - 6;

  // In place: the new data are never longer than the bytes the old stream
  // occupied, so they fit where it was.
  uint32_t used = deflateLength, newLength = 0;
  const uint32_t saving =
      ReencodeStream(job.codec, job.reporter, stream, deflateLength, stream, &newLength, &used);
  if (saving != 0 || job.options.forceRewrite)
    Report(job.reporter, kReportVerbose, ReportKind::Detail,
           "\nNumber of bits that can be saved: %s (%0.3f bytes)\n", FormatNumber(saving).c_str(),
           saving * 0.125);

  // The Adler-32 (the 4 bytes right behind the deflate data, where zlib reads
  // it) and anything an encoder left behind it follow the new data unchanged.
  const uint32_t tailLength = deflateLength + 4 - used;
  std::memmove(stream + newLength, stream + used, tailLength);
  const uint32_t chunkLength = offset + newLength + tailLength;
  StoreBe32(chunk, chunkLength);
  StoreBe32(data + chunkLength, Crc32(chunk + 4, chunkLength + 4));
  job.output.Truncate(chunkAt + 12 + chunkLength);

  if (saving != 0) {
    const uint32_t bytesSaved = used - newLength;
    if (bytesSaved != 0)
      AddPngBitsSaved(s, uint64_t{bytesSaved} * 8);
    else if (s.bitsSaved == 0)
      s.bitsSaved = 1;
  }
  s.streamLength = 0;
}

}  // namespace trimbit
