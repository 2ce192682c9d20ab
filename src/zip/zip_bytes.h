// Little-endian fields of the ZIP records: the loads of support/byte_order.h,
// and stores that step over the field they wrote, as the record writers
// lay out one field after another.
#pragma once

#include <cstdint>

#include "support/byte_order.h"

using trimbit::LoadLe16;
using trimbit::LoadLe32;

inline uint8_t* PutLe16(uint8_t* p, uint16_t value) {
  trimbit::StoreLe16(p, value);
  return p + 2;
}

inline uint8_t* PutLe32(uint8_t* p, uint32_t value) {
  trimbit::StoreLe32(p, value);
  return p + 4;
}
