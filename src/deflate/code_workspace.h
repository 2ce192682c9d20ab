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

// Room for 288 + 32 code lengths, a repeat of up to 138 running past them,
// and a sentinel.
constexpr uint32_t kLengthsScratchSize = 512;

struct CodeWorkspace {
  CodeEntry codeTable[288];                    // codes of the last BuildCanonicalCodes call
  uint8_t lengthsScratch[kLengthsScratchSize]; // code lengths being decoded or built
  uint32_t litLenCounts[288];                  // literal/length symbols of the current block
  uint32_t distCounts[32];                     // distance symbols of the current block
  uint32_t TieBreakMode;                       // 0..3: how code construction breaks ties; process-wide
  CodeEntry* litLenDecode;                     // decoding table of the current block (or the fixed one)
  uint32_t litLenMaxBits;                      // its index width in bits
  CodeEntry* distDecode;                       // distance decoding table of the current block
  uint32_t distMaxBits;                        // its index width in bits
};

extern CodeWorkspace codeWork;
