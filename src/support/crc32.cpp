#include "support/crc32.h"

#include "support/byte_order.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define TRIMBIT_CARRYLESS_CRC 1
#endif

namespace trimbit {
namespace {

// slice[0] is the byte-at-a-time table; slice[k][v] is the register after
// v followed by k zero bytes, so eight bytes take eight lookups at once.
struct CrcTables {
  uint32_t slice[8][256];
};

constexpr CrcTables MakeCrcTables() {
  CrcTables t{};
  for (uint32_t v = 0; v < 256; ++v) {
    uint32_t c = v;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ ((c & 1) ? 0xEDB88320u : 0);
    t.slice[0][v] = c;
  }
  for (uint32_t k = 1; k < 8; ++k)
    for (uint32_t v = 0; v < 256; ++v) {
      const uint32_t c = t.slice[k - 1][v];
      t.slice[k][v] = (c >> 8) ^ t.slice[0][c & 0xFF];
    }
  return t;
}

constexpr CrcTables kCrcTables = MakeCrcTables();

#ifdef TRIMBIT_CARRYLESS_CRC

#define TRIMBIT_CARRYLESS __attribute__((target("pclmul,sse4.1")))

TRIMBIT_CARRYLESS inline __m128i Load(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// x moved `k` further along the message (k holds the two constants for its
// halves), plus the piece that lies there.
TRIMBIT_CARRYLESS inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
  return _mm_xor_si128(
      _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}

// The CRC-32 register after n bytes (n >= 64, a multiple of 16), by folding
// 128-bit pieces with carry-less multiplies by x^k mod P for the distances
// folded over, then a Barrett reduction to 32 bits. The constants belong to
// the reflected polynomial 0xEDB88320.
TRIMBIT_CARRYLESS uint32_t FoldCrc(uint32_t crc, const uint8_t* data, size_t n) {
  const __m128i by512 = _mm_set_epi64x(0x1c6e41596, 0x154442bd4);  // four pieces ahead
  const __m128i by128 = _mm_set_epi64x(0x0ccaa009e, 0x1751997d0);  // one piece ahead
  const __m128i by64 = _mm_set_epi64x(0, 0x163cd6124);
  const __m128i barrett = _mm_set_epi64x(0x1f7011641, 0x1db710641);  // mu, P
  const __m128i low32 = _mm_set_epi32(0, 0, 0, -1);

  __m128i x1 = _mm_xor_si128(Load(data), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x2 = Load(data + 16);
  __m128i x3 = Load(data + 32);
  __m128i x4 = Load(data + 48);
  data += 64;
  n -= 64;
  for (; n >= 64; n -= 64, data += 64) {
    x1 = Fold(x1, by512, Load(data));
    x2 = Fold(x2, by512, Load(data + 16));
    x3 = Fold(x3, by512, Load(data + 32));
    x4 = Fold(x4, by512, Load(data + 48));
  }
  x1 = Fold(x1, by128, x2);
  x1 = Fold(x1, by128, x3);
  x1 = Fold(x1, by128, x4);
  for (; n >= 16; n -= 16, data += 16) x1 = Fold(x1, by128, Load(data));

  // 128 bits to 64, with 32 zero bits appended, then to 32 and the register.
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, by128, 0x10));
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 4),
                     _mm_clmulepi64_si128(_mm_and_si128(x1, low32), by64, 0x00));
  __m128i t = _mm_and_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), barrett, 0x10), low32);
  t = _mm_clmulepi64_si128(t, barrett, 0x00);
  return static_cast<uint32_t>(_mm_extract_epi32(_mm_xor_si128(x1, t), 1));
}

// Whether this processor multiplies without carries (PCLMULQDQ, SSE4.1);
// asked once per process.
bool HasCarrylessMultiply() {
  static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  return has;
}

#endif

}  // namespace

uint32_t Crc32Update(uint32_t crc, const uint8_t* data, size_t n) {
  const uint32_t(*t)[256] = kCrcTables.slice;
#ifdef TRIMBIT_CARRYLESS_CRC
  if (n >= 64 && HasCarrylessMultiply()) {
    const size_t folded = n & ~size_t{15};
    crc = FoldCrc(crc, data, folded);
    data += folded;
    n -= folded;
  }
#endif
  for (; n >= 8; n -= 8, data += 8) {
    const uint32_t low = LoadLe32(data) ^ crc;
    const uint32_t high = LoadLe32(data + 4);
    crc = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
          t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^ t[1][(high >> 16) & 0xFF] ^
          t[0][high >> 24];
  }
  for (; n > 0; --n, ++data) crc = t[0][(crc ^ *data) & 0xFF] ^ (crc >> 8);
  return crc;
}

}  // namespace trimbit
