// What a block costs in the two forms that need no search: stored, and
// with the fixed codes. The passes decide by these and the verbose report
// shows them, from the same rule.
#pragma once

#include <cstdint>

namespace trimbit {

// Bits of a stored block holding `bytes` bytes whose header starts at
// output bit `headerBit`: 3 header bits, the padding to the next byte, LEN
// and NLEN, and the data.
inline uint64_t StoredBlockBits(uint64_t bytes, uint64_t headerBit) {
  const uint64_t pad = (8 - ((headerBit + 3) % 8)) % 8;
  return 8 * bytes + 35 + pad;
}

// Bits of a block with the fixed codes and these symbol counts (3 header
// bits, codes and extra bits; litLenCodeCount and distCodeCount say how
// many counts there are).
uint64_t FixedBlockBits(const uint32_t* litLenCounts, uint32_t litLenCodeCount,
                        const uint32_t* distCounts, uint32_t distCodeCount);

}  // namespace trimbit
