// One file from the list: choose its format, print its header, read it,
// hand its bytes to the library, then write the new bytes to a temporary
// file and replace the file by it, or leave the file as it is.
//
// The file and its folder are opened before anything is read, and the file
// is read through that very descriptor whatever its name points to later;
// the replacement itself is in replace_file.cpp.
#include "driver/process_file.h"

#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

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

trimbit_session* NewRunSession(const RunSettings& settings) {
  trimbit_session* session = trimbit_session_new();
  if (session == nullptr) throw std::bad_alloc();
  trimbit_session_set_split_blocks(session, settings.splitBlocks != 0);
  return session;
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
void WriteTemporaryFile(FileState& file, const uint8_t* bytes, size_t size) {
  file.outputFile = OpenTemporaryFile(file);
  const size_t kPiece = size_t{1} << 30;  // BigFile counts in 32 bits
  for (size_t done = 0; done < size; done += kPiece)
    file.outputFile->fwrite(bytes + done, 1,
                            static_cast<uint32_t>(size - done < kPiece ? size - done : kPiece));
  CloseTemporaryFile(file);
}

// The streamed file: read through the descriptor opened before anything
// was read, and the new image, whose last bytes (all of it while it is
// small) are kept in memory, up to kInMemoryLimit of them, and the rest in
// the temporary file. Most appends, patches and read-backs then touch
// memory alone. A failure is kept as the error the run ends with; the
// library only hears that the call failed.
struct StreamedFile {
  FileState& file;
  const char* path;
  std::vector<uint8_t>& memory;  // bytes onDisk onwards of the new image
  uint64_t onDisk = 0;           // bytes of the new image in the temporary file
  bool spilled = false;          // the temporary file has been created
  std::exception_ptr failure;
};

template <class Step>
int Guarded(StreamedFile& f, Step step) {
  try {
    step();
    return 0;
  } catch (...) {
    if (!f.failure) f.failure = std::current_exception();
    return -1;
  }
}

[[noreturn]] void RefuseIo(const char* action, const char* name, int error) {
  Refuse(FormatText("Could not %s [%s]: %s", action, name, std::strerror(error)));
}

void ReadFully(int descriptor, uint64_t offset, void* buffer, size_t n, const char* name) {
  auto* to = static_cast<uint8_t*>(buffer);
  while (n > 0) {
    const ssize_t got = ::pread(descriptor, to, n, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) RefuseIo("read", name, errno);
    // The file is shorter than it was when it was examined.
    if (got == 0)
      Refuse(
          FormatText("BigFile::fread(): Failed to read the desired number of bytes (less "
                     "read) [%s]",
                     name));
    to += got;
    offset += static_cast<uint64_t>(got);
    n -= static_cast<size_t>(got);
  }
}

void WriteFully(StreamedFile& f, uint64_t offset, const void* bytes, size_t n) {
  const char* name = f.file.tempFileName.c_str();
  const auto* from = static_cast<const uint8_t*>(bytes);
  while (n > 0) {
    const ssize_t put = ::pwrite(f.file.target.temporary, from, n, static_cast<off_t>(offset));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) RefuseIo("write", name, put < 0 ? errno : EIO);
    from += put;
    offset += static_cast<uint64_t>(put);
    n -= static_cast<size_t>(put);
  }
}

// Sends the bytes in memory to the temporary file, creating it first.
void Flush(StreamedFile& f) {
  FileState& file = f.file;
  if (!f.spilled) {
    file.outputFile = OpenTemporaryFile(file);
    CloseTemporaryFile(file);  // written through the target's own descriptor from here on
    f.spilled = true;
  }
  WriteFully(f, f.onDisk, f.memory.data(), f.memory.size());
  f.onDisk += f.memory.size();
  f.memory.clear();
}

int ReadInput(void* context, uint64_t offset, void* buffer, size_t n) {
  StreamedFile& f = *static_cast<StreamedFile*>(context);
  return Guarded(f, [&] { ReadFully(f.file.target.original, offset, buffer, n, f.path); });
}

int AppendOutput(void* context, const void* bytes, size_t n) {
  StreamedFile& f = *static_cast<StreamedFile*>(context);
  return Guarded(f, [&] {
    if (f.memory.size() + n > kInMemoryLimit) Flush(f);
    if (n > kInMemoryLimit) {
      WriteFully(f, f.onDisk, bytes, n);
      f.onDisk += n;
    } else {
      const auto* from = static_cast<const uint8_t*>(bytes);
      f.memory.insert(f.memory.end(), from, from + n);
    }
  });
}

int PatchOutput(void* context, uint64_t offset, const void* bytes, size_t n) {
  StreamedFile& f = *static_cast<StreamedFile*>(context);
  return Guarded(f, [&] {
    if (offset >= f.onDisk) {
      std::memcpy(f.memory.data() + (offset - f.onDisk), bytes, n);
      return;
    }
    if (offset + n > f.onDisk) Flush(f);
    WriteFully(f, offset, bytes, n);
  });
}

int ReadOutput(void* context, uint64_t offset, void* buffer, size_t n) {
  StreamedFile& f = *static_cast<StreamedFile*>(context);
  return Guarded(f, [&] {
    if (offset >= f.onDisk) {
      std::memcpy(buffer, f.memory.data() + (offset - f.onDisk), n);
      return;
    }
    if (offset + n > f.onDisk) Flush(f);
    ReadFully(f.file.target.temporary, offset, buffer, n, f.file.tempFileName.c_str());
  });
}

int TruncateOutput(void* context, uint64_t size) {
  StreamedFile& f = *static_cast<StreamedFile*>(context);
  return Guarded(f, [&] {
    if (size >= f.onDisk) {
      f.memory.resize(static_cast<size_t>(size - f.onDisk));
      return;
    }
    f.memory.clear();
    if (::ftruncate(f.file.target.temporary, static_cast<off_t>(size)) != 0)
      RefuseIo("write", f.file.tempFileName.c_str(), errno);
    f.onDisk = size;
  });
}

// The written temporary file given its metadata and flushed.
Preparation ReadyWrittenFile(FileState& file, bool preserveDate) {
  Preparation preparation;
  char reason[512];
  try {
    preparation.stage = ReadyTemporaryFile(file, preserveDate, reason, sizeof reason)
                            ? Preparation::kReady
                            : Preparation::kRefused;
    if (preparation.stage == Preparation::kRefused) preparation.reason = reason;
  } catch (...) {
    preparation.stage = Preparation::kReadyingFailed;
    preparation.failure = std::current_exception();
  }
  return preparation;
}

// Optimises a large file as a stream; leaves the new image, if any, in the
// closed temporary file (target.temporary still open) or in memory.
trimbit_status OptimiseStreamed(Run& run, const trimbit_options& options, FileReport& report,
                                trimbit_result& result, StreamedFile& f) {
  FileState& file = run.file;
  const trimbit_input input = {static_cast<uint64_t>(file.target.examined.st_size), &f, ReadInput};
  const trimbit_output output = {&f, AppendOutput, PatchOutput, ReadOutput, TruncateOutput};
  f.memory.clear();
  f.memory.reserve(kInMemoryLimit);
  const trimbit_status status =
      trimbit_optimise_stream(run.session, &options, static_cast<trimbit_format>(file.fileFormat),
                              &input, &output, PrintEvent, &report, &result);
  if (status == TRIMBIT_IO_ERROR && f.failure) std::rethrow_exception(f.failure);
  return status;
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
  file.tempFileName = TemporaryFileName(name);

  if (IsStreamed(target)) {
    ProcessStreamedFile(run, name);
    return;
  }
  ReadFileImage(file, name);
  const trimbit_options options = LibraryOptions(settings);
  FileReport report = {settings, file};
  trimbit_result result;
  const trimbit_status status =
      trimbit_optimise(run.session, &options, static_cast<trimbit_format>(file.fileFormat),
                       file.fileBuffer.data(), file.fileSize, PrintEvent, &report, &result);
  if (status != TRIMBIT_OK) RefuseFromLibrary(status, trimbit_session_message(run.session));
  FinishFile(run, name, result);
}

bool IsStreamed(const ReplacementTarget& target) {
  return static_cast<uint64_t>(target.examined.st_size) > kInMemoryLimit;
}

trimbit_result ProcessStreamedFile(Run& run, const char* name) {
  FileState& file = run.file;
  const trimbit_options options = LibraryOptions(run.settings);
  FileReport report = {run.settings, file};
  trimbit_result result;
  StreamedFile streamed = {file, name, file.fileBuffer, 0, false, nullptr};
  const trimbit_status status = OptimiseStreamed(run, options, report, result, streamed);
  if (status != TRIMBIT_OK) RefuseFromLibrary(status, trimbit_session_message(run.session));
  if (!result.keep_original) {
    if (!streamed.spilled)
      WriteTemporaryFile(file, streamed.memory.data(), streamed.memory.size());
    else
      Flush(streamed);
  }
  CompleteFile(run, name, result,
               result.keep_original ? Preparation{}
                                    : ReadyWrittenFile(file, run.settings.preserveDate != 0));
  return result;
}

Preparation PrepareTemporaryFile(FileState& file, const trimbit_result& result, bool preserveDate) {
  if (result.keep_original) return {};
  try {
    WriteTemporaryFile(file, result.output, result.output_size);
  } catch (...) {
    Preparation preparation;
    preparation.stage = Preparation::kWriteFailed;
    preparation.failure = std::current_exception();
    return preparation;
  }
  return ReadyWrittenFile(file, preserveDate);
}

void FinishFile(Run& run, const char* name, const trimbit_result& result) {
  CompleteFile(run, name, result,
               PrepareTemporaryFile(run.file, result, run.settings.preserveDate != 0));
}

void CompleteFile(Run& run, const char* name, const trimbit_result& result,
                  const Preparation& preparation) {
  RunSettings& settings = run.settings;
  FileState& file = run.file;
  if (preparation.stage == Preparation::kWriteFailed) std::rethrow_exception(preparation.failure);
  const uint32_t totalBytesBefore = run.totals.totalBytesSaved;
  run.totals.totalBytesSaved += static_cast<uint32_t>(result.bytes_saved);
  PrintHeldLines(settings, file);
  PrintMessage(settings, kLevelVerbose, "\n");

  if (result.keep_original) {
    DiscardTemporaryFile(file);
    ReleaseReplacementTarget(file);
    return;
  }
  if (preparation.stage == Preparation::kReadyingFailed)
    std::rethrow_exception(preparation.failure);
  if (preparation.stage == Preparation::kRefused) {
    ReleaseReplacementTarget(file);
    run.totals.totalBytesSaved = totalBytesBefore;  // nothing was saved after all
    PrintMessage(settings, kLevelNormal, "%s; left unchanged.\n", preparation.reason.c_str());
    return;
  }
  if (preparation.stage != Preparation::kReady) Fault("CompleteFile(): Not prepared!?!?!?");
  MoveTemporaryFile(name, file);
  ReleaseReplacementTarget(file);
  run.totals.filesRewritten += 1;
  PrintMessage(settings, kLevelNormal, "File rewritten.\n");
}

}  // namespace trimbit
