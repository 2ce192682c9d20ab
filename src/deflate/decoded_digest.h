// A running CRC-32 and length of the bytes a stream decodes to, taken
// from the window as decoding goes on. It lets the re-encoder compare what
// the new stream decodes to with what the original decoded to, without
// keeping either in full.
#pragma once

#include <cstdint>

// Bytes are digested in chunks of at least this many from the window; a
// copy adds at most 258 more, so the bytes not yet digested never exceed
// the window.
constexpr uint32_t kDigestChunk = 16384;

struct DecodedDigest {
  uint64_t length;  // decoded bytes digested so far
  uint32_t crc;     // CRC-32 register, not yet complemented
};

// CRC-32 tables for eight bytes at a time: slice[0] is crcTable, and
// slice[k][v] is the register after v followed by k zero bytes. Where the
// processor multiplies without carries, long runs are folded with that
// instead, and the tables take only what is left.
struct CrcSlices {
  uint32_t slice[8][256];
  uint32_t ready;
  uint32_t carryless;  // the carry-less multiply (PCLMULQDQ, SSE4.1) is there
};

extern CrcSlices crcSlices;

// Needs InitTables.
void StartDigest(DecodedDigest* digest);

// Digests n bytes at data.
void DigestBytes(DecodedDigest* digest, const uint8_t* data, uint32_t n);

// Digests the decoded bytes from digest->length up to windowPos, read from
// the 32 KiB window (windowPos - digest->length must not exceed 32768).
void DigestWindow(DecodedDigest* digest, const uint8_t* window, uint64_t windowPos);

// The CRC-32 of everything digested.
inline uint32_t DigestCrc(const DecodedDigest& digest) {
  return ~digest.crc;
}
