// The one leveled printer through which (almost) everything is printed.
#pragma once

#include <cstdint>

#include "driver/run_state.h"

namespace trimbit {

// Message levels: errors are always printed (banner first), normal output
// unless -s, verbose detail only with -v.
constexpr int kLevelError = -1;
constexpr int kLevelNormal = 1;
constexpr int kLevelVerbose = 2;

// printf-style; prints when `level` is within the run's verbosity and
// returns the number of characters printed, or 0 when the level is
// suppressed.
int PrintMessage(RunSettings& settings, int level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Prints the banner with puts() unless it has been shown; sets bannerShown.
void ShowBanner(RunSettings& settings);

}  // namespace trimbit
