// One PNG chunk at a time: copy it to the new image with the right CRC, or
// drop, join or re-encode it, by its type.
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
// read: it may span chunks (a first IDAT of 0 or 1 byte is valid).
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

// Offset of the first NUL at or after `from` within the `length` bytes at
// `at` of `input`, or `length` when there is none.
uint32_t FindNul(InputWindow& input, uint64_t at, uint32_t from, uint32_t length) {
  while (from < length) {
    uint64_t available = 0;
    const uint8_t* bytes = input.Map(at + from, length - from, &available);
    const uint32_t piece =
        static_cast<uint32_t>(available < length - from ? available : length - from);
    if (piece == 0) Fault("Input read past its end!?!?!?");
    const void* nul = std::memchr(bytes, 0, piece);
    if (nul != nullptr)
      return from + static_cast<uint32_t>(static_cast<const uint8_t*>(nul) - bytes);
    from += piece;
  }
  return length;
}

uint8_t ByteAt(InputWindow& input, uint64_t at) {
  uint8_t byte = 0;
  input.Read(at, &byte, 1);
  return byte;
}

// The CRC-32 of the chunk type and the `length` data bytes behind it at
// `at` of the image; the chunk is appended to the new image when `copy` is
// set, its CRC left for the caller.
uint32_t ChunkCrc(const ImageJob& job, uint64_t at, uint32_t length, bool copy) {
  uint32_t crc = kCrc32Start;
  uint64_t left = uint64_t{length} + 4;
  while (left > 0) {
    uint64_t available = 0;
    const uint8_t* bytes = job.input.Map(at, left, &available);
    const size_t piece = static_cast<size_t>(available < left ? available : left);
    if (piece == 0) Fault("Input read past its end!?!?!?");
    crc = Crc32Update(crc, bytes, piece);
    if (copy) job.sink.Append(bytes, piece);
    at += piece;
    left -= piece;
  }
  return ~crc;
}

// Appends the chunk at `at` (`length` data bytes) to the new image with
// its CRC computed, or with `storedCrc` when `keepStoredCrc`; returns the
// computed CRC.
uint32_t CopyChunk(const ImageJob& job, uint64_t at, const uint8_t* head, uint32_t length,
                   bool keepStoredCrc, uint32_t storedCrc) {
  job.sink.Append(head, 4);
  const uint32_t crc = ChunkCrc(job, at + 4, length, true);
  uint8_t crcBytes[4];
  StoreBe32(crcBytes, keepStoredCrc ? storedCrc : crc);
  job.sink.Append(crcBytes, 4);
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

uint32_t LocateChunkStream(uint32_t type, InputWindow& input, uint64_t at, uint32_t length) {
  uint32_t pos = FindNul(input, at, 0, length);
  if (pos == length) RefuseMalformed(type, "keyword not terminated");
  pos += 1;
  if (type == kITXT) {
    if (pos >= length) RefuseMalformed(type, "compression flag missing");
    if (ByteAt(input, at + pos) == 0) return kNoChunkStream;
    pos += 1;
  }
  if (pos >= length) RefuseMalformed(type, "compression method missing");
  if (ByteAt(input, at + pos) != 0) Refuse("PNG compression method must be 0");
  pos += 1;
  if (type == kITXT) {
    pos = FindNul(input, at, pos, length);
    if (pos == length) RefuseMalformed(type, "language tag not terminated");
    pos = FindNul(input, at, pos + 1, length);
    if (pos == length) RefuseMalformed(type, "translated keyword not terminated");
    pos += 1;
  }
  return pos;
}

namespace {

// How much of a run's joined data is in hand at a time.
constexpr size_t kJoinedWindow = 4u << 20;

// Notes the IDAT chunk of `length` data bytes at `dataAt` (`crc` computed
// when verbose) in the run and reports its stream lines.
void NoteIdatChunk(PngState& s, uint32_t dataAt, uint32_t length, uint32_t crc, bool continuesRun) {
  InputWindow& input = s.job.input;
  // The report shows the first two bytes of the chunk's data, taken from
  // its CRC in a shorter chunk.
  uint8_t first[6] = {};
  input.Read(dataAt, first, length < 2 ? length : 2);
  StoreBe32(first + (length < 2 ? length : 2), crc);
  // The run is open from its first chunk on; its header is read when it
  // closes.
  if (!continuesRun) {
    s.runOpen = true;
    s.storedAdler = kIDAT;  // what stands before the data while fewer than 4 are in
  }
  s.run.Add(dataAt, length);
  // The last 4 bytes of the stream so far, even when this chunk holds fewer.
  const uint32_t last = length < 4 ? length : 4;
  uint8_t lastBytes[4] = {};
  input.Read(uint64_t{dataAt} + length - last, lastBytes, last);
  for (uint32_t i = 0; i < last; ++i) s.storedAdler = s.storedAdler << 8 | lastBytes[i];
  ReportStreamLines(s, first[0], first[1]);
  s.prevChunkWasIdat = true;
}

// With -k: the iCCP, zTXt or iTXt chunk at `chunkAt`, its zlib stream (if
// any) re-encoded.
void KeepStreamChunk(PngState& s, uint32_t chunkAt, const uint8_t* head, uint32_t length) {
  InputWindow& input = s.job.input;
  const uint32_t type = LoadBe32(head + 4);
  const uint32_t dataAt = chunkAt + 8;
  const uint32_t offset = LocateChunkStream(type, input, dataAt, length);
  if (offset == kNoChunkStream) {
    CopyChunk(s.job, chunkAt, head, length, false, 0);
    return;
  }
  const ZlibHeader header = OpenPngStream(type, input, dataAt, length, offset);
  uint8_t raw[2], lastBytes[4];
  input.Read(dataAt + offset, raw, 2);
  // The stream holds its 2-byte header and more: the data are 4 bytes at least.
  input.Read(uint64_t{dataAt} + length - 4, lastBytes, 4);
  s.storedAdler = LoadBe32(lastBytes);
  ReportStreamLines(s, raw[0], raw[1]);
  WritePngStreamChunk(s, type, input, dataAt, length, offset, header);
}

// Writes the IDAT run read so far as one chunk, its stream re-encoded.
void ClosePngImageData(PngState& s) {
  IdatRun& run = s.run;
  const uint32_t length = run.size();
  if (run.pieces() <= 1) {
    // One chunk holds it all: read it where it is.
    const uint32_t at = run.FirstDataAt();
    const ZlibHeader header = OpenPngStream(kIDAT, s.job.input, at, length, 0);
    WritePngStreamChunk(s, kIDAT, s.job.input, at, length, 0, header);
  } else {
    InputWindow joined(IdatRun::ReadJoined, &run, length, kJoinedWindow);
    const ZlibHeader header = OpenPngStream(kIDAT, joined, 0, length, 0);
    WritePngStreamChunk(s, kIDAT, joined, 0, length, 0, header);
  }
  s.imageDataDone = true;
  s.runOpen = false;
}

}  // namespace

void ProcessPngChunk(PngState& s) {
  if (s.keptChunks >= kMaxPngChunks) Refuse("Too many chunks");
  const ImageJob& job = s.job;
  InputWindow& input = job.input;
  // 64-bit sizes from here on: a length field near 2^32 must not wrap.
  const uint64_t remaining = job.size - s.readPos;
  if (remaining < 8) Refuse("Unexpected end of file (1)");
  uint8_t head[8];
  input.Read(s.readPos, head, 8);
  const uint32_t length = LoadBe32(head);
  const uint32_t type = LoadBe32(head + 4);
  if (uint64_t{length} + 12 > remaining) Refuse("Unexpected end of file (2)");
  if (!IsLetter(head[4]) || !IsLetter(head[5]) || !IsLetter(head[6]) || !IsLetter(head[7]))
    Refuse(FormatText("Invalid PNG chunk type (0x%08x)", type));
  // Apple's variant: its IDAT data are raw deflate without a zlib header,
  // which no PNG decoder but Apple's reads.
  if (type == kCGBI && !s.headerSeen)
    Refuse(
        "Apple CgBI PNG (CgBI chunk before IHDR): its image data are raw deflate "
        "without a zlib header, not a PNG zlib stream");

  // From here on length + 12 cannot wrap: it fits in what is left of the
  // image, which is below 4 GiB.
  const bool continuesRun = type == kIDAT && s.runOpen;
  if (continuesRun) {
    // Its data join the run; its length, type and CRC are saved.
    s.joinedChunks += 1;
    AddPngBitsSaved(s, 96);
  } else if (type == kIDAT && s.imageDataDone) {
    Refuse("Non-consecutive IDAT chunk");
  } else {
    // The run is whole: its zlib header can be read now.
    if (s.prevChunkWasIdat) ClosePngImageData(s);
    s.keptChunks += 1;
  }

  const uint32_t chunkAt = s.readPos;
  const uint32_t dataAt = chunkAt + 8;
  s.readPos += length + 12;
  uint8_t storedBytes[4];
  input.Read(dataAt + uint64_t{length}, storedBytes, 4);
  const uint32_t storedCrc = LoadBe32(storedBytes);
  // A wrong CRC is simply replaced, except on a critical chunk of a type
  // not known here, which stays exactly as it was.
  const bool unknownCritical =
      IsCritical(type) && type != kIHDR && type != kPLTE && type != kIDAT && type != kIEND;
  const bool keptAsRead = type == kIHDR || type == kPLTE || type == kTRNS || type == kIEND ||
                          type == kACTL || type == kFCTL || type == kFDAT || unknownCritical;
  const bool mayHoldStream = type == kICCP || type == kZTXT || type == kITXT;
  const bool copied = keptAsRead || (type != kIDAT && job.options.keepAll && !mayHoldStream);
  const bool verbose = job.reporter.verbosity >= kReportVerbose && job.reporter.callback != nullptr;
  uint32_t crc = 0;
  if (copied)
    crc = CopyChunk(job, chunkAt, head, length, unknownCritical, storedCrc);
  else if (verbose)  // only the report needs it
    crc = ChunkCrc(job, chunkAt + 4, length, false);
  Report(job.reporter, kReportVerbose, ReportKind::Detail,
         "\n%s chunk (0x%08x)\n  Length: %13s\n  CRC   :    0x%08x (from file)\n"
         "  CRC   :    0x%08x (calculated)\n",
         TypeText(type).c_str(), type, FormatNumber(length).c_str(), storedCrc, crc);

  s.prevChunkWasIdat = false;
  if (type == kIHDR) {
    s.headerSeen = true;
    uint8_t data[13] = {};
    if (length >= 13) input.Read(dataAt, data, 13);
    CheckHeaderChunk(s, data, length);
  } else if (type == kIDAT) {
    NoteIdatChunk(s, dataAt, length, crc, continuesRun);
  } else if (copied) {
    // Kept as read but for its CRC.
  } else if (!job.options.keepAll) {
    s.keptChunks -= 1;
    AddPngBitsSaved(s, (uint64_t{length} + 12) * 8);
  } else {
    KeepStreamChunk(s, chunkAt, head, length);
  }
}

}  // namespace trimbit
