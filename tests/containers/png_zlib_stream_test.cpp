// The zlib streams inside PNG chunks, judged by zlib: header check bits, and
// the in-place rewrite of a chunk (it shrinks, never writes past its end,
// keeps its Adler-32 and whatever follows the stream, and carries a CRC that
// zlib's crc32 agrees with).
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>

#include "common/zlib_util.h"
#include "containers/png_state.h"
#include "containers/stream_glue.h"
#include "deflate/tables.h"
#include "driver/file_state.h"
#include "driver/run_state.h"

namespace {

using testutil::Bytes;

Bytes ZlibStream(const Bytes& data, int level, int windowBits, int memLevel, int strategy) {
  z_stream zs{};
  EXPECT_EQ(deflateInit2(&zs, level, Z_DEFLATED, windowBits, memLevel, strategy), Z_OK);
  Bytes out(deflateBound(&zs, data.size()) + 16);
  zs.next_in = const_cast<Bytef*>(data.data());
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

TEST(ZlibCheckedFlags, AgreesWithEveryHeaderZlibWrites) {
  const Bytes data = testutil::SampleText(300);
  for (int windowBits = 9; windowBits <= 15; ++windowBits) {
    for (int level = 0; level <= 9; ++level) {
      const Bytes z = ZlibStream(data, level, windowBits, 8, Z_DEFAULT_STRATEGY);
      EXPECT_EQ(ZlibCheckedFlags(z[0], z[1]), z[1]) << "wbits " << windowBits << " level " << level;
    }
  }
}

TEST(ZlibCheckedFlags, RepairsAnyFlagByteAndKeepsItsUpperBits) {
  for (uint32_t cmf : {0x08u, 0x18u, 0x48u, 0x58u, 0x68u, 0x78u, 0xFFu, 0x00u}) {
    for (uint32_t flg = 0; flg < 256; ++flg) {
      const uint8_t fixed = ZlibCheckedFlags(static_cast<uint8_t>(cmf), static_cast<uint8_t>(flg));
      EXPECT_EQ((cmf * 256 + fixed) % 31, 0u) << cmf << " " << flg;
      EXPECT_EQ(fixed & 0xE0u, flg & 0xE0u);
      if ((cmf * 256 + flg) % 31 == 0) {
        // A header that checks keeps its bits, but for check value 31 where 0 works too.
        const bool zeroWorks = (cmf * 256 + (flg & 0xE0u)) % 31 == 0;
        EXPECT_EQ(fixed, zeroWorks ? (flg & 0xE0u) : flg);
      }
    }
  }
}

// A chunk laid out as the reader leaves it, with guard bytes behind it.
struct ChunkImage {
  Bytes buffer;
  uint32_t streamOffset;  // offset of the zlib stream in the chunk's data
  uint32_t oldLength;
};

constexpr size_t kGuard = 64;

ChunkImage BuildChunk(const char* type, const Bytes& prefix, const Bytes& zlibData,
                      const Bytes& junk) {
  ChunkImage c;
  Bytes body = prefix;
  body.insert(body.end(), zlibData.begin(), zlibData.end());
  body.insert(body.end(), junk.begin(), junk.end());
  c.oldLength = static_cast<uint32_t>(body.size());
  c.streamOffset = static_cast<uint32_t>(prefix.size());
  c.buffer.resize(8 + body.size() + 4 + kGuard, 0xA5);
  WriteBigEndian32(c.buffer.data(), c.oldLength);
  std::memcpy(c.buffer.data() + 4, type, 4);
  if (!body.empty()) std::memcpy(c.buffer.data() + 8, body.data(), body.size());
  WriteBigEndian32(
      c.buffer.data() + 8 + body.size(),
      static_cast<uint32_t>(crc32(0, c.buffer.data() + 4, static_cast<uInt>(body.size() + 4))));
  return c;
}

class ReencodePngStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitTables();
    settings = {};
    settings.verbosity = 0;
    fileState.fileBitsSaved = 0;
  }
};

struct StreamCase {
  const char* name;
  const char* type;
  int level;
  int strategy;
  int memLevel;
  size_t prefixLength;  // keyword and method bytes in front of the stream
  size_t junkLength;    // bytes a writer left behind the Adler-32
};

TEST_F(ReencodePngStreamTest, ShrinksInPlaceAndKeepsEverythingElse) {
  const StreamCase cases[] = {
      {"idat default", "IDAT", 6, Z_DEFAULT_STRATEGY, 8, 0, 0},
      {"idat fast", "IDAT", 1, Z_DEFAULT_STRATEGY, 9, 0, 0},
      {"idat huffman only", "IDAT", 9, Z_HUFFMAN_ONLY, 8, 0, 0},
      {"idat fixed", "IDAT", 6, Z_FIXED, 8, 0, 0},
      {"idat rle small memory", "IDAT", 9, Z_RLE, 1, 0, 0},
      {"idat stored", "IDAT", 0, Z_DEFAULT_STRATEGY, 8, 0, 0},
      {"ztxt", "zTXt", 9, Z_DEFAULT_STRATEGY, 8, 9, 0},
      {"iccp fixed", "iCCP", 6, Z_FIXED, 8, 14, 0},
      {"idat junk behind adler", "IDAT", 1, Z_DEFAULT_STRATEGY, 1, 0, 7},
      {"itxt junk behind adler", "iTXt", 0, Z_DEFAULT_STRATEGY, 8, 20, 3},
  };
  const Bytes contents[] = {testutil::SampleText(20000, 3), testutil::Mixture(9000, 4),
                            testutil::LongRuns(5000, 5), testutil::RandomBytes(700, 6)};
  for (const StreamCase& tc : cases) {
    for (size_t ci = 0; ci < std::size(contents); ++ci) {
      SCOPED_TRACE(std::string(tc.name) + " content " + std::to_string(ci));
      const Bytes& content = contents[ci];
      const Bytes z = ZlibStream(content, tc.level, 15, tc.memLevel, tc.strategy);
      // A keyword ending in its NUL and the method byte 0; the rewrite does
      // not read it, it must only leave it alone.
      Bytes prefix(tc.prefixLength, 'k');
      if (!prefix.empty()) prefix[prefix.size() - 2] = prefix[prefix.size() - 1] = 0;
      const Bytes junk(tc.junkLength, 0x5C);
      ChunkImage c = BuildChunk(tc.type, prefix, z, junk);
      const Bytes before = c.buffer;

      uint8_t* data = c.buffer.data() + 8;
      glue.streamStart = data + c.streamOffset + 2;
      glue.streamLength = static_cast<uint32_t>(z.size() + junk.size());
      fileState.fileBitsSaved = 0;
      ReencodePngStream(data);
      EXPECT_EQ(glue.streamStart, nullptr);
      EXPECT_EQ(glue.streamLength, 0u);

      const uint32_t newLength = ReadBigEndian32(c.buffer.data());
      ASSERT_LE(newLength, c.oldLength);
      // Nothing behind the old chunk was touched.
      EXPECT_TRUE(std::equal(c.buffer.end() - kGuard, c.buffer.end(), before.end() - kGuard));
      // The CRC is zlib's.
      EXPECT_EQ(ReadBigEndian32(data + newLength),
                static_cast<uint32_t>(crc32(0, c.buffer.data() + 4, newLength + 4)));
      // Prefix unchanged; the stream inflates (Adler-32 checked) to the same
      // bytes; the junk is still behind it.
      EXPECT_TRUE(std::equal(prefix.begin(), prefix.end(), data));
      z_stream zs{};
      ASSERT_EQ(inflateInit(&zs), Z_OK);
      Bytes out(content.size() + 16);
      zs.next_in = data + c.streamOffset;
      zs.avail_in = newLength - c.streamOffset;
      zs.next_out = out.data();
      zs.avail_out = static_cast<uInt>(out.size());
      EXPECT_EQ(inflate(&zs, Z_FINISH), Z_STREAM_END);
      EXPECT_EQ(zs.total_out, content.size());
      out.resize(zs.total_out);
      EXPECT_EQ(out, content);
      EXPECT_EQ(zs.avail_in, junk.size());
      inflateEnd(&zs);
      // The booking: 8 bits per byte saved, at least 1 when only bits went.
      const uint32_t bytesSaved = c.oldLength - newLength;
      if (bytesSaved != 0) {
        EXPECT_EQ(fileState.fileBitsSaved, 8 * bytesSaved);
      } else {
        EXPECT_LE(fileState.fileBitsSaved, 1u);
      }
    }
  }
}

}  // namespace
