#include "driver/file_state.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "support/big_file.h"
#include "support/message.h"

FileState fileState = {};

void PrepareFileBuffer(uint32_t n) {
  // n + 4 must not wrap: callers refuse sizes that leave no room for the slack.
  if (n > UINT32_MAX - 4) throw static_cast<Message>("File too large");
  if (fileState.fileBuffer == nullptr || fileState.fileBufferCapacity < n + 4) {
    delete[] fileState.fileBuffer;
    fileState.fileBuffer = nullptr;
    fileState.fileBufferCapacity = 0;
    fileState.fileBuffer = new (std::nothrow) uint8_t[static_cast<size_t>(n) + 4];
    if (fileState.fileBuffer == nullptr) throw static_cast<Message>("Could not allocate file buffer");
    fileState.fileBufferCapacity = n + 4;
  }
  fileState.readPos = fileState.fileBuffer;
  fileState.dataEnd = fileState.fileBuffer + n;
  std::memset(fileState.dataEnd, 0, 4);
}

BigFile* OpenTemporaryFile() {
  static char text[3072];
  const int fd = ::open(fileState.tempFileName, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (errno == EEXIST)
      ThrowFormatted(text, sizeof text, "Temporary file exists already; remove it first [%s]",
                     fileState.tempFileName);
    ThrowFormatted(text, sizeof text, "Could not create temporary file: %s [%s]", std::strerror(errno),
                   fileState.tempFileName);
  }
  fileState.tempFileCreated = 1;
  // The stream takes over the descriptor; until it has, the descriptor is ours to close.
  BigFile* file = nullptr;
  try {
    file = BigFile::QuickOpen(fileState.tempFileName, "wb", 1, fd);
  } catch (...) {
    ::close(fd);
    throw;
  }
  if (file == nullptr) {
    ::close(fd);
    throw static_cast<Message>("BigFile::QuickOpen() failed");
  }
  return file;
}

void CloseTemporaryFile() {
  BigFile* file = fileState.outputFile;
  if (file == nullptr) return;
  file->fclose();
  fileState.outputFile = nullptr;  // forgotten only once closed, so that CleanUp can still release it
  delete file;
}

void DiscardTemporaryFile() {
  if (fileState.tempFileCreated && fileState.tempFileName[0] != '\0')
    std::remove(fileState.tempFileName);
  fileState.tempFileCreated = 0;
  fileState.tempFileName[0] = '\0';
}
