#include "driver/file_state.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "support/big_file.h"
#include "support/error.h"
#include "support/signal_cleanup.h"

namespace trimbit {
namespace {

void CloseDescriptor(int& descriptor) {
  if (descriptor >= 0) ::close(descriptor);
  descriptor = -1;
}

// A new descriptor of the target's file, reading from its start; the
// target keeps its own for the replacement.
int ReadingDescriptor(const FileState& file, const char* path) {
  const int duplicate = ::fcntl(file.target.original, F_DUPFD_CLOEXEC, 0);
  if (duplicate >= 0 && ::lseek(duplicate, 0, SEEK_SET) == 0) return duplicate;
  const int error = errno;
  if (duplicate >= 0) ::close(duplicate);
  Refuse(FormatText("Could not open [%s]: %s", path, std::strerror(error)));
}

}  // namespace

std::string TemporaryFileName(const char* path) {
  return std::string(path) + "trbQLX";
}

void ReadFileImage(FileState& file, const char* path) {
  const int descriptor = ReadingDescriptor(file, path);
  std::unique_ptr<BigFile> input;
  try {
    input.reset(BigFile::QuickOpen(path, "rb", 1, descriptor));
  } catch (...) {
    ::close(descriptor);  // until the stream has taken it over, it is ours to close
    throw;
  }
  if (!input) {
    ::close(descriptor);
    throw std::bad_alloc();
  }
  const int64_t size = input->fsize();
  if (size < 0 || static_cast<uint64_t>(size) + 4 > UINT32_MAX) Refuse("File too large");
  file.fileSize = static_cast<uint32_t>(size);
  if (file.fileBuffer.size() < file.fileSize) {
    try {
      file.fileBuffer.resize(file.fileSize);
    } catch (const std::bad_alloc&) {
      OutOfMemory("Could not allocate file buffer");
    }
  }
  input->fread(file.fileBuffer.data(), 1, file.fileSize);
  input->fclose();
}

BigFile* OpenTemporaryFile(FileState& file) {
  ReplacementTarget& target = file.target;
  if (target.folder < 0 || target.temporaryCreated || file.tempFileName.empty())
    Fault("OpenTemporaryFile(): No file to replace!?!?!?");
  int descriptor;
  {
    SignalsHeld held;  // created and armed for removal as one step
    // O_EXCL never follows a link in the final place; O_NOFOLLOW says so twice.
    // Readable too: a new image streamed to it is read back for its check.
    descriptor = ::openat(target.folder, target.temporaryBaseName,
                          O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (descriptor >= 0) {
      target.temporary = descriptor;
      target.temporaryCreated = 1;
      ArmSignalCleanup(target.cleanupSlot, target.folder, target.temporaryBaseName);
    }
  }
  const char* name = file.tempFileName.c_str();
  if (descriptor < 0) {
    if (errno == EEXIST)
      Refuse(FormatText("Temporary file exists already; remove it if no other run is using it [%s]",
                        name));
    Refuse(FormatText("Could not create [%s]: %s", name, std::strerror(errno)));
  }
  // The stream gets its own descriptor; the target's stays open for the
  // owner, permissions, attributes, times and flush after the stream closes.
  const int streamDescriptor = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
  if (streamDescriptor < 0)
    Refuse(FormatText("Could not open [%s]: %s", name, std::strerror(errno)));
  BigFile* output = nullptr;
  try {
    output = BigFile::QuickOpen(name, "wb", 1, streamDescriptor);
  } catch (...) {
    ::close(streamDescriptor);  // until the stream has taken it over, it is ours to close
    throw;
  }
  if (output == nullptr) {
    ::close(streamDescriptor);
    throw std::bad_alloc();
  }
  return output;
}

void CloseTemporaryFile(FileState& file) {
  BigFile* output = file.outputFile;
  if (output == nullptr) return;
  output->fclose();
  file.outputFile = nullptr;  // forgotten only once closed, so that CleanUp can still release it
  delete output;
}

void DiscardTemporaryFile(FileState& file) {
  ReplacementTarget& target = file.target;
  int error = 0;
  {
    SignalsHeld held;
    if (target.temporaryCreated && ::unlinkat(target.folder, target.temporaryBaseName, 0) != 0 &&
        errno != ENOENT)
      error = errno;
    target.temporaryCreated = 0;
    DisarmSignalCleanup(target.cleanupSlot);
  }
  CloseDescriptor(target.temporary);
  const std::string name = std::move(file.tempFileName);
  file.tempFileName.clear();
  // An append-only folder, say: the file stays, and the message names it.
  if (error != 0)
    Refuse(FormatText("Could not remove [%s]: %s", name.c_str(), std::strerror(error)));
}

void ReleaseReplacementTarget(FileState& file) {
  ReplacementTarget& target = file.target;
  CloseDescriptor(target.temporary);
  CloseDescriptor(target.original);
  CloseDescriptor(target.folder);
  target.temporaryCreated = 0;
  target.baseName[0] = '\0';
  target.temporaryBaseName[0] = '\0';
}

}  // namespace trimbit
