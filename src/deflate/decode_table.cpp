#include "deflate/decode_table.h"

#include <cstring>

#include "support/error.h"

namespace trimbit {

void BuildDecodeTable(const CodeEntry* codes, uint32_t n, uint32_t rootLimit, uint32_t* storage,
                      uint32_t capacity, DecodeTable* table) {
  uint32_t maxBits = 0;
  for (uint32_t i = 0; i < n; ++i)
    if (codes[i].length > maxBits) maxBits = codes[i].length;
  const uint32_t rootBits = maxBits < rootLimit ? maxBits : rootLimit;
  const uint32_t rootSize = 1u << rootBits;
  const uint32_t subBits = maxBits - rootBits;
  const uint32_t subSize = 1u << subBits;
  std::memset(storage, 0, rootSize * sizeof *storage);
  uint32_t used = rootSize;
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t length = codes[i].length;
    if (length == 0) continue;
    const uint32_t code = codes[i].code;
    const uint32_t entry = i | length << 16;
    if (length <= rootBits) {
      for (uint32_t j = code; j < rootSize; j += 1u << length) storage[j] = entry;
      continue;
    }
    // In a prefix code no shorter code owns this first-level slot.
    uint32_t& link = storage[code & (rootSize - 1)];
    if ((link & kDecodeLink) == 0) {
      if (link != 0 || subSize > capacity - used) Fault("Decoding table overflow!?!?!?");
      std::memset(storage + used, 0, subSize * sizeof *storage);
      link = kDecodeLink | subBits << 16 | used;
      used += subSize;
    }
    uint32_t* sub = storage + (link & 0xFFFF);
    for (uint32_t j = code >> rootBits; j < subSize; j += 1u << (length - rootBits)) sub[j] = entry;
  }
  table->entries = storage;
  table->maxBits = maxBits;
  table->rootBits = rootBits;
}

}  // namespace trimbit
