#include "support/message.h"

#include <cstdarg>
#include <cstdio>

void ThrowFormatted(char* buffer, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, size, format, args);
  va_end(args);
  throw static_cast<Message>(buffer);
}
