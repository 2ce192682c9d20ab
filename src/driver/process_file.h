#pragma once

#include <sys/types.h>

#include <cstdint>
#include <exception>
#include <string>

#include "driver/file_state.h"
#include "trimbit.h"

namespace trimbit {

struct Run;
struct RunSettings;

// Processes one collected file: format choice, header line, the checks that
// leave a file alone (hard links), reading it, the library's optimisation,
// writing the new file and the replace-or-discard decision (see
// replace_file.h).
void ProcessFile(Run& run, const char* name, uint8_t format);

// Files up to this size are read whole and their new image made in memory;
// larger ones stream, the new image in memory up to this size too and in
// the temporary file beyond. A small file that stays as it is never makes a
// temporary file.
constexpr uint64_t kInMemoryLimit = 16u << 20;

// Whether the examined file is too large to be read whole.
bool IsStreamed(const ReplacementTarget& target);
// Processes the large file whose target run.file holds (examined, not a
// hard link) as a stream in run.session: prints its lines as they come,
// writes the new file and replaces the old one or leaves it. Returns the
// library's result (the mode it leaves).
trimbit_result ProcessStreamedFile(Run& run, const char* name);

// The steps of ProcessFile that a parallel run (parallel_run.h) takes
// apart: the format, the header, the note about links, the library's
// options and failures, and everything after the library's call.

// The file's format: by its extension, or with -a the one the list found.
FileFormat FormatOf(const RunSettings& settings, const char* name, uint8_t format);
// The quoted name (and with -v its underline).
void PrintHeader(RunSettings& settings, const char* name);
// Why a file with `links` names is left as it is.
void ReportLinks(RunSettings& settings, nlink_t links);
trimbit_options LibraryOptions(const RunSettings& settings);

// A new library session set up for the run's options (-x is a session
// setting); throws std::bad_alloc when none can be made.
trimbit_session* NewRunSession(const RunSettings& settings);
// Ends the run with the library's message, as its status classes it.
[[noreturn]] void RefuseFromLibrary(trimbit_status status, const char* message);
// How far the temporary file of a file to be replaced got before its turn:
// written, given the old file's metadata and flushed (ready), or where
// that stopped. Making it prints nothing, so it may come before the file's
// turn, on another thread.
struct Preparation {
  enum Stage {
    kNone,           // nothing to prepare: the file stays as it is
    kReady,          // ready to be renamed
    kWriteFailed,    // `failure`, while it was written (the file may still be there)
    kRefused,        // `reason`: metadata that cannot be kept; removed
    kReadyingFailed  // `failure`, thrown by the flush or the removal; removed
  };
  Stage stage = kNone;
  std::exception_ptr failure;
  std::string reason;
};
// Writes the new image, if the library made one, to file's temporary file
// and readies it (see replace_file.h).
Preparation PrepareTemporaryFile(FileState& file, const trimbit_result& result, bool preserveDate);
// Given the library's result for run.file (its held report lines in
// heldLines): prepares the temporary file, then completes the file as below.
void FinishFile(Run& run, const char* name, const trimbit_result& result);
// With the temporary file prepared as `preparation` says: adds the totals,
// prints the held lines, and replaces the file or leaves it, as a failure
// to prepare would have done at this point.
void CompleteFile(Run& run, const char* name, const trimbit_result& result,
                  const Preparation& preparation);

}  // namespace trimbit
