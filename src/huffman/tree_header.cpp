// The tree header of a dynamic block. Before anything is written the
// code-length sequence and its code are normalised: repeat codes that cost
// more than the lengths they stand for become literal lengths, a 17 after a
// zero becomes a cheaper 16, code lengths follow the symbol frequencies, and
// repeat codes left without use lose their code (the code is then rebuilt).
// The result is a fixed point: normalising it again changes nothing.
#include "huffman/tree_header.h"

#include <cstring>

#include "huffman/canonical_codes.h"
#include "huffman/code_lengths.h"
#include "huffman/deflate_alphabet.h"
#include "huffman/repeat_rules.h"
#include "support/error.h"

namespace trimbit {
namespace {

constexpr uint32_t kNoLastValue = 19;

// One normalisation walk: reads the sequence, writes the new one to `out`,
// counts its symbols and notes in `changed` whether anything was rewritten.
struct NormaliseWalk {
  const uint8_t* cl;
  uint32_t counts[19];
  uint8_t out[kSequenceCapacity];
  uint32_t outLength;
  bool changed;

  void Copy(uint32_t symbol) {
    if (outLength >= kSequenceCapacity) Fault("Too many code lengths in tree header!?!?!?");
    out[outLength++] = static_cast<uint8_t>(symbol);
  }
  void Literals(uint32_t value, uint32_t repeats) {
    if (repeats > kSequenceCapacity - outLength)
      Fault("Too many code lengths in tree header!?!?!?");
    std::memset(out + outLength, static_cast<int>(value), repeats);
    outLength += repeats;
    counts[value] += repeats;
    changed = true;
  }
  void Repeat(uint32_t symbol, uint32_t extra) {
    counts[symbol] += 1;
    Copy(symbol);
    Copy(extra);
  }
  // A 16 repeating `last`, kept unless the literal lengths are strictly cheaper.
  void Sixteen(uint32_t last, uint32_t extra) {
    if (LiteralsAreCheaper(RepeatRun(16, extra), cl[last], RepeatCodeBits(16, cl[16])))
      Literals(last, RepeatRun(16, extra));
    else
      Repeat(16, extra);
  }
  // A 17 or 18 repeating zeros, kept unless the literal zeros are strictly cheaper.
  void Zeros(uint32_t symbol, uint32_t extra) {
    if (LiteralsAreCheaper(RepeatRun(symbol, extra), cl[0], RepeatCodeBits(symbol, cl[symbol])))
      Literals(0, RepeatRun(symbol, extra));
    else
      Repeat(symbol, extra);
  }

  void Run(const uint8_t* sequence, uint32_t length) {
    std::memset(counts, 0, sizeof counts);
    outLength = 0;
    changed = false;
    uint32_t last = kNoLastValue;
    uint32_t i = 0;
    while (i < length) {
      const uint32_t symbol = sequence[i++];
      if (symbol <= 15) {
        counts[symbol] += 1;
        Copy(symbol);
        last = symbol;
        continue;
      }
      if (symbol > 18) Fault("Invalid code-length symbol!?!?!?");
      if (i >= length) Fault("Discrepancy in number of codes (location 1)");
      const uint32_t extra = sequence[i++];
      if (symbol == 16) {
        // The decoder lets a header open with a 16 (zlib does not): such a
        // stream is refused here.
        if (last == kNoLastValue) Refuse("Code 16, but there is no last value yet!?!?!?");
        Sixteen(last, extra);
        continue;
      }
      if (symbol == 18) {
        Zeros(18, extra);
      } else if (SixteenForSeventeen(last, extra, cl[16], cl[17])) {
        changed = true;
        Sixteen(0, extra);
      } else {
        Zeros(17, extra);
      }
      last = 0;
    }
  }
};

// Gives the shorter code to the more frequent symbol wherever two coded
// symbols are inverted; equal lengths or counts stay. Returns whether any
// lengths were exchanged.
bool OrderByFrequency(uint8_t* cl, const uint32_t* counts) {
  bool exchanged = false;
  for (uint32_t i = 0; i < 18; ++i) {
    if (cl[i] == 0) continue;
    for (uint32_t j = i + 1; j < 19; ++j) {
      if (cl[j] == 0) continue;
      if ((cl[j] < cl[i] && counts[i] > counts[j]) || (cl[j] > cl[i] && counts[i] < counts[j])) {
        const uint8_t t = cl[i];
        cl[i] = cl[j];
        cl[j] = t;
        exchanged = true;
      }
    }
  }
  return exchanged;
}

}  // namespace

// clLengths: 19 code-length-code lengths, updated in place. clCodeCount
// (4..19) must cover every symbol with a length. codeLengthSequence: the
// sequence (every 16, 17 and 18 followed by its extra value), rewritten in
// place; it must have room for kSequenceCapacity bytes. Without a writer
// returns the new sequence length; with one appends the code-length-code
// lengths and the sequence at the writer's position and returns
// 17 + 3 * clCodeCount + the bits of the sequence. Refuses a 16 with no
// length before it; a repeat code without its extra value or a symbol
// without a code are faults. `rebuilt`, when given, is set if the
// code-length code was rebuilt (under the carried tie-break mode).
uint32_t EncodeTreeHeader(uint8_t* clLengths, uint32_t clCodeCount, uint8_t* codeLengthSequence,
                          uint32_t sequenceLength, TieBreakState& tieBreak, BitWriter* writer,
                          bool* rebuilt) {
  NormaliseWalk walk;
  walk.cl = clLengths;
  for (;;) {
    walk.Run(codeLengthSequence, sequenceLength);
    bool changed = walk.changed;
    if (changed) {
      std::memcpy(codeLengthSequence, walk.out, walk.outLength);
      sequenceLength = walk.outLength;
    }
    if (OrderByFrequency(clLengths, walk.counts)) changed = true;

    // A repeat code nobody uses only takes room in the code: drop it and
    // rebuild the code from what the sequence now uses.
    bool dropped = false;
    for (uint32_t symbol = 16; symbol <= 18; ++symbol) {
      if (walk.counts[symbol] == 0 && clLengths[symbol] != 0) {
        clLengths[symbol] = 0;
        dropped = true;
      }
    }
    if (dropped) {
      BuildCodeLengths(walk.counts, 19, clLengths, 7, ReadCarriedMode(tieBreak));
      if (rebuilt != nullptr) *rebuilt = true;
    } else if (!changed) {
      break;
    }
  }

  if (writer == nullptr) return sequenceLength;

  BitWriter& w = *writer;
  CodeEntry codes[19];
  BuildCanonicalCodes(clLengths, 19, codes, nullptr);
  for (uint32_t k = 0; k < clCodeCount; ++k) WriteBits(w, clLengths[CodeLengthOrder[k]], 3);
  uint32_t bits = 17 + 3 * clCodeCount;
  uint32_t i = 0;
  while (i < sequenceLength) {
    const uint32_t symbol = codeLengthSequence[i++];
    WriteCode(w, codes[symbol].length, codes[symbol].code);
    bits += codes[symbol].length;
    if (symbol >= 16) {
      if (i >= sequenceLength) Fault("Discrepancy in number of codes (location 2)");
      const uint32_t extraBits = RepeatExtraBits[symbol - 16];
      WriteBits(w, codeLengthSequence[i++], extraBits);
      bits += extraBits;
    }
  }
  return bits;
}

}  // namespace trimbit
