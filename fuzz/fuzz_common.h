// Shared by the fuzz targets: running the program on a scratch file exactly
// as the command line does, and independent decoders (zlib) to judge what
// it wrote.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

using Bytes = std::vector<uint8_t>;

// Aborts with a message: the fuzzer records the input as a crash.
[[noreturn]] void Fail(const char* what);

// Writes data to a scratch file with the given extension, runs the program
// on it silently (as `trimbit -s FILE` would), and returns the file's
// content afterwards. Checks that a refused file is untouched and that no
// temporary file remains either way.
Bytes RunOnScratchFile(const uint8_t* data, size_t size, const char* extension,
                       const char* option = nullptr);

// zlib's verdict on a stream: it reads it to its end, refuses it (bad
// data), finds it cut short (the input ends first), or gives up because it
// inflates to more than 64 MiB.
enum class Verdict { kRead, kRefused, kCut, kTooLarge };

// Raw deflate (or, with windowBits 31, a GZIP member) through zlib; `used`
// receives the bytes the stream occupied.
Verdict InflateVerdict(const uint8_t* data, size_t size, Bytes* out, size_t* used,
                       int windowBits = -15);

// True when zlib reads the stream to its end.
inline bool Inflate(const uint8_t* data, size_t size, Bytes* out, size_t* used,
                    int windowBits = -15) {
  return InflateVerdict(data, size, out, used, windowBits) == Verdict::kRead;
}

}  // namespace fuzz
