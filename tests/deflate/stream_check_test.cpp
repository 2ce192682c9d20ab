// The self-check of re-encoded streams: it accepts only a stream that
// decodes, in exactly the bits claimed, to the original's length and CRC-32.
#include "deflate/stream_check.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "common/zlib_util.h"
#include "deflate/tables.h"
#include "support/message.h"

namespace {

using testutil::Bytes;

std::string Verify(const Bytes& stream, uint32_t bits, const DecodedDigest& original) {
  try {
    VerifyReencodedStream(stream.data(), static_cast<uint32_t>(stream.size()), bits, original);
  } catch (Message m) {
    return m;
  }
  return "";
}

TEST(StreamCheck, DigestsWhatTheStreamDecodesTo) {
  InitTables();
  // Larger than the window, so the digest is taken in pieces as it wraps.
  const Bytes data = testutil::Mixture(300000, 51);
  const Bytes stream = testutil::DeflateRaw(data, 9);
  DecodedDigest digest;
  const uint32_t bits = DigestStream(stream.data(), static_cast<uint32_t>(stream.size()), &digest);
  EXPECT_EQ(digest.length, data.size());
  EXPECT_EQ(DigestCrc(digest), crc32(0, data.data(), static_cast<uInt>(data.size())));
  EXPECT_EQ((bits + 7) / 8, stream.size());

  const std::string mismatch = "Re-encoded stream does not match the original data!?!?!?";
  EXPECT_EQ(Verify(stream, bits, digest), "");
  EXPECT_EQ(Verify(stream, bits - 1, digest), mismatch);
  EXPECT_EQ(Verify(stream, bits, {digest.length, digest.crc ^ 1}), mismatch);
  EXPECT_EQ(Verify(stream, bits, {digest.length + 1, digest.crc}), mismatch);
  // A stream that does not decode at all is a mismatch too.
  Bytes broken = stream;
  broken.resize(broken.size() / 2);
  EXPECT_EQ(Verify(broken, bits, digest), mismatch);
}

// The digest against zlib's CRC-32 over lengths on both sides of every
// piece size the digest works in, at several alignments, in one go and split.
TEST(StreamCheck, DigestAgreesWithZlibCrc) {
  InitTables();
  const Bytes data = testutil::Mixture(70000, 52);
  for (uint32_t length : {0u,  1u,  7u,   8u,   15u,  16u,  17u,   63u,   64u,    65u,
                          79u, 80u, 127u, 128u, 129u, 191u, 1000u, 4103u, 65536u, 69990u})
    for (uint32_t offset : {0u, 1u, 3u, 8u})
      for (uint32_t first : {length, length / 3}) {
        const uint8_t* p = data.data() + offset;
        DecodedDigest digest;
        StartDigest(&digest);
        DigestBytes(&digest, p, first);
        DigestBytes(&digest, p + first, length - first);
        EXPECT_EQ(DigestCrc(digest), crc32(0, p, length))
            << length << " at " << offset << ", " << first;
        EXPECT_EQ(digest.length, length);
      }
}

}  // namespace
