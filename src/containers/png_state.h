// The PNG handler's state for the one image in hand, and the routines the
// handler is built from. The new image is put together chunk by chunk in
// the output buffer: every kept chunk is appended as it was read (its CRC
// set right), except that the data of each IDAT chunk continuing a run go
// straight behind the previous IDAT's data (over its CRC), so a run forms
// one zlib stream inside its first chunk. A chunk that is dropped is cut off
// the end again, and a zlib stream is re-encoded in place, the chunk then
// cut to its new length.
#pragma once

#include <cstddef>
#include <cstdint>

#include "containers/image.h"

namespace trimbit {

constexpr uint32_t kMaxPngChunks = 4194304;

// Result of LocateChunkStream for a chunk that holds no compressed data.
constexpr uint32_t kNoChunkStream = UINT32_MAX;

struct PngState {
  const ImageJob& job;
  uint32_t readPos;       // offset in the image of the next chunk
  uint32_t keptChunks;    // chunks in the new image; an IDAT run counts once
  uint32_t joinedChunks;  // IDAT chunks joined to the run before them
  size_t runChunk;        // offset in the output of the open IDAT run's first chunk
  bool runOpen;           // an IDAT run has begun and not yet been re-encoded
  bool prevChunkWasIdat;  // the chunk handled last was an IDAT chunk
  bool imageDataDone;     // the IDAT run has been closed and re-encoded
  bool headerSeen;        // an IHDR chunk has been read
  uint32_t streamOffset;  // where the open stream's deflate data begin in its chunk's data
  uint32_t streamLength;  // bytes of the open stream from its zlib header on (Adler-32 included)
  uint32_t storedAdler;   // last 4 data bytes of the open stream so far: its Adler-32 at the end
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

// Offset of the zlib stream inside the data of an iCCP, zTXt or iTXt chunk
// (`type`), or kNoChunkStream for iTXt text that is not compressed. Every
// search stays inside the `length` bytes at `data`; a keyword, language tag
// or translated keyword without its NUL, a missing flag or method byte, and a
// compression method other than 0 are refused.
uint32_t LocateChunkStream(uint32_t type, const uint8_t* data, uint32_t length);

// The zlib header flag byte with its check bits (the low 5) set so that
// CMF * 256 + FLG is a multiple of 31, using the smallest such value (so a
// check value of 31 becomes 0 where 0 works); the other bits are left as
// they are.
uint8_t ZlibCheckedFlags(uint8_t cmf, uint8_t flg);

// Opens the zlib stream that starts `offset` bytes into the data of the
// chunk at output offset `chunk` (`length` data bytes): corrects the
// header's check bits (and then the chunk's CRC) and notes where the deflate
// data begin. Refuses a chunk too short for the header and a stream that
// asks for a preset dictionary.
void OpenPngStream(PngState& s, size_t chunk, uint32_t length, uint32_t offset);

// Re-encodes the open zlib stream, which lies in the chunk at output offset
// `chunk`, the last one in the output, in place: the chunk's length field
// shrinks by the bytes saved, the Adler-32 and whatever followed the deflate
// data move down behind the new data, a new CRC goes behind them, and the
// output ends there. Closes the stream. Refuses a stream shorter than 7
// bytes.
void ReencodePngStream(PngState& s, size_t chunk);

}  // namespace trimbit
