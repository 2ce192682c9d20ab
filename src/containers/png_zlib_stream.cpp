// The zlib streams inside PNG chunks: the header's check bits, and the
// chunk written anew around the re-encoded deflate data between the 2-byte
// header and the Adler-32. The uncompressed data do not change, so the
// Adler-32 stays valid and is carried over as it stands.
#include "containers/png_state.h"
#include "containers/stream_glue.h"
#include "deflate/reencode.h"
#include "support/byte_order.h"
#include "support/crc32.h"
#include "support/error.h"
#include "support/number_text.h"

namespace trimbit {
namespace {

// The CRC-32 of `length` bytes at `at` of the sink, read back a piece at a
// time when the sink does not keep them in memory.
uint32_t CrcInSink(OutputSink& sink, uint64_t at, uint64_t length) {
  if (const uint8_t* bytes = sink.Contiguous()) return Crc32(bytes + at, length);
  uint8_t buffer[16384];
  uint32_t crc = kCrc32Start;
  while (length > 0) {
    const size_t piece = length < sizeof buffer ? static_cast<size_t>(length) : sizeof buffer;
    sink.ReadAt(at, buffer, piece);
    crc = Crc32Update(crc, buffer, piece);
    at += piece;
    length -= piece;
  }
  return ~crc;
}

}  // namespace

uint8_t ZlibCheckedFlags(uint8_t cmf, uint8_t flg) {
  // The check value is always the smallest that works: a header whose
  // check bits are 31 where 0 would do is rewritten with 0.
  const uint32_t r = (static_cast<uint32_t>(cmf) * 256 + (flg & 0xE0u)) % 31;
  const uint32_t check = r == 0 ? 0 : 31 - r;
  return static_cast<uint8_t>((flg & 0xE0u) | check);
}

ZlibHeader OpenPngStream(uint32_t type, InputWindow& input, uint64_t at, uint32_t length,
                         uint32_t offset) {
  if (offset > length || length - offset < 2)
    Refuse(FormatText("%s chunk too short for a zlib header", TypeText(type).c_str()));
  uint8_t header[2];
  input.Read(at + offset, header, 2);
  // With a preset dictionary the deflate data would start 4 bytes later and
  // refer to bytes no one here has; PNG does not allow it.
  if (header[1] & 0x20)
    Refuse(
        FormatText("zlib stream in %s chunk asks for a preset dictionary", TypeText(type).c_str()));
  return {header[0], ZlibCheckedFlags(header[0], header[1])};
}

void WritePngStreamChunk(PngState& s, uint32_t type, InputWindow& input, uint64_t at,
                         uint32_t length, uint32_t offset, ZlibHeader header) {
  const ImageJob& job = s.job;
  const uint32_t streamLength = length - offset;
  // Header, Adler-32, and at least one byte of deflate data.
  if (streamLength < 7)
    Refuse(FormatText("zlib stream in %s chunk too short", TypeText(type).c_str()));
  const uint32_t deflateLength = streamLength - 6;

  // The length is known once the new data are out.
  OutputSink& out = job.sink;
  const uint64_t chunkAt = out.size();
  uint8_t head[8];
  StoreBe32(head, 0);
  StoreBe32(head + 4, type);
  out.Append(head, 8);
  CopyWindowBytes(input, at, offset, out);
  const uint8_t zlibHeader[2] = {header.cmf, header.flg};
  out.Append(zlibHeader, 2);
  const uint64_t streamAt = at + offset + 2;
  uint64_t used = 0, newLength = 0;
  const uint64_t saving = ReencodeStreamIn(job.codec, job.reporter, input, streamAt, deflateLength,
                                           out, &newLength, &used);
  ReportBitsSaved(job, saving > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(saving));

  // The Adler-32 (the 4 bytes right behind the deflate data, where zlib reads
  // it) and anything an encoder left behind it follow the new data unchanged.
  const uint64_t tailLength = deflateLength + 4 - used;
  CopyWindowBytes(input, streamAt + used, tailLength, out);
  // Never longer than the old data, so the sum stays below 4 GiB.
  const uint32_t chunkLength = static_cast<uint32_t>(offset + 2 + newLength + tailLength);
  StoreBe32(head, chunkLength);
  out.WriteAt(chunkAt, head, 4);
  uint8_t crc[4];
  StoreBe32(crc, CrcInSink(out, chunkAt + 4, uint64_t{chunkLength} + 4));
  out.Append(crc, 4);

  if (saving != 0) {
    const uint64_t bytesSaved = used - newLength;
    if (bytesSaved != 0)
      AddPngBitsSaved(s, bytesSaved * 8);
    else if (s.bitsSaved == 0)
      s.bitsSaved = 1;
  }
}

}  // namespace trimbit
