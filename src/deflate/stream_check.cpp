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

void VerifyReencodedStream(CodecState& codec, const uint8_t* data, uint32_t length, uint32_t bits,
                           const DecodedDigest& original) {
  static constexpr char kMismatch[] = "Re-encoded stream does not match the original data!?!?!?";
  DecodedDigest digest;
  uint32_t bitsRead = 0;
  // A new stream the decoder refuses is as much a mismatch as one that
  // decodes to other bytes; report it as such.
  try {
    bitsRead = DigestStream(codec, data, length, &digest);
  } catch (const Error&) {
    Fault(kMismatch);
  }
  if (bitsRead != bits || digest.length != original.length ||
      DigestCrc(digest) != DigestCrc(original))
    Fault(kMismatch);
}

}  // namespace trimbit
