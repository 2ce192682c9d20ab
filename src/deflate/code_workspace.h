// The code tables and counts of the block in hand, shared by the decoder and
// the re-encoding passes: the decoder builds them, every pass over the block
// reads them, and the symbol loop counts into them.
#pragma once

#include <cstdint>

#include "deflate/decode_table.h"
#include "huffman/canonical_codes.h"

namespace trimbit {

// Room for 288 + 32 code lengths, a repeat of up to 138 running past them,
// and a sentinel.
constexpr uint32_t kLengthsScratchSize = 512;

struct CodeWorkspace {
  CodeEntry blockLitLenCodes[288];  // the block's own literal/length code, ready to write
  uint8_t lengthsScratch[kLengthsScratchSize];  // code lengths being decoded
  uint32_t litLenCounts[288];                   // literal/length symbols of the current block
  uint32_t distCounts[32];                      // distance symbols of the current block
  DecodeTable litLenDecode;  // decoding table of the current block (or the fixed one)
  DecodeTable distDecode;    // distance decoding table of the current block
};

}  // namespace trimbit
