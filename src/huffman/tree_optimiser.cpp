// The search for a block's cheapest dynamic encoding. Codes are built for the
// literal/length and distance counts under every tie-break mode (identical
// ones dropped by their CRC-32), and every pair is tried with every mode for
// the code-length code: the lengths are run-length coded greedily, then
// repeat codes are turned back into literal lengths in passes while that is
// cheaper under the code-length code of the sequence itself, and the tree
// header normalisation finishes the result. The cheapest combination (the
// first one on ties) is evaluated once more so that the shared state is left
// exactly as for the chosen plan. Work that cannot change the result is
// skipped: an evaluation under a code-length mode that would repeat the
// mode-0 evaluation step for step, and rebuilding a code already built.
#include "huffman/tree_optimiser.h"

#include <cstring>

#include "huffman/code_lengths.h"
#include "huffman/repeat_rules.h"
#include "support/crc32.h"
#include "support/error.h"

namespace trimbit {
namespace {

constexpr uint8_t kSentinel = 255;
constexpr uint32_t kNoLastValue = 19;

inline uint32_t DistExtraBits(uint32_t symbol) {
  return DistanceExtraBits[symbol];
}

// Builds the code for `counts` under tie-break mode `mode` and keeps it
// unless a kept candidate has the same CRC-32.
template <uint32_t kSymbols, uint32_t (*kExtraBits)(uint32_t)>
void AddCandidate(CandidateCode<kSymbols>* kept, uint32_t& keptCount, const uint32_t* counts,
                  uint32_t minCodeCount, uint32_t mode) {
  uint8_t lengths[kSymbols];
  BuildCodeLengths(counts, kSymbols, lengths, 15, mode);
  const uint32_t crc = Crc32(lengths, kSymbols);
  for (uint32_t k = 0; k < keptCount; ++k)
    if (kept[k].crc == crc) return;

  CandidateCode<kSymbols>& c = kept[keptCount++];
  uint32_t sendCount = 0;
  BuildCanonicalCodes(lengths, kSymbols, c.codes, &sendCount);
  std::memcpy(c.lengths, lengths, kSymbols);
  c.codeCount = sendCount < minCodeCount ? minCodeCount : sendCount;
  c.crc = crc;
  uint32_t bits = 0;
  for (uint32_t s = 0; s < c.codeCount; ++s)
    if (counts[s] != 0) bits += counts[s] * (lengths[s] + kExtraBits(s));
  c.dataBits = bits;
}

// One improvement pass: builds the code-length code of `source` (under
// tie-break mode `mode`, into `cl`) and writes to `dest` the source with
// every repeat code that costs more than its literal lengths expanded, and
// a 17 after a literal zero turned into a cheaper 16. Returns the bits of
// the code-length-code lengths and of `dest` under that code. With a trace,
// records the code it built there.
//
// `last` follows the lengths this pass writes as literals only: a repeat of
// zeros kept as a code leaves it where it was. The normalisation that
// finishes the sequence takes the zeros into account.
struct ImprovePass {
  uint32_t clCodeCount;
  uint32_t destLength;
  bool changed;
  ModeTrace* trace;

  uint32_t Run(const uint8_t* source, uint32_t sourceLength, uint8_t* dest, uint32_t mode,
               uint8_t* cl) {
    uint32_t counts[19] = {};
    uint32_t i = 0;
    while (i < sourceLength) {
      const uint32_t symbol = source[i];
      counts[symbol] += 1;
      i += symbol >= 16 ? 2 : 1;
    }
    if (i != sourceLength) Fault("Discrepancy in number of codes (location 3)");

    BuildCodeLengths(counts, 19, cl, 7, mode);
    if (trace != nullptr) {
      if (trace->builds < kTraceCapacity) {
        std::memcpy(trace->counts[trace->builds], counts, sizeof counts);
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
    uint32_t o = 0;
    uint32_t last = kNoLastValue;
    changed = false;
    // A run of r zeros written as literal lengths, when that is cheaper than
    // the repeat code costing repeatBits bits.
    auto ZerosAreCheaper = [&](uint32_t r, uint32_t repeatBits) {
      if (!LiteralsAreCheaper(r, len[0], repeatBits)) return false;
      std::memset(dest + o, 0, r);
      o += r;
      cost += r * len[0];
      last = 0;
      changed = true;
      return true;
    };
    auto KeepRepeat = [&](uint32_t symbol, uint32_t extra) {
      dest[o++] = static_cast<uint8_t>(symbol);
      dest[o++] = static_cast<uint8_t>(extra);
      cost += RepeatCodeBits(symbol, len[symbol]);
    };
    i = 0;
    while (i < sourceLength) {
      const uint32_t symbol = source[i++];
      if (symbol <= 15) {
        dest[o++] = static_cast<uint8_t>(symbol);
        cost += len[symbol];
        last = symbol;
        continue;
      }
      if (i >= sourceLength) Fault("Discrepancy in number of codes (location 4)");
      const uint32_t extra = source[i++];
      uint32_t repeatOf = last;  // for a 16
      if (symbol == 18) {
        if (!ZerosAreCheaper(RepeatRun(18, extra), RepeatCodeBits(18, len[18])))
          KeepRepeat(18, extra);
        continue;
      }
      if (symbol == 17) {
        if (!SixteenForSeventeen(last, extra, len[16], len[17])) {
          if (!ZerosAreCheaper(RepeatRun(17, extra), RepeatCodeBits(17, len[17])))
            KeepRepeat(17, extra);
          continue;
        }
        changed = true;
        repeatOf = 0;
      }
      const uint32_t r = RepeatRun(16, extra);
      if (LiteralsAreCheaper(r, len[repeatOf], RepeatCodeBits(16, len[16]))) {
        std::memset(dest + o, static_cast<int>(repeatOf), r);
        o += r;
        cost += r * len[repeatOf];
        changed = true;
      } else {
        KeepRepeat(16, extra);
      }
    }
    destLength = o;
    return cost;
  }
};

struct Evaluation {
  uint32_t total;
  uint32_t dataBits;
  uint32_t clCodeCount;
  uint32_t sequenceLength;
};

// Total bits of the block with literal/length candidate a, distance
// candidate b and code-length mode c. Leaves the code-length code in `cl`
// (19 bytes) and the sequence in the shared buffer. With a trace, records
// there the codes that depended on the mode.
Evaluation Evaluate(HeaderSearchState& hs, uint32_t a, uint32_t b, uint32_t c, uint8_t* cl,
                    ModeTrace* trace = nullptr) {
  const CandidateCode<kLitLenSymbols>& litLen = hs.litLen[a];
  const CandidateCode<kDistSymbols>& dist = hs.dist[b];
  uint8_t lengths[kLitLenSymbols + kDistSymbols + 1];
  std::memcpy(lengths, litLen.lengths, litLen.codeCount);
  std::memcpy(lengths + litLen.codeCount, dist.lengths, dist.codeCount);
  lengths[litLen.codeCount + dist.codeCount] = kSentinel;

  Evaluation ev;
  ev.dataBits = litLen.dataBits + dist.dataBits;
  hs.sequenceLengths[kSharedSequence] = GreedyRunLengths(lengths, hs.sequences[kSharedSequence]);

  // Three buffers: the source, the destination, and the best source so far,
  // which is never overwritten. The code-length code built from the best
  // source is kept: building it again from the same source would give the
  // same code and cost, and that pass's output would not be used.
  uint32_t source = kSharedSequence;
  uint32_t dest = kFirstWorking;
  uint32_t best = kSharedSequence;
  uint32_t bestCost = 0xFFFFFFFFu;
  uint8_t bestCl[19];
  uint32_t bestClCodeCount = 0;
  ImprovePass pass;
  pass.trace = trace;
  if (trace != nullptr) {
    trace->builds = 0;
    trace->usable = 1;
  }
  for (;;) {
    const uint32_t cost =
        pass.Run(hs.sequences[source], hs.sequenceLengths[source], hs.sequences[dest], c, cl);
    hs.sequenceLengths[dest] = pass.destLength;
    if (cost < bestCost) {
      bestCost = cost;
      best = source;
      std::memcpy(bestCl, cl, sizeof bestCl);
      bestClCodeCount = pass.clCodeCount;
    }
    if (!pass.changed) {
      std::memcpy(cl, bestCl, sizeof bestCl);
      pass.clCodeCount = bestClCodeCount;
      break;
    }
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
  // The normalisation rebuilds, if it must, under this evaluation's mode.
  TieBreakState underC = {c, true, false};
  bool rebuilt = false;
  const uint32_t length = EncodeTreeHeader(cl, pass.clCodeCount, shared, hs.sequenceLengths[best],
                                           underC, nullptr, &rebuilt);
  if (trace != nullptr && rebuilt) trace->usable = 0;
  hs.sequenceLengths[kSharedSequence] = length;

  uint32_t total = ev.dataBits + 3 * pass.clCodeCount + 17;
  uint32_t i = 0;
  while (i < length) {
    const uint32_t symbol = shared[i++];
    total += cl[symbol];
    if (symbol >= 16) {
      if (i >= length) Fault("Discrepancy in number of codes (location 5)");
      total += RepeatExtraBits[symbol - 16];
      ++i;
    }
  }
  ev.total = total;
  ev.clCodeCount = pass.clCodeCount;
  ev.sequenceLength = length;
  return ev;
}

// Whether mode c builds every code of the trace exactly as mode 0 did; then
// an evaluation under c would repeat the traced one step for step.
bool SameUnderMode(const ModeTrace& trace, uint32_t c) {
  if (!trace.usable) return false;
  uint8_t lengths[19];
  for (uint32_t k = 0; k < trace.builds; ++k) {
    BuildCodeLengths(trace.counts[k], 19, lengths, 7, c);
    if (std::memcmp(lengths, trace.lengths[k], 19) != 0) return false;
  }
  return true;
}

}  // namespace

uint32_t GreedyRunLengths(const uint8_t* lengths, uint8_t* out) {
  uint32_t o = 0;
  uint32_t i = 0;
  while (lengths[i] != kSentinel) {
    const uint8_t v = lengths[i];
    uint32_t run = 1;
    while (lengths[i + run] == v) ++run;
    i += run;
    if (v != 0) {
      if (run <= 3) {
        while (run-- > 0) out[o++] = v;
        continue;
      }
      out[o++] = v;
      uint32_t rest = run - 1;
      for (; rest >= 6; rest -= 6) {
        out[o++] = 16;
        out[o++] = 3;
      }
      if (rest >= 3) {
        out[o++] = 16;
        out[o++] = static_cast<uint8_t>(rest - 3);
      } else {
        while (rest-- > 0) out[o++] = v;
      }
    } else {
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
    }
  }
  return o;
}

uint32_t OptimiseTreeHeader(HeaderSearchState& hs, TieBreakState& tieBreak,
                            const uint32_t* litLenCounts, const uint32_t* distCounts,
                            TreeHeaderPlan* plan) {
  hs.litLenCount = 0;
  hs.distCount = 0;
  for (uint32_t mode = 0; mode < 4; ++mode) {
    AddCandidate<kLitLenSymbols, LitLenExtraBits>(hs.litLen, hs.litLenCount, litLenCounts, 257,
                                                  mode);
    AddCandidate<kDistSymbols, DistExtraBits>(hs.dist, hs.distCount, distCounts, 1, mode);
  }

  uint32_t bestTotal = 0xFFFFFFFFu;
  uint32_t bestA = 0, bestB = 0, bestC = 0;
  uint8_t cl[19];
  // A combination that another mode would evaluate step for step as mode 0
  // did comes to the same total, which cannot beat the best so far (ties
  // keep the first): it is skipped.
  for (uint32_t c = 0; c < 4; ++c)
    for (uint32_t b = 0; b < hs.distCount; ++b)
      for (uint32_t a = 0; a < hs.litLenCount; ++a) {
        ModeTrace& trace = hs.traces[a][b];
        if (c > 0 && SameUnderMode(trace, c)) continue;
        const uint32_t total = Evaluate(hs, a, b, c, cl, c == 0 ? &trace : nullptr).total;
        if (total < bestTotal) {
          bestTotal = total;
          bestA = a;
          bestB = b;
          bestC = c;
        }
      }

  const Evaluation ev = Evaluate(hs, bestA, bestB, bestC, cl);
  WriteCarriedMode(tieBreak, bestC);
  const CandidateCode<kLitLenSymbols>& litLen = hs.litLen[bestA];
  const CandidateCode<kDistSymbols>& dist = hs.dist[bestB];
  std::memcpy(plan->litLenTable, litLen.codes, sizeof litLen.codes);
  std::memcpy(plan->distTable, dist.codes, sizeof dist.codes);
  plan->litLenCodeCount = litLen.codeCount;
  plan->distCodeCount = dist.codeCount;
  plan->clCodeCount = ev.clCodeCount;
  plan->sequenceLength = ev.sequenceLength;
  plan->headerBits = ev.total - ev.dataBits;
  std::memcpy(plan->clLengths, cl, 19);
  std::memcpy(plan->codeLengthSequence, hs.sequences[kSharedSequence], ev.sequenceLength);
  return ev.total;
}

}  // namespace trimbit
