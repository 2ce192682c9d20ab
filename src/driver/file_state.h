// The state of the one file being processed, shared by the per-file driver
// and the container handlers, and the temporary file the handlers write.
#pragma once

#include <limits.h>
#include <sys/stat.h>

#include <cstdint>

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
};

struct FileState {
  FileFormat fileFormat;        // format of the file being processed
  BigFile* inputFile;           // the file being read (GZIP, PNG), or null
  BigFile* outputFile;          // the open temporary output file, or null
  uint32_t fileSize;            // size compared with the output (ZIP: per member)
  uint8_t* fileBuffer;          // whole input file (ZIP: one member), 4 zero bytes after
  uint32_t fileBufferCapacity;  // bytes allocated for fileBuffer
  uint8_t* readPos;             // where the handlers read next
  uint8_t* dataEnd;             // first byte after the data
  char tempFileName[2048];      // path + "trbQLX", as shown in messages; empty when there is none
  ReplacementTarget target;     // the file and the temporary file, by descriptor
  uint32_t fileBitsSaved;       // bits saved in this file
  uint32_t fileBytesSaved;      // bytes saved in this file; 0 when no output was written
};

extern FileState fileState;

// Makes fileBuffer hold at least n + 4 bytes, sets readPos to its start and
// dataEnd to start + n, and zeroes the 4 bytes at dataEnd.
void PrepareFileBuffer(uint32_t n);

// Creates the temporary file (fileState.target.temporaryBaseName in the
// target's folder), readable by the owner only, and opens it for writing.
// Refuses to touch a file or link of that name that exists already. Keeps a
// descriptor of the new file in the target for the replacement's later
// steps, and prepares its removal should a signal end the run.
BigFile* OpenTemporaryFile();

// Closes the open temporary file (fileState.outputFile) and releases it; a
// failing close (data that did not reach the disk) leaves it to CleanUp.
void CloseTemporaryFile();

// Removes the temporary file if this run created it, and forgets its name.
// Throws, naming the file left behind, when it cannot be removed.
void DiscardTemporaryFile();

// Closes the descriptors of fileState.target (after DiscardTemporaryFile).
void ReleaseReplacementTarget();
