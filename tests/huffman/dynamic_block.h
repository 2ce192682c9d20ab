// Test helpers: bytes as literal/copy tokens, writing a whole dynamic block
// from a tree header plan, and reading a code-length sequence back as
// RFC 1951 defines it, so that zlib can judge what the Huffman builder makes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "common/zlib_util.h"
#include "deflate/bit_writer.h"
#include "deflate/tables.h"
#include "huffman/tree_header.h"
#include "huffman/tree_optimiser.h"

namespace huffmantest {

using testutil::Bytes;

// A literal (symbol < 256), the end of the block (256), or a copy.
struct Token {
  uint32_t symbol, lengthExtra = 0, lengthBits = 0, dist = 0, distExtra = 0, distBits = 0;
};

// Greedy matches against the last earlier position with the same 3 bytes.
inline std::vector<Token> Tokenise(const Bytes& data, bool copies = true) {
  std::vector<Token> tokens;
  std::vector<int64_t> last(1 << 16, -1);
  auto key = [&](size_t p) { return (data[p] << 8 ^ data[p + 1] << 4 ^ data[p + 2]) & 0xFFFF; };
  for (size_t i = 0; i < data.size();) {
    size_t n = 0;
    const int64_t prev = copies && i + 3 <= data.size() ? last[key(i)] : -1;
    while (prev >= 0 && i + n < data.size() && n < 258 && data[prev + n] == data[i + n]) ++n;
    if (n < 3 || i - prev > 32768) n = 1;
    for (size_t k = 0; k < n && i + k + 3 <= data.size(); ++k)
      last[key(i + k)] = static_cast<int64_t>(i + k);
    if (n == 1) {
      tokens.push_back({data[i++]});
      continue;
    }
    const uint32_t distance = static_cast<uint32_t>(i - prev);
    uint32_t l = 28, d = 29;
    while (LengthBase[l] > n) --l;
    while (DistanceBase[d] > distance) --d;
    tokens.push_back({257 + l, static_cast<uint32_t>(n) - LengthBase[l], LengthExtraBits[l], d,
                      distance - DistanceBase[d], DistanceExtraBits[d]});
    i += n;
  }
  tokens.push_back({256});
  return tokens;
}

inline void CountTokens(const std::vector<Token>& tokens, uint32_t* litLen, uint32_t* dist) {
  std::memset(litLen, 0, 286 * sizeof(uint32_t));
  std::memset(dist, 0, 30 * sizeof(uint32_t));
  for (const Token& t : tokens) {
    litLen[t.symbol] += 1;
    if (t.symbol > 256) dist[t.dist] += 1;
  }
}

// Points the bit writer at a zero-filled buffer.
inline void StartWriting(Bytes& out, size_t capacity) {
  out.assign(capacity, 0);
  cursor.state.outPos = out.data();
  cursor.state.outBits = 0;
}

inline void WriteTokens(const std::vector<Token>& tokens, const CodeEntry* litLen,
                        const CodeEntry* dist) {
  for (const Token& t : tokens) {
    WriteCode(litLen[t.symbol].length, litLen[t.symbol].code);
    if (t.symbol <= 256) continue;
    if (t.lengthBits) WriteBits(t.lengthExtra, t.lengthBits);
    WriteCode(dist[t.dist].length, dist[t.dist].code);
    if (t.distBits) WriteBits(t.distExtra, t.distBits);
  }
}

// A final dynamic block, from the writer's start: block type, counts, the
// plan's header written by EncodeTreeHeader (whose result must be the bits
// written so far, and is returned), then the tokens.
inline uint32_t WritePlannedBlock(TreeHeaderPlan& plan, const std::vector<Token>& tokens) {
  WriteBits(1, 1);
  WriteBits(2, 2);
  WriteBits(plan.litLenCodeCount - 257, 5);
  WriteBits(plan.distCodeCount - 1, 5);
  WriteBits(plan.clCodeCount - 4, 4);
  const uint32_t bits = EncodeTreeHeader(plan.clLengths, plan.clCodeCount, plan.codeLengthSequence,
                                         plan.sequenceLength, true);
  WriteTokens(tokens, plan.litLenTable, plan.distTable);
  return bits;
}

// The code lengths a sequence describes; false if it is malformed.
inline bool ExpandSequence(const uint8_t* seq, uint32_t length, std::vector<uint8_t>* lengths) {
  lengths->clear();
  for (uint32_t i = 0; i < length; ++i) {
    const uint8_t s = seq[i];
    if (s > 18 || (s > 15 && i + 1 >= length) || (s == 16 && lengths->empty())) return false;
    if (s <= 15) lengths->push_back(s);
    if (s == 16) lengths->insert(lengths->end(), seq[++i] + 3, lengths->back());
    if (s > 16) lengths->insert(lengths->end(), seq[++i] + (s == 17 ? 3 : 11), 0);
  }
  return true;
}

// Sum of 2^(15 - length) over the coded symbols: 32768 for a complete code.
inline uint32_t KraftSum(const uint8_t* lengths, uint32_t n) {
  uint32_t sum = 0;
  for (uint32_t i = 0; i < n; ++i) sum += lengths[i] ? 1u << (15 - lengths[i]) : 0;
  return sum;
}

}  // namespace huffmantest
