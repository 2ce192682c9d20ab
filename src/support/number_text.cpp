#include "support/number_text.h"

#include <cstdio>

namespace trimbit {

NumberText FormatNumber(uint64_t value) {
  NumberText result;
  char* text = result.text;
  const int digits =
      std::snprintf(text, sizeof result.text, "%llu", static_cast<unsigned long long>(value));
  int separators = (digits - 1) / 3;
  text[digits + separators] = '\0';
  // Move each group of three digits right by the separators still to place,
  // from the end, putting a comma in front of it.
  int end = digits;
  while (separators > 0) {
    for (int k = 1; k <= 3; ++k) text[end - k + separators] = text[end - k];
    text[end - 3 + separators - 1] = ',';
    end -= 3;
    separators -= 1;
  }
  return result;
}

}  // namespace trimbit
