#include "deflate/stream_check.h"

#include "deflate/block_decoder.h"
#include "support/error.h"

namespace trimbit {
namespace {

// Visits nothing but the digest; the symbol counts are not needed.
struct DigestVisitor {
  static constexpr bool kDigest = true;
  static constexpr bool kCountSymbols = false;
  DecodedDigest* digest;
  void Literal(uint32_t, uint32_t, uint32_t) {}
  void Copy(const CopyEvent&, const uint8_t*, uint64_t) {}
  void EndOfBlock(uint32_t, uint32_t) {}
  void StoredData(const uint8_t*, uint32_t) {}
  void BlockEnd() {}
};

}  // namespace

uint32_t DigestStream(CodecState& codec, const uint8_t* data, uint32_t length,
                      DecodedDigest* digest) {
  StartDigest(digest);
  DigestVisitor visitor = {digest};
  return DecodeStream(codec, data, length, visitor);
}

uint64_t DigestStreamIn(CodecState& codec, InputWindow& input, uint64_t start, uint64_t length,
                        DecodedDigest* digest) {
  StartDigest(digest);
  DigestVisitor visitor = {digest};
  return DecodeStreamIn(codec, input, start, length, visitor);
}

namespace {

// Decodes the stream through `decode` and fails unless it matches.
template <class Decode>
void Verify(uint64_t bits, const DecodedDigest& original, Decode decode) {
  static constexpr char kMismatch[] = "Re-encoded stream does not match the original data!?!?!?";
  DecodedDigest digest;
  StartDigest(&digest);
  uint64_t bitsRead = 0;
  // A new stream the decoder refuses is as much a mismatch as one that
  // decodes to other bytes; report it as such. A failure to read it back
  // is no mismatch, and goes on as it is.
  try {
    bitsRead = decode(&digest);
  } catch (const Error& error) {
    if (error.kind() == Error::Kind::InputOutput) throw;
    Fault(kMismatch);
  }
  if (bitsRead != bits || digest.length != original.length ||
      DigestCrc(digest) != DigestCrc(original))
    Fault(kMismatch);
}

}  // namespace

void VerifyReencodedStream(CodecState& codec, const uint8_t* data, uint32_t length, uint32_t bits,
                           const DecodedDigest& original) {
  Verify(bits, original, [&](DecodedDigest* digest) {
    DigestVisitor visitor = {digest};
    return static_cast<uint64_t>(DecodeStream(codec, data, length, visitor));
  });
}

void VerifyReencodedStreamIn(CodecState& codec, InputWindow& input, uint64_t start, uint64_t length,
                             uint64_t bits, const DecodedDigest& original) {
  Verify(bits, original, [&](DecodedDigest* digest) {
    DigestVisitor visitor = {digest};
    return DecodeStreamIn(codec, input, start, length, visitor);
  });
}

}  // namespace trimbit
