// Code tables and working arrays shared by the decoder, the re-encoder and
// the Huffman code builder. Whatever the last user left here is what the
// next one reads, as the re-encoding rules expect.
#pragma once

#include <cstdint>

// One symbol of a code: its length (0: no code), its code and the symbol.
// In codeTable the code is bit-reversed, ready to be ORed into the output; in
// a decoding table it is the canonical code, most significant bit first.
struct CodeEntry {
  uint32_t length;
  uint32_t code;
  uint32_t symbol;
};

// A decoding table: a first level indexed by the next rootBits input bits
// and, for codes longer than that, second-level tables. Each entry packs the
// symbol (bits 0-15) and its code length (bits 16-20); a link entry (bit 31)
// holds instead the offset of its second-level table (bits 0-15) and that
// table's index width (bits 16-20). An all-zero entry: no code covers the bits.
struct DecodeTable {
  const uint32_t* entries;
  uint32_t maxBits;   // the longest code length: the bits looked at per symbol
  uint32_t rootBits;  // index width of the first level
};

// Room for 288 + 32 code lengths, a repeat of up to 138 running past them,
// and a sentinel.
constexpr uint32_t kLengthsScratchSize = 512;

struct CodeWorkspace {
  CodeEntry codeTable[288];                     // codes of the last BuildCanonicalCodes call
  uint8_t lengthsScratch[kLengthsScratchSize];  // code lengths being decoded or built
  uint32_t litLenCounts[288];                   // literal/length symbols of the current block
  uint32_t distCounts[32];                      // distance symbols of the current block
  uint32_t TieBreakMode;     // 0..3: how code construction breaks ties; process-wide
  DecodeTable litLenDecode;  // decoding table of the current block (or the fixed one)
  DecodeTable distDecode;    // distance decoding table of the current block
};

extern CodeWorkspace codeWork;
