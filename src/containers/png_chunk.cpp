// One PNG chunk at a time: append it to the new image, put the right CRC on
// it, and keep, drop, join or re-encode it by its type.
//
// Kept always: IHDR, PLTE, tRNS, IEND, IDAT (joined and re-encoded), the
// animation chunks acTL, fcTL and fdAT (dropping those would silently turn an
// animation into a still image), and every other critical chunk (first letter
// upper case) with its data and CRC as read: a decoder must refuse an image
// with a critical chunk it does not know, and dropping one would turn such an
// image into one it shows. With -k everything is kept, and the zlib streams
// of iCCP, zTXt and iTXt are re-encoded too.
//
// The zlib header of the image data is read once the whole IDAT run has been
// joined: it may span chunks (a first IDAT of 0 or 1 byte is valid).
#include <cstring>

#include "containers/png_state.h"
#include "support/byte_order.h"
#include "support/crc32.h"
#include "support/error.h"
#include "support/number_text.h"

namespace trimbit {
namespace {

constexpr uint32_t kIHDR = PngChunkType("IHDR");
constexpr uint32_t kPLTE = PngChunkType("PLTE");
constexpr uint32_t kIDAT = PngChunkType("IDAT");
constexpr uint32_t kIEND = PngChunkType("IEND");
constexpr uint32_t kTRNS = PngChunkType("tRNS");
constexpr uint32_t kICCP = PngChunkType("iCCP");
constexpr uint32_t kZTXT = PngChunkType("zTXt");
constexpr uint32_t kITXT = PngChunkType("iTXt");
constexpr uint32_t kACTL = PngChunkType("acTL");
constexpr uint32_t kFCTL = PngChunkType("fcTL");
constexpr uint32_t kFDAT = PngChunkType("fdAT");
constexpr uint32_t kCGBI = PngChunkType("CgBI");

// A chunk whose type begins with an upper-case letter is critical.
bool IsCritical(uint32_t type) {
  return (type & 0x20000000u) == 0;
}

bool IsLetter(uint8_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

[[noreturn]] void RefuseMalformed(uint32_t type, const char* what) {
  Refuse(FormatText("Malformed %s chunk: %s", TypeText(type).c_str(), what));
}

// Offset of the first NUL at or after `from` within `length` bytes, or
// `length` when there is none.
uint32_t FindNul(const uint8_t* data, uint32_t from, uint32_t length) {
  if (from >= length) return length;
  const void* nul = std::memchr(data + from, 0, length - from);
  return nul == nullptr ? length : static_cast<uint32_t>(static_cast<const uint8_t*>(nul) - data);
}

// CRC-32 over the type and the data of a chunk whose type bytes are not in
// front of its data (an IDAT chunk joined to the run before it): the type is
// lent the 4 bytes in front of the data for the computation.
uint32_t DetachedChunkCrc(uint8_t* data, uint32_t length, uint32_t type) {
  uint8_t saved[4];
  std::memcpy(saved, data - 4, 4);
  StoreBe32(data - 4, type);
  const uint32_t crc = Crc32(data - 4, length + 4);
  std::memcpy(data - 4, saved, 4);
  return crc;
}

void ReportStreamLines(const PngState& s, uint8_t cmf, uint8_t flg) {
  Report(s.job.reporter, kReportVerbose, ReportKind::Detail,
         "    Compression:     %02x\n    Add'l flags:     %02x\n    CRC    : 0x%08x\n", cmf, flg,
         s.storedAdler);
}

void CheckHeaderChunk(const PngState& s, const uint8_t* data, uint32_t length) {
  static const char* const kColourNames[7] = {"Y   ", nullptr, "RGB ", "pal ",
                                              "YA  ", nullptr, "RGBA"};
  if (length < 13) Refuse("IHDR too small");
  const uint8_t colourType = data[9];
  if (colourType > 6 || kColourNames[colourType] == nullptr) Refuse("Unknown colour type");
  Report(
      s.job.reporter, kReportVerbose, ReportKind::Detail,
      "    Width      : %6s\n    Height     : %6s\n    Bit depth  : %6u\n    Colour type: %s %u\n"
      "    Compression: %6u\n    Filter     : %6u\n    Interlace  : %6u\n",
      FormatNumber(LoadBe32(data)).c_str(), FormatNumber(LoadBe32(data + 4)).c_str(), data[8],
      kColourNames[colourType], colourType, data[10], data[11], data[12]);
  if (data[10] != 0) Refuse("PNG compression method must be 0");
}

}  // namespace

PngTypeText TypeText(uint32_t type) {
  PngTypeText text;
  StoreBe32(reinterpret_cast<uint8_t*>(text.text), type);
  text.text[4] = '\0';
  return text;
}

uint32_t LocateChunkStream(uint32_t type, const uint8_t* data, uint32_t length) {
  uint32_t pos = FindNul(data, 0, length);
  if (pos == length) RefuseMalformed(type, "keyword not terminated");
  pos += 1;
  if (type == kITXT) {
    if (pos >= length) RefuseMalformed(type, "compression flag missing");
    if (data[pos] == 0) return kNoChunkStream;
    pos += 1;
  }
  if (pos >= length) RefuseMalformed(type, "compression method missing");
  if (data[pos] != 0) Refuse("PNG compression method must be 0");
  pos += 1;
  if (type == kITXT) {
    pos = FindNul(data, pos, length);
    if (pos == length) RefuseMalformed(type, "language tag not terminated");
    pos = FindNul(data, pos + 1, length);
    if (pos == length) RefuseMalformed(type, "translated keyword not terminated");
    pos += 1;
  }
  return pos;
}

void ProcessPngChunk(PngState& s) {
  if (s.keptChunks >= kMaxPngChunks) Refuse("Too many chunks");
  const ImageJob& job = s.job;
  OutputBuffer& out = job.output;
  const uint8_t* const chunk = job.image + s.readPos;
  // 64-bit sizes from here on: a length field near 2^32 must not wrap.
  const uint64_t remaining = job.size - s.readPos;
  if (remaining < 8) Refuse("Unexpected end of file (1)");
  const uint32_t length = LoadBe32(chunk);
  const uint32_t type = LoadBe32(chunk + 4);
  if (uint64_t{length} + 12 > remaining) Refuse("Unexpected end of file (2)");
  if (!IsLetter(chunk[4]) || !IsLetter(chunk[5]) || !IsLetter(chunk[6]) || !IsLetter(chunk[7]))
    Refuse(FormatText("Invalid PNG chunk type (0x%08x)", type));
  // Apple's variant: its IDAT data are raw deflate without a zlib header,
  // which no PNG decoder but Apple's reads.
  if (type == kCGBI && !s.headerSeen)
    Refuse(
        "Apple CgBI PNG (CgBI chunk before IHDR): its image data are raw deflate "
        "without a zlib header, not a PNG zlib stream");

  // Place the chunk. From here on length + 4 cannot wrap: length + 12 fits
  // in what is left of the image.
  size_t chunkAt = out.size();  // where the chunk starts in the output
  const bool continuesRun = type == kIDAT && s.runOpen;
  if (continuesRun) {
    // The data go over the previous IDAT's CRC, behind its data; the run's
    // first chunk takes over the length. Its sum stays below the image size.
    out.Truncate(out.size() - 4);
    chunkAt = s.runChunk;
    uint8_t* const first = out.data() + s.runChunk;
    StoreBe32(first, LoadBe32(first) + length);
    s.joinedChunks += 1;
    AddPngBitsSaved(s, 96);
  } else if (type == kIDAT && s.imageDataDone) {
    Refuse("Non-consecutive IDAT chunk");
  } else {
    if (s.prevChunkWasIdat) {
      // The run is whole: its zlib header can be read now.
      OpenPngStream(s, s.runChunk, LoadBe32(out.data() + s.runChunk), 0);
      ReencodePngStream(s, s.runChunk);
      s.imageDataDone = true;
      s.runOpen = false;
    }
    s.keptChunks += 1;
    chunkAt = out.size();
    out.Append(chunk, 8);
  }

  const size_t dataAt = out.size();
  out.Append(chunk + 8, length + 4);
  s.readPos += length + 12;
  uint8_t* const data = out.data() + dataAt;
  const uint32_t storedCrc = LoadBe32(data + length);
  const uint32_t crc =
      continuesRun ? DetachedChunkCrc(data, length, type) : Crc32(data - 4, length + 4);
  // A wrong CRC is simply replaced, except on a critical chunk of a type
  // not known here, which stays exactly as it was.
  const bool unknownCritical =
      IsCritical(type) && type != kIHDR && type != kPLTE && type != kIDAT && type != kIEND;
  if (!unknownCritical) StoreBe32(data + length, crc);
  Report(job.reporter, kReportVerbose, ReportKind::Detail,
         "\n%s chunk (0x%08x)\n  Length: %13s\n  CRC   :    0x%08x (from file)\n"
         "  CRC   :    0x%08x (calculated)\n",
         TypeText(type).c_str(), type, FormatNumber(length).c_str(), storedCrc, crc);

  s.prevChunkWasIdat = false;
  if (type == kIHDR) {
    s.headerSeen = true;
    CheckHeaderChunk(s, data, length);
  } else if (type == kPLTE || type == kTRNS || type == kIEND || type == kACTL || type == kFCTL ||
             type == kFDAT || unknownCritical) {
    // Kept as they are.
  } else if (type == kIDAT) {
    // data[0] and data[1] exist even in a shorter chunk: its CRC follows.
    const uint8_t cmf = data[0];
    const uint8_t flg = data[1];
    // The run is open from its first chunk on; its header is read when it
    // closes.
    if (!continuesRun) {
      s.runOpen = true;
      s.runChunk = chunkAt;
    }
    s.streamLength += length;
    // The run is contiguous, so these are the last 4 bytes of the stream so
    // far even when this chunk holds fewer.
    s.storedAdler = LoadBe32(data + length - 4);
    ReportStreamLines(s, cmf, flg);
    s.prevChunkWasIdat = true;
  } else if (!job.options.keepAll) {
    out.Truncate(chunkAt);
    s.keptChunks -= 1;
    AddPngBitsSaved(s, (uint64_t{length} + 12) * 8);
  } else if (type == kICCP || type == kZTXT || type == kITXT) {
    const uint32_t offset = LocateChunkStream(type, data, length);
    if (offset != kNoChunkStream) {
      const uint8_t cmf = offset < length ? data[offset] : 0;
      const uint8_t flg = offset + 1 < length ? data[offset + 1] : 0;
      OpenPngStream(s, chunkAt, length, offset);
      s.streamLength = length - offset;
      s.storedAdler = LoadBe32(data + length - 4);
      ReportStreamLines(s, cmf, flg);
      ReencodePngStream(s, chunkAt);
    }
  }
  // Any other type with -k: kept unchanged but for its CRC.
}

}  // namespace trimbit
