#pragma once

#include <cstdint>

// Processes one collected file: format choice, header line, size checks,
// the handler of its format, and the replace-or-discard decision.
void ProcessFile(const char* name, uint8_t format);
