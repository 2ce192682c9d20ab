// Little-endian fields of the ZIP records as the record writers lay them
// out, one after another: each store steps over the field it wrote.
#pragma once

#include <cstdint>

#include "support/byte_order.h"

namespace trimbit {

inline uint8_t* PutLe16(uint8_t* p, uint16_t value) {
  StoreLe16(p, value);
  return p + 2;
}

inline uint8_t* PutLe32(uint8_t* p, uint32_t value) {
  StoreLe32(p, value);
  return p + 4;
}

}  // namespace trimbit
