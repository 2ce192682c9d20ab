// Reading and trimming one GZIP member header inside fileState.fileBuffer.
#pragma once

#include <cstdint>

struct GzipMember;

// Checks that a member starts at offset `start`: at least 10 bytes, the
// signature 1F 8B and compression method 8. Throws "GZIP file too small",
// "Invalid GZIP signature" or "Invalid GZIP compression method".
void CheckGzipMemberStart(uint32_t start);

// Extra subfields that announce an index into the member's compressed
// bytes: rewriting such a file would silently invalidate the index.
enum class GzipIndex {
  kNone,
  kBlockGzip,     // "BC": block-gzip; index files elsewhere point into it
  kRandomAccess,  // "RA": dictzip; the subfield itself lists chunk offsets
};

// Which index the extra field of the member at `start` (already checked)
// announces, if any.
GzipIndex FindGzipIndexSubfield(uint32_t start);

// Parses the member header at `start` (already checked), prints its verbose
// details and trims it in place by the options: the FLG byte rewritten, the
// removed fields dropped and the kept ones moved down. Fills the member's
// headerStart, headerLength and streamStart; returns the header bytes
// removed. Throws "GZIP file too small" when a field runs to the end of the
// data or fewer than 9 bytes (deflate data and trailer) follow the header,
// and refuses a header CRC (FHCRC) that does not match the header as read,
// before anything is changed.
uint32_t TrimGzipMemberHeader(uint32_t start, GzipMember* member);
