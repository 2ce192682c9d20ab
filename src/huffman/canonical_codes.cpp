#include "huffman/canonical_codes.h"

#include <array>

#include "support/error.h"

namespace trimbit {
namespace {

// i with its 15 low bits in reverse order: i's bits above the lowest are
// those of i / 2, reversed and moved down by one.
constexpr std::array<uint16_t, 32768> kReversed15 = [] {
  std::array<uint16_t, 32768> t{};
  for (uint32_t i = 1; i < 32768; ++i) t[i] = static_cast<uint16_t>(t[i >> 1] >> 1 | (i & 1) << 14);
  return t;
}();

// The low `length` bits of `code` (below 2^15), in reverse order.
inline uint32_t ReverseBits(uint32_t code, uint32_t length) {
  return kReversed15[code] >> (15 - length);
}

}  // namespace

void BuildCanonicalCodes(const uint8_t* lengths, uint32_t n, CodeEntry* codes,
                         uint32_t* sendCountOut) {
  uint32_t count[16] = {};
  for (uint32_t i = 0; i < n; ++i) {
    if (lengths[i] > 15) Fault("Code length above 15!?!?!?");
    count[lengths[i]] += 1;
    codes[i] = {lengths[i], 0, i};
  }
  count[0] = 0;

  // A prefix code never has more codes than its lengths allow; past that the
  // canonical codes would not fit their lengths.
  int64_t left = 1;
  for (uint32_t b = 1; b < 16; ++b) {
    left = left * 2 - count[b];
    if (left < 0) Fault("Over-subscribed set of code lengths");
  }

  uint32_t next[16] = {};
  for (uint32_t b = 2; b < 16; ++b) next[b] = (next[b - 1] + count[b - 1]) * 2;

  uint32_t lastUsed = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t len = lengths[i];
    if (len == 0) continue;
    codes[i].code = ReverseBits(next[len]++, len);
    lastUsed = i + 1;
  }
  if (sendCountOut != nullptr) *sendCountOut = lastUsed == 0 ? 1 : lastUsed;
}

CodeSpace MeasureCodeSpace(const uint8_t* lengths, uint32_t n) {
  CodeSpace space = {1 << 15, 0, 0};
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t len = lengths[i];
    if (len == 0) continue;
    space.left -= 1 << (15 - len);
    space.codes += 1;
    if (len > space.longest) space.longest = len;
  }
  return space;
}

}  // namespace trimbit
