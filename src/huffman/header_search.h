// Working state of the tree header search: the candidate codes of the block
// being planned, the three code-length sequence buffers and the code-length
// codes already built. Between calls only the shared sequence buffer
// (sequences[kSharedSequence]) and the code cache matter: the buffer holds
// the sequence of the plan last chosen, and the cache only ever holds codes
// exactly as BuildCodeLengths builds them.
#pragma once

#include <cstdint>

#include "huffman/canonical_codes.h"
#include "huffman/code_lengths.h"
#include "huffman/deflate_alphabet.h"
#include "huffman/tree_header.h"

namespace trimbit {

// The three sequence buffers: the shared one, which holds the chosen
// sequence when the search returns, and two working buffers.
constexpr uint32_t kSharedSequence = 0;
constexpr uint32_t kFirstWorking = 1;
constexpr uint32_t kSecondWorking = 2;

// Where the repeat codes of a code-length sequence are and how often each
// symbol occurs in it: all an improvement pass reads of the sequence besides
// the literal length right before each repeat code. A repeat code stands for
// at least three lengths, so kMaxRepeats is a third of the lengths at most.
template <uint32_t kMaxRepeats>
struct SequenceIndex {
  uint32_t counts[19];            // of each symbol 0..18 (extra values are not symbols)
  uint16_t repeats[kMaxRepeats];  // positions of the repeat codes, in order
  uint32_t repeatCount;
};
constexpr uint32_t kMaxSequenceRepeats = (kLitLenSymbols + kDistSymbols) / 3;
using SearchSequenceIndex = SequenceIndex<kMaxSequenceRepeats>;

// A code built under one tie-break mode, kept unless an earlier mode built
// the same lengths (same CRC-32).
template <uint32_t kSymbols>
struct CandidateCode {
  uint8_t lengths[kSymbols];
  uint32_t codeCount;  // lengths a header must send
  uint32_t dataBits;   // the block's symbols under this code, extra bits included
  uint32_t crc;        // CRC-32 of the lengths
  // The lengths sent, split at the run where the literal/length lengths
  // meet the distance lengths (a run may cross): a literal/length code
  // keeps its last run apart and the greedy run-length coding of the rest,
  // a distance code its first run and the coding of the rest.
  uint8_t edgeValue;        // the length of the run kept apart
  uint32_t edgeRun;         // and how many lengths it has
  uint8_t piece[kSymbols];  // greedy coding of the other lengths (one byte a length at most)
  uint32_t pieceLength;
  SequenceIndex<kSymbols / 3> pieceIndex;  // of the piece
};

// The code-length codes one evaluation under mode 0 built, in order, with
// the counts they were built from. An evaluation under another mode takes
// the very same steps, and so comes to the same total, when that mode builds
// the same codes from these counts.
constexpr uint32_t kTraceCapacity = 8;
struct ModeTrace {
  uint32_t builds;  // codes recorded
  uint32_t usable;  // 0: more codes than recorded, or one rebuilt in the normalisation
  uint32_t counts[kTraceCapacity][19];
  uint8_t lengths[kTraceCapacity][19];
};

// Code-length codes by their 19 counts, for each mode built or proven to
// build alike. A search builds the same code again and again: under every
// mode for every pair of candidates, and once more when it checks whether a
// mode repeats mode 0. Counts come from sequences of at most
// kSequenceCapacity symbols and so fit 16 bits.
constexpr uint32_t kCodeCacheBits = 8;
struct CachedCodeLengthCode {
  uint16_t counts[19];
  uint8_t modes = 0;  // ModeSet of the modes whose lengths are here
  uint8_t lengths[4][19];
};

struct HeaderSearchState {
  CandidateCode<kLitLenSymbols> litLen[4];
  CandidateCode<kDistSymbols> dist[4];
  ModeTrace traces[4][4];  // by literal/length and distance candidate
  uint32_t litLenCount;    // candidates kept
  uint32_t distCount;
  uint8_t sequences[3][kSequenceCapacity];
  uint32_t sequenceLengths[3];
  SearchSequenceIndex indexes[3];  // of each sequence buffer, as far as a pass needs it
  CachedCodeLengthCode codeCache[1u << kCodeCacheBits];
  // Set only by tests: the search then takes none of its shortcuts (see
  // tree_optimiser.cpp), which must change no result.
  bool plainSearch;
};

// Run-length codes n code lengths into `out` (room for one byte per length):
// a run of a non-zero value as one literal and 16s of six, the rest as a
// shorter 16 or literals; a run of zeros as 18s of up to 138, then a 17 or
// literal zeros. Returns the bytes written.
uint32_t GreedyRunLengths(const uint8_t* lengths, uint32_t n, uint8_t* out);

}  // namespace trimbit
