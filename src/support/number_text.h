// Numbers as the reports show them: decimal digits with "," every three.
// The text is a small value, so any number of them can be alive at once.
#pragma once

#include <cstdint>

namespace trimbit {

struct NumberText {
  char text[32];  // NUL-terminated; 20 digits and 6 separators at most
  const char* c_str() const { return text; }
};

NumberText FormatNumber(uint64_t value);

}  // namespace trimbit
