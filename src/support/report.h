// How the engine tells its client what it found, without knowing where the
// text goes: a Reporter carries the client's verbosity and a callback. Text
// is formatted only when its level is within the verbosity, so a silent run
// pays nothing for the verbose reports.
#pragma once

#include <cstddef>
#include <cstdint>

namespace trimbit {

// Levels as the command line counts them: 1 normal output, 2 verbose detail.
constexpr uint32_t kReportNormal = 1;
constexpr uint32_t kReportVerbose = 2;

enum class ReportKind {
  Detail,  // a description of what was read or written; shown at once
  Notice,  // the file is left unchanged, and why
  Result,  // a line that follows a new image (the bytes saved); shown once the new file
           // is written. Every line after the first Result line is one too.
};

struct ReportEvent {
  ReportKind kind;
  uint32_t level;
  const char* text;  // valid during the callback only
  size_t length;     // characters in text
};

struct Reporter {
  uint32_t verbosity;  // the highest level reported; 0 reports nothing
  void (*callback)(void* context, const ReportEvent& event);  // null: nothing is reported
  void* context;                                              // handed to the callback
};

// Formats the printf-style text and hands it to the reporter's callback,
// when `level` is at most the reporter's verbosity; otherwise does nothing.
void Report(const Reporter& reporter, uint32_t level, ReportKind kind, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

}  // namespace trimbit
