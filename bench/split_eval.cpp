// What new block boundaries would gain on real files. For every deflate
// stream of each GZIP member, PNG image (its IDAT stream) and deflated ZIP
// member named on the command line: the exact bits of the stream's blocks
// as they are and as ChooseBlockStarts cuts the same symbols, each block in
// its cheapest form (dynamic with the best header, fixed, or stored), and
// the time of the search against zlib inflating the stream and against the
// re-encoder rewriting it. Totals per format, and per size of stream (its
// decoded bytes); -v adds a line per file. -best also finds, as a yardstick,
// the cheapest cut of each stream by exact sizes among a grid of about 300
// points, the original boundaries and the chosen ones (slow: quadratic in
// the points).
//
//   cmake -S . -B build-bench -DTRIMBIT_BENCH=ON && cmake --build build-bench --target
//   trimbit_split_eval && build-bench/bench/trimbit_split_eval [-v] [-best] files...
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "common/zlib_util.h"
#include "deflate/block_cost.h"
#include "deflate/block_decoder.h"
#include "deflate/block_split.h"
#include "deflate/reencode.h"
#include "huffman/deflate_alphabet.h"
#include "huffman/tree_optimiser.h"
#include "support/error.h"

namespace {

using testutil::Bytes;
using namespace trimbit;
// Processor time of this thread, which other work on the machine disturbs
// less than the time of day.
struct Clock {
  using time_point = double;
  static double now() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
  }
};

double Seconds(double since) {
  return Clock::now() - since;
}

// A stream's symbols in the packed form and the starts of its blocks.
struct SymbolCollector {
  static constexpr bool kDigest = false;
  static constexpr bool kCountSymbols = false;
  DecodedDigest* digest = nullptr;
  std::vector<uint32_t>* symbols;
  std::vector<uint32_t>* starts;
  uint64_t* bytes;
  void Literal(uint32_t b, uint32_t, uint32_t) {
    symbols->push_back(b);
    *bytes += 1;
  }
  void Copy(const CopyEvent& c, const uint8_t*, uint64_t) {
    symbols->push_back(
        trimbit::PackedCopy(c.lengthSymbol, c.lengthExtra, c.distSymbol, c.distExtra));
    *bytes += c.length;
  }
  void EndOfBlock(uint32_t, uint32_t) {}
  void StoredData(const uint8_t* data, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i) symbols->push_back(data[i]);
    *bytes += length;
  }
  void BlockEnd() { starts->push_back(static_cast<uint32_t>(symbols->size())); }
};

// Exact bits of any range of a stream's symbols in its cheapest form, with
// cumulative counts every 4096 symbols so that a call costs little more
// than the header search.
class ExactCosts {
 public:
  ExactCosts(const std::vector<uint32_t>& symbols, CodecState& codec)
      : symbols(symbols), codec(codec) {
    const size_t points = symbols.size() / kStep + 1;
    cumulative.assign(points * kSlots, 0);
    std::vector<uint64_t> running(kSlots, 0);
    for (size_t k = 0; k < points; ++k) {
      std::copy(running.begin(), running.end(), cumulative.begin() + k * kSlots);
      for (size_t i = k * kStep; i < std::min(symbols.size(), (k + 1) * kStep); ++i)
        Count(symbols[i], running.data(), 1);
    }
  }

  uint64_t operator()(uint32_t begin, uint32_t end) {
    std::vector<uint64_t> counts(kSlots, 0);
    Prefix(end, counts.data(), 1);
    Prefix(begin, counts.data(), -1);
    uint32_t litLen[288] = {}, dist[32] = {};
    for (uint32_t s = 0; s < 286; ++s) litLen[s] = static_cast<uint32_t>(counts[s]);
    for (uint32_t d = 0; d < 30; ++d) dist[d] = static_cast<uint32_t>(counts[286 + d]);
    litLen[256] = 1;
    TreeHeaderPlan plan = {};
    CodeEntry litLenCodes[288], distCodes[32];
    plan.litLenTable = litLenCodes;
    plan.distTable = distCodes;
    const uint64_t dynamic =
        OptimiseTreeHeader(codec.headerSearch, codec.tieBreak, litLen, dist, &plan);
    uint64_t fixed = 3;
    for (uint32_t s = 0; s < 286; ++s) {
      const uint32_t length = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
      fixed += uint64_t{litLen[s]} * (length + (s > 256 ? LengthExtraBits[s - 257] : 0));
    }
    for (uint32_t d = 0; d < 30; ++d) fixed += uint64_t{dist[d]} * (5 + DistanceExtraBits[d]);
    // Stored only as the passes choose it: one stored block, and only while
    // it costs at most 65535 bits. Where its header falls is not known here,
    // so the padding counts as 4 bits, about its average.
    const uint64_t bytes = counts[kBytesSlot];
    const uint64_t storedBits = StoredBlockBits(bytes, 1);
    const uint64_t stored = storedBits <= 65535 ? storedBits : UINT64_MAX;
    return std::min({dynamic, fixed, stored});
  }

 private:
  static constexpr size_t kStep = 4096;
  static constexpr uint32_t kBytesSlot = 316;
  static constexpr uint32_t kSlots = 317;

  static void Count(uint32_t w, uint64_t* counts, int64_t sign) {
    if (!trimbit::IsPackedCopy(w)) {
      counts[w] += sign;
      counts[kBytesSlot] += sign;
      return;
    }
    const uint32_t i = trimbit::PackedLengthIndex(w);
    counts[257 + i] += sign;
    counts[286 + trimbit::PackedDistanceSymbol(w)] += sign;
    counts[kBytesSlot] += sign * (LengthBase[i] + trimbit::PackedLengthExtra(w));
  }
  void Prefix(uint32_t p, uint64_t* counts, int64_t sign) const {
    const size_t k = p / kStep;
    for (uint32_t s = 0; s < kSlots; ++s) counts[s] += sign * cumulative[k * kSlots + s];
    for (size_t i = k * kStep; i < p; ++i) Count(symbols[i], counts, sign);
  }

  const std::vector<uint32_t>& symbols;
  CodecState& codec;
  std::vector<uint64_t> cumulative;
};

struct Totals {
  uint32_t files = 0, streams = 0, failed = 0;
  uint64_t symbols = 0, bytes = 0, originalBlocks = 0, chosenBlocks = 0;
  uint64_t originalBits = 0, chosenBits = 0, bestBits = 0;
  double inflateSeconds = 0, reencodeSeconds = 0, searchSeconds = 0, exactSeconds = 0;

  void Add(const Totals& o) {
    files += o.files;
    streams += o.streams;
    failed += o.failed;
    symbols += o.symbols;
    bytes += o.bytes;
    originalBlocks += o.originalBlocks;
    chosenBlocks += o.chosenBlocks;
    originalBits += o.originalBits;
    chosenBits += o.chosenBits;
    bestBits += o.bestBits;
    inflateSeconds += o.inflateSeconds;
    reencodeSeconds += o.reencodeSeconds;
    searchSeconds += o.searchSeconds;
    exactSeconds += o.exactSeconds;
  }
};

// Streams by their decoded size: below 4 KiB, 16 KiB, 64 KiB, 256 KiB, 1 MiB,
// and above.
constexpr int kBuckets = 6;
const char* const kBucketNames[kBuckets] = {"<4K", "<16K", "<64K", "<256K", "<1M", ">=1M"};
int BucketOf(uint64_t bytes) {
  int b = 0;
  for (uint64_t limit = 4096; b + 1 < kBuckets && bytes >= limit; limit *= 4) ++b;
  return b;
}

// The exact bits of the cheapest cut of symbols [0, n) at the given points
// (sorted, unique, the first 0, all below n): every pair of points is a
// candidate block.
uint64_t BestCutBits(ExactCosts& costs, std::vector<uint32_t> points, uint32_t n) {
  points.push_back(n);
  std::vector<uint64_t> best(points.size(), UINT64_MAX);
  best[0] = 0;
  for (size_t j = 1; j < points.size(); ++j)
    for (size_t i = 0; i < j; ++i)
      best[j] = std::min(best[j], best[i] + costs(points[i], points[j]));
  return best.back();
}

bool findBest = false;

struct Books {
  Totals* format;
  Totals* bucket;  // kBuckets of them, of the same format
  Totals* file;
};

// Runs the search over one raw deflate stream found at data[0..size) and
// books it; returns the stream's length in bytes, or 0 when it did not decode.
size_t EvaluateStream(CodecState& codec, const uint8_t* data, size_t size, const Books& books) {
  std::vector<uint32_t> symbols, starts = {0};
  uint64_t bytes = 0;
  uint32_t bits = 0;
  const uint32_t length = static_cast<uint32_t>(std::min<size_t>(size, kLongestStream));
  try {
    SymbolCollector collector{nullptr, &symbols, &starts, &bytes};
    bits = DecodeStream(codec, data, length, collector);
  } catch (const Error&) {
    books.format->failed += 1;
    return 0;
  }
  const size_t used = std::min<size_t>((bits + 7) / 8, length);

  Bytes out(bytes + 1);
  auto since = Clock::now();
  z_stream zs{};
  inflateInit2(&zs, -15);
  zs.next_in = const_cast<Bytef*>(data);
  zs.avail_in = static_cast<uInt>(used);
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  const int inflated = inflate(&zs, Z_FINISH);
  inflateEnd(&zs);
  const double inflateSeconds = Seconds(since);
  if (inflated != Z_STREAM_END || zs.total_out != bytes)
    std::fprintf(stderr, "zlib does not agree with the decoder\n");

  Bytes destination(used + 4, 0);
  uint32_t newLength = 0;
  since = Clock::now();
  try {
    ReencodeStream(codec, Reporter{}, data, static_cast<uint32_t>(used), destination.data(),
                   &newLength);
  } catch (const Error&) {
  }
  const double reencodeSeconds = Seconds(since);

  ExactCosts costs(symbols, codec);
  double exactSeconds = 0;
  const ExactBlockBits exactBits = [&](uint32_t begin, uint32_t end) {
    const auto start = Clock::now();
    const uint64_t result = costs(begin, end);
    exactSeconds += Seconds(start);
    return result;
  };
  since = Clock::now();
  const std::vector<uint32_t> chosen = ChooseBlockStarts(symbols, starts, exactBits);
  const double searchSeconds = Seconds(since);

  // The contract, and the two totals outside the timing.
  const uint32_t n = static_cast<uint32_t>(symbols.size());
  bool valid = !chosen.empty() && chosen[0] == 0;
  for (size_t i = 1; i < chosen.size(); ++i) valid &= chosen[i] > chosen[i - 1];
  valid &= n == 0 || chosen.back() < n;
  if (!valid) std::fprintf(stderr, "invalid block starts\n");
  uint64_t originalBits = 0, chosenBits = 0, originalBlocks = 0;
  for (size_t i = 0; i + 1 < starts.size(); ++i) {
    if (starts[i] == starts[i + 1]) continue;
    originalBits += costs(starts[i], starts[i + 1]);
    originalBlocks += 1;
  }
  for (size_t i = 0; n > 0 && i < chosen.size(); ++i)
    chosenBits += costs(chosen[i], i + 1 < chosen.size() ? chosen[i + 1] : n);
  if (chosenBits > originalBits) std::fprintf(stderr, "chosen blocks cost more\n");
  uint64_t bestBits = chosenBits;
  if (findBest && n > 1) {
    std::vector<uint32_t> points(chosen);
    for (uint32_t s : starts)
      if (s < n) points.push_back(s);
    const uint32_t grid = std::max<uint32_t>(32, n / 300);
    for (uint32_t p = 0; p < n; p += grid) points.push_back(p);
    std::sort(points.begin(), points.end());
    points.erase(std::unique(points.begin(), points.end()), points.end());
    bestBits = BestCutBits(costs, points, n);
  }

  for (Totals* x : {books.format, books.bucket + BucketOf(bytes), books.file}) {
    x->streams += 1;
    x->symbols += n;
    x->bytes += bytes;
    x->originalBlocks += originalBlocks;
    x->chosenBlocks += n > 0 ? chosen.size() : 0;
    x->originalBits += originalBits;
    x->chosenBits += chosenBits;
    x->bestBits += bestBits;
    x->inflateSeconds += inflateSeconds;
    x->reencodeSeconds += reencodeSeconds;
    x->searchSeconds += searchSeconds;
    x->exactSeconds += exactSeconds;
  }
  return used;
}

uint32_t Le16(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8;
}
uint32_t Le32(const Bytes& b, size_t at) {
  return Le16(b, at) | Le16(b, at + 2) << 16;
}
uint32_t Be32(const Bytes& b, size_t at) {
  return uint32_t{b[at]} << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3];
}

void EvaluateGzip(CodecState& codec, const Bytes& b, const Books& books) {
  size_t pos = 0;
  while (pos + 18 <= b.size() && b[pos] == 0x1F && b[pos + 1] == 0x8B && b[pos + 2] == 8) {
    const uint32_t flags = b[pos + 3];
    size_t p = pos + 10;
    if (flags & 4) p = p + 2 <= b.size() ? p + 2 + Le16(b, p) : b.size();
    for (uint32_t field : {8u, 16u})
      if (flags & field) {
        while (p < b.size() && b[p] != 0) ++p;
        ++p;
      }
    if (flags & 2) p += 2;
    if (p >= b.size()) return;
    const size_t used = EvaluateStream(codec, &b[p], b.size() - p, books);
    if (used == 0) return;
    pos = p + used + 8;
  }
}

void EvaluatePng(CodecState& codec, const Bytes& b, const Books& books) {
  Bytes joined;
  for (size_t pos = 8; pos + 12 <= b.size();) {
    const uint32_t length = Be32(b, pos);
    if (length > b.size() - pos - 12) break;
    if (std::memcmp(&b[pos + 4], "IDAT", 4) == 0)
      joined.insert(joined.end(), b.begin() + pos + 8, b.begin() + pos + 8 + length);
    pos += 12 + length;
  }
  if (joined.size() > 2) EvaluateStream(codec, joined.data() + 2, joined.size() - 2, books);
}

void EvaluateZip(CodecState& codec, const Bytes& b, const Books& books) {
  if (b.size() < 22) return;
  size_t end = b.size() - 22;
  const size_t lowest = b.size() > 22 + 65535 ? b.size() - 22 - 65535 : 0;
  while (end > lowest && Le32(b, end) != 0x06054B50) --end;
  if (Le32(b, end) != 0x06054B50) return;
  const uint32_t entries = Le16(b, end + 10);
  size_t pos = Le32(b, end + 16);
  for (uint32_t e = 0; e < entries && pos + 46 <= b.size() && Le32(b, pos) == 0x02014B50; ++e) {
    const uint32_t flags = Le16(b, pos + 8), method = Le16(b, pos + 10);
    const uint32_t compressed = Le32(b, pos + 20), local = Le32(b, pos + 42);
    const size_t next = pos + 46 + Le16(b, pos + 28) + Le16(b, pos + 30) + Le16(b, pos + 32);
    if (method == 8 && !(flags & 1) && uint64_t{local} + 30 <= b.size() &&
        Le32(b, local) == 0x04034B50) {
      const size_t data = size_t{local} + 30 + Le16(b, local + 26) + Le16(b, local + 28);
      if (data < b.size() && compressed > 0)
        EvaluateStream(codec, &b[data], std::min<size_t>(compressed, b.size() - data), books);
    }
    pos = next;
  }
}

void Print(const char* name, const Totals& t) {
  const double gain = t.originalBits ? 100.0 * (double(t.originalBits) - double(t.chosenBits)) /
                                           double(t.originalBits)
                                     : 0;
  auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
  const double megabytes = double(t.bytes) / (1 << 20);
  std::printf(
      "%-8s %5u files %6u streams %7.2f MB  blocks %7llu -> %7llu  bytes saved %9.0f  "
      "gain %5.2f%%  search %6.3f s (%6.3f s/MB) = %5.2f x inflate (%6.3f s/MB), %5.2f x "
      "re-encode (exact sizes %4.1f%%)\n",
      name, t.files, t.streams, megabytes, static_cast<unsigned long long>(t.originalBlocks),
      static_cast<unsigned long long>(t.chosenBlocks),
      (double(t.originalBits) - double(t.chosenBits)) / 8, gain, t.searchSeconds,
      ratio(t.searchSeconds, megabytes), ratio(t.searchSeconds, t.inflateSeconds),
      ratio(t.inflateSeconds, megabytes), ratio(t.searchSeconds, t.reencodeSeconds),
      100 * ratio(t.exactSeconds, t.searchSeconds));
  if (findBest && t.originalBits > t.bestBits)
    std::printf("         best cut on a grid: gain %5.2f%%, of which the search finds %4.1f%%\n",
                100.0 * (double(t.originalBits) - double(t.bestBits)) / double(t.originalBits),
                100.0 * (double(t.originalBits) - double(t.chosenBits)) /
                    (double(t.originalBits) - double(t.bestBits)));
  if (t.failed) std::printf("         %u streams did not decode\n", t.failed);
}

}  // namespace

int main(int argc, char** argv) {
  const auto codec = NewCodecState();
  bool verbose = false;
  Totals totals[3], buckets[3][kBuckets];
  const char* names[3] = {"GZIP", "PNG", "ZIP"};
  for (int a = 1; a < argc; ++a) {
    if (std::strcmp(argv[a], "-v") == 0) {
      verbose = true;
      continue;
    }
    if (std::strcmp(argv[a], "-best") == 0) {
      findBest = true;
      continue;
    }
    const Bytes b = testutil::ReadFile(argv[a]);
    int format = -1;
    if (b.size() >= 2 && b[0] == 0x1F && b[1] == 0x8B) format = 0;
    if (b.size() >= 8 && std::memcmp(b.data(), "\x89PNG\r\n\x1A\n", 8) == 0) format = 1;
    if (b.size() >= 4 && Le32(b, 0) == 0x04034B50) format = 2;
    if (format < 0) {
      std::fprintf(stderr, "%s: not GZIP, PNG or ZIP\n", argv[a]);
      continue;
    }
    Totals file;
    totals[format].files += 1;
    const Books books = {&totals[format], buckets[format], &file};
    if (format == 0) EvaluateGzip(*codec, b, books);
    if (format == 1) EvaluatePng(*codec, b, books);
    if (format == 2) EvaluateZip(*codec, b, books);
    if (verbose) {
      file.files = 1;
      Print(argv[a], file);
    }
  }
  Totals all;
  for (int f = 0; f < 3; ++f) {
    if (!totals[f].files) continue;
    Print(names[f], totals[f]);
    for (int k = 0; k < kBuckets; ++k)
      if (buckets[f][k].streams) Print(kBucketNames[k], buckets[f][k]);
    all.Add(totals[f]);
  }
  Print("all", all);
  return 0;
}
