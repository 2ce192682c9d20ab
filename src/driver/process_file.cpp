// One file from the list: choose its format, print its header, read it,
// hand its bytes to the library, then write the new bytes to a temporary
// file and replace the file by it, or leave the file as it is.
//
// The file and its folder are opened before anything is read, and the file
// is read through that very descriptor whatever its name points to later;
// the replacement itself is in replace_file.cpp.
#include "driver/process_file.h"

#include <strings.h>

#include <cstring>
#include <string>

#include "driver/console.h"
#include "driver/file_list.h"
#include "driver/replace_file.h"
#include "driver/run_state.h"
#include "support/big_file.h"
#include "support/error.h"
#include "support/number_text.h"
#include "trimbit.h"

namespace trimbit {
namespace {

FileFormat FormatFromExtension(const char* name) {
  char extension[1024];
  GetExtension(name, extension);
  if (strcasecmp(extension, ".png") == 0) return PNG;
  if (strcasecmp(extension, ".zip") == 0) return ZIP;
  return GZIP;  // ".gz" and ".tgz": the file list admits nothing else
}

}  // namespace

FileFormat FormatOf(const RunSettings& settings, const char* name, uint8_t format) {
  return settings.scanAll ? static_cast<FileFormat>(format) : FormatFromExtension(name);
}

void PrintHeader(RunSettings& settings, const char* name) {
  PrintMessage(settings, kLevelVerbose, "\n");
  const int headerLength = PrintMessage(settings, kLevelNormal, "\n\"%s\"\n", name);
  if (settings.verbosity == 2 && headerLength > 2) {
    char underline[2048];
    const int dashes = headerLength - 2 < 2047 ? headerLength - 2 : 2047;
    std::memset(underline, '-', static_cast<size_t>(dashes));
    underline[dashes] = '\0';
    PrintMessage(settings, kLevelVerbose, "%s\n", underline);
  }
}

void ReportLinks(RunSettings& settings, nlink_t links) {
  PrintMessage(settings, kLevelNormal,
               "File has %s links; left unchanged so that they stay one file.\n",
               FormatNumber(links).c_str());
  PrintMessage(settings, kLevelVerbose, "\n");
}

trimbit_options LibraryOptions(const RunSettings& settings) {
  return {static_cast<int>(settings.replaceOnBits), static_cast<int>(settings.keepComments),
          static_cast<int>(settings.forceRewrite), static_cast<int>(settings.keepAll),
          static_cast<int>(settings.verbosity)};
}

void RefuseFromLibrary(trimbit_status status, const char* message) {
  const Error::Kind kind = status == TRIMBIT_BAD_INPUT       ? Error::Kind::BadInput
                           : status == TRIMBIT_OUT_OF_MEMORY ? Error::Kind::OutOfMemory
                                                             : Error::Kind::Internal;
  throw Error(kind, message);
}

namespace {

// Where the library's report lines go: printed at once, except the lines
// about a new file's savings, which wait until that file is written.
struct FileReport {
  RunSettings& settings;
  FileState& file;
};

void PrintEvent(void* context, const trimbit_event* event) {
  FileReport& report = *static_cast<FileReport*>(context);
  if (event->kind == TRIMBIT_EVENT_RESULT)
    report.file.heldLines.push_back({event->level, std::string(event->text, event->length)});
  else
    PrintMessage(report.settings, event->level, "%s", event->text);
}

void PrintHeldLines(RunSettings& settings, FileState& file) {
  for (const HeldLine& line : file.heldLines)
    PrintMessage(settings, line.level, "%s", line.text.c_str());
  file.heldLines.clear();
}

// Writes the new image to the temporary file.
void WriteTemporaryFile(FileState& file, const trimbit_result& result) {
  file.outputFile = OpenTemporaryFile(file);
  file.outputFile->fwrite(result.output, 1, static_cast<uint32_t>(result.output_size));
  CloseTemporaryFile(file);
}

}  // namespace

void ProcessFile(Run& run, const char* name, uint8_t format) {
  RunSettings& settings = run.settings;
  FileState& file = run.file;
  file.fileFormat = FormatOf(settings, name, format);
  file.heldLines.clear();
  PrintHeader(settings, name);

  ReplacementTarget& target = file.target;
  ReleaseReplacementTarget(file);
  OpenReplacementTarget(name, target);
  // Replacing one name of several would split them into two files.
  if (target.examined.st_nlink > 1) {
    ReportLinks(settings, target.examined.st_nlink);
    ReleaseReplacementTarget(file);
    return;
  }
  ReadFileImage(file, name);
  file.tempFileName = std::string(name) + "trbQLX";

  const trimbit_options options = LibraryOptions(settings);
  FileReport report = {settings, file};
  trimbit_result result;
  const trimbit_status status =
      trimbit_optimise(run.session, &options, static_cast<trimbit_format>(file.fileFormat),
                       file.fileBuffer.data(), file.fileSize, PrintEvent, &report, &result);
  if (status != TRIMBIT_OK) RefuseFromLibrary(status, trimbit_session_message(run.session));
  FinishFile(run, name, result);
}

void FinishFile(Run& run, const char* name, const trimbit_result& result) {
  RunSettings& settings = run.settings;
  FileState& file = run.file;
  const uint32_t totalBytesBefore = run.totals.totalBytesSaved;
  if (!result.keep_original) WriteTemporaryFile(file, result);
  run.totals.totalBytesSaved += static_cast<uint32_t>(result.bytes_saved);
  PrintHeldLines(settings, file);
  PrintMessage(settings, kLevelVerbose, "\n");

  if (result.keep_original) {
    DiscardTemporaryFile(file);
    ReleaseReplacementTarget(file);
    return;
  }

  char reason[512];
  const bool replaced =
      ReplaceWithTemporaryFile(name, file, settings.preserveDate != 0, reason, sizeof reason);
  ReleaseReplacementTarget(file);
  if (!replaced) {
    run.totals.totalBytesSaved = totalBytesBefore;  // nothing was saved after all
    PrintMessage(settings, kLevelNormal, "%s; left unchanged.\n", reason);
    return;
  }
  run.totals.filesRewritten += 1;
  PrintMessage(settings, kLevelNormal, "File rewritten.\n");
}

}  // namespace trimbit
