// Test helpers: code-length sequences from text, and a whole final dynamic
// block written from a tree header plan through the program's bit writer,
// so that zlib can judge what the Huffman builder makes. Tokens and their
// counts come from the deflate tests' stream builder.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "../deflate/stream_builder.h"
#include "huffman/tree_header.h"
#include "huffman/tree_optimiser.h"
#include "support/bit_writer.h"

namespace huffmantest {

using namespace handmade;
using namespace trimbit;
using Seq = std::vector<uint8_t>;

// A bit writer at the start of a zero-filled buffer.
inline BitWriter StartWriting(Bytes& out, size_t capacity) {
  out.assign(capacity, 0);
  return {out.data(), 0};
}

// A final dynamic block, from the writer's start: block type, counts, the
// plan's header written by EncodeTreeHeader (whose result is returned),
// then the tokens and end-of-block under the plan's codes.
inline uint32_t WritePlannedBlock(BitWriter& w, TieBreakState& tieBreak, TreeHeaderPlan& plan,
                                  const std::vector<Token>& tokens) {
  WriteBits(w, 1 | 2 << 1, 3);
  WriteBits(
      w,
      (plan.litLenCodeCount - 257) | (plan.distCodeCount - 1) << 5 | (plan.clCodeCount - 4) << 10,
      14);
  const uint32_t bits = EncodeTreeHeader(plan.clLengths, plan.clCodeCount, plan.codeLengthSequence,
                                         plan.sequenceLength, tieBreak, &w);
  auto put = [&w](const CodeEntry& entry, const Coded& c) {
    WriteCode(w, entry.length, entry.code);
    if (c.extraBits) WriteBits(w, c.extra, c.extraBits);
  };
  for (const Token& t : tokens) {
    const Coded l = t.distance ? LengthCode(t.value) : Coded{t.value, 0, 0};
    put(plan.litLenTable[l.symbol], l);
    if (t.distance) put(plan.distTable[DistanceCode(t.distance).symbol], DistanceCode(t.distance));
  }
  put(plan.litLenTable[256], {256, 0, 0});
  return bits;
}

// A sequence from "value ...", where "v*n" stands for n values v.
inline Seq ParseSeq(const std::string& text) {
  Seq seq;
  std::istringstream in(text);
  for (std::string item; in >> item;) {
    const size_t x = item.find('*');
    seq.insert(seq.end(), x == std::string::npos ? 1 : std::stoi(item.substr(x + 1)),
               static_cast<uint8_t>(std::stoi(item)));
  }
  return seq;
}

// Sum of 2^(15 - length) over the coded symbols: 32768 for a complete code.
inline uint32_t KraftSum(const uint8_t* lengths, uint32_t n) {
  uint32_t sum = 0;
  for (uint32_t i = 0; i < n; ++i) sum += lengths[i] ? 1u << (15 - lengths[i]) : 0;
  return sum;
}

}  // namespace huffmantest
