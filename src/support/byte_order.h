// Multi-byte fields in a fixed byte order, loaded from and stored to
// unaligned memory. Little-endian loads compile to single moves on the
// little-endian hosts the program supports; big-endian fields (PNG) are
// assembled byte by byte.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace trimbit {

static_assert(std::endian::native == std::endian::little,
              "the bit reader and writer move little-endian words");

inline uint16_t LoadLe16(const uint8_t* p) {
  uint16_t value;
  std::memcpy(&value, p, 2);
  return value;
}

inline uint32_t LoadLe32(const uint8_t* p) {
  uint32_t value;
  std::memcpy(&value, p, 4);
  return value;
}

inline uint64_t LoadLe64(const uint8_t* p) {
  uint64_t value;
  std::memcpy(&value, p, 8);
  return value;
}

inline uint32_t LoadBe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]);
}

inline void StoreLe16(uint8_t* p, uint16_t value) {
  std::memcpy(p, &value, 2);
}

inline void StoreLe32(uint8_t* p, uint32_t value) {
  std::memcpy(p, &value, 4);
}

inline void StoreBe32(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value >> 24);
  p[1] = static_cast<uint8_t>(value >> 16);
  p[2] = static_cast<uint8_t>(value >> 8);
  p[3] = static_cast<uint8_t>(value);
}

}  // namespace trimbit
