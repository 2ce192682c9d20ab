#include "zip/zip_extra_field.h"

#include <cstring>

#include "support/byte_order.h"

namespace trimbit {

uint16_t KeepNeededExtraSubfields(uint8_t* field, uint16_t length, bool keepComment) {
  uint32_t kept = 0;
  uint32_t at = 0;
  // Each subfield: tag (2 bytes), payload length (2 bytes), payload.
  while (field != nullptr && uint32_t{length} - at >= 4) {
    const uint16_t tag = LoadLe16(field + at);
    const uint32_t size = 4u + LoadLe16(field + at + 2);
    if (size > uint32_t{length} - at) break;
    if (tag == kUnicodePathTag || (keepComment && tag == kUnicodeCommentTag)) {
      std::memmove(field + kept, field + at, size);  // kept never passes at
      kept += size;
    }
    at += size;
  }
  return static_cast<uint16_t>(kept);
}

}  // namespace trimbit
