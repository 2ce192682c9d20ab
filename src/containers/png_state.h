// The PNG handler's state for the one image in hand, and the routines the
// handler is built from. The new image is written to the sink chunk by chunk
// as the old one is read: a kept chunk is copied (its CRC set right), a
// dropped one skipped, and the chunks of an IDAT run are noted until the run
// ends; then its joined data are written as one chunk, the zlib stream in
// them re-encoded. A chunk holding a zlib stream is written with its length
// and CRC put right once its new data are complete.
#pragma once

#include <cstddef>
#include <cstdint>

#include "containers/image.h"
#include "containers/png_idat_run.h"

namespace trimbit {

constexpr uint32_t kMaxPngChunks = 4194304;

// Result of LocateChunkStream for a chunk that holds no compressed data.
constexpr uint32_t kNoChunkStream = UINT32_MAX;

struct PngState {
  const ImageJob& job;
  IdatRun& run;           // the chunks of the IDAT run read so far
  uint32_t readPos;       // offset in the image of the next chunk
  uint32_t keptChunks;    // chunks in the new image; an IDAT run counts once
  uint32_t joinedChunks;  // IDAT chunks joined to the run before them
  bool runOpen;           // an IDAT run has begun and not yet been re-encoded
  bool prevChunkWasIdat;  // the chunk handled last was an IDAT chunk
  bool imageDataDone;     // the IDAT run has been closed and re-encoded
  bool headerSeen;        // an IHDR chunk has been read
  uint32_t storedAdler;   // last 4 bytes of the open stream so far: its Adler-32 at the end
  uint32_t bitsSaved;     // bits saved in the image so far
};

// Four ASCII letters as the big-endian number PNG chunk types compare as.
constexpr uint32_t PngChunkType(const char (&name)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(name[0])) << 24 |
         static_cast<uint32_t>(static_cast<uint8_t>(name[1])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(name[2])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(name[3]));
}

// A chunk type as four characters, for messages and reports. Only letters
// pass the chunk reader, so the text is always printable.
struct PngTypeText {
  char text[5];
  const char* c_str() const { return text; }
};
PngTypeText TypeText(uint32_t type);

// Adds `bits` to the bits saved, stopping at the largest 32-bit value
// instead of wrapping (a dropped chunk may be gigabytes long).
void AddPngBitsSaved(PngState& s, uint64_t bits);

// Reads and handles the chunk at readPos and leaves readPos behind its CRC.
// Refuses a chunk that does not fit in the image, an IDAT chunk after the
// image data were closed, a bad IHDR, an Apple CgBI chunk before IHDR, and a
// malformed chunk whose zlib stream is to be re-encoded.
void ProcessPngChunk(PngState& s);

// Offset of the zlib stream inside the `length` data bytes at `at` of
// `input` of an iCCP, zTXt or iTXt chunk (`type`), or kNoChunkStream for
// iTXt text that is not compressed. Every search stays inside the chunk's
// data; a keyword, language tag or translated keyword without its NUL, a
// missing flag or method byte, and a compression method other than 0 are
// refused.
uint32_t LocateChunkStream(uint32_t type, InputWindow& input, uint64_t at, uint32_t length);

// The zlib header flag byte with its check bits (the low 5) set so that
// CMF * 256 + FLG is a multiple of 31, using the smallest such value (so a
// check value of 31 becomes 0 where 0 works); the other bits are left as
// they are.
uint8_t ZlibCheckedFlags(uint8_t cmf, uint8_t flg);

struct ZlibHeader {
  uint8_t cmf;
  uint8_t flg;
};

// Reads the header of the zlib stream that starts `offset` bytes into the
// `length` data bytes at `at` of `input` of a chunk of `type`, and returns
// it with its check bits corrected. Refuses a chunk too short for the header
// and a stream that asks for a preset dictionary.
ZlibHeader OpenPngStream(uint32_t type, InputWindow& input, uint64_t at, uint32_t length,
                         uint32_t offset);

// Appends the chunk of `type` whose data are the `length` bytes at `at` of
// `input`: the `offset` bytes before the zlib stream as they are, then the
// stream with `header`, its deflate data re-encoded, and the Adler-32 and
// whatever followed the deflate data as they were; then sets the chunk's
// length and CRC. Refuses a stream shorter than 7 bytes.
void WritePngStreamChunk(PngState& s, uint32_t type, InputWindow& input, uint64_t at,
                         uint32_t length, uint32_t offset, ZlibHeader header);

}  // namespace trimbit
