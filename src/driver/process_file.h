#pragma once

#include <cstdint>

namespace trimbit {

struct Run;

// Processes one collected file: format choice, header line, the checks that
// leave a file alone (hard links), reading it, the library's optimisation,
// writing the new file and the replace-or-discard decision (see
// replace_file.h).
void ProcessFile(Run& run, const char* name, uint8_t format);

}  // namespace trimbit
