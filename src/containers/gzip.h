// GZIP files: every member's header trimmed by the options, every member's
// deflate data re-encoded, trailers and any other trailing bytes kept.
#pragma once

#include "containers/image.h"

namespace trimbit {

// Optimises the GZIP image. A file with an index into its compressed bytes
// (a member's extra field holds subfield "BC" of block-gzip or "RA" of
// dictzip) is left alone, with a notice saying so. Refuses a bad signature,
// method, header or deflate stream, and a damaged member: a header CRC, or
// a trailer CRC-32 or size, that does not match.
ImageOutcome OptimiseGzip(const ImageJob& job);

}  // namespace trimbit
