#include "deflate/block_cost.h"

#include "deflate/fixed_codes.h"
#include "huffman/deflate_alphabet.h"

namespace trimbit {

uint64_t FixedBlockBits(const uint32_t* litLenCounts, uint32_t litLenCodeCount,
                        const uint32_t* distCounts, uint32_t distCodeCount) {
  const FixedCodes& fixed = GetFixedCodes();
  uint64_t cost = 3;
  for (uint32_t i = 0; i < litLenCodeCount; ++i)
    cost += static_cast<uint64_t>(litLenCounts[i]) * (fixed.litLen[i].length + LitLenExtraBits(i));
  const uint32_t distLimit = distCodeCount < 30 ? distCodeCount : 30;
  for (uint32_t d = 0; d < distLimit; ++d)
    cost += static_cast<uint64_t>(distCounts[d]) * (DistanceExtraBits[d] + fixed.dist[d].length);
  return cost;
}

}  // namespace trimbit
