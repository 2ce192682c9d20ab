// New block boundaries for a stream whose literals and copies stay as they
// are: compressors mostly end a block when a buffer fills, not where the data
// change, so the same symbols cut elsewhere often cost fewer bits.
//
// The search works on estimates (entropy of the symbol counts, extra bits and
// a fitted header size; the fixed and stored forms exactly or nearly), and
// asks the caller for exact sizes only to merge neighbours and to make sure
// the new boundaries never cost more than the old ones. It is a pure
// function of its arguments: integer arithmetic only, no shared state.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace trimbit {

// A stream's symbols, one word each, in the re-encoder's packed form: a
// literal is its byte value; a copy has bit 31 set, the length symbol less
// 257 in bits 23-27, the length extra value in bits 18-22, the distance
// symbol in bits 13-17 and the distance extra value in bits 0-12.
// End-of-block symbols are not part of the list.
inline uint32_t PackedCopy(uint32_t lengthSymbol, uint32_t lengthExtra, uint32_t distanceSymbol,
                           uint32_t distanceExtra) {
  return 0x80000000u | (lengthSymbol - 257) << 23 | lengthExtra << 18 | distanceSymbol << 13 |
         distanceExtra;
}
inline bool IsPackedCopy(uint32_t word) {
  return (word >> 31) != 0;
}
// The length symbol less 257.
inline uint32_t PackedLengthIndex(uint32_t word) {
  return (word >> 23) & 31;
}
inline uint32_t PackedLengthExtra(uint32_t word) {
  return (word >> 18) & 31;
}
inline uint32_t PackedDistanceSymbol(uint32_t word) {
  return (word >> 13) & 31;
}
inline uint32_t PackedDistanceExtra(uint32_t word) {
  return word & 0x1FFF;
}

// Longer streams are searched in windows of about this many symbols, cut at
// original block boundaries, so that the working memory stays bounded
// (about 1.3 bytes per symbol of a window besides the caller's list).
constexpr uint32_t kSplitWindowSymbols = 1u << 20;

// Exact bits of a block made of symbols [begin, end) in its cheapest form.
using ExactBlockBits = std::function<uint64_t(uint32_t begin, uint32_t end)>;

// Chooses new block boundaries for `symbols`.
//   originalStarts: the index of the first symbol of every original block,
//     sorted, the first 0; empty blocks appear as repeated indices or as
//     `symbols.size()`, and are dropped.
//   exactBits: asked only about original blocks, chosen blocks and pairs
//     of neighbours (each range once; none when nothing changes). As
//     neighbours merge, a range can grow to a whole window, so it should
//     not need to scan its symbols (cumulative counts make a call cheap).
// Returns the new block starts: strictly increasing, the first 0, all below
// symbols.size() (just {0} for an empty list). The chosen blocks never cost
// more exact bits, summed over every run of symbols between two original
// boundaries, than the original blocks there; where they would, that run
// keeps its original boundaries.
// Throws a message string when originalStarts is not sorted, does not begin
// at 0 or points past the end, or when a packed copy names a length symbol
// above 285 or a distance symbol above 29.
// windowSymbols: the window size (at least 2); tests lower it.
std::vector<uint32_t> ChooseBlockStarts(std::span<const uint32_t> symbols,
                                        std::span<const uint32_t> originalStarts,
                                        const ExactBlockBits& exactBits,
                                        uint32_t windowSymbols = kSplitWindowSymbols);

// Estimated bits, in units of 1/kEstimateScale bit, of one block made of
// symbols [begin, end) of `symbols` (begin < end <= size): the least of the
// dynamic estimate (entropy of the literal/length and distance counts with
// one end-of-block symbol, extra bits, and 170 + 3 bits per distinct symbol
// for the header, a fitted heuristic), the fixed-code size (exact) and the
// stored size (8 bits per byte plus 40 bits per stored block of at most
// 65535 bytes). Throws as ChooseBlockStarts does on invalid symbols.
constexpr uint64_t kEstimateScale = 1u << 16;
uint64_t EstimateBlockBits(std::span<const uint32_t> symbols, uint32_t begin, uint32_t end);

// The estimates of the blocks that start at `starts` (strictly increasing,
// the first 0, all below symbols.size(); {0} for an empty list), summed, in
// the same units: the search's own way of estimating, from cumulative
// counts of the whole list (about 1.3 bytes per symbol). Throws on starts
// out of order and as EstimateBlockBits does.
uint64_t EstimateBlocksBits(std::span<const uint32_t> symbols, std::span<const uint32_t> starts);

}  // namespace trimbit
