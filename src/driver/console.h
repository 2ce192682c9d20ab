// The one leveled printer through which (almost) everything is printed, and
// the number formatter that groups digits with commas.
#pragma once

#include <cstdint>

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

// Decimal text of `value` with "," every three digits, from a ring of 128
// static slots: valid until 128 further calls.
const char* FormatNumber(uint64_t value);

// Prints the banner with puts() unless it has been shown; sets bannerShown.
void ShowBanner();
