#include "driver/console.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "trimbit.h"

namespace trimbit {
namespace {

#ifndef TRIMBIT_BUILT_ON
#define TRIMBIT_BUILT_ON __DATE__ " " __TIME__
#endif

constexpr int kBannerInner = 47;  // characters between the asterisks

void PrintCentred(const char* text) {
  const int length = static_cast<int>(std::strlen(text));
  const int right = (kBannerInner - length) / 2;
  const int left = kBannerInner - length - right;
  std::printf("***%*s%s%*s***\n", left, "", text, right, "");
}

}  // namespace

void ShowBanner(RunSettings& settings) {
  if (settings.bannerShown) return;
  std::puts("");
  char title[64];
  std::snprintf(title, sizeof title, "Trimbit V%s", trimbit_version());
  PrintCentred(title);
  PrintCentred("Built on " TRIMBIT_BUILT_ON);
  std::puts("\n");
  settings.bannerShown = 1;
}

int PrintMessage(RunSettings& settings, int level, const char* format, ...) {
  if (level == kLevelError) {
    ShowBanner(settings);
  } else if (static_cast<uint32_t>(level) > settings.verbosity) {
    return 0;
  }
  char buffer[4096];
  va_list args;
  va_start(args, format);
  int count = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (count < 0) return 0;
  // A text too long for the buffer is printed cut short rather than overrun it.
  const size_t shown =
      static_cast<size_t>(count) < sizeof buffer ? static_cast<size_t>(count) : sizeof buffer - 1;
  std::fwrite(buffer, 1, shown, stdout);
  return static_cast<int>(shown);
}

}  // namespace trimbit
