#pragma once

#include <sys/stat.h>

#include <cstdint>

// Processes one collected file: format choice, header line, size checks,
// the handler of its format, and the replace-or-discard decision.
void ProcessFile(const char* name, uint8_t format);

// Moves the finished temporary file (fileState.tempFileName) over `name` in
// one step, after flushing it to disk and giving it the permission bits, the
// owner and group where allowed, and with -d the times of `original` (null:
// nothing to copy; the file stays readable by its owner only). On failure
// the temporary file is removed, `name` is untouched, and "rename() failed: %s"
// is thrown.
void ReplaceWithTemporaryFile(const char* name, const struct stat* original);
