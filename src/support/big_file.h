// BigFile wraps one C stdio stream opened in binary mode and turns every
// failure of open, read, write, seek, tell, size and close into a thrown
// message string (or, with the throw flag clear, a result value).
//
// Messages that name the file are formatted into one shared static buffer,
// so a second such failure overwrites the text of the first. The owner
// closes a BigFile with fclose() and then deletes it.
#pragma once

#include <cstdint>
#include <cstdio>

class BigFile {
 public:
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

  // Opens `name` with a mode of the letters a, b, r, w: "b" and exactly one
  // of a, r, w are required. Refuses a name of 1024 bytes or more and an
  // object that is already open. Returns non-zero on success. Given an open
  // descriptor of that file, takes it over instead of opening the name
  // again (on failure the descriptor stays the caller's).
  int fopen(const char* name, const char* mode, int descriptor = -1);
  // One call of the C library's fread/fwrite. Returns the elements moved;
  // with the flag set anything short of `count` prints the file name and
  // throws. A zero size or count returns 0 without touching the stream.
  uint32_t fread(void* buffer, uint32_t elementSize, uint32_t count);
  uint32_t fwrite(const void* buffer, uint32_t elementSize, uint32_t count);
  // 64-bit offsets; 0 (fseek) or the position (ftell), -1 on failure.
  int fseek(int64_t offset, int origin);
  int64_t ftell();
  // Size from fstat() of the open stream; 0 on failure.
  int64_t fsize();
  // Closes the stream if one is open; the stream is forgotten even when the
  // close fails, so a second call does nothing.
  void fclose();

  const char* Name() const { return name_; }
  FILE* Stream() const { return stream_; }

 private:
  // Fails with `message` (constant text): throws it, or returns so that the
  // caller can return its failure value.
  void Fail(const char* message) const;
  // Fails with "message [name]" formatted into messageText_.
  void FailNamed(const char* message, const char* name) const;

  char modeLetter_;        // 'a', 'r' or 'w' after a successful mode check
  uint32_t throwOnError_;  // 0: failures are returned instead of thrown
  char name_[1024];        // the name passed to fopen(), NUL-terminated
  FILE* stream_;           // the open stream, or null

  static char messageText_[3072];  // every message that carries a file name
};
