// The fixed codes of deflate (RFC 1951 3.2.6), ready to write and to decode
// with. Built once per process, on first use, and never changed after.
#pragma once

#include <cstdint>

#include "deflate/decode_table.h"
#include "huffman/canonical_codes.h"

namespace trimbit {

struct FixedCodes {
  CodeEntry litLen[288];        // the fixed literal/length code, ready to write
  CodeEntry dist[32];           // the fixed distance code, ready to write
  uint32_t litLenEntries[512];  // decoding table entries of the literal/length code
  uint32_t distEntries[32];     // and of the distance code
  DecodeTable litLenDecode;     // over litLenEntries, 9 bits
  DecodeTable distDecode;       // over distEntries, 5 bits

  FixedCodes();
  FixedCodes(const FixedCodes&) = delete;
  FixedCodes& operator=(const FixedCodes&) = delete;
};

// The one set of fixed codes; safe to call from any thread.
const FixedCodes& GetFixedCodes();

}  // namespace trimbit
