// The self-check of re-encoded streams: it accepts only a stream that
// decodes, in exactly the bits claimed, to the original's length and CRC-32.
#include "deflate/stream_check.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "common/zlib_util.h"
#include "support/error.h"

namespace {

using testutil::Bytes;
using namespace trimbit;

std::string Verify(CodecState& codec, const Bytes& stream, uint32_t bits,
                   const DecodedDigest& original) {
  try {
    VerifyReencodedStream(codec, stream.data(), static_cast<uint32_t>(stream.size()), bits,
                          original);
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), Error::Kind::Internal);
    return e.what();
  }
  return "";
}

TEST(StreamCheck, DigestsWhatTheStreamDecodesTo) {
  const auto codec = NewCodecState();
  // Larger than the window, so the digest is taken in pieces as it wraps.
  const Bytes data = testutil::Mixture(300000, 51);
  const Bytes stream = testutil::DeflateRaw(data, 9);
  DecodedDigest digest;
  const uint32_t bits =
      DigestStream(*codec, stream.data(), static_cast<uint32_t>(stream.size()), &digest);
  EXPECT_EQ(digest.length, data.size());
  EXPECT_EQ(DigestCrc(digest), crc32(0, data.data(), static_cast<uInt>(data.size())));
  EXPECT_EQ((bits + 7) / 8, stream.size());

  const std::string mismatch = "Re-encoded stream does not match the original data!?!?!?";
  EXPECT_EQ(Verify(*codec, stream, bits, digest), "");
  EXPECT_EQ(Verify(*codec, stream, bits - 1, digest), mismatch);
  EXPECT_EQ(Verify(*codec, stream, bits, {digest.length, digest.crc ^ 1}), mismatch);
  EXPECT_EQ(Verify(*codec, stream, bits, {digest.length + 1, digest.crc}), mismatch);
  // A stream that does not decode at all is a mismatch too.
  Bytes broken = stream;
  broken.resize(broken.size() / 2);
  EXPECT_EQ(Verify(*codec, broken, bits, digest), mismatch);
}

}  // namespace
