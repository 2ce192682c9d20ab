// Shared by the fuzz targets: the library run on an image in memory exactly
// as the command line runs it on a file, and an independent decoder (zlib)
// to judge what it wrote.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "trimbit.h"

namespace fuzz {

using Bytes = std::vector<uint8_t>;

// Aborts with a message: the fuzzer records the input as a crash.
[[noreturn]] void Fail(const char* what);

// Optimises the image with the command line's default options in one
// session kept for the whole process, its carried mode set back to 0 so that
// every input runs as the first file of a run would (and a failing input
// fails again on its own). Returns what the file would hold afterwards: the
// new image, or the input when it is kept or refused. Checks that a refusal
// says why, that no invariant of the library broke, that a new image is
// never larger, and that the events are whole lines; inputs of odd length
// run verbose, so that every report line meets hostile bytes too.
Bytes Optimise(const uint8_t* data, size_t size, trimbit_format format);

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
