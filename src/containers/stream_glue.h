// What every container ends in: re-encoding the located stream, deciding
// whether a new file is worth writing, writing it, reporting and booking the
// savings. Also the output buffer and the run's deflate engine state.
#pragma once

#include <cstdint>

namespace trimbit {
struct CodecState;
}

struct StreamGlue {
  const uint8_t* streamStart;     // first byte of the deflate data; null when none is open
  uint32_t streamLength;          // bytes of deflate data at streamStart
  uint8_t* outputBuffer;          // receives the re-encoded stream
  uint32_t outputBufferCapacity;  // bytes allocated for outputBuffer; 0 when none
  uint32_t newStreamLength;       // length of the re-encoded stream in bytes
  uint32_t bitsSaved;             // bits saved so far for the stream being handled
  trimbit::CodecState* codec;     // the deflate engine's state for the run; null until first used
};

extern StreamGlue glue;

// A writer puts the whole output for the file (or ZIP member) into
// fileState.outputFile and returns the number of bytes written.
using StreamWriter = uint32_t (*)(const char* path);

// Makes outputBuffer hold at least n + 4 bytes, the first n + 4 zeroed.
void AllocateOutputBuffer(uint32_t n);

// The deflate engine's state for the run, made on first use; the tie-break
// mode it carries goes on from file to file.
trimbit::CodecState& RunCodec();
// Frees the engine's state (the next RunCodec makes a new one).
void ReleaseRunCodec();

// Unless the file is a PNG (whose handler re-encodes its streams itself):
// re-encodes streamStart/streamLength into outputBuffer, adds the bits saved
// to bitsSaved and reports them. Then, through WriteAndBookStream, decides
// whether to write, writes, reports the bytes saved and books the savings.
void OptimiseStream(const char* path, StreamWriter writer);

// The two halves of OptimiseStream after the re-encoding, for a handler that
// re-encodes several streams of one file itself (GZIP members):
// ReportBitsSaved prints the verbose bits line for bitsSaved (when it is not
// 0, or with -f); WriteAndBookStream makes the one write decision for the
// file from bitsSaved, streamLength and newStreamLength (the old and new
// stream bytes), opens the temporary file, calls the writer, reports the
// bytes saved and books fileBitsSaved, fileBytesSaved and totalBytesSaved.
void ReportBitsSaved();
void WriteAndBookStream(const char* path, StreamWriter writer);
