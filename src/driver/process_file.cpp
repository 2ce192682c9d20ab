// One file from the list: choose its format, print its header, hand it to
// the handler of its format, then replace it by the temporary file the
// handler wrote, or throw that file away.
//
// Replacing never leaves a moment without the file: the temporary file is
// flushed to disk (a failing flush ends the run and leaves the original),
// given the original's permission bits (and owner, where allowed), and
// renamed over the original in one step. The folder itself is not flushed:
// after a crash it names either the old file or the new one, each complete.
#include "driver/process_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "containers/gzip.h"
#include "containers/png.h"
#include "driver/console.h"
#include "driver/file_list.h"
#include "driver/file_state.h"
#include "driver/run_state.h"
#include "support/big_file.h"
#include "support/message.h"
#include "zip/zip_process.h"

namespace {

char systemErrorText[1024];

FileFormat FormatFromExtension(const char* name) {
  char extension[1024];
  GetExtension(name, extension);
  if (strcasecmp(extension, ".png") == 0) return PNG;
  if (strcasecmp(extension, ".zip") == 0) return ZIP;
  return GZIP;  // ".gz" and ".tgz": the file list admits nothing else
}

// Flushes the written temporary file to disk so that the rename cannot
// publish a file whose data are still only in memory. Only a file about to
// replace its original is flushed; one that is thrown away is not worth it.
void SyncTemporaryFile() {
  const int fd = ::open(fileState.tempFileName, O_RDONLY | O_CLOEXEC);
  const int result = fd < 0 ? -1 : ::fsync(fd);
  const int error = errno;
  if (fd >= 0) ::close(fd);
  if (result != 0) {
    DiscardTemporaryFile();
    ThrowFormatted(systemErrorText, sizeof systemErrorText, "fsync() failed: %s",
                   std::strerror(error));
  }
}

}  // namespace

void ReplaceWithTemporaryFile(const char* name, const struct stat* original) {
  SyncTemporaryFile();
  if (original != nullptr) {
    // Owner first: changing it may clear set-id bits that chmod then restores.
    if (::chown(fileState.tempFileName, original->st_uid, original->st_gid) != 0) {
      // Not permitted for ordinary users; the group alone may still be settable.
      (void)::chown(fileState.tempFileName, static_cast<uid_t>(-1), original->st_gid);
    }
    // Should this fail, the new file stays readable by its owner only.
    (void)::chmod(fileState.tempFileName, original->st_mode & 07777);
    if (settings.preserveDate) {
      // Set before the rename, so the file never shows the time of its rewrite.
      struct utimbuf times = {original->st_mtime, original->st_mtime};
      (void)::utime(fileState.tempFileName, &times);
    }
  }
  errno = 0;
  if (std::rename(fileState.tempFileName, name) != 0) {
    const int error = errno;
    DiscardTemporaryFile();
    ThrowFormatted(systemErrorText, sizeof systemErrorText, "rename() failed: %s",
                   std::strerror(error));
  }
  fileState.tempFileCreated = 0;
  fileState.tempFileName[0] = '\0';
}

void ProcessFile(const char* name, uint8_t format) {
  fileState.fileFormat =
      settings.scanAll ? static_cast<FileFormat>(format) : FormatFromExtension(name);
  fileState.fileBitsSaved = 0;
  fileState.fileBytesSaved = 0;

  PrintMessage(kLevelVerbose, "\n");
  const int headerLength = PrintMessage(kLevelNormal, "\n\"%s\"\n", name);
  if (settings.verbosity == 2 && headerLength > 2) {
    char underline[2048];
    const int dashes = headerLength - 2 < 2047 ? headerLength - 2 : 2047;
    std::memset(underline, '-', static_cast<size_t>(dashes));
    underline[dashes] = '\0';
    PrintMessage(kLevelVerbose, "%s\n", underline);
  }

  // The original's status: its permission bits and owner go to the new file,
  // its modification time too with -d.
  struct stat original = {};
  const bool haveStatus = ::stat(name, &original) == 0;
  // Opening a pipe or a device would wait for a writer or read without end.
  if (haveStatus && !S_ISREG(original.st_mode) && !S_ISDIR(original.st_mode))
    ThrowFormatted(systemErrorText, sizeof systemErrorText, "Not a regular file [%s]", name);

  if (fileState.fileFormat != ZIP) {
    fileState.inputFile = BigFile::QuickOpen(name, "rb", 1);
    if (fileState.inputFile == nullptr) throw static_cast<Message>("BigFile::QuickOpen() failed");
    const int64_t size = fileState.inputFile->fsize();
    if (size < 0 || static_cast<uint64_t>(size) + 4 > UINT32_MAX)
      throw static_cast<Message>("File too large");
    fileState.fileSize = static_cast<uint32_t>(size);
    if (fileState.fileSize < 18) throw static_cast<Message>("File too small");
    PrepareFileBuffer(fileState.fileSize);
  }

  fileState.tempFileCreated = 0;
  const int nameLength =
      std::snprintf(fileState.tempFileName, sizeof fileState.tempFileName, "%strbQLX", name);
  if (nameLength < 0 || static_cast<size_t>(nameLength) >= sizeof fileState.tempFileName) {
    fileState.tempFileName[0] = '\0';
    ThrowFormatted(systemErrorText, sizeof systemErrorText, "File name too long [%s]", name);
  }

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

  PrintMessage(kLevelVerbose, "\n");

  const bool replace =
      settings.forceRewrite ||
      (fileState.fileBitsSaved != 0 && (fileState.fileBytesSaved != 0 || settings.replaceOnBits));
  if (!replace || !fileState.tempFileCreated) {
    DiscardTemporaryFile();
    return;
  }

  ReplaceWithTemporaryFile(name, haveStatus ? &original : nullptr);
  totals.filesRewritten += 1;
  PrintMessage(kLevelNormal, "File rewritten.\n");
}
