// PNG files: the signature, the chunk loop, the decision and the writer.
// The chunks themselves are handled in png_chunk.cpp, the zlib streams inside
// them in png_zlib_stream.cpp.
#include "containers/png.h"

#include <cstring>

#include "containers/png_state.h"
#include "containers/stream_glue.h"
#include "driver/console.h"
#include "driver/file_state.h"
#include "driver/run_state.h"
#include "support/big_file.h"
#include "support/byte_order.h"
#include "support/message.h"
#include "support/number_text.h"

using trimbit::FormatNumber;

PngState pngState = {};

namespace {

constexpr uint8_t kPngSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

}  // namespace

void AddPngBitsSaved(uint64_t bits) {
  const uint64_t sum = static_cast<uint64_t>(fileState.fileBitsSaved) + bits;
  fileState.fileBitsSaved = sum > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(sum);
}

// Reads the file (fileState.inputFile) chunk by chunk, then lets the stream
// glue decide whether the trimmed file is worth writing and write it through
// WritePngFile. Throws on a bad signature, on any chunk the handler refuses,
// and when the file holds no complete IDAT run.
void ProcessPng(const char* path) {
  glue.streamLength = 0;
  glue.streamStart = nullptr;
  pngState.prevChunkWasIdat = 0;
  pngState.imageDataDone = 0;
  pngState.headerSeen = 0;
  pngState.chunkCount = 0;
  fileState.fileBitsSaved = 0;

  if (fileState.dataEnd - fileState.readPos < 8)
    throw static_cast<Message>("Invalid PNG signature");
  fileState.inputFile->fread(fileState.readPos, 1, 8);
  if (std::memcmp(fileState.readPos, kPngSignature, 8) != 0)
    throw static_cast<Message>("Invalid PNG signature");
  fileState.readPos += 8;

  while (fileState.readPos < fileState.dataEnd) ProcessPngChunk();

  fileState.inputFile->fclose();
  delete fileState.inputFile;
  fileState.inputFile = nullptr;
  // A run still open here was never closed by a following chunk (no IEND).
  if (!pngState.imageDataDone) throw static_cast<Message>("No IDAT chunk found");

  glue.streamStart = nullptr;
  glue.streamLength = 0;
  glue.newStreamLength = 0;
  glue.bitsSaved = fileState.fileBitsSaved;
  OptimiseStream(path, WritePngFile);
  PrintMessage(kLevelVerbose, "\n");

  if (fileState.fileBytesSaved != 0 || settings.forceRewrite) {
    PrintMessage(kLevelNormal, "Number of bytes saved%s: %s (%s --> %s)\n",
                 settings.verbosity == 2 ? " for this png" : "",
                 FormatNumber(fileState.fileBytesSaved).c_str(),
                 FormatNumber(fileState.fileSize).c_str(),
                 FormatNumber(fileState.fileSize - fileState.fileBytesSaved).c_str());
  }
}

uint32_t WritePngFile(const char*) {
  BigFile* const out = fileState.outputFile;
  out->fwrite(fileState.fileBuffer, 1, 8);
  uint32_t written = 8;
  for (uint32_t i = 0; i < pngState.chunkCount; ++i) {
    const uint8_t* const chunk = fileState.fileBuffer + pngState.chunkTable[i];
    const uint32_t size = trimbit::LoadBe32(chunk) + 12;  // kept chunks never outgrow the file
    out->fwrite(chunk, 1, size);
    written += size;
  }
  return written;
}
