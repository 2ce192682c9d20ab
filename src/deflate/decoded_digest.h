// A running CRC-32 and length of the bytes a stream decodes to, taken
// from the window as decoding goes on. It lets the re-encoder compare what
// the new stream decodes to with what the original decoded to, without
// keeping either in full.
#pragma once

#include <cstdint>

#include "support/crc32.h"

namespace trimbit {

// Bytes are digested in chunks of at least this many from the window; a
// copy adds at most 258 more, so the bytes not yet digested never exceed
// the window.
constexpr uint32_t kDigestChunk = 16384;

struct DecodedDigest {
  uint64_t length;  // decoded bytes digested so far
  uint32_t crc;     // CRC-32 register, not yet complemented
};

inline void StartDigest(DecodedDigest* digest) {
  digest->length = 0;
  digest->crc = kCrc32Start;
}

// Digests n bytes at data.
inline void DigestBytes(DecodedDigest* digest, const uint8_t* data, uint32_t n) {
  digest->length += n;
  digest->crc = Crc32Update(digest->crc, data, n);
}

// Digests the decoded bytes from digest->length up to windowPos, read from
// the 32 KiB window (windowPos - digest->length must not exceed 32768).
void DigestWindow(DecodedDigest* digest, const uint8_t* window, uint64_t windowPos);

// The CRC-32 of everything digested.
inline uint32_t DigestCrc(const DecodedDigest& digest) {
  return ~digest.crc;
}

}  // namespace trimbit
