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

// Raw deflate through zlib. Returns false when zlib refuses the stream or
// it does not end; `used` receives the bytes the stream occupied.
bool Inflate(const uint8_t* data, size_t size, Bytes* out, size_t* used, int windowBits = -15);

}  // namespace fuzz
