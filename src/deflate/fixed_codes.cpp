#include "deflate/fixed_codes.h"

#include <cstring>

namespace trimbit {

FixedCodes::FixedCodes() {
  uint8_t lengths[288];
  std::memset(lengths, 8, 144);
  std::memset(lengths + 144, 9, 112);
  std::memset(lengths + 256, 7, 24);
  std::memset(lengths + 280, 8, 8);
  BuildCanonicalCodes(lengths, 288, litLen, nullptr);
  BuildDecodeTable(litLen, 288, 9, litLenEntries, 512, &litLenDecode);

  std::memset(lengths, 5, 32);
  BuildCanonicalCodes(lengths, 32, dist, nullptr);
  BuildDecodeTable(dist, 32, 5, distEntries, 32, &distDecode);
}

const FixedCodes& GetFixedCodes() {
  static const FixedCodes codes;
  return codes;
}

}  // namespace trimbit
