// Reading and trimming one GZIP member header, read through the image's
// window and written to its sink.
#pragma once

#include <cstdint>

#include "containers/image.h"

namespace trimbit {

// Checks that a member starts at offset `start`: at least 10 bytes, the
// signature 1F 8B and compression method 8. Refuses with "GZIP file too
// small", "Invalid GZIP signature" or "Invalid GZIP compression method".
void CheckGzipMemberStart(const ImageJob& job, uint64_t start);

// Extra subfields that announce an index into the member's compressed
// bytes: rewriting such a file would silently invalidate the index.
enum class GzipIndex {
  kNone,
  kBlockGzip,     // "BC": block-gzip; index files elsewhere point into it
  kRandomAccess,  // "RA": dictzip; the subfield itself lists chunk offsets
};

// Which index the extra field of the member at `start` (already checked)
// announces, if any.
GzipIndex FindGzipIndexSubfield(const ImageJob& job, uint64_t start);

// The member header as it stands in the image.
struct GzipMemberHeader {
  uint64_t streamStart;   // first byte of the deflate data
  uint32_t bytesRemoved;  // header bytes the options drop
};

// Parses the header of member `number` (counted from 1) at `start` (already
// checked), reports its verbose details and appends the header the options
// keep to the sink: the FLG byte rewritten, the dropped fields left out.
// Refuses with "GZIP file too small" when a field runs to the end of the
// image or fewer than 9 bytes (deflate data and trailer) follow the header,
// with "GZIP member header too large" when the header does not fit the
// input window (megabytes of name or comment), and refuses a header CRC
// (FHCRC) that does not match the header as read.
GzipMemberHeader TrimGzipMemberHeader(const ImageJob& job, uint64_t start, uint32_t number);

}  // namespace trimbit
