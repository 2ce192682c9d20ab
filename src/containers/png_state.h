// The PNG handler's state for the one file in hand, and the routines the
// handler is built from. The file is read chunk by chunk into
// fileState.fileBuffer; every kept chunk stays where it was read, except that
// the data of each IDAT chunk continuing a run are read straight behind the
// previous IDAT's data (over its CRC), so a run forms one zlib stream inside
// its first chunk.
#pragma once

#include <cstdint>

constexpr uint32_t kMaxPngChunks = 4194304;

// Result of LocateChunkStream for a chunk that holds no compressed data.
constexpr uint32_t kNoChunkStream = UINT32_MAX;

struct PngState {
  uint32_t chunkTable[kMaxPngChunks];  // offset in fileBuffer of every kept chunk (its length
                                       // field), in file order
  uint32_t chunkCount;                 // entries used in chunkTable
  uint32_t prevChunkWasIdat;           // the chunk handled last was an IDAT chunk
  uint32_t imageDataDone;              // the IDAT run has been closed and re-encoded
  uint32_t headerSeen;                 // an IHDR chunk has been read
  uint32_t storedAdler;   // last 4 data bytes of the open stream so far: its Adler-32 at the end
  uint32_t chunkLength;   // length field of the chunk in hand
  uint32_t chunkType;     // type of the chunk in hand, as a big-endian number
  uint32_t storedCrc;     // CRC of the chunk in hand as read from the file
  char messageText[256];  // formatted failure messages of the handler
  char typeText[5];       // a chunk type as text, for messages and reports
};

extern PngState pngState;

// Four ASCII letters as the big-endian number PNG chunk types compare as.
constexpr uint32_t PngChunkType(const char (&name)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(name[0])) << 24 |
         static_cast<uint32_t>(static_cast<uint8_t>(name[1])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(name[2])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(name[3]));
}

// The chunk type as four characters (in pngState.typeText). Only letters
// pass the chunk reader, so the text is always printable.
const char* PngTypeText(uint32_t type);

// Adds `bits` to fileState.fileBitsSaved, stopping at the largest 32-bit
// value instead of wrapping (a dropped chunk may be gigabytes long).
void AddPngBitsSaved(uint64_t bits);

// Reads and handles the chunk at fileState.readPos and leaves readPos after
// its CRC. Throws on a chunk that does not fit in the file, an IDAT chunk
// after the image data were closed, a bad IHDR, an Apple CgBI chunk before
// IHDR, and a malformed chunk whose zlib stream is to be re-encoded.
void ProcessPngChunk();

// Offset of the zlib stream inside the data of an iCCP, zTXt or iTXt chunk
// (`type`), or kNoChunkStream for iTXt text that is not compressed. Every
// search stays inside the `length` bytes at `data`; a keyword, language tag
// or translated keyword without its NUL, a missing flag or method byte, and a
// compression method other than 0 are thrown as messages.
uint32_t LocateChunkStream(uint32_t type, const uint8_t* data, uint32_t length);

// The zlib header flag byte with its check bits (the low 5) set so that
// CMF * 256 + FLG is a multiple of 31, using the smallest such value (so a
// check value of 31 becomes 0 where 0 works); the other bits are left as
// they are.
uint8_t ZlibCheckedFlags(uint8_t cmf, uint8_t flg);

// Opens the zlib stream that starts `offset` bytes into the data of the chunk
// whose data begin at `data` (`length` bytes): corrects the header's check
// bits (and then the chunk's CRC) and sets glue.streamStart behind the two
// header bytes. Refuses a chunk too short for the header and a stream that
// asks for a preset dictionary.
void OpenPngStream(uint8_t* data, uint32_t length, uint32_t offset);

// Re-encodes the open zlib stream, which lies in the chunk whose data begin
// at `data`, in place: the chunk's length field shrinks by the bytes saved,
// the Adler-32 and whatever followed the deflate data move down behind the
// new data, and a new CRC goes behind them. Never writes past the chunk's
// old end. Closes the stream. Refuses a stream shorter than 7 bytes.
void ReencodePngStream(uint8_t* data);

// Writes the signature and every kept chunk (length field + 12 bytes each)
// to fileState.outputFile and returns the number of bytes written. The path
// is not used.
uint32_t WritePngFile(const char* path);
