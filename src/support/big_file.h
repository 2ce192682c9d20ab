// BigFile wraps one C stdio stream opened in binary mode and turns every
// failure of open, read, write, size and close into a thrown trimbit::Error
// (or, with the throw flag clear, a result value). A failed system call is
// reported with the file's name and the system's reason ("Could not write
// [name]: No space left on device"); nothing is printed. The owner closes a
// BigFile with fclose() and then deletes it.
#pragma once

#include <cstdint>
#include <cstdio>

namespace trimbit {

class BigFile {
 public:
  // Room for any name the program forms: a path of up to 1023 characters
  // plus the temporary file's suffix.
  static constexpr size_t kNameCapacity = 2048;

  explicit BigFile(uint32_t throwOnError = 1);
  // Closes a stream that is still open, silently: owners call fclose()
  // first when they need to know whether the close succeeded.
  ~BigFile();
  BigFile(const BigFile&) = delete;
  BigFile& operator=(const BigFile&) = delete;

  // New object opened with fopen(). With the flag set a failure is thrown
  // (and the object released); with it clear the object comes back unopened.
  // Returns null only when the object itself cannot be allocated.
  static BigFile* QuickOpen(const char* name, const char* mode, uint32_t throwOnError,
                            int descriptor = -1);

  // Opens `name` with mode "rb" or "wb"; refuses any other mode, a name that
  // does not fit kNameCapacity and an object that is already open. Returns
  // non-zero on success. Given an open descriptor of that file, takes it
  // over instead of opening the name again (on failure the descriptor stays
  // the caller's).
  int fopen(const char* name, const char* mode, int descriptor = -1);
  // One call of the C library's fread/fwrite. Returns the elements moved;
  // with the flag set anything short of `count` throws. A zero size or
  // count returns 0 without touching the stream.
  uint32_t fread(void* buffer, uint32_t elementSize, uint32_t count);
  uint32_t fwrite(const void* buffer, uint32_t elementSize, uint32_t count);
  // Size from fstat() of the open stream; 0 on failure.
  int64_t fsize();
  // Closes the stream if one is open; the stream is forgotten even when the
  // close fails, so a second call does nothing. A stream opened for writing
  // reports a failing close as a failed write: that is where buffered data
  // meet a full disk.
  void fclose();

  const char* Name() const { return name_; }
  FILE* Stream() const { return stream_; }

 private:
  // Fails with `message` (constant text): throws it, or returns so that the
  // caller can return its failure value.
  void Fail(const char* message) const;
  // Fails with "message [name]".
  void FailNamed(const char* message, const char* name) const;
  // Fails with "Could not <action> [name]: <the system's text for error>".
  void FailSystem(const char* action, int error) const;
  // Opens the stream for fopen(); null on failure with errno set.
  FILE* OpenStream(const char* openMode, int descriptor) const;

  char modeLetter_;           // 'r' or 'w' after a successful mode check
  uint32_t throwOnError_;     // 0: failures are returned instead of thrown
  char name_[kNameCapacity];  // the name passed to fopen(), NUL-terminated
  FILE* stream_;              // the open stream, or null
};

}  // namespace trimbit
