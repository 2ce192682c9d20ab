// Failures of the file access, the containers and the driver travel as
// message strings: a `const char*` to constant text, or to a static buffer
// holding formatted text. (The deflate engine throws trimbit::Error, see
// support/error.h.) Nothing below the main function catches either, so the
// first failure ends the run with its error line.
#pragma once

#include <cstddef>

using Message = const char*;

// Formats into `buffer` (never past `size` bytes, the result always
// NUL-terminated) and throws the buffer as a message string.
[[noreturn]] void ThrowFormatted(char* buffer, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
