// The one CRC-32 of the program (ISO 3309, as GZIP, PNG and ZIP use it:
// reflected polynomial 0xEDB88320). Long runs are folded with the carry-less
// multiply where the processor has it (chosen once per process), the rest
// eight bytes at a time through tables built at compile time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace trimbit {

// The register a running CRC-32 starts from; the CRC is its complement.
constexpr uint32_t kCrc32Start = 0xFFFFFFFF;

// The register after `length` more bytes at `data`.
uint32_t Crc32Update(uint32_t crcRegister, const uint8_t* data, size_t length);

// The CRC-32 of `length` bytes at `data`; 0 for none.
inline uint32_t Crc32(const uint8_t* data, size_t length) {
  return ~Crc32Update(kCrc32Start, data, length);
}

}  // namespace trimbit
