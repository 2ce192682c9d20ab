// GZIP files: every member's header trimmed by the options, every member's
// deflate data re-encoded, trailers and any other trailing bytes kept.
#pragma once

#include <cstdint>

// One member of the GZIP file in hand; offsets are into fileState.fileBuffer.
struct GzipMember {
  uint32_t headerStart;      // the member's first byte
  uint32_t headerLength;     // header bytes kept, standing at headerStart after trimming
  uint32_t streamStart;      // first byte of the deflate data
  uint32_t streamLength;     // bytes the deflate data occupy; the 8-byte trailer follows
  uint32_t newStreamLength;  // bytes of the re-encoded data in the output buffer
};

// The members of the GZIP file in hand. The output buffer mirrors the file
// from the first member's deflate data on: a member's re-encoded data start
// at outputBuffer + (streamStart - outputBase).
struct GzipState {
  GzipMember* members;      // heap array, kept for the run and grown as needed
  uint32_t memberCapacity;  // entries allocated
  uint32_t memberCount;     // entries in use for the current file
  uint32_t outputBase;      // streamStart of the first member
  uint32_t tailStart;       // first byte after the last member's trailer; kept as it is
  char messageText[128];    // formatted failure messages of the handler
};

extern GzipState gzipState;

// Optimises the GZIP file at path. Expects fileState.inputFile open on it,
// fileSize of at least 18 and fileBuffer prepared for fileSize bytes; reads
// the file, closes inputFile, and leaves its results in fileState and glue.
// A file with an index into its compressed bytes (a member's extra field
// holds subfield "BC" of block-gzip or "RA" of dictzip) is left alone, with
// a line saying so. Throws on a bad signature, method, header or deflate
// stream, and on a damaged member: a header CRC, or a trailer CRC-32 or
// size, that does not match.
void ProcessGzip(const char* path);

// Writes the new file to fileState.outputFile: each member's kept header,
// re-encoded data and trailer, then the trailing bytes. Returns the bytes
// written. The path is not used.
uint32_t WriteGzipFile(const char* path);

// Frees the member list.
void ReleaseGzipMembers();
