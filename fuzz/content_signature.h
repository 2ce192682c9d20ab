// What a deflate stream or a stored range decodes to, as (length, CRC-32):
// by zlib when zlib reads the stream, by the program's own decoder when it
// does not. Two streams with the same signature decode to the same bytes.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <optional>
#include <utility>

#include "deflate/stream_check.h"
#include "fuzz_common.h"
#include "support/error.h"

namespace fuzz {

using Signature = std::pair<uint64_t, uint32_t>;

inline Signature RawSignature(const uint8_t* data, size_t size) {
  return {size, static_cast<uint32_t>(crc32(0, data, static_cast<uInt>(size)))};
}

// Signature of the raw deflate stream at data, or nothing when neither
// decoder reads it. `used` receives the bytes the stream occupied.
inline std::optional<Signature> DeflateSignature(const uint8_t* data, size_t size,
                                                 size_t* used = nullptr) {
  Bytes out;
  size_t zlibUsed = 0;
  if (Inflate(data, size, &out, &zlibUsed)) {
    if (used) *used = zlibUsed;
    return RawSignature(out.data(), out.size());
  }
  trimbit::DecodedDigest digest{};
  try {
    const uint32_t bits = trimbit::DigestStream(*trimbit::NewCodecState(), data,
                                                static_cast<uint32_t>(size), &digest);
    if (used) *used = (bits + 7) / 8 < size ? (bits + 7) / 8 : size;
  } catch (const trimbit::Error&) {
    return std::nullopt;
  }
  return Signature{digest.length, trimbit::DigestCrc(digest)};
}

}  // namespace fuzz
