// Small GZIP, PNG and ZIP images built in memory with zlib, for tests that
// run them through the library or damage them first.
#pragma once

#include <string>
#include <vector>

#include "common/zlib_util.h"

namespace testutil {

// One GZIP member of `content`: a 10-byte header without options, the raw
// deflate stream at `level`, CRC-32 and size.
Bytes GzipMember(const Bytes& content, int level = 6);

// One PNG chunk with its correct CRC.
Bytes PngChunk(const std::string& type, const Bytes& data);
// The 8-byte signature, IHDR of a width x height 8-bit grey image, and
// `chunks` (PngChunk()s; none: one IDAT of the image, then IEND).
Bytes Png(uint32_t width, uint32_t height, const std::vector<Bytes>& chunks = {}, int level = 6);
// The zlib stream a width x height 8-bit grey image (filter 0 rows) would hold.
Bytes PngImageData(uint32_t width, uint32_t height, int level = 6);

// A ZIP archive of deflated members, without comments.
struct ZipMember {
  std::string name;
  Bytes content;
};
Bytes Zip(const std::vector<ZipMember>& members, int level = 6);

// `image` with the little-endian (or, with bigEndian, big-endian) number
// `value` of `width` bytes written at `at`.
Bytes Patched(Bytes image, size_t at, uint32_t value, int width, bool bigEndian = false);

}  // namespace testutil
