// One file from the list: choose its format, print its header, hand it to
// the handler of its format, then replace it by the temporary file the
// handler wrote, or throw that file away.
//
// The file and its folder are opened before anything is read, and the
// handlers read that very file (BigFile::PinName) whatever its name points
// to later; the replacement itself is in replace_file.cpp.
#include "driver/process_file.h"

#include <strings.h>

#include <cstdio>
#include <cstring>

#include "containers/gzip.h"
#include "containers/png.h"
#include "containers/stream_glue.h"
#include "deflate/codec_state.h"
#include "driver/console.h"
#include "driver/file_list.h"
#include "driver/file_state.h"
#include "driver/replace_file.h"
#include "driver/run_state.h"
#include "support/big_file.h"
#include "support/message.h"
#include "support/number_text.h"
#include "zip/zip_process.h"

using trimbit::FormatNumber;

namespace {

char processErrorText[2048 + 128];

FileFormat FormatFromExtension(const char* name) {
  char extension[1024];
  GetExtension(name, extension);
  if (strcasecmp(extension, ".png") == 0) return PNG;
  if (strcasecmp(extension, ".zip") == 0) return ZIP;
  return GZIP;  // ".gz" and ".tgz": the file list admits nothing else
}

void PrintHeader(const char* name) {
  PrintMessage(kLevelVerbose, "\n");
  const int headerLength = PrintMessage(kLevelNormal, "\n\"%s\"\n", name);
  if (settings.verbosity == 2 && headerLength > 2) {
    char underline[2048];
    const int dashes = headerLength - 2 < 2047 ? headerLength - 2 : 2047;
    std::memset(underline, '-', static_cast<size_t>(dashes));
    underline[dashes] = '\0';
    PrintMessage(kLevelVerbose, "%s\n", underline);
  }
}

// Opens the input of GZIP and PNG files (a ZIP handler opens its archive
// itself) and prepares the buffer that holds it.
void OpenInput(const char* name) {
  fileState.inputFile = BigFile::QuickOpen(name, "rb", 1);
  if (fileState.inputFile == nullptr) throw static_cast<Message>("BigFile::QuickOpen() failed");
  const int64_t size = fileState.inputFile->fsize();
  if (size < 0 || static_cast<uint64_t>(size) + 4 > UINT32_MAX)
    throw static_cast<Message>("File too large");
  fileState.fileSize = static_cast<uint32_t>(size);
  if (fileState.fileSize < 18) throw static_cast<Message>("File too small");
  PrepareFileBuffer(fileState.fileSize);
}

void RunHandler(const char* name) {
  switch (fileState.fileFormat) {
    case PNG:
      ProcessPng(name);
      break;
    case ZIP:
      ProcessZip(name);
      break;
    default:
      ProcessGzip(name);
      break;
  }
}

}  // namespace

void ProcessFile(const char* name, uint8_t format) {
  fileState.fileFormat =
      settings.scanAll ? static_cast<FileFormat>(format) : FormatFromExtension(name);
  fileState.fileBitsSaved = 0;
  fileState.fileBytesSaved = 0;
  trimbit::StartTieBreakRecord(RunCodec().tieBreak);
  PrintHeader(name);

  ReplacementTarget& target = fileState.target;
  ReleaseReplacementTarget();
  OpenReplacementTarget(name, target);
  // Replacing one name of several would split them into two files.
  if (target.examined.st_nlink > 1) {
    PrintMessage(kLevelNormal, "File has %s links; left unchanged so that they stay one file.\n",
                 FormatNumber(target.examined.st_nlink).c_str());
    PrintMessage(kLevelVerbose, "\n");
    ReleaseReplacementTarget();
    return;
  }
  BigFile::PinName(name, target.original);

  if (fileState.fileFormat != ZIP) OpenInput(name);

  const int nameLength =
      std::snprintf(fileState.tempFileName, sizeof fileState.tempFileName, "%strbQLX", name);
  if (nameLength < 0 || static_cast<size_t>(nameLength) >= sizeof fileState.tempFileName) {
    fileState.tempFileName[0] = '\0';
    ThrowFormatted(processErrorText, sizeof processErrorText, "File name too long [%s]", name);
  }

  const uint32_t totalBytesBefore = totals.totalBytesSaved;
  RunHandler(name);
  PrintMessage(kLevelVerbose, "\n");

  const bool replace =
      settings.forceRewrite ||
      (fileState.fileBitsSaved != 0 && (fileState.fileBytesSaved != 0 || settings.replaceOnBits));
  if (!replace || !target.temporaryCreated) {
    DiscardTemporaryFile();
    ReleaseReplacementTarget();
    return;
  }

  char reason[512];
  const bool replaced = ReplaceWithTemporaryFile(name, fileState.tempFileName, target,
                                                 settings.preserveDate != 0, reason, sizeof reason);
  ReleaseReplacementTarget();
  if (!replaced) {
    totals.totalBytesSaved = totalBytesBefore;  // nothing was saved after all
    PrintMessage(kLevelNormal, "%s; left unchanged.\n", reason);
    return;
  }
  totals.filesRewritten += 1;
  PrintMessage(kLevelNormal, "File rewritten.\n");
}
