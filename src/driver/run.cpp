// The program's entry: the option pass and the file pass over the
// arguments, the banner or the help text, processing of every collected
// file, the release of all resources, and the run summary. This is the only
// place where thrown errors are caught: the first error ends the run.
#include "driver/run.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <new>

#include "driver/console.h"
#include "driver/cycle_counter.h"
#include "driver/file_list.h"
#include "driver/file_state.h"
#include "driver/parallel_run.h"
#include "driver/process_file.h"
#include "driver/run_state.h"
#include "support/big_file.h"
#include "support/error.h"
#include "support/number_text.h"
#include "trimbit.h"

namespace trimbit {
namespace {

const char* const kExtensionMasks[] = {"*.gz", "*.tgz", "*.png", "*.zip", nullptr};
const char* const kScanAllMasks[] = {"*.*", nullptr};

const char kHelpText[] =
    "Description:\n"
    "  Trimbit tries to reduce the size of GZIP (extensions .gz and .tgz), PNG, and\n"
    "  ZIP files. Regardless of which programs/settings were used to create them,\n"
    "  Trimbit will usually be able to reduce these files by at least a few bytes.\n"
    "\n"
    "Parameters:\n"
    "  [options] <filespec> [<filespec> [<filespec> ...]]\n"
    "\n"
    "Available options:\n"
    "  -a: Scans all files that match the specifications to determine whether they\n"
    "      are in a supported format (GZIP, PNG, ZIP), regardless of extensions.\n"
    "  -b: Replaces files also when no bytes, but more than zero bits were saved.\n"
    "  -d: Preserves the date and time of files it rewrites.\n"
    "  -c: Comments in GZIP and ZIP files are kept. By default, these are removed.\n"
    "  -f: Forces every file to be rewritten, even when no bits/bytes were saved.\n"
    "  -jN: Processes N files at once (by default, one per processor). The files\n"
    "      are written, and reported, exactly as with -j1, one after another.\n"
    "  -k: Keeps all chunks/structures within files, even the mostly useless ones.\n"
    "  -r: Recursively go through all subdirectories.\n"
    "  -s: Silent mode. Nothing is displayed except in case of errors.\n"
    "  -v: Verbose output.\n"
    "  -x: Extra effort: also tries new block boundaries in every deflate stream,\n"
    "      kept only where the stream gets shorter (several times slower).\n"
    "\n"
    "Notes (for more detailed information, see Trimbit.txt):\n"
    "- Wildcards * and ? are allowed.\n"
    "- For directories, all GZIP, PNG, and ZIP files in those directories are\n"
    "  processed.\n"
    "- If <filespec> has no extension, .gz, .tgz, .png, and .zip are used, unless\n"
    "  the -a option is specified -- in that case, Trimbit will scan every file to\n"
    "  determine the format and process every file accordingly.\n"
    "- Trimbit will NOT process GZIP, PNG, and ZIP files WITHIN (G)ZIP files.\n"
    "- By default, Trimbit rewrites a file only when it can reduce the number of\n"
    "  bytes of that file. It is possible that Trimbit makes the deflated data\n"
    "  one or more bits shorter but that this does not make the size in bytes less.\n"
    "  Use the -b option to have Trimbit rewrite files also when it can only\n"
    "  save one or more bits but no actual bytes.\n"
    "\n"
    "Examples:\n"
    "  Trimbit -r *.zip abc*.png\n"
    "  Trimbit -K \"~/Pictures/Quillon\"\n"
    "  Trimbit ../../stuff -b-c-k -FrS\n"
    "  Trimbit -ad * ../* ../../* -f";

struct ClassVersion {
  unsigned major;
  unsigned minor;
  const char* name;
};
const ClassVersion kClassVersions[] = {
    {2, 53, "BigFile"},    {1, 10, "Exceptions"}, {1, 2, "MemoryBlocks"},
    {1, 3, "TextBuffers"}, {1, 26, "Zip"},
};

bool IsOptionGroup(const char* argument) {
  return argument[0] == '-';
}

// The conventions every command-line user tries first: the first of
// "--help" and "--version" among the arguments is answered, and nothing
// else is done. Returns whether one was found.
bool AnsweredHelpOrVersion(RunSettings& settings, int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      ShowBanner(settings);
      std::puts(kHelpText);
      return true;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("Trimbit %s\n", trimbit_version());
      return true;
    }
  }
  return false;
}

// The digits right after -j: the number of files processed at once, 1 or
// more (larger numbers count as kMostWorkers). Returns where the digits end.
const char* ReadWorkers(RunSettings& settings, const char* digits) {
  uint32_t workers = 0;
  const char* end = digits;
  for (; *end >= '0' && *end <= '9'; ++end) {
    workers = workers * 10 + static_cast<uint32_t>(*end - '0');
    if (workers > kMostWorkers) workers = kMostWorkers;
  }
  if (workers == 0) Refuse("Invalid option specified");
  settings.workers = workers;
  return end;
}

// Reads every option group; letters in either case, "-" inside a group is
// skipped, later letters override earlier ones.
void ReadOptions(RunSettings& settings, int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (!IsOptionGroup(argv[i])) continue;
    for (const char* c = argv[i] + 1; *c != '\0'; ++c) {
      if (*c == '-') continue;
      switch (static_cast<signed char>(*c) & 0xDF) {
        case 'A':
          settings.scanAll = 1;
          break;
        case 'B':
          settings.replaceOnBits = 1;
          break;
        case 'C':
          settings.keepComments = 1;
          break;
        case 'D':
          settings.preserveDate = 1;
          break;
        case 'F':
          settings.forceRewrite = 1;
          break;
        case 'K':
          settings.keepAll = 1;
          break;
        case 'R':
          settings.recurse = 1;
          break;
        case 'S':
          settings.verbosity = 0;
          break;
        case 'V':
          settings.verbosity = 2;
          break;
        case 'X':
          settings.splitBlocks = 1;
          break;
        case 'J':
          c = ReadWorkers(settings, c + 1) - 1;
          break;
        default:
          Refuse("Invalid option specified");
      }
    }
  }
  if (settings.workers == 0) settings.workers = DefaultWorkers();
}

// Lists the files every non-option argument names; returns how many.
uint32_t CollectFiles(Run& run, int argc, char** argv) {
  const RunSettings& settings = run.settings;
  CreateFileList(run.fileList, kFileListCapacity,
                 settings.scanAll ? kScanAllMasks : kExtensionMasks, settings.recurse,
                 settings.scanAll);
  uint32_t collected = 0;
  for (int i = 1; i < argc; ++i)
    if (!IsOptionGroup(argv[i])) collected += AddFileSpec(run.fileList, argv[i]);
  return collected;
}

void PrintSummary(Run& run) {
  RunSettings& settings = run.settings;
  const RunTotals& totals = run.totals;
  if (settings.verbosity == 2 && totals.filesCollected == 0) {
    PrintMessage(settings, kLevelVerbose, "Version information for included Quillon's classes:\n");
    for (const ClassVersion& version : kClassVersions)
      PrintMessage(settings, kLevelVerbose, "- V%u.%02u of %s\n", version.major, version.minor,
                   version.name);
  }
  PrintMessage(settings, kLevelNormal,
               "\n\nNumber of files processed  : %8s\nNumber of files rewritten  : %8s\n"
               "Total number of bytes saved: %8s\n%s cycles.\n",
               FormatNumber(totals.filesCollected).c_str(),
               FormatNumber(totals.filesRewritten).c_str(),
               FormatNumber(totals.totalBytesSaved).c_str(),
               FormatNumber(totals.cyclesEnd - totals.cyclesStart).c_str());
}

// With TRIMBIT_STATS=1, one line on standard error about the parallel run;
// the console itself stays that of any other run.
void PrintStats(const Run& run) {
  const char* wanted = std::getenv("TRIMBIT_STATS");
  if (wanted == nullptr || std::strcmp(wanted, "1") != 0) return;
  std::fprintf(stderr, "Trimbit: %u worker threads, %llu re-runs, %llu mode checks\n",
               run.stats.workers, static_cast<unsigned long long>(run.stats.reruns),
               static_cast<unsigned long long>(run.stats.modeChecks));
}

// Runs one release step; the first failure is kept for rethrowing once all
// steps have run, so one failure never leaves the rest unreleased.
template <typename Step>
void ReleaseStep(std::exception_ptr& firstFailure, Step step) {
  try {
    step();
  } catch (...) {
    if (!firstFailure) firstFailure = std::current_exception();
  }
}

void ReleaseBigFile(BigFile*& file) {
  BigFile* held = file;
  if (held == nullptr) return;
  file = nullptr;
  std::unique_ptr<BigFile> owner(held);  // deleted even when the close throws
  held->fclose();
}

}  // namespace

void CleanUp(Run& run) {
  std::exception_ptr firstFailure;
  ReleaseStep(firstFailure, [&] { ReleaseFileList(run.fileList); });
  ReleaseStep(firstFailure, [&] {
    trimbit_session_free(run.session);
    run.session = nullptr;
  });
  ReleaseStep(firstFailure, [&] { ReleaseBigFile(run.file.outputFile); });
  ReleaseStep(firstFailure, [&] { DiscardTemporaryFile(run.file); });
  ReleaseStep(firstFailure, [&] {
    const std::exception_ptr leftBehind = run.leftBehind;
    run.leftBehind = nullptr;
    if (leftBehind) std::rethrow_exception(leftBehind);
  });
  ReleaseStep(firstFailure, [&] { ReleaseReplacementTarget(run.file); });
  ReleaseStep(firstFailure, [&] {
    decltype(run.file.fileBuffer)().swap(run.file.fileBuffer);
    run.file.fileSize = 0;
    decltype(run.file.heldLines)().swap(run.file.heldLines);
  });
  if (firstFailure) std::rethrow_exception(firstFailure);
}

int RunTrimbit(int argc, char** argv) {
  Run run;
  RunSettings& settings = run.settings;
  if (argc < 2) {
    ShowBanner(settings);
    std::puts(kHelpText);
    return 0;
  }
  if (AnsweredHelpOrVersion(settings, argc, argv)) {
    std::fflush(stdout);
    return 0;
  }

  int status = 0;
  try {
    ReadOptions(settings, argc, argv);
    if (settings.verbosity != 0) ShowBanner(settings);
    RunTotals& totals = run.totals;
    totals.filesCollected = CollectFiles(run, argc, argv);

    totals.cyclesStart = ReadCycleCounter();
    if (!run.fileList.names.empty()) {
      run.session = NewRunSession(settings);
    }
    const size_t files = run.fileList.names.size();
    if (settings.workers > 1 && files > 1) {
      ProcessFilesInParallel(
          run, files < settings.workers ? static_cast<uint32_t>(files) : settings.workers);
    } else {
      for (size_t i = 0; i < files; ++i)
        ProcessFile(run, run.fileList.names[i], run.fileList.formats[i]);
    }
    CleanUp(run);
    totals.cyclesEnd = ReadCycleCounter();
    PrintSummary(run);
  } catch (const Error& error) {
    PrintMessage(settings, kLevelError, "\n\nERROR: %s.\n", error.what());
    status = 1;
  } catch (const std::bad_alloc&) {
    PrintMessage(settings, kLevelError, "\n\nERROR: Out of memory.\n");
    status = 1;
  } catch (...) {
    PrintMessage(settings, kLevelError,
                 "\n\nERROR: Something somewhere threw an exception. Sorry, can't be more "
                 "specific.\n");
    status = 1;
  }

  try {
    CleanUp(run);
  } catch (const Error& error) {
    PrintMessage(settings, kLevelError, "\n\nERROR during cleanup: %s.\n", error.what());
    status = 1;
  } catch (const std::bad_alloc&) {
    PrintMessage(settings, kLevelError, "\n\nERROR during cleanup: Out of memory.\n");
    status = 1;
  } catch (...) {
    PrintMessage(settings, kLevelError, "\n\nERROR: Exception during cleanup.\n");
    status = 1;
  }
  std::fflush(stdout);
  PrintStats(run);
  return status;
}

}  // namespace trimbit
