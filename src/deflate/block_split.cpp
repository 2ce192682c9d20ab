// The block boundary search of ChooseBlockStarts.
//
// A stream is searched one window at a time. Within a window, cumulative
// symbol counts every 1024 symbols give the counts of any range by one
// difference and a short scan, and an estimate of the range from them. On
// that, in order (all heuristics, on estimates only):
//  1. recursive splitting: the best single cut of a range, found on a coarse
//     grid refined around its best point down to a symbol-by-symbol sweep, is
//     kept when it saves anything; both halves are split again;
//  2. those cuts and the original boundaries together, pruned greedily: the
//     boundary whose removal saves the most goes first, while removals save;
//     the result is never estimated dearer than the original boundaries;
//  3. local moves: each boundary is tried at every position nearby, and
//     dropped when its two blocks are estimated no cheaper than one.
// Then the caller's exact sizes decide: neighbours are merged when one block
// is no dearer than two, and a run of symbols between original boundaries
// keeps its original blocks unless the new ones are no dearer in total.
//
// Costs are integers in 1/65536 bit; logarithms come from a table made at
// compile time, so every machine makes the same choices.
#include "deflate/block_split.h"

#include <algorithm>
#include <array>
#include <bit>
#include <queue>
#include <unordered_map>

#include "huffman/deflate_alphabet.h"
#include "support/error.h"

namespace trimbit {
namespace {

using Cost = uint64_t;  // bits, in units of 1/kEstimateScale
constexpr uint32_t kFractionBits = 16;
static_assert(kEstimateScale == 1u << kFractionBits);
constexpr Cost kNoCost = ~Cost{0};

// ---- Fixed-point logarithms ----

// log2(1 + j / 2048) in units of 2^-16 for j = 0..2048, by repeated squaring
// in Q1.31 integers (20 result bits, rounded to 16).
constexpr uint32_t kMantissaBits = 11;
constexpr uint32_t kMantissaSteps = 1u << kMantissaBits;

constexpr std::array<uint32_t, kMantissaSteps + 1> MakeMantissaLogs() {
  std::array<uint32_t, kMantissaSteps + 1> table{};
  for (uint32_t j = 0; j < kMantissaSteps; ++j) {
    uint64_t y = static_cast<uint64_t>(kMantissaSteps + j) << (31 - kMantissaBits);
    uint32_t fraction = 0;
    for (uint32_t bit = 0; bit < 20; ++bit) {
      y = (y * y) >> 31;
      fraction <<= 1;
      if (y >= (uint64_t{1} << 32)) {
        y >>= 1;
        fraction |= 1;
      }
    }
    table[j] = (fraction + 8) >> 4;
  }
  table[kMantissaSteps] = 1u << kFractionBits;
  return table;
}
constexpr std::array<uint32_t, kMantissaSteps + 1> kMantissaLogs = MakeMantissaLogs();

// log2(x) in units of 2^-16 for x >= 1: exact to the table's rounding below
// 4096, interpolated linearly between table entries above.
inline uint32_t Log2Fixed(uint32_t x) {
  const uint32_t top = static_cast<uint32_t>(std::bit_width(x)) - 1;
  if (top <= kMantissaBits)
    return (top << kFractionBits) + kMantissaLogs[(x << (kMantissaBits - top)) - kMantissaSteps];
  const uint32_t shift = top - kMantissaBits;
  const uint32_t j = (x >> shift) - kMantissaSteps;
  const uint64_t rest = x & ((1u << shift) - 1);
  const uint64_t step = kMantissaLogs[j + 1] - kMantissaLogs[j];
  return (top << kFractionBits) + kMantissaLogs[j] + static_cast<uint32_t>((step * rest) >> shift);
}

// c log2 c in units of 2^-16 (0 for c = 0).
inline uint64_t CLogC(uint32_t c) {
  return c == 0 ? 0 : uint64_t{c} * Log2Fixed(c);
}

// ---- Symbol counts of a range ----

constexpr uint32_t kLitLenSlots = 286;  // literals, end of block, lengths 257..285
constexpr uint32_t kDistSlots = 30;
constexpr uint32_t kSlots = kLitLenSlots + kDistSlots;

// Estimated header of a dynamic block, with what the Huffman code loses to
// the entropy: a base plus a little per symbol used (a heuristic, fitted on
// ranges of real streams of up to some 10,000 symbols, where the split
// decisions are closest).
constexpr uint64_t kHeaderBaseBits = 170;
constexpr uint64_t kHeaderBitsPerSymbol = 3;
// A stored block: 3 header bits, up to 7 alignment bits, LEN and NLEN.
constexpr uint64_t kStoredBlockBits = 40;
constexpr uint64_t kStoredBlockBytes = 65535;

inline bool ValidSymbol(uint32_t w) {
  if (!IsPackedCopy(w)) return w < 256;
  return PackedLengthIndex(w) <= 28 && PackedDistanceSymbol(w) < kDistSlots;
}

[[noreturn]] void FailInvalidSymbol() {
  Fault("Invalid symbol in block split search!?!?!?");
}

inline uint32_t CopyBytes(uint32_t w) {
  return LengthBase[PackedLengthIndex(w)] + PackedLengthExtra(w);
}

// Counts of the literal/length symbols (the end-of-block symbol is not
// counted here), then of the distance symbols, and the decoded bytes of a
// range.
struct Tally {
  uint32_t n[kSlots];
  uint64_t bytes;
};

inline void Count(Tally& t, uint32_t w) {
  if (!IsPackedCopy(w)) {
    t.n[w] += 1;
    t.bytes += 1;
    return;
  }
  t.n[257 + PackedLengthIndex(w)] += 1;
  t.n[kLitLenSlots + PackedDistanceSymbol(w)] += 1;
  t.bytes += CopyBytes(w);
}

inline void Uncount(Tally& t, uint32_t w) {
  if (!IsPackedCopy(w)) {
    t.n[w] -= 1;
    t.bytes -= 1;
    return;
  }
  t.n[257 + PackedLengthIndex(w)] -= 1;
  t.n[kLitLenSlots + PackedDistanceSymbol(w)] -= 1;
  t.bytes -= CopyBytes(w);
}

// What the estimate of a range needs, with its end-of-block symbol.
struct Summary {
  uint64_t litLenLogs = 0;     // sum of c log2 c over literal/length counts
  uint64_t distLogs = 0;       // the same over distance counts
  uint32_t litLenTotal = 1;    // literal/length symbols, end of block included
  uint32_t distTotal = 0;      // distance symbols
  uint32_t used = 1;           // distinct symbols of both alphabets
  uint64_t extraBits = 0;      // length and distance extra bits
  uint64_t fixedBits = 3 + 7;  // the block with the fixed codes
  uint64_t bytes = 0;          // decoded bytes
};

Summary Summarise(const Tally& t) {
  Summary s;
  auto add = [&](uint32_t slot, uint32_t fixedLength, uint32_t extra) {
    const uint32_t c = t.n[slot];
    if (c == 0) return;
    s.used += 1;
    s.extraBits += uint64_t{c} * extra;
    s.fixedBits += uint64_t{c} * (fixedLength + extra);
    if (slot < kLitLenSlots) {
      s.litLenLogs += CLogC(c);
      s.litLenTotal += c;
    } else {
      s.distLogs += CLogC(c);
      s.distTotal += c;
    }
  };
  for (uint32_t b = 0; b < 144; ++b) add(b, 8, 0);
  for (uint32_t b = 144; b < 256; ++b) add(b, 9, 0);
  for (uint32_t i = 0; i <= 28; ++i) add(257 + i, i < 23 ? 7 : 8, LengthExtraBits[i]);
  for (uint32_t d = 0; d < kDistSlots; ++d) add(kLitLenSlots + d, 5, DistanceExtraBits[d]);
  s.bytes = t.bytes;
  return s;
}

Cost EstimateOf(const Summary& s) {
  const uint64_t entropy = CLogC(s.litLenTotal) - s.litLenLogs + CLogC(s.distTotal) - s.distLogs;
  const Cost dynamic =
      entropy + ((s.extraBits + kHeaderBaseBits + kHeaderBitsPerSymbol * s.used) << kFractionBits);
  const Cost fixed = s.fixedBits << kFractionBits;
  const uint64_t storedBlocks =
      s.bytes == 0 ? 1 : (s.bytes + kStoredBlockBytes - 1) / kStoredBlockBytes;
  const Cost stored = (8 * s.bytes + kStoredBlockBits * storedBlocks) << kFractionBits;
  return std::min({dynamic, fixed, stored});
}

// One side of a cut that moves symbol by symbol: its counts and summary,
// kept up to date in constant time per symbol.
struct Side {
  Tally tally;
  Summary sum;

  void Start() { sum = Summarise(tally); }

  // Adds (kStep 1) or removes (kStep -1) symbol w. One body serves both, so
  // that estimates made by adding vouch for removing too. Differences wrap
  // in unsigned arithmetic; the sums they keep never go below 0.
  template <int kStep>
  void Change(uint32_t w) {
    static_assert(kStep == 1 || kStep == -1);
    auto step = [](auto& value, uint64_t by) { value += kStep > 0 ? by : 0 - by; };
    auto count = [&](uint32_t slot, uint64_t& logs, uint32_t& total) {
      const uint32_t c = tally.n[slot], next = c + kStep;
      logs += CLogC(next) - CLogC(c);
      total += kStep;
      sum.used += static_cast<uint32_t>(next != 0) - static_cast<uint32_t>(c != 0);
      tally.n[slot] = next;
    };
    if (!IsPackedCopy(w)) {
      count(w, sum.litLenLogs, sum.litLenTotal);
      step(sum.fixedBits, w < 144 ? 8 : 9);
      step(sum.bytes, 1);
      return;
    }
    const uint32_t i = PackedLengthIndex(w), d = PackedDistanceSymbol(w);
    const uint32_t extra = LengthExtraBits[i] + DistanceExtraBits[d];
    count(257 + i, sum.litLenLogs, sum.litLenTotal);
    count(kLitLenSlots + d, sum.distLogs, sum.distTotal);
    step(sum.extraBits, extra);
    step(sum.fixedBits, (i < 23 ? 7 : 8) + 5 + extra);
    step(sum.bytes, CopyBytes(w));
  }
};

// ---- The search within one window ----

constexpr uint32_t kCheckpointSymbols = 1024;  // cumulative counts every this many symbols
// Heuristics of the search, tuned on real files:
constexpr uint32_t kGridPoints = 16;     // cut candidates per level of the coarse search
constexpr uint32_t kSweepSymbols = 512;  // below this span, every position is tried
constexpr uint32_t kMoveRadius = 256;    // how far a local move looks each way
constexpr uint32_t kMovePasses = 3;      // rounds of local moves at most
constexpr uint32_t kPieceSymbols = kCheckpointSymbols;  // the even pieces merged upwards

struct Cut {
  uint32_t at;  // the first symbol of the second block
  Cost cost;    // the estimates of both blocks
};

class WindowSearch {
 public:
  // symbols: the window's symbols (at least one); original: its original
  // block starts relative to it, strictly increasing, the first 0, all below
  // symbols.size(). Throws on an invalid symbol.
  WindowSearch(std::span<const uint32_t> symbols, std::span<const uint32_t> original);

  // The block starts chosen by estimate (relative, strictly increasing, the
  // first 0), never estimated dearer than the original ones.
  std::vector<uint32_t> Run() const;

  // The estimates of the blocks starting at `starts` (relative, strictly
  // increasing, the first 0, all below the window's size), summed.
  Cost Total(const std::vector<uint32_t>& starts) const;

 private:
  uint32_t Size() const { return static_cast<uint32_t>(symbols.size()); }
  // Counts of symbols [0, p).
  void Prefix(uint32_t p, Tally& out) const;
  // Counts of symbols [a, b), a <= b.
  void TallyOf(uint32_t a, uint32_t b, Tally& out) const;
  Cost Estimate(uint32_t a, uint32_t b) const;
  // The cheapest cut of [a, b) at a position in [lo, hi], a < lo <= hi < b,
  // trying each; the first of equal ones, but `keep` when it is one of them.
  Cut Sweep(uint32_t a, uint32_t b, uint32_t lo, uint32_t hi, uint32_t keep) const;
  // A good cut of [a, b), b - a >= 2, by the coarse-to-fine search.
  Cut BestCut(uint32_t a, uint32_t b) const;
  std::vector<uint32_t> SplitRecursively() const;
  std::vector<uint32_t> Prune(const std::vector<uint32_t>& starts) const;
  void MoveBoundaries(std::vector<uint32_t>& starts) const;

  std::span<const uint32_t> symbols;
  std::span<const uint32_t> original;
  // The counts of symbols [0, k * kCheckpointSymbols) for each k: kSlots
  // symbol counts each, and the bytes.
  std::vector<uint32_t> checkpoints;
  std::vector<uint64_t> checkpointBytes;
};

WindowSearch::WindowSearch(std::span<const uint32_t> symbols, std::span<const uint32_t> original)
    : symbols(symbols), original(original) {
  const size_t points = symbols.size() / kCheckpointSymbols + 1;
  checkpoints.assign(points * kSlots, 0);
  checkpointBytes.assign(points, 0);
  Tally running = {};
  for (size_t k = 0; k < points; ++k) {
    std::copy(running.n, running.n + kSlots, checkpoints.begin() + k * kSlots);
    checkpointBytes[k] = running.bytes;
    const size_t end = std::min(symbols.size(), (k + 1) * kCheckpointSymbols);
    for (size_t i = k * kCheckpointSymbols; i < end; ++i) {
      if (!ValidSymbol(symbols[i])) FailInvalidSymbol();
      Count(running, symbols[i]);
    }
  }
}

void WindowSearch::Prefix(uint32_t p, Tally& out) const {
  const uint32_t k = p / kCheckpointSymbols;
  const uint32_t below = k * kCheckpointSymbols;
  const bool fromBelow =
      p - below <= kCheckpointSymbols / 2 || uint64_t{below} + kCheckpointSymbols > Size();
  if (fromBelow) {
    std::copy_n(checkpoints.begin() + size_t{k} * kSlots, kSlots, out.n);
    out.bytes = checkpointBytes[k];
    for (uint32_t i = below; i < p; ++i) Count(out, symbols[i]);
  } else {
    std::copy_n(checkpoints.begin() + size_t{k + 1} * kSlots, kSlots, out.n);
    out.bytes = checkpointBytes[k + 1];
    for (uint32_t i = p; i < below + kCheckpointSymbols; ++i) Uncount(out, symbols[i]);
  }
}

void WindowSearch::TallyOf(uint32_t a, uint32_t b, Tally& out) const {
  if (b - a <= kCheckpointSymbols) {
    out = {};
    for (uint32_t i = a; i < b; ++i) Count(out, symbols[i]);
    return;
  }
  Tally low;
  Prefix(a, low);
  Prefix(b, out);
  for (uint32_t s = 0; s < kSlots; ++s) out.n[s] -= low.n[s];
  out.bytes -= low.bytes;
}

Cost WindowSearch::Estimate(uint32_t a, uint32_t b) const {
  Tally t;
  TallyOf(a, b, t);
  return EstimateOf(Summarise(t));
}

Cost WindowSearch::Total(const std::vector<uint32_t>& starts) const {
  Cost total = 0;
  for (size_t i = 0; i < starts.size(); ++i)
    total += Estimate(starts[i], i + 1 < starts.size() ? starts[i + 1] : Size());
  return total;
}

Cut WindowSearch::Sweep(uint32_t a, uint32_t b, uint32_t lo, uint32_t hi, uint32_t keep) const {
  Side left, right;
  TallyOf(a, lo, left.tally);
  TallyOf(lo, b, right.tally);
  left.Start();
  right.Start();
  Cut best = {lo, EstimateOf(left.sum) + EstimateOf(right.sum)};
  Cost kept = lo == keep ? best.cost : kNoCost;
  for (uint32_t p = lo; p < hi; ++p) {
    right.Change<-1>(symbols[p]);
    left.Change<1>(symbols[p]);
    const Cost cost = EstimateOf(left.sum) + EstimateOf(right.sum);
    if (cost < best.cost) best = {p + 1, cost};
    if (p + 1 == keep) kept = cost;
  }
  if (kept == best.cost) best.at = keep;
  return best;
}

Cut WindowSearch::BestCut(uint32_t a, uint32_t b) const {
  uint32_t lo = a + 1, hi = b - 1;
  if (hi - lo < kSweepSymbols) return Sweep(a, b, lo, hi, b);
  Tally atA, atB, atP;
  Prefix(a, atA);
  Prefix(b, atB);
  Cut best = {lo, kNoCost};
  auto consider = [&](uint32_t p) {
    Prefix(p, atP);
    Tally left, right;
    for (uint32_t s = 0; s < kSlots; ++s) {
      left.n[s] = atP.n[s] - atA.n[s];
      right.n[s] = atB.n[s] - atP.n[s];
    }
    left.bytes = atP.bytes - atA.bytes;
    right.bytes = atB.bytes - atP.bytes;
    const Cost cost = EstimateOf(Summarise(left)) + EstimateOf(Summarise(right));
    if (cost < best.cost || (cost == best.cost && p < best.at)) best = {p, cost};
  };
  // The original boundaries inside are candidates too, when there are few.
  const auto first = std::upper_bound(original.begin(), original.end(), a);
  const auto last = std::lower_bound(first, original.end(), b);
  if (last - first <= static_cast<std::ptrdiff_t>(kGridPoints))
    for (auto it = first; it != last; ++it) consider(*it);
  for (;;) {
    const uint32_t step = (hi - lo) / kGridPoints + 1;
    for (uint64_t p = lo + step / 2; p <= hi; p += step) {
      uint32_t at = static_cast<uint32_t>(p);
      // Wide steps land on checkpoints, where counts come without a scan.
      if (step >= kCheckpointSymbols) {
        const uint32_t snapped =
            (at + kCheckpointSymbols / 2) / kCheckpointSymbols * kCheckpointSymbols;
        if (snapped >= lo && snapped <= hi) at = snapped;
      }
      consider(at);
    }
    const uint32_t nextLo = std::max(lo, best.at > step ? best.at - step : 0);
    const uint32_t nextHi = static_cast<uint32_t>(std::min<uint64_t>(hi, uint64_t{best.at} + step));
    if (nextHi - nextLo < kSweepSymbols) return Sweep(a, b, nextLo, nextHi, best.at);
    lo = nextLo;
    hi = nextHi;
  }
}

std::vector<uint32_t> WindowSearch::SplitRecursively() const {
  std::vector<uint32_t> starts = {0};
  std::vector<std::pair<uint32_t, uint32_t>> pending = {{0, Size()}};
  while (!pending.empty()) {
    const auto [a, b] = pending.back();
    pending.pop_back();
    if (b - a < 2) continue;
    const Cut cut = BestCut(a, b);
    if (cut.cost >= Estimate(a, b)) continue;
    starts.push_back(cut.at);
    pending.push_back({cut.at, b});
    pending.push_back({a, cut.at});
  }
  std::sort(starts.begin(), starts.end());
  return starts;
}

std::vector<uint32_t> WindowSearch::Prune(const std::vector<uint32_t>& starts) const {
  // Blocks 0..m-1 start at at[i]; at[m] is the end. Boundary i (1..m-1) is
  // the start of block i; removing it joins block prev[i] with block i.
  const uint32_t m = static_cast<uint32_t>(starts.size());
  std::vector<uint32_t> at(starts), prev(m + 1), next(m + 1), version(m + 1, 0);
  at.push_back(Size());
  std::vector<Cost> cost(m);  // estimate of the block starting at at[i]
  for (uint32_t i = 0; i <= m; ++i) {
    prev[i] = i - 1;
    next[i] = i + 1;
  }
  for (uint32_t i = 0; i < m; ++i) cost[i] = Estimate(at[i], at[i + 1]);
  struct Removal {
    int64_t gain;  // estimated saving of the removal
    uint32_t boundary, version;
    bool operator<(const Removal& o) const {  // the greatest gain first, then the first boundary
      return gain != o.gain ? gain < o.gain : boundary > o.boundary;
    }
  };
  std::priority_queue<Removal> queue;
  auto offer = [&](uint32_t i) {
    const Cost joined = Estimate(at[prev[i]], at[next[i]]);
    const int64_t gain =
        static_cast<int64_t>(cost[prev[i]] + cost[i]) - static_cast<int64_t>(joined);
    queue.push({gain, i, ++version[i]});
  };
  for (uint32_t i = 1; i < m; ++i) offer(i);
  while (!queue.empty()) {
    const Removal r = queue.top();
    queue.pop();
    if (r.version != version[r.boundary]) continue;
    if (r.gain < 0) break;
    const uint32_t i = r.boundary, p = prev[i], q = next[i];
    cost[p] = static_cast<Cost>(static_cast<int64_t>(cost[p] + cost[i]) - r.gain);
    next[p] = q;
    prev[q] = p;
    version[i] += 1;  // gone
    if (p > 0) offer(p);
    if (q < m) offer(q);
  }
  std::vector<uint32_t> kept;
  for (uint32_t i = 0; i < m; i = next[i]) kept.push_back(at[i]);
  return kept;
}

void WindowSearch::MoveBoundaries(std::vector<uint32_t>& starts) const {
  for (uint32_t pass = 0; pass < kMovePasses && starts.size() > 1; ++pass) {
    bool changed = false;
    std::vector<uint32_t> moved = {0};
    for (size_t j = 1; j < starts.size(); ++j) {
      const uint32_t a = moved.back(), p = starts[j];
      const uint32_t b = j + 1 < starts.size() ? starts[j + 1] : Size();
      const uint32_t lo = std::max(a + 1, p > kMoveRadius ? p - kMoveRadius : 0);
      const uint32_t hi =
          static_cast<uint32_t>(std::min<uint64_t>(b - 1, uint64_t{p} + kMoveRadius));
      const Cut cut = Sweep(a, b, lo, hi, p);
      if (Estimate(a, b) <= cut.cost) {
        changed = true;  // one block is no dearer than two
        continue;
      }
      changed |= cut.at != p;
      moved.push_back(cut.at);
    }
    starts.swap(moved);
    if (!changed) break;
  }
}

std::vector<uint32_t> WindowSearch::Run() const {
  if (Size() < 2) return {0};
  // Recursive splitting misses blocks that alternate (no single cut helps
  // there); merging upwards from short even pieces finds them.
  const std::vector<uint32_t> cuts = SplitRecursively();
  std::vector<uint32_t> both, all, even;
  std::set_union(cuts.begin(), cuts.end(), original.begin(), original.end(),
                 std::back_inserter(both));
  std::vector<uint32_t> chosen = Prune(both);
  Cost chosenCost = Total(chosen);
  for (uint64_t p = 0; p < Size(); p += kPieceSymbols) even.push_back(static_cast<uint32_t>(p));
  std::set_union(both.begin(), both.end(), even.begin(), even.end(), std::back_inserter(all));
  if (all.size() > both.size()) {
    std::vector<uint32_t> merged = Prune(all);
    const Cost mergedCost = Total(merged);
    if (mergedCost < chosenCost) {
      chosen.swap(merged);
      chosenCost = mergedCost;
    }
  }
  const std::vector<uint32_t> originalStarts(original.begin(), original.end());
  if (chosenCost > Total(originalStarts)) chosen = originalStarts;
  MoveBoundaries(chosen);
  return chosen;
}

// ---- Exact checks over a run of symbols between original boundaries ----

// The caller's exact sizes over one run of symbols between original
// boundaries, each range asked about once.
class ExactSizes {
 public:
  explicit ExactSizes(const ExactBlockBits& exactBits) : exactBits(exactBits) {}

  uint64_t operator()(uint32_t begin, uint32_t end) {
    const auto [it, added] = known.try_emplace(uint64_t{begin} << 32 | end, 0);
    if (added) it->second = exactBits(begin, end);
    return it->second;
  }

  // Merges neighbours of `starts` (strictly increasing, below `end`) that
  // are no dearer as one block; returns the blocks kept and their total.
  std::vector<uint32_t> Merge(const std::vector<uint32_t>& starts, uint32_t end, uint64_t* total) {
    std::vector<uint32_t> kept;
    *total = 0;
    uint32_t current = starts[0];
    uint64_t currentBits = (*this)(current, starts.size() > 1 ? starts[1] : end);
    for (size_t i = 1; i < starts.size(); ++i) {
      const uint32_t blockEnd = i + 1 < starts.size() ? starts[i + 1] : end;
      const uint64_t bits = (*this)(starts[i], blockEnd);
      const uint64_t joined = (*this)(current, blockEnd);
      if (joined <= currentBits + bits) {
        currentBits = joined;
        continue;
      }
      kept.push_back(current);
      *total += currentBits;
      current = starts[i];
      currentBits = bits;
    }
    kept.push_back(current);
    *total += currentBits;
    return kept;
  }

  uint64_t Total(const std::vector<uint32_t>& starts, uint32_t end) {
    uint64_t total = 0;
    for (size_t i = 0; i < starts.size(); ++i)
      total += (*this)(starts[i], i + 1 < starts.size() ? starts[i + 1] : end);
    return total;
  }

 private:
  const ExactBlockBits& exactBits;
  std::unordered_map<uint64_t, uint64_t> known;  // begin << 32 | end: bits
};

}  // namespace

uint64_t EstimateBlockBits(std::span<const uint32_t> symbols, uint32_t begin, uint32_t end) {
  if (begin >= end || end > symbols.size()) Fault("Block range out of bounds!?!?!?");
  Side block;
  block.tally = {};
  block.Start();
  for (uint32_t i = begin; i < end; ++i) {
    if (!ValidSymbol(symbols[i])) FailInvalidSymbol();
    block.Change<1>(symbols[i]);
  }
  return EstimateOf(block.sum);
}

uint64_t EstimateBlocksBits(std::span<const uint32_t> symbols, std::span<const uint32_t> starts) {
  if (symbols.size() >= UINT32_MAX) Fault("Too many symbols!?!?!?");
  if (starts.empty() || starts[0] != 0) Fault("Block starts do not begin at 0!?!?!?");
  for (size_t i = 1; i < starts.size(); ++i)
    if (starts[i] <= starts[i - 1]) Fault("Block starts out of order!?!?!?");
  if (starts.back() >= symbols.size()) {
    if (symbols.empty() && starts.size() == 1) return 0;
    Fault("Block starts out of order!?!?!?");
  }
  const WindowSearch whole(symbols, {});
  return whole.Total(std::vector<uint32_t>(starts.begin(), starts.end()));
}

std::vector<uint32_t> ChooseBlockStarts(std::span<const uint32_t> symbols,
                                        std::span<const uint32_t> originalStarts,
                                        const ExactBlockBits& exactBits, uint32_t windowSymbols) {
  if (symbols.size() >= UINT32_MAX) Fault("Too many symbols!?!?!?");
  const uint32_t n = static_cast<uint32_t>(symbols.size());
  if (originalStarts.empty() || originalStarts[0] != 0)
    Fault("Block starts do not begin at 0!?!?!?");
  // The original blocks that hold symbols.
  std::vector<uint32_t> original;
  for (size_t i = 0; i < originalStarts.size(); ++i) {
    const uint32_t s = originalStarts[i];
    if (s > n || (i > 0 && s < originalStarts[i - 1])) Fault("Block starts out of order!?!?!?");
    if (s < n && (original.empty() || s != original.back())) original.push_back(s);
  }
  if (n == 0) return {0};
  windowSymbols = std::max<uint32_t>(windowSymbols, 2);

  std::vector<uint32_t> result;
  std::vector<uint32_t> chosen;  // of the run of symbols in hand
  uint32_t runStart = 0;
  for (uint32_t from = 0; from < n;) {
    // The window ends at the last original boundary it can reach, or is cut
    // inside a block longer than a window.
    uint32_t to = n;
    if (n - from > windowSymbols) {
      const uint32_t reach = from + windowSymbols;
      const auto it = std::upper_bound(original.begin(), original.end(), reach);
      to = *(it - 1) > from ? *(it - 1) : reach;
    }
    const auto first = std::lower_bound(original.begin(), original.end(), from);
    const auto last = std::lower_bound(first, original.end(), to);
    std::vector<uint32_t> relative;
    if (first == last || *first != from) relative.push_back(0);
    for (auto it = first; it != last; ++it) relative.push_back(*it - from);
    const WindowSearch search(symbols.subspan(from, to - from), relative);
    for (uint32_t s : search.Run()) chosen.push_back(from + s);
    from = to;
    if (to < n && !std::binary_search(original.begin(), original.end(), to)) continue;

    // A run between original boundaries is complete: the exact sizes decide.
    const auto runFirst = std::lower_bound(original.begin(), original.end(), runStart);
    const std::vector<uint32_t> runOriginal(runFirst,
                                            std::lower_bound(runFirst, original.end(), to));
    if (chosen != runOriginal) {
      ExactSizes exact(exactBits);
      uint64_t chosenBits = 0;
      chosen = exact.Merge(chosen, to, &chosenBits);
      if (chosen != runOriginal && chosenBits > exact.Total(runOriginal, to)) chosen = runOriginal;
    }
    result.insert(result.end(), chosen.begin(), chosen.end());
    chosen.clear();
    runStart = to;
  }
  return result;
}

}  // namespace trimbit
