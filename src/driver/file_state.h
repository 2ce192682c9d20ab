// The state of the one file being processed, shared by the per-file driver
// and the container handlers.
#pragma once

#include <cstdint>

class BigFile;

enum FileFormat : uint32_t { GZIP = 0, PNG = 1, ZIP = 2 };

struct FileState {
  FileFormat fileFormat;        // format of the file being processed
  BigFile* inputFile;           // the file being read (GZIP, PNG), or null
  BigFile* outputFile;          // the open temporary output file, or null
  uint32_t fileSize;            // size compared with the output (ZIP: per member)
  uint8_t* fileBuffer;          // whole input file (ZIP: one member), 4 zero bytes after
  uint32_t fileBufferCapacity;  // bytes allocated for fileBuffer
  uint8_t* readPos;             // where the handlers read next
  uint8_t* dataEnd;             // first byte after the data
  char tempFileName[2048];      // path + "trbQLX"; empty when there is no temporary file
  uint32_t tempFileCreated;     // this run created the file named tempFileName (only then is it removed)
  uint32_t fileBitsSaved;       // bits saved in this file
  uint32_t fileBytesSaved;      // bytes saved in this file; 0 when no output was written
};

extern FileState fileState;

// Makes fileBuffer hold at least n + 4 bytes, sets readPos to its start and
// dataEnd to start + n, and zeroes the 4 bytes at dataEnd.
void PrepareFileBuffer(uint32_t n);

// Creates the file named tempFileName, readable by the owner only, and opens
// it for writing. Refuses to touch a file of that name that exists already.
BigFile* OpenTemporaryFile();

// Closes the open temporary file (fileState.outputFile) and releases it; a
// failing close leaves it to CleanUp.
void CloseTemporaryFile();

// Removes the temporary file if this run created it, and forgets its name.
void DiscardTemporaryFile();
