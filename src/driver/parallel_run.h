// Processing the listed files on several threads with the bytes, the
// console output and the replacements of processing them one by one.
//
// Each file's work is split in two. The compute step, on a worker thread
// with its own library session, opens the file through the pinned
// descriptors, reads it, runs the library on a predicted incoming tie-break
// mode and keeps the report lines and the new bytes. The commit step, on the
// calling thread and strictly in list order, prints the header and the
// lines, writes the one temporary file, replaces the file and adds the
// totals. A file whose output read the carried mode is run again there when
// its prediction was not the mode its predecessor actually left, so no
// output depends on the number of threads. The first failure in list order
// ends the run as it would one by one: nothing after it is committed.
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
