#include "deflate/tables.h"

#include <cstring>

#include "deflate/canonical_codes.h"
#include "deflate/decode_table.h"

DeflateTables tables = {};

const uint16_t LengthBase[32] = {3,  4,   5,   6,   7,   8,   9,   10, 11, 13, 15,
                                 17, 19,  23,  27,  31,  35,  43,  51, 59, 67, 83,
                                 99, 115, 131, 163, 195, 227, 258, 0,  0,  0};
const uint8_t LengthExtraBits[32] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                     3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 0, 0, 0};
const uint16_t DistanceBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                   33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                   1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t DistanceExtraBits[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                       6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
const uint8_t CodeLengthOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                     11, 4,  12, 3, 13, 2, 14, 1, 15};

void InitTables() {
  if (tables.fixedLitLenDecode.entries != nullptr) return;
  for (uint32_t n = 0; n < 32; ++n) tables.bitMask[n] = (n == 0) ? 0 : (0xFFFFFFFFu >> (32 - n));
  for (uint32_t i = 0; i < 32768; ++i) {
    uint32_t r = 0;
    for (uint32_t b = 0; b < 15; ++b) r |= ((i >> b) & 1) << (14 - b);
    tables.bitReverse15[i] = r;
  }

  uint8_t* lengths = codeWork.lengthsScratch;
  std::memset(lengths, 8, 144);
  std::memset(lengths + 144, 9, 112);
  std::memset(lengths + 256, 7, 24);
  std::memset(lengths + 280, 8, 8);
  BuildCanonicalCodes(lengths, 288, nullptr);
  std::memcpy(tables.fixedLitLenCodes, codeWork.codeTable, sizeof tables.fixedLitLenCodes);
  BuildDecodeTable(tables.fixedLitLenCodes, 288, 9, tables.fixedLitLenEntries, 512,
                   &tables.fixedLitLenDecode);

  std::memset(lengths, 5, 32);
  BuildCanonicalCodes(lengths, 32, nullptr);
  std::memcpy(tables.fixedDistCodes, codeWork.codeTable, sizeof tables.fixedDistCodes);
  BuildDecodeTable(tables.fixedDistCodes, 32, 5, tables.fixedDistEntries, 32,
                   &tables.fixedDistDecode);

  for (uint32_t v = 0; v < 256; ++v) {
    uint32_t c = v;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ ((c & 1) ? 0xEDB88320u : 0);
    tables.crcTable[v] = c;
  }
}

void FreeDecodeTables() {
  // Every decoding table lives in reused static storage: nothing to free.
  codeWork.litLenDecode = {};
  codeWork.distDecode = {};
  tables.fixedLitLenDecode = {};
  tables.fixedDistDecode = {};
}
