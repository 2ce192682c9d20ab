// Checked file access: every C stdio call goes through here, and every
// failure becomes a message that names the method, or for a failed system
// call the file and the system's reason. Sizes are 64-bit.
#include "support/big_file.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "support/error.h"

namespace trimbit {

BigFile::BigFile(uint32_t throwOnError)
    : modeLetter_('\0'), throwOnError_(throwOnError), name_{}, stream_(nullptr) {}

BigFile::~BigFile() {
  if (stream_ != nullptr) std::fclose(stream_);
}

void BigFile::Fail(const char* message) const {
  if (throwOnError_) Refuse(message);
}

void BigFile::FailNamed(const char* message, const char* name) const {
  if (throwOnError_) Refuse(FormatText("%s [%s]", message, name));
}

void BigFile::FailSystem(const char* action, int error) const {
  if (throwOnError_)
    Refuse(FormatText("Could not %s [%s]: %s", action, name_, std::strerror(error)));
}

BigFile* BigFile::QuickOpen(const char* name, const char* mode, uint32_t throwOnError,
                            int descriptor) {
  std::unique_ptr<BigFile> file(new (std::nothrow) BigFile(throwOnError));
  if (!file) return nullptr;
  file->fopen(name, mode, descriptor);  // a thrown failure releases the object on the way out
  return file.release();
}

FILE* BigFile::OpenStream(const char* openMode, int descriptor) const {
  return descriptor >= 0 ? ::fdopen(descriptor, openMode) : std::fopen(name_, openMode);
}

int BigFile::fopen(const char* name, const char* mode, int descriptor) {
  if (name == nullptr) name = "";
  if (stream_ != nullptr) {
    FailNamed("BigFile::fopen(): File already open; use BigFile::fclose() first", name_);
    return 0;
  }
  const size_t nameLength = std::strlen(name);
  if (nameLength >= sizeof name_) {
    // A shortened name would name another file: refuse it instead.
    name_[0] = '\0';
    FailNamed("BigFile::fopen(): File name too long", name);
    return 0;
  }
  std::memcpy(name_, name, nameLength + 1);

  // The program reads its input and writes its temporary file, nothing else.
  if (mode == nullptr || (std::strcmp(mode, "rb") != 0 && std::strcmp(mode, "wb") != 0)) {
    Fail("BigFile::fopen(): The mode must be rb or wb");
    return 0;
  }

  modeLetter_ = mode[0];
  stream_ = OpenStream(mode, descriptor);
  if (stream_ == nullptr) {
    FailSystem("open", errno);
    return 0;
  }
  return 1;
}

uint32_t BigFile::fread(void* buffer, uint32_t elementSize, uint32_t count) {
  if (elementSize == 0 || count == 0) return 0;
  if (stream_ == nullptr) {
    Fail("BigFile::fread(): File not open; use BigFile::fopen() first");
    return 0;
  }
  errno = 0;
  const size_t got = std::fread(buffer, elementSize, count, stream_);
  if (got == count || !throwOnError_) return static_cast<uint32_t>(got);
  if (std::ferror(stream_)) FailSystem("read", errno != 0 ? errno : EIO);
  // The end came early: the file is shorter than its reader expected.
  FailNamed(got == 0 ? "BigFile::fread(): Failed to read the desired number of bytes (zero read)"
                     : "BigFile::fread(): Failed to read the desired number of bytes (less read)",
            name_);
  return static_cast<uint32_t>(got);
}

uint32_t BigFile::fwrite(const void* buffer, uint32_t elementSize, uint32_t count) {
  if (elementSize == 0 || count == 0) return 0;
  if (stream_ == nullptr) {
    Fail("BigFile::fwrite(): File not open; use BigFile::fopen() first");
    return 0;
  }
  errno = 0;
  const size_t put = std::fwrite(buffer, elementSize, count, stream_);
  if (put == count || !throwOnError_) return static_cast<uint32_t>(put);
  FailSystem("write", errno != 0 ? errno : EIO);
  return static_cast<uint32_t>(put);
}

int64_t BigFile::fsize() {
  if (stream_ == nullptr) {
    Fail("BigFile::fsize(): File not open; use BigFile::fopen() first");
    return 0;
  }
  const int descriptor = ::fileno(stream_);
  struct stat status;
  if (descriptor == -1 || ::fstat(descriptor, &status) == -1) {
    FailSystem("examine", errno);
    return 0;
  }
  return static_cast<int64_t>(status.st_size);
}

void BigFile::fclose() {
  if (stream_ == nullptr) return;
  FILE* stream = stream_;
  stream_ = nullptr;  // forgotten before anything is thrown
  if (std::fclose(stream) != 0) FailSystem(modeLetter_ == 'r' ? "close" : "write", errno);
}

}  // namespace trimbit
