// The state of the one file being processed: its bytes, the report lines
// that wait for its new form to be written, and the temporary file that is
// to take its place.
#pragma once

#include <limits.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

namespace trimbit {

class BigFile;

enum FileFormat : uint32_t { GZIP = 0, PNG = 1, ZIP = 2 };

// The file being replaced and the temporary file that is to take its place.
// The file's folder and the file itself are opened once, before anything is
// read; from then on every step goes through these descriptors, and names
// are used only within that folder, so that swapping a name for a link
// meanwhile leads nowhere.
struct ReplacementTarget {
  int folder = -1;                            // the folder holding the file; -1 when none
  int original = -1;                          // the file, read-only, as examined; -1 when none
  struct stat examined = {};                  // its status then; compared again before the rename
  char baseName[NAME_MAX + 1] = {};           // the file's name within the folder
  char temporaryBaseName[NAME_MAX + 8] = {};  // that name + "trbQLX"
  int temporary = -1;             // the temporary file, kept open for its metadata; -1 when none
  uint32_t temporaryCreated = 0;  // this run created the temporary file (only then is it removed)
  int cleanupSlot = 0;            // the signal cleanup's slot for the temporary file
};

// A report line held back until the new file is written.
struct HeldLine {
  int level;
  std::string text;
};

struct FileState {
  FileFormat fileFormat = GZIP;     // format of the file being processed
  BigFile* outputFile = nullptr;    // the open temporary output file, or null
  std::vector<uint8_t> fileBuffer;  // the whole file; kept for the run, grown as needed
  uint32_t fileSize = 0;            // bytes of the file in fileBuffer
  std::string tempFileName;         // path + "trbQLX", as shown in messages; empty when none
  ReplacementTarget target;         // the file and the temporary file, by descriptor
  std::vector<HeldLine> heldLines;  // report lines to print once the new file is written
};

// The name of the temporary file for `path`, as shown in messages.
std::string TemporaryFileName(const char* path);

// Reads the whole file at `path` through the descriptor the target holds
// (from its start, whatever the name leads to by now) into fileBuffer and
// sets fileSize. Refuses a file too large for 32-bit offsets ("File too
// large") before reading it.
void ReadFileImage(FileState& file, const char* path);

// Creates the temporary file (the target's temporaryBaseName in the
// target's folder), readable by the owner only, and opens it for writing.
// Refuses to touch a file or link of that name that exists already. Keeps a
// descriptor of the new file in the target for the replacement's later
// steps, and prepares its removal should a signal end the run.
BigFile* OpenTemporaryFile(FileState& file);

// Closes the open temporary file (file.outputFile) and releases it; a
// failing close (data that did not reach the disk) leaves it to CleanUp.
void CloseTemporaryFile(FileState& file);

// Removes the temporary file if this run created it, and forgets its name.
// Throws, naming the file left behind, when it cannot be removed.
void DiscardTemporaryFile(FileState& file);

// Closes the descriptors of the file's target (after DiscardTemporaryFile).
void ReleaseReplacementTarget(FileState& file);

}  // namespace trimbit
