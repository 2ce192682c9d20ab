// Hand-made deflate streams for the deflate tests: a tiny bit writer with
// writers for stored, fixed and dynamic blocks made from a list of tokens,
// over an independent canonical-code builder. The tests have zlib inflate
// what these build, which also vouches for the constant tables they borrow.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/zlib_util.h"
#include "huffman/deflate_alphabet.h"

namespace handmade {

using testutil::Bytes;
using trimbit::CodeLengthOrder;
using trimbit::DistanceBase;
using trimbit::DistanceExtraBits;
using trimbit::LengthBase;
using trimbit::LengthExtraBits;

// A literal (distance 0) or a copy of `value` bytes from `distance` back.
struct Token {
  uint32_t value, distance;
};
inline constexpr auto Lit = [](uint8_t b) { return Token{b, 0}; };
inline constexpr auto Copy = [](uint32_t length, uint32_t distance) {
  return Token{length, distance};
};

inline std::vector<Token> Literals(const std::string& text) {
  std::vector<Token> tokens;
  for (char c : text) tokens.push_back(Lit(static_cast<uint8_t>(c)));
  return tokens;
}

// An element of a code-length sequence: a symbol 0..18 and, for 16, 17 and
// 18, its extra value.
using SequenceElement = std::pair<uint32_t, uint32_t>;

// A deflate stream being written: fields least significant bit first, codes
// most significant bit first, and whole blocks.
struct BitSink {
  Bytes bytes;
  uint64_t bits = 0;
  // The last dynamic header written: its counts, HCLEN + 4 and the bits
  // its code-length sequence took.
  uint32_t litLenCount = 0, distCount = 0, clCount = 0, sequenceBits = 0;

  BitSink& Put(uint32_t value, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i, ++bits) {
      if (bits % 8 == 0) bytes.push_back(0);
      if ((value >> i) & 1) bytes.back() |= static_cast<uint8_t>(1u << (bits % 8));
    }
    return *this;
  }
  BitSink& PutCode(uint32_t code, uint32_t length) {
    for (uint32_t i = length; i-- > 0;) Put((code >> i) & 1, 1);
    return *this;
  }
  BitSink& Align() { return Put(0, static_cast<uint32_t>(-bits % 8)); }

  BitSink& Stored(bool final, const Bytes& data);
  BitSink& Fixed(bool final, const std::vector<Token>& tokens);
  // A dynamic block's header: counts, then `seq` (for litLens + dists
  // lengths) under a complete code-length code over the symbols it uses,
  // or under the 19 code-length-code lengths `cl` when given.
  BitSink& Header(bool final, uint32_t litLens, uint32_t dists,
                  const std::vector<SequenceElement>& seq, std::vector<uint8_t> cl = {});
  // A dynamic block whose codes are complete over the symbols the tokens
  // use (at least end-of-block and one distance symbol) and those in
  // `alsoDefined` (literal/length symbols as they are, distance d as
  // 286 + d), every length sent singly.
  BitSink& Dynamic(bool final, const std::vector<Token>& tokens,
                   const std::vector<uint32_t>& alsoDefined = {});
  // The tokens and an end-of-block code under the given code lengths.
  BitSink& Tokens(const std::vector<Token>& tokens, const std::vector<uint8_t>& ll,
                  const std::vector<uint8_t>& dl);
};

// RFC 1951 3.2.2, written out apart from the program's own routine.
inline std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t>& lengths) {
  uint32_t count[16] = {}, next[16] = {};
  for (uint8_t l : lengths) count[l] += l != 0;
  for (int b = 1; b < 16; ++b) next[b] = (next[b - 1] + count[b - 1]) << 1;
  std::vector<uint32_t> codes(lengths.size(), 0);
  for (size_t i = 0; i < lengths.size(); ++i)
    if (lengths[i]) codes[i] = next[lengths[i]]++;
  return codes;
}

// A complete code over the m symbols marked used (length 1 for a single
// one): with L = ceil(log2 m), the first 2^L - m get length L - 1, the rest L.
inline std::vector<uint8_t> CompleteLengths(const std::vector<bool>& used) {
  uint32_t m = static_cast<uint32_t>(std::count(used.begin(), used.end(), true)), L = 0, k = 0;
  while ((1u << L) < m) ++L;
  std::vector<uint8_t> lengths(used.size(), 0);
  for (size_t i = 0; i < used.size(); ++i)
    if (used[i]) lengths[i] = static_cast<uint8_t>(m == 1 ? 1 : k++ < (1u << L) - m ? L - 1 : L);
  return lengths;
}

inline std::vector<uint8_t> FixedLitLenLengths() {
  std::vector<uint8_t> l(288);
  for (int i = 0; i < 288; ++i) l[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
  return l;
}

// A length or a distance as its symbol and extra bits.
struct Coded {
  uint32_t symbol, extra, extraBits;
};
inline Coded LengthCode(uint32_t length) {
  uint32_t i = 28;
  while (LengthBase[i] > length) --i;
  return {257 + i, length - LengthBase[i], LengthExtraBits[i]};
}
inline Coded DistanceCode(uint32_t distance) {
  uint32_t i = 29;
  while (DistanceBase[i] > distance) --i;
  return {i, distance - DistanceBase[i], DistanceExtraBits[i]};
}

// Appends the bytes the tokens decode to after those already in *out.
inline void Expand(const std::vector<Token>& tokens, Bytes* out) {
  for (const Token& t : tokens) {
    if (t.distance == 0) out->push_back(static_cast<uint8_t>(t.value));
    for (uint32_t i = 0; t.distance && i < t.value; ++i)
      out->push_back((*out)[out->size() - t.distance]);
  }
}

// Symbol counts of a block of tokens, end-of-block included.
struct Counts {
  std::vector<uint32_t> litLen = std::vector<uint32_t>(288), dist = std::vector<uint32_t>(32);
  bool operator==(const Counts&) const = default;
};
inline Counts CountTokens(const std::vector<Token>& tokens) {
  Counts c;
  for (const Token& t : tokens) {
    c.litLen[t.distance ? LengthCode(t.value).symbol : t.value]++;
    if (t.distance) c.dist[DistanceCode(t.distance).symbol]++;
  }
  c.litLen[256]++;
  return c;
}

inline BitSink& BitSink::Tokens(const std::vector<Token>& tokens, const std::vector<uint8_t>& ll,
                                const std::vector<uint8_t>& dl) {
  const std::vector<uint32_t> lc = CanonicalCodes(ll), dc = CanonicalCodes(dl);
  for (const Token& t : tokens) {
    const Coded l = t.distance ? LengthCode(t.value) : Coded{t.value, 0, 0};
    PutCode(lc[l.symbol], ll[l.symbol]).Put(l.extra, l.extraBits);
    if (t.distance == 0) continue;
    const Coded d = DistanceCode(t.distance);
    PutCode(dc[d.symbol], dl[d.symbol]).Put(d.extra, d.extraBits);
  }
  return PutCode(lc[256], ll[256]);
}

inline BitSink& BitSink::Stored(bool final, const Bytes& data) {
  const uint32_t len = static_cast<uint32_t>(data.size());
  Put(final, 3).Align().Put(len | (len ^ 0xFFFF) << 16, 32);
  for (uint8_t b : data) Put(b, 8);
  return *this;
}

inline BitSink& BitSink::Fixed(bool final, const std::vector<Token>& tokens) {
  return Put(final | 2, 3).Tokens(tokens, FixedLitLenLengths(), std::vector<uint8_t>(32, 5));
}

inline BitSink& BitSink::Header(bool final, uint32_t litLens, uint32_t dists,
                                const std::vector<SequenceElement>& seq, std::vector<uint8_t> cl) {
  std::vector<bool> used(19, false);
  for (const SequenceElement& e : seq) used[e.first] = true;
  if (cl.empty()) cl = CompleteLengths(used);
  const std::vector<uint32_t> codes = CanonicalCodes(cl);
  litLenCount = litLens;
  distCount = dists;
  for (clCount = 19; clCount > 4 && cl[CodeLengthOrder[clCount - 1]] == 0;) --clCount;
  Put(final | 4, 3).Put((litLens - 257) | (dists - 1) << 5 | (clCount - 4) << 10, 14);
  for (uint32_t i = 0; i < clCount; ++i) Put(cl[CodeLengthOrder[i]], 3);
  const uint64_t start = bits;
  for (const auto& [symbol, extra] : seq)
    PutCode(codes[symbol], cl[symbol])
        .Put(extra, symbol == 16   ? 2
                    : symbol == 17 ? 3
                    : symbol == 18 ? 7
                                   : 0);
  sequenceBits = static_cast<uint32_t>(bits - start);
  return *this;
}

inline BitSink& BitSink::Dynamic(bool final, const std::vector<Token>& tokens,
                                 const std::vector<uint32_t>& alsoDefined) {
  const Counts c = CountTokens(tokens);
  std::vector<bool> litUsed(286), distUsed(30);
  for (int i = 0; i < 286; ++i) litUsed[i] = c.litLen[i] > 0;
  for (int i = 0; i < 30; ++i) distUsed[i] = c.dist[i] > 0;
  for (uint32_t d : alsoDefined) (d < 286 ? litUsed[d] : distUsed[d - 286]) = true;
  distUsed[0] = distUsed[0] || std::count(distUsed.begin(), distUsed.end(), true) == 0;
  std::vector<uint8_t> ll = CompleteLengths(litUsed), dl = CompleteLengths(distUsed);
  while (ll.size() > 257 && ll.back() == 0) ll.pop_back();
  while (dl.size() > 1 && dl.back() == 0) dl.pop_back();
  std::vector<SequenceElement> seq;
  for (uint8_t l : ll) seq.push_back({l, 0});
  for (uint8_t l : dl) seq.push_back({l, 0});
  return Header(final, static_cast<uint32_t>(ll.size()), static_cast<uint32_t>(dl.size()), seq)
      .Tokens(tokens, ll, dl);
}

// Deterministic tokens over 20 letters, one in `copyEvery` (none for 0) a
// copy that reaches back into the `history` bytes before it.
inline std::vector<Token> SomeTokens(uint32_t count, uint32_t seed, size_t history,
                                     uint32_t copyEvery = 3) {
  std::vector<Token> tokens;
  uint32_t state = seed * 2654435761u;
  for (uint32_t i = 0; i < count; ++i) {
    state = state * 1103515245u + 12345u;
    const uint32_t r = state >> 8;
    const uint32_t reach = static_cast<uint32_t>(std::min<size_t>(history, 32768));
    tokens.push_back(reach && copyEvery && r % copyEvery == 0
                         ? Copy(3 + r / 3 % 256, 1 + r / 768 % reach)
                         : Lit(static_cast<uint8_t>('a' + r % 20)));
    history += tokens.back().distance ? tokens.back().value : 1;
  }
  return tokens;
}

}  // namespace handmade
