// Building and reading the two-level decoding tables (DecodeTable in
// code_workspace.h). Every table lives in static storage reused from block
// to block, so decoding a block allocates nothing.
#pragma once

#include <cstdint>

#include "deflate/code_workspace.h"

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

extern DecodeTableStorage decodeStorage;

// Builds a table for the n codes given as codeTable holds them (length and
// code bits in stream order), which must form a prefix code (as
// BuildCanonicalCodes guarantees), with a first level of at most rootLimit
// bits, into `storage` of `capacity` entries.
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
