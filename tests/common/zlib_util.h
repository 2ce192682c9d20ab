// zlib as the independent judge of every stream the program writes, and as
// the maker of test inputs at any level, strategy and window size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testutil {

using Bytes = std::vector<uint8_t>;

// A flush in the middle of the input: after `at` bytes, zlib's `flush` (Z_SYNC_FLUSH, ...).
struct MidFlush {
  size_t at;
  int flush;
};

// Raw deflate (no zlib or gzip wrapper) of `data` with the given parameters.
Bytes DeflateRaw(const Bytes& data, int level = 6, int strategy = 0, int windowBits = 15,
                 int memLevel = 8, const std::vector<MidFlush>& flushes = {});

// zlib stream (header and Adler-32) of `data`.
Bytes DeflateZlib(const Bytes& data, int level = 6);

// Inflates a raw deflate stream with zlib. Returns false when zlib refuses it
// or the stream does not end; `used` receives the bytes zlib consumed.
bool InflateRaw(const uint8_t* data, size_t size, Bytes* out, size_t* used = nullptr);
inline bool InflateRaw(const Bytes& in, Bytes* out, size_t* used = nullptr) {
  return InflateRaw(in.data(), in.size(), out, used);
}

// Deterministic sample contents.
Bytes SampleText(size_t size, uint32_t seed = 1);   // English-like words and punctuation
Bytes RandomBytes(size_t size, uint32_t seed = 1);  // incompressible
Bytes LongRuns(size_t size, uint32_t seed = 1);     // runs of repeated bytes
Bytes Mixture(size_t size, uint32_t seed = 1);      // all of the above, interleaved

Bytes ReadFile(const std::string& path);
void WriteFile(const std::string& path, const Bytes& data);

}  // namespace testutil
