// The re-encoder's one-time tables (bit masks, 15-bit reversal, the fixed
// codes, CRC-32) and the constant length and distance tables of deflate.
#pragma once

#include <cstdint>

#include "deflate/code_workspace.h"

struct DeflateTables {
  uint32_t bitMask[32];              // bitMask[n] = 2^n - 1
  uint32_t bitReverse15[32768];      // i with its 15 low bits reversed
  CodeEntry fixedLitLenCodes[288];   // the fixed literal/length code, ready to write
  CodeEntry fixedDistCodes[32];      // the fixed distance code, ready to write
  DecodeTable fixedLitLenDecode;     // decoding table of the fixed literal/length code (9 bits)
  DecodeTable fixedDistDecode;       // decoding table of the fixed distance code (5 bits)
  uint32_t fixedLitLenEntries[512];  // their entries
  uint32_t fixedDistEntries[32];
  uint32_t crcTable[256];  // CRC-32, reflected polynomial 0xEDB88320
};

extern DeflateTables tables;

extern const uint16_t LengthBase[32];      // symbols 257..288; 0 after 285
extern const uint8_t LengthExtraBits[32];  // symbols 257..288; 0 after 285
extern const uint16_t DistanceBase[30];
extern const uint8_t DistanceExtraBits[30];
extern const uint8_t CodeLengthOrder[19];

// Builds every table above; does nothing when they exist already.
void InitTables();

// Lets go of the current block's decoding tables and the fixed ones (all
// live in static storage); afterwards InitTables builds them again.
void FreeDecodeTables();
