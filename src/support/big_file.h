// BigFile wraps one C stdio stream opened in binary mode and turns every
// failure of open, read, write, seek, tell, size and close into a thrown
// message string (or, with the throw flag clear, a result value).
#pragma once

#include <cstdint>
#include <cstdio>

class BigFile {
 public:
  explicit BigFile(uint32_t throwOnError = 1);

  // New object opened with fopen(); with the flag set a failure is thrown.
  static BigFile* QuickOpen(const char* name, const char* mode, uint32_t throwOnError);

  int fopen(const char* name, const char* mode);
  uint32_t fread(void* buffer, uint32_t elementSize, uint32_t count);
  uint32_t fwrite(const void* buffer, uint32_t elementSize, uint32_t count);
  int fseek(int64_t offset, int origin);
  int64_t ftell();
  int64_t fsize();
  void fclose();

  const char* Name() const { return name_; }
  FILE* Stream() const { return stream_; }

 private:
  char modeLetter_;       // 'a', 'r' or 'w' after a successful mode check
  uint32_t throwOnError_;  // 0: failures are returned instead of thrown
  char name_[1024];        // the name passed to fopen(), NUL-terminated
  FILE* stream_;           // the open stream, or null
};
