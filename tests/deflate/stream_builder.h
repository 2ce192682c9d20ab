// Hand-made deflate streams for the deflate tests: a tiny bit writer, an
// independent canonical-code builder and writers for stored, fixed and
// dynamic blocks made from a list of tokens. zlib inflates what they build,
// so the tests can trust them as a second opinion on the decoder.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "common/zlib_util.h"

namespace handmade {

using testutil::Bytes;

// Appends fields least significant bit first; codes most significant bit first.
struct BitSink {
  Bytes bytes;
  uint64_t bits = 0;

  void Put(uint32_t value, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i, ++bits) {
      if (bits % 8 == 0) bytes.push_back(0);
      if ((value >> i) & 1) bytes.back() |= static_cast<uint8_t>(1u << (bits % 8));
    }
  }
  void PutCode(uint32_t code, uint32_t length) {
    for (uint32_t i = length; i-- > 0;) Put((code >> i) & 1, 1);
  }
  void Align() {
    while (bits % 8) Put(0, 1);
  }
};

// RFC 1951 3.2.2, written out separately from the program's own routine.
inline std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t>& lengths) {
  uint32_t count[16] = {};
  for (uint8_t l : lengths) count[l]++;
  count[0] = 0;
  uint32_t next[16] = {};
  uint32_t code = 0;
  for (int b = 1; b < 16; ++b) {
    code = (code + count[b - 1]) << 1;
    next[b] = code;
  }
  std::vector<uint32_t> codes(lengths.size(), 0);
  for (size_t i = 0; i < lengths.size(); ++i)
    if (lengths[i]) codes[i] = next[lengths[i]]++;
  return codes;
}

// A complete code over the symbols marked used: with m of them and
// L = ceil(log2 m), 2^L - m get length L - 1 and the others L.
inline std::vector<uint8_t> CompleteLengths(const std::vector<bool>& used) {
  std::vector<uint32_t> symbols;
  for (uint32_t i = 0; i < used.size(); ++i)
    if (used[i]) symbols.push_back(i);
  std::vector<uint8_t> lengths(used.size(), 0);
  const uint32_t m = static_cast<uint32_t>(symbols.size());
  if (m == 0) return lengths;
  if (m == 1) {
    lengths[symbols[0]] = 1;
    return lengths;
  }
  uint32_t L = 0;
  while ((1u << L) < m) ++L;
  const uint32_t shorter = (1u << L) - m;
  for (uint32_t k = 0; k < m; ++k)
    lengths[symbols[k]] = static_cast<uint8_t>(k < shorter ? L - 1 : L);
  return lengths;
}

// A literal (distance 0) or a copy of `length` bytes from `distance` back.
struct Token {
  uint32_t value;     // the byte, or the copy length (3..258)
  uint32_t distance;  // 0 for a literal
};

inline Token Lit(uint8_t b) {
  return {b, 0};
}
inline Token Copy(uint32_t length, uint32_t distance) {
  return {length, distance};
}

struct Coded {
  uint32_t symbol;
  uint32_t extra;
  uint32_t extraBits;
};

// Length and distance to symbol and extra bits, from the RFC's tables.
inline Coded LengthCode(uint32_t length) {
  static const uint32_t base[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
  static const uint32_t extra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                   2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
  uint32_t i = 28;
  while (base[i] > length) --i;
  return {257 + i, length - base[i], extra[i]};
}
inline Coded DistanceCode(uint32_t distance) {
  uint32_t i = 29;
  while (true) {
    const uint32_t extraBits = i < 4 ? 0 : (i - 2) / 2;
    const uint32_t base = i < 4 ? i + 1 : ((2u + (i & 1)) << extraBits) + 1;
    if (base <= distance) return {i, distance - base, extraBits};
    --i;
  }
}

// The bytes the tokens decode to, given what came before them.
inline void Expand(const std::vector<Token>& tokens, Bytes* out) {
  for (const Token& t : tokens) {
    if (t.distance == 0) {
      out->push_back(static_cast<uint8_t>(t.value));
    } else {
      for (uint32_t i = 0; i < t.value; ++i) out->push_back((*out)[out->size() - t.distance]);
    }
  }
}

// Symbol counts of a block of tokens, end-of-block included.
struct Counts {
  std::vector<uint32_t> litLen = std::vector<uint32_t>(288, 0);
  std::vector<uint32_t> dist = std::vector<uint32_t>(32, 0);
};
inline Counts CountTokens(const std::vector<Token>& tokens) {
  Counts c;
  for (const Token& t : tokens) {
    if (t.distance == 0) {
      c.litLen[t.value]++;
    } else {
      c.litLen[LengthCode(t.value).symbol]++;
      c.dist[DistanceCode(t.distance).symbol]++;
    }
  }
  c.litLen[256]++;
  return c;
}

inline std::vector<uint8_t> FixedLitLenLengths() {
  std::vector<uint8_t> l(288);
  for (int i = 0; i < 288; ++i) l[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
  return l;
}

// Writes the tokens and an end-of-block code with the given lengths.
inline void PutTokens(BitSink& s, const std::vector<Token>& tokens,
                      const std::vector<uint8_t>& litLenLengths,
                      const std::vector<uint8_t>& distLengths) {
  const std::vector<uint32_t> lc = CanonicalCodes(litLenLengths);
  const std::vector<uint32_t> dc = CanonicalCodes(distLengths);
  for (const Token& t : tokens) {
    if (t.distance == 0) {
      s.PutCode(lc[t.value], litLenLengths[t.value]);
      continue;
    }
    const Coded l = LengthCode(t.value);
    s.PutCode(lc[l.symbol], litLenLengths[l.symbol]);
    s.Put(l.extra, l.extraBits);
    const Coded d = DistanceCode(t.distance);
    s.PutCode(dc[d.symbol], distLengths[d.symbol]);
    s.Put(d.extra, d.extraBits);
  }
  s.PutCode(lc[256], litLenLengths[256]);
}

inline void PutStoredBlock(BitSink& s, bool final, const Bytes& data) {
  s.Put(final, 1);
  s.Put(0, 2);
  s.Align();
  s.Put(static_cast<uint32_t>(data.size()), 16);
  s.Put(static_cast<uint32_t>(data.size()) ^ 0xFFFF, 16);
  for (uint8_t b : data) s.Put(b, 8);
}

inline void PutFixedBlock(BitSink& s, bool final, const std::vector<Token>& tokens) {
  s.Put(final, 1);
  s.Put(1, 2);
  PutTokens(s, tokens, FixedLitLenLengths(), std::vector<uint8_t>(32, 5));
}

// An element of a code-length sequence: a symbol 0..18 and, for 16, 17 and
// 18, its extra value.
using SequenceElement = std::pair<uint32_t, uint32_t>;

// The lengths written one by one: the simplest valid sequence.
inline std::vector<SequenceElement> SingleSequence(const std::vector<uint8_t>& lengths) {
  std::vector<SequenceElement> seq;
  for (uint8_t l : lengths) seq.push_back({l, 0});
  return seq;
}

// A dynamic header: block type, counts, code-length code and the given
// sequence (describing litLenCount + distCount lengths), with a complete
// code-length code over the symbols the sequence uses. Returns the bits the
// sequence took; the number of code-length code lengths sent goes to
// *clCountOut.
inline uint64_t PutDynamicHeader(BitSink& s, bool final, uint32_t litLenCount, uint32_t distCount,
                                 const std::vector<SequenceElement>& seq,
                                 uint32_t* clCountOut = nullptr) {
  static const uint32_t order[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                     11, 4,  12, 3, 13, 2, 14, 1, 15};
  std::vector<bool> used(19, false);
  for (const SequenceElement& e : seq) used[e.first] = true;
  std::vector<uint8_t> cl = CompleteLengths(used);
  uint32_t clCount = 19;
  while (clCount > 4 && cl[order[clCount - 1]] == 0) --clCount;
  if (clCountOut) *clCountOut = clCount;
  s.Put(final, 1);
  s.Put(2, 2);
  s.Put(litLenCount - 257, 5);
  s.Put(distCount - 1, 5);
  s.Put(clCount - 4, 4);
  for (uint32_t i = 0; i < clCount; ++i) s.Put(cl[order[i]], 3);
  const std::vector<uint32_t> codes = CanonicalCodes(cl);
  const uint64_t start = s.bits;
  for (const SequenceElement& e : seq) {
    s.PutCode(codes[e.first], cl[e.first]);
    if (e.first == 16) s.Put(e.second, 2);
    if (e.first == 17) s.Put(e.second, 3);
    if (e.first == 18) s.Put(e.second, 7);
  }
  return s.bits - start;
}

// The lengths run-length coded: each run that allows a repeat code takes
// one when `useRepeat` (called once per such run) says so.
template <class Choice>
std::vector<SequenceElement> RepeatSequence(const std::vector<uint8_t>& lengths, Choice useRepeat) {
  std::vector<SequenceElement> seq;
  for (size_t i = 0; i < lengths.size();) {
    size_t end = i;
    while (end < lengths.size() && lengths[end] == lengths[i]) ++end;
    const uint32_t run = static_cast<uint32_t>(end - i);
    if (lengths[i] == 0 && run >= 11 && useRepeat()) {
      const uint32_t r = run < 138 ? run : 138;
      seq.push_back({18, r - 11});
      i += r;
    } else if (lengths[i] == 0 && run >= 3 && useRepeat()) {
      const uint32_t r = run < 10 ? run : 10;
      seq.push_back({17, r - 3});
      i += r;
    } else if (lengths[i] != 0 && run >= 4 && useRepeat()) {
      const uint32_t r = run - 1 < 6 ? run - 1 : 6;
      seq.push_back({lengths[i], 0});
      seq.push_back({16, r - 3});
      i += r + 1;
    } else {
      seq.push_back({lengths[i], 0});
      i += 1;
    }
  }
  return seq;
}

// What a dynamic block's header declared.
struct DynamicInfo {
  uint32_t litLenCount;
  uint32_t distCount;
  uint32_t clCount;
  uint64_t sequenceBits;
};

// A dynamic block whose codes are complete codes over the symbols the
// tokens use (at least end-of-block and one distance symbol) and those
// in `alsoDefined` (literal/length symbols as they are, distance symbol d as
// 286 + d), with the lengths sent as `sequence` makes them.
template <class Sequence>
DynamicInfo PutDynamicBlock(BitSink& s, bool final, const std::vector<Token>& tokens,
                            const std::vector<uint32_t>& alsoDefined, Sequence sequence) {
  const Counts c = CountTokens(tokens);
  std::vector<bool> litUsed(286), distUsed(30);
  for (int i = 0; i < 286; ++i) litUsed[i] = c.litLen[i] > 0;
  for (int i = 0; i < 30; ++i) distUsed[i] = c.dist[i] > 0;
  for (uint32_t d : alsoDefined) (d < 286 ? litUsed[d] : distUsed[d - 286]) = true;
  bool anyDistance = false;
  for (int i = 0; i < 30; ++i) anyDistance = anyDistance || distUsed[i];
  if (!anyDistance) distUsed[0] = true;  // a header needs at least one distance length
  std::vector<uint8_t> ll = CompleteLengths(litUsed);
  std::vector<uint8_t> dl = CompleteLengths(distUsed);
  uint32_t litCount = 286, distCount = 30;
  while (litCount > 257 && ll[litCount - 1] == 0) --litCount;
  while (distCount > 1 && dl[distCount - 1] == 0) --distCount;
  ll.resize(litCount);
  dl.resize(distCount);
  std::vector<uint8_t> all = ll;
  all.insert(all.end(), dl.begin(), dl.end());
  DynamicInfo info = {litCount, distCount, 0, 0};
  info.sequenceBits = PutDynamicHeader(s, final, litCount, distCount, sequence(all), &info.clCount);
  PutTokens(s, tokens, ll, dl);
  return info;
}

// The same with every length sent singly.
inline DynamicInfo PutDynamicBlock(BitSink& s, bool final, const std::vector<Token>& tokens) {
  return PutDynamicBlock(s, final, tokens, {}, SingleSequence);
}

// Deterministic tokens over a small alphabet with copies that reach back
// into `history` earlier bytes (those of preceding blocks).
inline std::vector<Token> RandomTokens(uint32_t count, uint32_t seed, size_t history,
                                       uint8_t firstByte = 'a', uint32_t alphabet = 20) {
  std::vector<Token> tokens;
  uint32_t state = seed * 2654435761u + 1;
  auto next = [&]() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  size_t produced = history;
  for (uint32_t i = 0; i < count; ++i) {
    if (produced > 0 && next() % 3 == 0) {
      uint32_t length = 3 + next() % 256;
      uint32_t distance = 1 + next() % static_cast<uint32_t>(produced < 32768 ? produced : 32768);
      tokens.push_back(Copy(length, distance));
      produced += length;
    } else {
      tokens.push_back(Lit(static_cast<uint8_t>(firstByte + next() % alphabet)));
      produced += 1;
    }
  }
  return tokens;
}

}  // namespace handmade
