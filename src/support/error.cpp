#include "support/error.h"

#include <cstdarg>
#include <cstdio>

namespace trimbit {

void Refuse(const char* text) {
  throw Error(Error::Kind::BadInput, text);
}

void Refuse(const std::string& text) {
  throw Error(Error::Kind::BadInput, text);
}

void Fault(const char* text) {
  throw Error(Error::Kind::Internal, text);
}

void OutOfMemory(const char* text) {
  throw Error(Error::Kind::OutOfMemory, text);
}

std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int count = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(count > 0 ? static_cast<size_t>(count) : 0, '\0');
  if (count > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  return text;
}

}  // namespace trimbit
