#pragma once

#include <cstdint>

// Processes one collected file: format choice, header line, the checks that
// leave a file alone (hard links), size checks, the handler of its format,
// and the replace-or-discard decision (see replace_file.h).
void ProcessFile(const char* name, uint8_t format);
