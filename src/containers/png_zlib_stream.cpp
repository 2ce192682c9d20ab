// The zlib streams inside PNG chunks: the header's check bits, and the
// in-place re-encoding of the deflate data between the 2-byte header and the
// Adler-32. The uncompressed data do not change, so the Adler-32 stays valid
// and is carried over as it stands.
#include <cstring>

#include "containers/png_state.h"
#include "containers/stream_glue.h"
#include "deflate/reencode.h"
#include "driver/console.h"
#include "driver/file_state.h"
#include "driver/run_state.h"
#include "support/byte_order.h"
#include "support/crc32.h"
#include "support/message.h"
#include "support/number_text.h"

using trimbit::Crc32;
using trimbit::FormatNumber;
using trimbit::LoadBe32;
using trimbit::StoreBe32;

uint8_t ZlibCheckedFlags(uint8_t cmf, uint8_t flg) {
  // The check value is always the smallest that works: a header whose
  // check bits are 31 where 0 would do is rewritten with 0.
  const uint32_t r = (static_cast<uint32_t>(cmf) * 256 + (flg & 0xE0u)) % 31;
  const uint32_t check = r == 0 ? 0 : 31 - r;
  return static_cast<uint8_t>((flg & 0xE0u) | check);
}

void OpenPngStream(uint8_t* data, uint32_t length, uint32_t offset) {
  const uint32_t type = LoadBe32(data - 4);
  if (offset > length || length - offset < 2)
    ThrowFormatted(pngState.messageText, sizeof pngState.messageText,
                   "%s chunk too short for a zlib header", PngTypeText(type));
  uint8_t* const header = data + offset;
  // With a preset dictionary the deflate data would start 4 bytes later and
  // refer to bytes no one here has; PNG does not allow it.
  if (header[1] & 0x20)
    ThrowFormatted(pngState.messageText, sizeof pngState.messageText,
                   "zlib stream in %s chunk asks for a preset dictionary", PngTypeText(type));
  const uint8_t flg = ZlibCheckedFlags(header[0], header[1]);
  if (flg != header[1]) {
    header[1] = flg;
    StoreBe32(data + length, Crc32(data - 4, length + 4));
  }
  glue.streamStart = header + 2;
}

void ReencodePngStream(uint8_t* data) {
  uint8_t* const chunk = data - 8;
  const uint32_t offset = static_cast<uint32_t>(glue.streamStart - data);
  // Header, Adler-32, and at least one byte of deflate data.
  if (glue.streamLength < 7)
    ThrowFormatted(pngState.messageText, sizeof pngState.messageText,
                   "zlib stream in %s chunk too short", PngTypeText(LoadBe32(chunk + 4)));
  uint8_t* const stream = data + offset;
  const uint32_t deflateLength = glue.streamLength - 6;
  glue.streamLength = deflateLength;
  AllocateOutputBuffer(deflateLength);

  uint32_t used = deflateLength;
  uint32_t saving =
      trimbit::ReencodeStream(RunCodec(), ConsoleReporter(), glue.streamStart, deflateLength,
                              glue.outputBuffer, &glue.newStreamLength, &used);
  if (used > deflateLength) used = deflateLength;
  // The new data replace the bytes the old stream occupied and must fit in
  // them; otherwise the old stream stays as it was.
  if (glue.newStreamLength > used) {
    saving = 0;
    glue.newStreamLength = used;
  } else {
    std::memcpy(stream, glue.outputBuffer, glue.newStreamLength);
  }
  if (saving != 0 || settings.forceRewrite) {
    PrintMessage(kLevelVerbose, "\nNumber of bits that can be saved: %s (%0.3f bytes)\n",
                 FormatNumber(saving).c_str(), saving * 0.125);
  }

  // The Adler-32 (the 4 bytes right behind the deflate data, where zlib reads
  // it) and anything an encoder left behind it follow the new data unchanged.
  const uint32_t tailLength = deflateLength + 4 - used;
  std::memmove(stream + glue.newStreamLength, stream + used, tailLength);
  const uint32_t newLength = offset + glue.newStreamLength + tailLength;
  StoreBe32(chunk, newLength);
  StoreBe32(data + newLength, Crc32(chunk + 4, newLength + 4));

  if (saving != 0) {
    const uint32_t bytesSaved = used - glue.newStreamLength;
    if (bytesSaved != 0)
      AddPngBitsSaved(static_cast<uint64_t>(bytesSaved) * 8);
    else if (fileState.fileBitsSaved == 0)
      fileState.fileBitsSaved = 1;
  }
  glue.streamStart = nullptr;
  glue.streamLength = 0;
}
