// The search for a block's cheapest dynamic encoding. Codes are built for the
// literal/length and distance counts under every tie-break mode (identical
// ones dropped by their CRC-32), and every pair is tried with every mode for
// the code-length code: the lengths are run-length coded greedily, then
// repeat codes are turned back into literal lengths in passes while that is
// cheaper under the code-length code of the sequence itself, and the tree
// header normalisation finishes the result. The cheapest combination (the
// first one on ties) gives the plan and the shared state.
//
// Work whose result is known without doing it is skipped (each shortcut
// says where it is taken why it changes nothing; tests turn them all off
// with plainSearch): a build that would repeat an earlier mode's, an
// evaluation that would repeat mode 0's step for step, a code-length code
// already built, run-length coding that per-candidate pieces already hold,
// the normalisation of a sequence it would leave alone, and evaluating the
// winner once more.
#include "huffman/tree_optimiser.h"

#include <cstring>

#include "huffman/code_lengths.h"
#include "huffman/repeat_rules.h"
#include "support/crc32.h"
#include "support/error.h"

namespace trimbit {
namespace {

constexpr uint32_t kNoLastValue = 19;

inline bool Shortcuts(const HeaderSearchState& hs) {
  return !hs.plainSearch;
}

inline uint32_t DistExtraBits(uint32_t symbol) {
  return DistanceExtraBits[symbol];
}

// Builds the code for `counts` under tie-break mode `mode` and keeps it
// unless a kept candidate has the same CRC-32. With kNoteTies returns the
// modes that build the very same lengths, else only `mode`.
template <uint32_t kSymbols, uint32_t (*kExtraBits)(uint32_t), bool kNoteTies>
ModeSet AddCandidate(CandidateCode<kSymbols>* kept, uint32_t& keptCount, const uint32_t* counts,
                     uint32_t minCodeCount, uint32_t mode) {
  uint8_t lengths[kSymbols];
  ModeSet same = 1u << mode;
  if (kNoteTies)
    same = BuildCodeLengthsNotingTies(counts, kSymbols, lengths, 15, mode);
  else
    BuildCodeLengths(counts, kSymbols, lengths, 15, mode);
  const uint32_t crc = Crc32(lengths, kSymbols);
  for (uint32_t k = 0; k < keptCount; ++k)
    if (kept[k].crc == crc) return same;

  CandidateCode<kSymbols>& c = kept[keptCount++];
  std::memcpy(c.lengths, lengths, kSymbols);
  // As many lengths as a header must send: up to the last that is not 0.
  // (Only the chosen codes are made canonical, when the plan is written.)
  uint32_t sendCount = kSymbols;
  while (sendCount > 1 && lengths[sendCount - 1] == 0) --sendCount;
  c.codeCount = sendCount < minCodeCount ? minCodeCount : sendCount;
  c.crc = crc;
  // A symbol without a count has no length and adds nothing; literals and
  // the end-of-block code have no extra bits.
  uint32_t bits = 0;
  const uint32_t plain = kSymbols != kLitLenSymbols ? 0 : c.codeCount < 257 ? c.codeCount : 257;
  for (uint32_t s = 0; s < plain; ++s) bits += counts[s] * lengths[s];
  for (uint32_t s = plain; s < c.codeCount; ++s) bits += counts[s] * (lengths[s] + kExtraBits(s));
  c.dataBits = bits;
  return same;
}

// Builds the candidates of one alphabet under the four modes. A mode that
// an earlier build proved to build the same lengths is not built: its
// lengths, and so their CRC-32, would equal a kept candidate's, and the
// candidate would be dropped. Noting the ties pays for the distance codes
// (about a quarter of their builds are proven repeats) but not for the
// literal/length codes, whose heaps nearly always meet a tie that matters.
template <uint32_t kSymbols, uint32_t (*kExtraBits)(uint32_t), bool kNoteTies>
void AddCandidates(const HeaderSearchState& hs, CandidateCode<kSymbols>* kept, uint32_t& keptCount,
                   const uint32_t* counts, uint32_t minCodeCount) {
  keptCount = 0;
  ModeSet built = 0;  // modes whose lengths an earlier build gave
  for (uint32_t mode = 0; mode < 4; ++mode) {
    if (Shortcuts(hs) && (built >> mode & 1) != 0) continue;
    built |=
        AddCandidate<kSymbols, kExtraBits, kNoteTies>(kept, keptCount, counts, minCodeCount, mode);
  }
}

// Writes the greedy coding of one run of `run` lengths `value` (see
// GreedyRunLengths); returns the bytes written.
uint32_t CodeRun(uint8_t value, uint32_t run, uint8_t* out) {
  uint32_t o = 0;
  if (value != 0) {
    if (run <= 3) {
      while (run-- > 0) out[o++] = value;
      return o;
    }
    out[o++] = value;
    uint32_t rest = run - 1;
    for (; rest >= 6; rest -= 6) {
      out[o++] = 16;
      out[o++] = 3;
    }
    if (rest >= 3) {
      out[o++] = 16;
      out[o++] = static_cast<uint8_t>(rest - 3);
    } else {
      while (rest-- > 0) out[o++] = value;
    }
    return o;
  }
  while (run >= 11) {
    const uint32_t take = run < 138 ? run : 138;
    out[o++] = 18;
    out[o++] = static_cast<uint8_t>(take - 11);
    run -= take;
  }
  if (run >= 3) {
    out[o++] = 17;
    out[o++] = static_cast<uint8_t>(run - 3);
  } else {
    while (run-- > 0) out[o++] = 0;
  }
  return o;
}

// Adds the symbols of seq[0..length) to `index`, with its repeat codes at
// `base` plus their position.
template <uint32_t kMaxRepeats>
void IndexSequence(const uint8_t* seq, uint32_t length, uint32_t base,
                   SequenceIndex<kMaxRepeats>& index) {
  uint32_t i = 0;
  while (i < length) {
    const uint32_t symbol = seq[i];
    index.counts[symbol] += 1;
    if (symbol < 16) {
      ++i;
      continue;
    }
    if (index.repeatCount >= kMaxRepeats) Fault("Too many repeat codes!?!?!?");
    index.repeats[index.repeatCount++] = static_cast<uint16_t>(base + i);
    i += 2;
  }
  if (i != length) Fault("Discrepancy in number of codes (location 3)");
}

template <uint32_t kMaxRepeats>
void ClearIndex(SequenceIndex<kMaxRepeats>& index) {
  std::memset(index.counts, 0, sizeof index.counts);
  index.repeatCount = 0;
}

// Splits the lengths a candidate sends for joining (see CandidateCode): the
// greedy coding codes each run of equal lengths alone, so only the run
// where two candidates meet depends on both.
template <uint32_t kSymbols>
void SplitAtEdge(CandidateCode<kSymbols>& c, bool lastRunApart) {
  const uint8_t* lengths = c.lengths;
  const uint32_t n = c.codeCount;
  if (lastRunApart) {
    uint32_t start = n - 1;
    while (start > 0 && lengths[start - 1] == lengths[n - 1]) --start;
    c.edgeValue = lengths[n - 1];
    c.edgeRun = n - start;
    c.pieceLength = GreedyRunLengths(lengths, start, c.piece);
  } else {
    uint32_t end = 1;
    while (end < n && lengths[end] == lengths[0]) ++end;
    c.edgeValue = lengths[0];
    c.edgeRun = end;
    c.pieceLength = GreedyRunLengths(lengths + end, n - end, c.piece);
  }
  ClearIndex(c.pieceIndex);
  IndexSequence(c.piece, c.pieceLength, 0, c.pieceIndex);
}

// The greedy coding of the lengths of a followed by those of b, into `out`,
// with its index; returns its length. From the pieces it is the coding of
// a's runs but the last, of the runs where a and b meet (one run when their
// values agree), and of b's runs but the first: exactly the coding of the
// joined lengths.
uint32_t GreedyCoding(const HeaderSearchState& hs, const CandidateCode<kLitLenSymbols>& a,
                      const CandidateCode<kDistSymbols>& b, uint8_t* out,
                      SearchSequenceIndex& index) {
  ClearIndex(index);
  if (!Shortcuts(hs)) {
    uint8_t lengths[kLitLenSymbols + kDistSymbols];
    std::memcpy(lengths, a.lengths, a.codeCount);
    std::memcpy(lengths + a.codeCount, b.lengths, b.codeCount);
    const uint32_t length = GreedyRunLengths(lengths, a.codeCount + b.codeCount, out);
    IndexSequence(out, length, 0, index);
    return length;
  }
  uint32_t o = a.pieceLength;
  std::memcpy(out, a.piece, o);
  std::memcpy(index.counts, a.pieceIndex.counts, sizeof index.counts);
  std::memcpy(index.repeats, a.pieceIndex.repeats, a.pieceIndex.repeatCount * sizeof(uint16_t));
  index.repeatCount = a.pieceIndex.repeatCount;
  uint32_t edge =
      CodeRun(a.edgeValue, a.edgeValue == b.edgeValue ? a.edgeRun + b.edgeRun : a.edgeRun, out + o);
  if (a.edgeValue != b.edgeValue) edge += CodeRun(b.edgeValue, b.edgeRun, out + o + edge);
  IndexSequence(out + o, edge, o, index);
  o += edge;
  std::memcpy(out + o, b.piece, b.pieceLength);
  for (uint32_t s = 0; s < 19; ++s) index.counts[s] += b.pieceIndex.counts[s];
  for (uint32_t k = 0; k < b.pieceIndex.repeatCount; ++k)
    index.repeats[index.repeatCount++] = static_cast<uint16_t>(o + b.pieceIndex.repeats[k]);
  return o + b.pieceLength;
}

// The code-length code (19 lengths, limit 7) of `counts` under `mode`, into
// `cl`. The cache hands out a code built before from the same counts under
// the same mode, or under a mode whose build proved that this mode builds
// the same lengths (see BuildCodeLengthsNotingTies).
void BuildCodeLengthCode(HeaderSearchState& hs, const uint32_t* counts, uint32_t mode,
                         uint8_t* cl) {
  if (!Shortcuts(hs)) {
    BuildCodeLengths(counts, 19, cl, 7, mode);
    return;
  }
  uint16_t key[19];
  uint32_t hash = 0;
  uint32_t above16Bits = 0;
  for (uint32_t s = 0; s < 19; ++s) {
    key[s] = static_cast<uint16_t>(counts[s]);
    above16Bits |= counts[s] >> 16;
    hash = (hash + counts[s]) * 0x9E3779B1u;
  }
  if (above16Bits != 0) {  // not from a sequence of the search: not kept
    BuildCodeLengths(counts, 19, cl, 7, mode);
    return;
  }
  CachedCodeLengthCode& entry = hs.codeCache[hash >> (32 - kCodeCacheBits)];
  const bool sameCounts = std::memcmp(entry.counts, key, sizeof key) == 0;
  if (sameCounts && (entry.modes >> mode & 1) != 0) {
    std::memcpy(cl, entry.lengths[mode], 19);
    return;
  }
  const ModeSet same = BuildCodeLengthsNotingTies(counts, 19, cl, 7, mode);
  if (!sameCounts) {
    std::memcpy(entry.counts, key, sizeof key);
    entry.modes = 0;
  }
  for (uint32_t m = 0; m < 4; ++m)
    if ((same >> m & 1) != 0) std::memcpy(entry.lengths[m], cl, 19);
  entry.modes = static_cast<uint8_t>(entry.modes | same);
}

// What an improvement pass does with one repeat code of its source: writes
// it as `symbol` (16, 17 or 18, with the same extra value), or `run` times
// the length `value`.
constexpr uint8_t kExpanded = 0;
struct RepeatDecision {
  uint8_t symbol;  // or kExpanded
  uint8_t value;
  uint8_t run;
};

// One improvement pass: builds the code-length code of `source` (under
// tie-break mode `mode`, into `cl`) and decides which repeat codes of the
// source cost more than their literal lengths and are expanded, and which 17
// after a literal zero is turned into a cheaper 16. Returns the bits of the
// code-length-code lengths and of the sequence so changed under that code;
// Write makes that sequence. With a trace, records the code built there.
//
// Literal lengths pass through unchanged, so the pass reads only the counts
// (what the literal lengths cost) and the repeat codes with the literal
// right before each; the decisions are those of a walk over every element.
// `last` follows the lengths the pass writes as literals only: a repeat of
// zeros kept as a code leaves it where it was. The normalisation that
// finishes the sequence takes the zeros into account; `settled` tells
// whether it would find anything to do (see Evaluate).
struct ImprovePass {
  uint32_t clCodeCount;
  bool changed;
  bool settled;  // nothing changed, and no 16 or 17 came while the normalisation's last differs
  ModeTrace* trace;
  RepeatDecision decisions[kMaxSequenceRepeats];

  uint32_t Run(HeaderSearchState& hs, const uint8_t* source, uint32_t sourceLength,
               const SearchSequenceIndex& index, uint32_t mode, uint8_t* cl) {
    BuildCodeLengthCode(hs, index.counts, mode, cl);
    if (trace != nullptr) {
      if (trace->builds < kTraceCapacity) {
        std::memcpy(trace->counts[trace->builds], index.counts, sizeof index.counts);
        std::memcpy(trace->lengths[trace->builds], cl, 19);
        trace->builds += 1;
      } else {
        trace->usable = 0;
      }
    }
    clCodeCount = 19;
    while (clCodeCount > 4 && cl[CodeLengthOrder[clCodeCount - 1]] == 0) --clCodeCount;

    uint32_t len[20];
    for (uint32_t s = 0; s < 19; ++s) len[s] = cl[s];
    len[kNoLastValue] = 0;  // nothing to repeat yet: a 16 stays

    uint32_t cost = 3 * clCodeCount;
    for (uint32_t v = 0; v < 16; ++v) cost += index.counts[v] * len[v];
    uint32_t last = kNoLastValue;
    changed = false;
    // Whether `last` is what the normalisation would hold: after a kept 17
    // or 18 it holds 0.
    bool lastAsNormalised = true;
    bool lastMattered = false;
    uint32_t after = 0;  // position right after the previous repeat code
    for (uint32_t k = 0; k < index.repeatCount; ++k) {
      const uint32_t at = index.repeats[k];
      if (at != after) {  // a literal length comes right before
        last = source[at - 1];
        lastAsNormalised = true;
      }
      after = at + 2;
      if (after > sourceLength) Fault("Discrepancy in number of codes (location 4)");
      const uint32_t symbol = source[at];
      const uint32_t extra = source[at + 1];
      RepeatDecision& d = decisions[k];
      if (!lastAsNormalised && symbol != 18) lastMattered = true;
      if (symbol != 16 && !(symbol == 17 && SixteenForSeventeen(last, extra, len[16], len[17]))) {
        // Zeros, written as literal lengths when that is cheaper.
        const uint32_t r = RepeatRun(symbol, extra);
        const uint32_t repeatBits = RepeatCodeBits(symbol, len[symbol]);
        if (LiteralsAreCheaper(r, len[0], repeatBits)) {
          d = {kExpanded, 0, static_cast<uint8_t>(r)};
          cost += r * len[0];
          last = 0;
          lastAsNormalised = true;
          changed = true;
        } else {
          d = {static_cast<uint8_t>(symbol), 0, 0};
          cost += repeatBits;
          lastAsNormalised = last == 0;
        }
        continue;
      }
      // A 16, or a 17 after a literal zero sent as a 16 repeating that zero.
      if (symbol == 17) changed = true;
      const uint32_t r = RepeatRun(16, extra);
      const uint32_t repeatBits = RepeatCodeBits(16, len[16]);
      if (LiteralsAreCheaper(r, len[last], repeatBits)) {
        d = {kExpanded, static_cast<uint8_t>(last), static_cast<uint8_t>(r)};
        cost += r * len[last];
        changed = true;
      } else {
        d = {16, 0, 0};
        cost += repeatBits;
      }
    }
    settled = !changed && !lastMattered;
    return cost;
  }

  // The source with the decisions of Run, into `dest`, with its index;
  // returns its length.
  uint32_t Write(const uint8_t* source, uint32_t sourceLength, const SearchSequenceIndex& index,
                 uint8_t* dest, SearchSequenceIndex& destIndex) const {
    std::memcpy(destIndex.counts, index.counts, sizeof index.counts);
    destIndex.repeatCount = 0;
    uint32_t o = 0;
    uint32_t from = 0;
    for (uint32_t k = 0; k < index.repeatCount; ++k) {
      const uint32_t at = index.repeats[k];
      std::memcpy(dest + o, source + from, at - from);
      o += at - from;
      from = at + 2;
      const RepeatDecision& d = decisions[k];
      destIndex.counts[source[at]] -= 1;
      if (d.symbol == kExpanded) {
        std::memset(dest + o, d.value, d.run);
        o += d.run;
        destIndex.counts[d.value] += d.run;
      } else {
        destIndex.repeats[destIndex.repeatCount++] = static_cast<uint16_t>(o);
        dest[o++] = d.symbol;
        dest[o++] = source[at + 1];
        destIndex.counts[d.symbol] += 1;
      }
    }
    std::memcpy(dest + o, source + from, sourceLength - from);
    return o + sourceLength - from;
  }
};

struct Evaluation {
  uint32_t total;
  uint32_t dataBits;
  uint32_t clCodeCount;
  uint32_t sequenceLength;
  uint8_t cl[19];  // the code-length code
};

// Total bits of the block with literal/length candidate a, distance
// candidate b and code-length mode c. Leaves the sequence in the shared
// buffer. With a trace, records there the codes that depended on the mode.
Evaluation Evaluate(HeaderSearchState& hs, uint32_t a, uint32_t b, uint32_t c,
                    ModeTrace* trace = nullptr) {
  const CandidateCode<kLitLenSymbols>& litLen = hs.litLen[a];
  const CandidateCode<kDistSymbols>& dist = hs.dist[b];
  Evaluation ev;
  ev.dataBits = litLen.dataBits + dist.dataBits;
  hs.sequenceLengths[kSharedSequence] =
      GreedyCoding(hs, litLen, dist, hs.sequences[kSharedSequence], hs.indexes[kSharedSequence]);

  // Three buffers: the source, the destination, and the best source so far,
  // which is never overwritten. The code-length code built from the best
  // source is kept: building it again from the same source would give the
  // same code and cost, and that pass's output would not be used.
  uint32_t source = kSharedSequence;
  uint32_t dest = kFirstWorking;
  uint32_t best = kSharedSequence;
  uint32_t bestCost = 0xFFFFFFFFu;
  uint8_t cl[19];
  uint32_t bestClCodeCount = 0;
  bool bestSettled = false;
  ImprovePass pass;
  pass.trace = trace;
  if (trace != nullptr) {
    trace->builds = 0;
    trace->usable = 1;
  }
  for (;;) {
    const uint32_t cost =
        pass.Run(hs, hs.sequences[source], hs.sequenceLengths[source], hs.indexes[source], c, cl);
    if (cost < bestCost) {
      bestCost = cost;
      best = source;
      std::memcpy(ev.cl, cl, sizeof cl);
      bestClCodeCount = pass.clCodeCount;
      bestSettled = pass.settled;
    }
    if (!pass.changed) break;
    hs.sequenceLengths[dest] = pass.Write(hs.sequences[source], hs.sequenceLengths[source],
                                          hs.indexes[source], hs.sequences[dest], hs.indexes[dest]);
    source = dest;
    static constexpr uint32_t kDestOrder[3] = {kSecondWorking, kSharedSequence, kFirstWorking};
    for (uint32_t candidate : kDestOrder) {
      if (candidate != source && candidate != best) {
        dest = candidate;
        break;
      }
    }
  }

  uint8_t* shared = hs.sequences[kSharedSequence];
  if (best != kSharedSequence) std::memcpy(shared, hs.sequences[best], hs.sequenceLengths[best]);
  ev.clCodeCount = bestClCodeCount;
  // The normalisation would change nothing when the best source is settled:
  // its first walk decides every repeat code by the rules the pass applied
  // under the same code (the pass changed nothing, and where the two differ
  // in the last length no 16 or 17 came), so the walk counts what the code
  // was built from, and a code built from the counts gives no more frequent
  // symbol a longer code and no unused repeat code a length. The header then
  // costs what the pass counted.
  if (bestSettled && Shortcuts(hs)) {
    ev.sequenceLength = hs.sequenceLengths[best];
    hs.sequenceLengths[kSharedSequence] = ev.sequenceLength;
    ev.total = ev.dataBits + 17 + bestCost;
    return ev;
  }

  // The normalisation rebuilds, if it must, under this evaluation's mode.
  TieBreakState underC = {c, true, false};
  bool rebuilt = false;
  const uint32_t length = EncodeTreeHeader(ev.cl, bestClCodeCount, shared, hs.sequenceLengths[best],
                                           underC, nullptr, &rebuilt);
  if (trace != nullptr && rebuilt) trace->usable = 0;
  hs.sequenceLengths[kSharedSequence] = length;

  uint32_t total = ev.dataBits + 3 * bestClCodeCount + 17;
  uint32_t i = 0;
  while (i < length) {
    const uint32_t symbol = shared[i++];
    total += ev.cl[symbol];
    if (symbol >= 16) {
      if (i >= length) Fault("Discrepancy in number of codes (location 5)");
      total += RepeatExtraBits[symbol - 16];
      ++i;
    }
  }
  ev.total = total;
  ev.sequenceLength = length;
  return ev;
}

// Whether mode c builds every code of the trace exactly as mode 0 did; then
// an evaluation under c would repeat the traced one step for step.
bool SameUnderMode(HeaderSearchState& hs, const ModeTrace& trace, uint32_t c) {
  if (!trace.usable) return false;
  uint8_t lengths[19];
  for (uint32_t k = 0; k < trace.builds; ++k) {
    BuildCodeLengthCode(hs, trace.counts[k], c, lengths);
    if (std::memcmp(lengths, trace.lengths[k], 19) != 0) return false;
  }
  return true;
}

// The parts of the plan an evaluation decides, with the sequence from the
// shared buffer.
void TakeEvaluation(const HeaderSearchState& hs, const Evaluation& ev, TreeHeaderPlan* plan) {
  plan->clCodeCount = ev.clCodeCount;
  plan->sequenceLength = ev.sequenceLength;
  plan->headerBits = ev.total - ev.dataBits;
  std::memcpy(plan->clLengths, ev.cl, 19);
  std::memcpy(plan->codeLengthSequence, hs.sequences[kSharedSequence], ev.sequenceLength);
}

}  // namespace

uint32_t GreedyRunLengths(const uint8_t* lengths, uint32_t n, uint8_t* out) {
  uint32_t o = 0;
  uint32_t i = 0;
  while (i < n) {
    const uint8_t v = lengths[i];
    uint32_t run = 1;
    while (i + run < n && lengths[i + run] == v) ++run;
    i += run;
    o += CodeRun(v, run, out + o);
  }
  return o;
}

uint32_t OptimiseTreeHeader(HeaderSearchState& hs, TieBreakState& tieBreak,
                            const uint32_t* litLenCounts, const uint32_t* distCounts,
                            TreeHeaderPlan* plan) {
  AddCandidates<kLitLenSymbols, LitLenExtraBits, false>(hs, hs.litLen, hs.litLenCount, litLenCounts,
                                                        257);
  AddCandidates<kDistSymbols, DistExtraBits, true>(hs, hs.dist, hs.distCount, distCounts, 1);
  if (Shortcuts(hs)) {
    for (uint32_t a = 0; a < hs.litLenCount; ++a) SplitAtEdge(hs.litLen[a], true);
    for (uint32_t b = 0; b < hs.distCount; ++b) SplitAtEdge(hs.dist[b], false);
  }

  uint32_t bestTotal = 0xFFFFFFFFu;
  uint32_t bestA = 0, bestB = 0, bestC = 0;
  // A combination that another mode would evaluate step for step as mode 0
  // did comes to the same total, which cannot beat the best so far (ties
  // keep the first): it is skipped. The plan takes each new best evaluation
  // as it comes, so that the best need not be evaluated again at the end:
  // an evaluation depends on a, b and c alone and would come out the same.
  const bool shortcuts = Shortcuts(hs);
  for (uint32_t c = 0; c < 4; ++c)
    for (uint32_t b = 0; b < hs.distCount; ++b)
      for (uint32_t a = 0; a < hs.litLenCount; ++a) {
        ModeTrace& trace = hs.traces[a][b];
        if (c > 0 && shortcuts && SameUnderMode(hs, trace, c)) continue;
        const Evaluation ev = Evaluate(hs, a, b, c, c == 0 && shortcuts ? &trace : nullptr);
        if (ev.total < bestTotal || (a | b | c) == 0) {  // the first is taken whatever it is
          bestTotal = ev.total;
          bestA = a;
          bestB = b;
          bestC = c;
          if (shortcuts) TakeEvaluation(hs, ev, plan);
        }
      }

  if (shortcuts) {
    std::memcpy(hs.sequences[kSharedSequence], plan->codeLengthSequence, plan->sequenceLength);
    hs.sequenceLengths[kSharedSequence] = plan->sequenceLength;
  } else {
    const Evaluation ev = Evaluate(hs, bestA, bestB, bestC);
    TakeEvaluation(hs, ev, plan);
    bestTotal = ev.total;
  }
  WriteCarriedMode(tieBreak, bestC);
  const CandidateCode<kLitLenSymbols>& litLen = hs.litLen[bestA];
  const CandidateCode<kDistSymbols>& dist = hs.dist[bestB];
  BuildCanonicalCodes(litLen.lengths, kLitLenSymbols, plan->litLenTable, nullptr);
  BuildCanonicalCodes(dist.lengths, kDistSymbols, plan->distTable, nullptr);
  plan->litLenCodeCount = litLen.codeCount;
  plan->distCodeCount = dist.codeCount;
  return bestTotal;
}

}  // namespace trimbit
