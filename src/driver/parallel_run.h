// Processing the listed files on several threads with the bytes, the
// console output and the replacements of processing them one by one.
//
// Each file's work is split in two. On a worker thread with its own library
// session, the file is opened through the pinned descriptors, read and run
// through the library on a predicted incoming tie-break mode; the report
// lines are kept, and a new image is written to the temporary file, given
// the old file's metadata and flushed. The commit, on the calling thread
// and strictly in list order, prints the header and the lines, checks that
// the file is unchanged and the temporary name still its own, renames, and
// adds the totals. A file whose output read the carried mode is run again
// there when its prediction was not the mode its predecessor actually left,
// so no output depends on the number of threads. A temporary file that could
// not be made ahead is made again at its file's turn once no later file
// holds one, so that what it meets is what one file at a time would meet.
// The first failure in list order ends the run as it would one by one:
// nothing after it is committed, and every temporary file made ahead is
// removed. At most one temporary file exists per open file: the worker
// count plus one.
#pragma once

#include <cstdint>

namespace trimbit {

struct Run;

// The number of files to compute at once when -j does not say: the online
// processors, at least 1 and at most kMostWorkers.
uint32_t DefaultWorkers();
constexpr uint32_t kMostWorkers = 256;

// Processes every listed file with up to `workers` (2 or more) threads;
// throws the first file's failure in list order. Falls back to one file
// after another when no thread can be started.
void ProcessFilesInParallel(Run& run, uint32_t workers);

}  // namespace trimbit
