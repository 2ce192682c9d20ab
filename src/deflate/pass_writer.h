// The writer of one pass over a block: it receives every literal, copy and
// end of block (from the symbol loop, or from the replay of the block's
// record) and writes it in the pass's form: with the codes as read (the
// first pass, which also records the symbols), with the fixed codes, with a
// new code, or as the bytes of a stored block. In every pass but the stored
// one a copy whose reference costs more than its bytes as literals is
// written as literals, and the counts are corrected to match.
//
// The writer keeps its position in its own fields while the loop runs, so
// it stays in registers: fields gather in a 64-bit accumulator whose lowest
// bit belongs at bit (bits & 7) of the byte at outPos (the bits below are
// already there), and go out by whole 32-bit words ORed into the zero-filled
// destination.
#pragma once

#include <cstdint>

#include "deflate/block_decoder.h"
#include "deflate/codec_state.h"
#include "deflate/decoded_digest.h"
#include "deflate/symbol_replay.h"
#include "deflate/work_spill.h"
#include "huffman/canonical_codes.h"
#include "support/byte_order.h"
#include "support/error.h"

namespace trimbit {

constexpr uint32_t kImpossible = 0xFFFFFFFF;  // the cost of what cannot be written

template <uint32_t kPass>
struct PassWriter {
  static constexpr bool kDigest = kPass == kOwnCodes;
  DecodedDigest* digest;       // the first pass digests what the block decodes to
  const CodeEntry* encLitLen;  // the codes of the pass (the block's own in the first)
  const CodeEntry* encDist;
  CodeWorkspace* work;  // the block's counts, corrected when a copy becomes literals
  Reencoder* spill;     // whose working buffer is written; its bytes go out at spillAt
  uint8_t* spillAt;
  uint8_t* outPos;
  uint64_t outBits;      // bits written, the accumulator's included
  uint64_t pending;      // bits not yet ORed into the destination, from bit (outBits & 7) up
  uint32_t pendingBits;  // counted from bit 0 of the byte at outPos
  // The first pass records the symbols while there is room; record becomes
  // null when there was not.
  uint32_t* record;
  uint32_t* recordEnd;
  // The shortest literal code (0 when no literal has one): a copy whose
  // bytes cost at least its reference even at that length stays a copy
  // without looking at its bytes.
  uint32_t shortestLiteral;

  // Starts writing at the writer position `w`.
  void Begin(const BitWriter& w) {
    outPos = w.outPos;
    outBits = w.outBits;
    spillAt = spill->spillAt;
    pending = 0;
    pendingBits = static_cast<uint32_t>(outBits & 7);
    shortestLiteral = 0;
    if constexpr (kPass != kStored) {
      uint32_t shortest = 16;
      for (uint32_t b = 0; b < 256; ++b) {
        const uint32_t length = encLitLen[b].length;
        if (length != 0 && length < shortest) shortest = length;
      }
      shortestLiteral = shortest == 16 ? 0 : shortest;
    }
  }
  // Puts the accumulator out and hands the position back: outPos becomes
  // the byte that takes the next bit.
  void Finish(BitWriter& w) {
    StoreLe32(outPos, LoadLe32(outPos) | static_cast<uint32_t>(pending));
    outPos += pendingBits >> 3;
    w.outPos = outPos;
    w.outBits = outBits;
  }

  void Record(uint32_t word) {
    if constexpr (kPass == kOwnCodes) {
      if (record != recordEnd) [[likely]] {
        *record++ = word;
      } else {
        record = nullptr;
        recordEnd = nullptr;
      }
    }
  }

  void Put(uint32_t value, uint32_t n) {
    pending |= static_cast<uint64_t>(value) << pendingBits;
    pendingBits += n;
    outBits += n;
    if (pendingBits >= 32) {
      StoreLe32(outPos, LoadLe32(outPos) | static_cast<uint32_t>(pending));
      outPos += 4;
      pending >>= 32;
      pendingBits -= 32;
      if (outPos >= spillAt) [[unlikely]]
        outPos = SpillBehind(*spill, outPos);
    }
  }
  void PutCode(uint32_t length, uint32_t code) {
    if (length == 0) [[unlikely]]
      Fault("Trying to write 0 bits");
    Put(code, length);
  }

  void Literal(uint32_t byte, uint32_t bits, uint32_t codeLength) {
    if constexpr (kPass == kOwnCodes) {
      Record(byte);
      PutCode(codeLength, bits);
    } else if constexpr (kPass == kStored) {
      Put(byte, 8);
    } else {
      PutCode(encLitLen[byte].length, encLitLen[byte].code);
    }
  }

  void Copy(const CopyEvent& c, const uint8_t* window, uint64_t windowPos) {
    Record(PackCopy(c));
    const uint64_t start = windowPos - c.length;
    auto byteAt = [&](uint32_t i) { return window[(start + i) & (kWindowSize - 1)]; };
    if constexpr (kPass == kStored) {
      for (uint32_t i = 0; i < c.length; ++i) Put(byteAt(i), 8);
      return;
    }
    const uint32_t extraBits = c.lengthExtraCount + c.distExtraCount;
    uint32_t refCost;
    if constexpr (kPass == kOwnCodes) {
      refCost = c.lengthCodeLength + c.distCodeLength + extraBits;
    } else {
      const uint32_t lengthCode = encLitLen[c.lengthSymbol].length;
      const uint32_t distCode = encDist[c.distSymbol].length;
      refCost = lengthCode + distCode + extraBits;
      if (kPass == kRedo && (lengthCode == 0 || distCode == 0)) refCost = kImpossible;
    }
    // The bytes as literals; the reference stays as soon as they cost as
    // much, or when one of them has no code.
    uint32_t litCost = 0;
    bool literalsPossible = true;
    const bool referenceCheaper = shortestLiteral != 0 && shortestLiteral * c.length >= refCost;
    for (uint32_t i = 0; i < c.length && !referenceCheaper; ++i) {
      const uint32_t length = encLitLen[byteAt(i)].length;
      if (length == 0) {
        literalsPossible = false;
        break;
      }
      litCost += length;
      if (litCost >= refCost) break;
    }
    if (!literalsPossible && refCost == kImpossible) [[unlikely]]
      Fault("Can do lit nor ref?!?!?!");
    if (!referenceCheaper && literalsPossible && refCost > litCost) {
      work->litLenCounts[c.lengthSymbol] -= 1;
      work->distCounts[c.distSymbol] -= 1;
      for (uint32_t i = 0; i < c.length; ++i) {
        const uint32_t b = byteAt(i);
        work->litLenCounts[b] += 1;
        PutCode(encLitLen[b].length, encLitLen[b].code);
      }
      return;
    }
    if constexpr (kPass == kOwnCodes) {
      PutCode(c.lengthCodeLength, c.lengthBits);
    } else {
      PutCode(encLitLen[c.lengthSymbol].length, encLitLen[c.lengthSymbol].code);
    }
    if (c.lengthExtraCount > 0) Put(c.lengthExtra, c.lengthExtraCount);
    if constexpr (kPass == kOwnCodes) {
      PutCode(c.distCodeLength, c.distBits);
    } else {
      PutCode(encDist[c.distSymbol].length, encDist[c.distSymbol].code);
    }
    if (c.distExtraCount > 0) Put(c.distExtra, c.distExtraCount);
  }

  void EndOfBlock(uint32_t bits, uint32_t codeLength) {
    if constexpr (kPass == kOwnCodes) {
      PutCode(codeLength, bits);
    } else if constexpr (kPass != kStored) {
      PutCode(encLitLen[256].length, encLitLen[256].code);
    }
  }
};

}  // namespace trimbit
