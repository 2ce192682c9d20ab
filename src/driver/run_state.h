// The run's records: the settings the options make, the totals the summary
// reports, and the run itself, which owns everything a run holds and is
// handed to every part of the driver that needs some of it.
#pragma once

#include <cstdint>
#include <exception>

#include "driver/file_list.h"
#include "driver/file_state.h"
#include "trimbit.h"

namespace trimbit {

struct RunSettings {
  uint32_t scanAll;        // -a: choose each file's format by its first bytes
  uint32_t replaceOnBits;  // -b: replace a file also when only bits were saved
  uint32_t keepComments;   // -c: keep GZIP and ZIP comments
  uint32_t preserveDate;   // -d: give a rewritten file its former modification time
  uint32_t forceRewrite;   // -f: rewrite every file, even when nothing was saved
  uint32_t keepAll;        // -k: keep all chunks and structures
  uint32_t recurse;        // -r: walk every folder below a named folder too
  uint32_t splitBlocks;    // -x: try new block boundaries too
  uint32_t verbosity;      // 0 silent (-s), 1 normal, 2 verbose (-v)
  uint32_t bannerShown;    // the banner has been printed once
  uint32_t workers;        // -jN: files processed at once; 0 until the options are read
};

struct RunTotals {
  uint32_t filesCollected;   // files listed by the file pass
  uint32_t filesRewritten;   // files replaced by their rewritten form
  uint32_t totalBytesSaved;  // bytes saved over all files
  uint64_t cyclesStart;      // cycle counter when processing began
  uint64_t cyclesEnd;        // cycle counter after the first clean-up
};

// How a parallel run went, for TRIMBIT_STATS; never part of the console.
struct RunStats {
  uint32_t workers;     // threads that computed files (0: one file after another)
  uint64_t reruns;      // files run again because they read a mode other than the one left
  uint64_t modeChecks;  // files run again only to learn which mode they left
};

struct Run {
  RunSettings settings = {0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0};
  RunTotals totals = {};
  RunStats stats = {};
  FileList fileList;                   // the files to process
  FileState file;                      // the file in hand
  trimbit_session* session = nullptr;  // the library's state, one for the whole run
  std::exception_ptr leftBehind;       // a parallel run's temporary file it could not remove
};

}  // namespace trimbit
