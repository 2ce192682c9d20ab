// The zlib streams the deflate tests decode and re-encode: every content,
// level, strategy and mid-stream flush together (flushes make empty stored
// and empty fixed blocks), with memory level and window size rotating so
// that each value meets each of the others.
#pragma once

#include <zlib.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "common/zlib_util.h"

namespace handmade {

// Pairs of a description and a raw deflate stream, made once.
inline const std::vector<std::pair<std::string, testutil::Bytes>>& ZlibStreams() {
  static const auto streams = [] {
    std::vector<std::pair<std::string, testutil::Bytes>> all;
    // The mixture is longer than the window, so decoding wraps around it.
    const testutil::Bytes contents[] = {
        testutil::SampleText(24000, 11), testutil::RandomBytes(9000, 12),
        testutil::LongRuns(30000, 13), testutil::Mixture(70000, 14)};
    uint32_t index = 0;
    for (const testutil::Bytes& data : contents)
      for (int level : {0, 1, 6, 9})
        for (int strategy : {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED})
          for (int flush : {0, Z_SYNC_FLUSH, Z_FULL_FLUSH, Z_PARTIAL_FLUSH}) {
            const int memLevel = index % 3 == 0 ? 1 : index % 3 == 1 ? 9 : 8;
            const int windowBits = 9 + static_cast<int>(index++ % 7);
            std::vector<testutil::MidFlush> at;
            if (flush) at = {{500, flush}, {501, flush}, {7000, flush}};
            char name[128];
            std::snprintf(name, sizeof name,
                          "%zu bytes, level %d, strategy %d, memLevel %d, windowBits %d, flush %d",
                          data.size(), level, strategy, memLevel, windowBits, flush);
            all.push_back(
                {name, testutil::DeflateRaw(data, level, strategy, windowBits, memLevel, at)});
          }
    return all;
  }();
  return streams;
}

}  // namespace handmade
