// The one leveled printer through which (almost) everything is printed, and
// the reporter that hands the engine's reports to it.
#pragma once

#include <cstdint>

#include "support/report.h"

// The program's version, as the banner and --version show it.
inline constexpr char kProgramVersion[] = "2.08 beta";

// Message levels: errors are always printed (banner first), normal output
// unless -s, verbose detail only with -v.
constexpr int kLevelError = -1;
constexpr int kLevelNormal = 1;
constexpr int kLevelVerbose = 2;

// printf-style; prints when `level` is within the verbosity and returns the
// number of characters formatted, or 0 when the level is suppressed.
int PrintMessage(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// A reporter that prints every report through PrintMessage at its level,
// under the run's verbosity.
trimbit::Reporter ConsoleReporter();

// Prints the banner with puts() unless it has been shown; sets bannerShown.
void ShowBanner();
