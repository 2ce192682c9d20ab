#include "driver/file_state.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "support/big_file.h"
#include "support/message.h"
#include "support/signal_cleanup.h"

FileState fileState = {};

namespace {

char temporaryFileText[BigFile::kNameCapacity + 256];

void CloseDescriptor(int& descriptor) {
  if (descriptor >= 0) ::close(descriptor);
  descriptor = -1;
}

}  // namespace

void PrepareFileBuffer(uint32_t n) {
  // n + 4 must not wrap: callers refuse sizes that leave no room for the slack.
  if (n > UINT32_MAX - 4) throw static_cast<Message>("File too large");
  if (fileState.fileBuffer == nullptr || fileState.fileBufferCapacity < n + 4) {
    delete[] fileState.fileBuffer;
    fileState.fileBuffer = nullptr;
    fileState.fileBufferCapacity = 0;
    fileState.fileBuffer = new (std::nothrow) uint8_t[static_cast<size_t>(n) + 4];
    if (fileState.fileBuffer == nullptr)
      throw static_cast<Message>("Could not allocate file buffer");
    fileState.fileBufferCapacity = n + 4;
  }
  fileState.readPos = fileState.fileBuffer;
  fileState.dataEnd = fileState.fileBuffer + n;
  std::memset(fileState.dataEnd, 0, 4);
}

BigFile* OpenTemporaryFile() {
  ReplacementTarget& target = fileState.target;
  if (target.folder < 0 || target.temporaryCreated || fileState.tempFileName[0] == '\0')
    throw static_cast<Message>("OpenTemporaryFile(): No file to replace!?!?!?");
  int descriptor;
  {
    SignalsHeld held;  // created and armed for removal as one step
    // O_EXCL never follows a link in the final place; O_NOFOLLOW says so twice.
    descriptor = ::openat(target.folder, target.temporaryBaseName,
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (descriptor >= 0) {
      target.temporary = descriptor;
      target.temporaryCreated = 1;
      ArmSignalCleanup(target.folder, target.temporaryBaseName);
    }
  }
  if (descriptor < 0) {
    if (errno == EEXIST)
      ThrowFormatted(temporaryFileText, sizeof temporaryFileText,
                     "Temporary file exists already; remove it if no other run is using it [%s]",
                     fileState.tempFileName);
    ThrowFormatted(temporaryFileText, sizeof temporaryFileText, "Could not create [%s]: %s",
                   fileState.tempFileName, std::strerror(errno));
  }
  // The stream gets its own descriptor; the target's stays open for the
  // owner, permissions, attributes, times and flush after the stream closes.
  const int streamDescriptor = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
  if (streamDescriptor < 0)
    ThrowFormatted(temporaryFileText, sizeof temporaryFileText, "Could not open [%s]: %s",
                   fileState.tempFileName, std::strerror(errno));
  BigFile* file = nullptr;
  try {
    file = BigFile::QuickOpen(fileState.tempFileName, "wb", 1, streamDescriptor);
  } catch (...) {
    ::close(streamDescriptor);  // until the stream has taken it over, it is ours to close
    throw;
  }
  if (file == nullptr) {
    ::close(streamDescriptor);
    throw std::bad_alloc();
  }
  return file;
}

void CloseTemporaryFile() {
  BigFile* file = fileState.outputFile;
  if (file == nullptr) return;
  file->fclose();
  fileState.outputFile =
      nullptr;  // forgotten only once closed, so that CleanUp can still release it
  delete file;
}

void DiscardTemporaryFile() {
  ReplacementTarget& target = fileState.target;
  int error = 0;
  {
    SignalsHeld held;
    if (target.temporaryCreated && ::unlinkat(target.folder, target.temporaryBaseName, 0) != 0 &&
        errno != ENOENT)
      error = errno;
    target.temporaryCreated = 0;
    DisarmSignalCleanup();
  }
  CloseDescriptor(target.temporary);
  if (error != 0) {
    // An append-only folder, say: the file stays, and the message names it.
    std::snprintf(temporaryFileText, sizeof temporaryFileText, "Could not remove [%s]: %s",
                  fileState.tempFileName, std::strerror(error));
    fileState.tempFileName[0] = '\0';
    throw static_cast<Message>(temporaryFileText);
  }
  fileState.tempFileName[0] = '\0';
}

void ReleaseReplacementTarget() {
  ReplacementTarget& target = fileState.target;
  CloseDescriptor(target.temporary);
  CloseDescriptor(target.original);
  CloseDescriptor(target.folder);
  target.temporaryCreated = 0;
  target.baseName[0] = '\0';
  target.temporaryBaseName[0] = '\0';
  BigFile::UnpinName();
}
