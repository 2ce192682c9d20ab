#include "deflate/decoded_digest.h"

#include <bit>
#include <cstring>

#include "deflate/stream_state.h"
#include "deflate/tables.h"

static_assert(std::endian::native == std::endian::little, "eight bytes are read as two words");

CrcSlices crcSlices = {};

void StartDigest(DecodedDigest* digest) {
  if (!crcSlices.ready) {
    for (uint32_t v = 0; v < 256; ++v) crcSlices.slice[0][v] = tables.crcTable[v];
    for (uint32_t k = 1; k < 8; ++k)
      for (uint32_t v = 0; v < 256; ++v) {
        const uint32_t c = crcSlices.slice[k - 1][v];
        crcSlices.slice[k][v] = (c >> 8) ^ tables.crcTable[c & 0xFF];
      }
    crcSlices.ready = 1;
  }
  digest->length = 0;
  digest->crc = 0xFFFFFFFF;
}

void DigestBytes(DecodedDigest* digest, const uint8_t* data, uint32_t n) {
  const uint32_t(*t)[256] = crcSlices.slice;
  uint32_t crc = digest->crc;
  digest->length += n;
  for (; n >= 8; n -= 8, data += 8) {
    uint32_t low, high;
    std::memcpy(&low, data, 4);
    std::memcpy(&high, data + 4, 4);
    low ^= crc;
    crc = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
          t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^ t[1][(high >> 16) & 0xFF] ^
          t[0][high >> 24];
  }
  for (; n > 0; --n, ++data) crc = t[0][(crc ^ *data) & 0xFF] ^ (crc >> 8);
  digest->crc = crc;
}

void DigestWindow(DecodedDigest* digest, const uint8_t* window, uint64_t windowPos) {
  while (digest->length < windowPos) {
    const uint32_t index = static_cast<uint32_t>(digest->length) & (kWindowSize - 1);
    uint64_t piece = kWindowSize - index;  // up to where the window wraps
    if (piece > windowPos - digest->length) piece = windowPos - digest->length;
    DigestBytes(digest, window + index, static_cast<uint32_t>(piece));
  }
}
