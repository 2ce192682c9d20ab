#include "deflate/decoded_digest.h"

#include "deflate/stream_state.h"

namespace trimbit {

void DigestWindow(DecodedDigest* digest, const uint8_t* window, uint64_t windowPos) {
  while (digest->length < windowPos) {
    const uint32_t index = static_cast<uint32_t>(digest->length) & (kWindowSize - 1);
    uint64_t piece = kWindowSize - index;  // up to where the window wraps
    if (piece > windowPos - digest->length) piece = windowPos - digest->length;
    DigestBytes(digest, window + index, static_cast<uint32_t>(piece));
  }
}

}  // namespace trimbit
