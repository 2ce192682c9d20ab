// The run-wide records: the settings the options make, and the totals the
// summary reports. Written by the driver, read everywhere.
#pragma once

#include <cstdint>

struct RunSettings {
  uint32_t scanAll;        // -a: choose each file's format by its first bytes
  uint32_t replaceOnBits;  // -b: replace a file also when only bits were saved
  uint32_t keepComments;   // -c: keep GZIP and ZIP comments
  uint32_t preserveDate;   // -d: give a rewritten file its former modification time
  uint32_t forceRewrite;   // -f: rewrite every file, even when nothing was saved
  uint32_t keepAll;        // -k: keep all chunks and structures
  uint32_t recurse;        // -r: walk every folder below a named folder too
  uint32_t verbosity;      // 0 silent (-s), 1 normal, 2 verbose (-v)
  uint32_t bannerShown;    // the banner has been printed once
};

struct RunTotals {
  uint32_t filesCollected;   // files listed by the file pass
  uint32_t filesRewritten;   // files replaced by their rewritten form
  uint32_t totalBytesSaved;  // bytes saved over all files
  uint64_t cyclesStart;      // cycle counter when processing began
  uint64_t cyclesEnd;        // cycle counter after the first clean-up
};

extern RunSettings settings;
extern RunTotals totals;
