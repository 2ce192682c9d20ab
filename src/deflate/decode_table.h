// Building and reading the two-level decoding tables. A table lives in
// storage its owner reuses from block to block, so decoding a block
// allocates nothing.
#pragma once

#include <cstdint>

#include "huffman/canonical_codes.h"

namespace trimbit {

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

constexpr uint32_t kDecodeLink = 0x80000000u;

// First-level widths: codes up to this long take one lookup.
constexpr uint32_t kLitLenRootBits = 11;
constexpr uint32_t kDistRootBits = 8;
constexpr uint32_t kCodeLengthRootBits = 7;

// Capacities: the first level, plus at most one second-level table of
// 2^(15 - root) entries per code longer than the root.
constexpr uint32_t kLitLenTableSize =
    (1u << kLitLenRootBits) + 288 * (1u << (15 - kLitLenRootBits));
constexpr uint32_t kDistTableSize = (1u << kDistRootBits) + 32 * (1u << (15 - kDistRootBits));
constexpr uint32_t kCodeLengthTableSize = 1u << kCodeLengthRootBits;

// The storage of the tables of the block being decoded.
struct DecodeTableStorage {
  uint32_t litLen[kLitLenTableSize];
  uint32_t dist[kDistTableSize];
  uint32_t codeLength[kCodeLengthTableSize];
};

// Builds a table for the n codes as BuildCanonicalCodes makes them (length
// and code bits in stream order), which must form a prefix code, with a
// first level of at most rootLimit bits, into `storage` of `capacity`
// entries. Running out of room is an internal fault.
void BuildDecodeTable(const CodeEntry* codes, uint32_t n, uint32_t rootLimit, uint32_t* storage,
                      uint32_t capacity, DecodeTable* table);

// The entry for the next input bits (at least table.maxBits of them valid).
inline uint32_t LookUpCode(const DecodeTable& table, uint64_t bits) {
  uint32_t entry = table.entries[static_cast<uint32_t>(bits) & ((1u << table.rootBits) - 1)];
  if (entry & kDecodeLink) {
    const uint32_t width = (entry >> 16) & 31;
    entry = table.entries[(entry & 0xFFFF) +
                          (static_cast<uint32_t>(bits >> table.rootBits) & ((1u << width) - 1))];
  }
  return entry;
}

inline uint32_t EntrySymbol(uint32_t entry) {
  return entry & 0xFFFF;
}
inline uint32_t EntryLength(uint32_t entry) {
  return (entry >> 16) & 31;
}

}  // namespace trimbit
