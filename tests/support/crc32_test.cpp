// The one CRC-32 against zlib's, over lengths on both sides of every piece
// size it works in (the carry-less folding, eight bytes, single bytes), at
// several alignments, in one go and continued.
#include "support/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "common/zlib_util.h"

namespace {

TEST(Crc32, AgreesWithZlib) {
  const testutil::Bytes data = testutil::Mixture(70000, 52);
  for (uint32_t length : {0u,  1u,  7u,   8u,   15u,  16u,  17u,   63u,   64u,    65u,
                          79u, 80u, 127u, 128u, 129u, 191u, 1000u, 4103u, 65536u, 69990u})
    for (uint32_t offset : {0u, 1u, 3u, 8u})
      for (uint32_t first : {length, length / 3}) {
        const uint8_t* p = data.data() + offset;
        const uint32_t expected = static_cast<uint32_t>(crc32(0, p, length));
        uint32_t crc = trimbit::Crc32Update(trimbit::kCrc32Start, p, first);
        crc = trimbit::Crc32Update(crc, p + first, length - first);
        EXPECT_EQ(~crc, expected) << length << " at " << offset << ", " << first;
        EXPECT_EQ(trimbit::Crc32(p, length), expected) << length << " at " << offset;
      }
}

}  // namespace
