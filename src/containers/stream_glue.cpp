// The end every container handler comes to: re-encode the stream it located,
// decide whether a new file is worth writing, write it through the handler's
// writer into the temporary file, report and book the savings. Also owns the
// output buffer the re-encoder writes into, and the engine's state.
#include "containers/stream_glue.h"

#include <cstring>
#include <new>

#include "deflate/codec_state.h"
#include "deflate/reencode.h"
#include "driver/console.h"
#include "driver/file_state.h"
#include "driver/run_state.h"
#include "support/big_file.h"
#include "support/message.h"
#include "support/number_text.h"

using trimbit::FormatNumber;

StreamGlue glue = {};

namespace {

constexpr uint32_t kNothingWritten = 0xFFFFFFFF;

}  // namespace

void AllocateOutputBuffer(uint32_t n) {
  if (n > UINT32_MAX - 4) throw static_cast<Message>("Could not allocate output buffer");
  const uint32_t needed = n + 4;
  if (glue.outputBuffer == nullptr || glue.outputBufferCapacity < needed) {
    delete[] glue.outputBuffer;
    glue.outputBuffer = nullptr;
    glue.outputBufferCapacity = 0;
    glue.outputBuffer = new (std::nothrow) uint8_t[needed];
    if (glue.outputBuffer == nullptr)
      throw static_cast<Message>("Could not allocate output buffer");
    glue.outputBufferCapacity = needed;
  }
  // The bit writer ORs words into the buffer, so it must start out zero.
  std::memset(glue.outputBuffer, 0, needed);
}

trimbit::CodecState& RunCodec() {
  if (glue.codec == nullptr) glue.codec = trimbit::NewCodecState().release();
  return *glue.codec;
}

void ReleaseRunCodec() {
  delete glue.codec;
  glue.codec = nullptr;
}

void ReportBitsSaved() {
  if (glue.bitsSaved != 0 || settings.forceRewrite)
    PrintMessage(kLevelVerbose, "\nNumber of bits that can be saved: %s (%0.3f bytes)\n",
                 FormatNumber(glue.bitsSaved).c_str(), glue.bitsSaved * 0.125);
}

void WriteAndBookStream(const char* path, StreamWriter writer) {
  const FileFormat format = fileState.fileFormat;
  uint32_t written = kNothingWritten;

  if (format == ZIP) {
    // The archive's temporary file is open for the whole archive.
    written = writer(path);
  } else {
    bool write = settings.forceRewrite != 0;
    if (!write) {
      const uint64_t estimate = static_cast<uint64_t>(fileState.dataEnd - fileState.fileBuffer) -
                                glue.streamLength + glue.newStreamLength;
      write = estimate < fileState.fileSize || glue.bitsSaved >= 8 ||
              (glue.bitsSaved != 0 && settings.replaceOnBits);
    }
    if (write) {
      fileState.outputFile = OpenTemporaryFile();
      written = writer(path);
      CloseTemporaryFile();
      // Neither format ever grows; a larger result would book a wrapped
      // saving and replace the file for nothing.
      if (written > fileState.fileSize)
        throw static_cast<Message>("Rewritten file is larger than the original!?!?!?");
    }
  }

  const bool report =
      written != kNothingWritten && (written < fileState.fileSize || settings.forceRewrite ||
                                     (glue.bitsSaved != 0 && settings.replaceOnBits));
  if (report) {
    PrintMessage(kLevelVerbose, "\n");
    const bool byteLine = format == GZIP || (format == ZIP && settings.verbosity == 2);
    if (byteLine)
      PrintMessage(kLevelNormal, "Number of bytes saved: %s (%s --> %s) (%s bit%s)\n",
                   FormatNumber(fileState.fileSize - written).c_str(),
                   FormatNumber(fileState.fileSize).c_str(), FormatNumber(written).c_str(),
                   FormatNumber(glue.bitsSaved).c_str(), glue.bitsSaved == 1 ? "" : "s");
    totals.totalBytesSaved += fileState.fileSize - written;
  }

  if (format == ZIP) return;
  if (format == GZIP) fileState.fileBitsSaved = glue.bitsSaved;
  fileState.fileBytesSaved = written == kNothingWritten ? 0 : fileState.fileSize - written;
}

void OptimiseStream(const char* path, StreamWriter writer) {
  if (fileState.fileFormat != PNG) {
    glue.bitsSaved +=
        trimbit::ReencodeStream(RunCodec(), ConsoleReporter(), glue.streamStart, glue.streamLength,
                                glue.outputBuffer, &glue.newStreamLength);
    ReportBitsSaved();
  }
  WriteAndBookStream(path, writer);
}
