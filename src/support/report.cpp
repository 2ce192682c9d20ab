#include "support/report.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace trimbit {

void Report(const Reporter& reporter, uint32_t level, ReportKind kind, const char* format, ...) {
  if (level > reporter.verbosity || reporter.callback == nullptr) return;
  char buffer[1024];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int count = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (count < 0) {
    va_end(again);
    return;
  }
  if (static_cast<size_t>(count) < sizeof buffer) {
    va_end(again);
    reporter.callback(reporter.context, {kind, level, buffer, static_cast<size_t>(count)});
    return;
  }
  // A long text (a long member name in it) is formatted again in full.
  std::string text(static_cast<size_t>(count), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  reporter.callback(reporter.context, {kind, level, text.c_str(), text.size()});
}

}  // namespace trimbit
