// Timings of the program's decoder and re-encoder on streams made by zlib,
// with zlib's own inflate on the same streams as the yardstick, of the
// re-encoder on real data at several levels, and of the tree header search
// per block.
//
//   cmake -S . -B build-bench -DTRIMBIT_BENCH=ON && cmake --build build-bench --target
//   trimbit_bench build-bench/bench/trimbit_bench
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/zlib_util.h"
#include "deflate/block_decoder.h"
#include "deflate/reencode.h"
#include "deflate/stream_check.h"
#include "huffman/tree_optimiser.h"

namespace {

using testutil::Bytes;
using namespace trimbit;

struct Corpus {
  const char* name;
  Bytes data;    // the decoded bytes
  Bytes stream;  // raw deflate
};

const std::vector<Corpus>& Corpora() {
  static const std::vector<Corpus> corpora = [] {
    const size_t size = 4 << 20;
    std::vector<Corpus> c;
    auto add = [&](const char* name, Bytes data, int level, int strategy, int memLevel = 8) {
      Bytes stream = testutil::DeflateRaw(data, level, strategy, 15, memLevel);
      c.push_back({name, std::move(data), std::move(stream)});
    };
    add("text-6", testutil::SampleText(size, 1), 6, Z_DEFAULT_STRATEGY);
    add("text-9", testutil::SampleText(size, 2), 9, Z_DEFAULT_STRATEGY);
    add("text-1", testutil::SampleText(size, 3), 1, Z_DEFAULT_STRATEGY);
    add("mixture-6", testutil::Mixture(size, 4), 6, Z_DEFAULT_STRATEGY);
    add("runs-9", testutil::LongRuns(size, 5), 9, Z_DEFAULT_STRATEGY);
    add("text-fixed", testutil::SampleText(size, 6), 6, Z_FIXED);
    add("text-huffman", testutil::SampleText(size, 7), 6, Z_HUFFMAN_ONLY);
    // memLevel 1 ends a block every 128 symbols: table building dominates.
    add("text-6-small-blocks", testutil::SampleText(size, 8), 6, Z_DEFAULT_STRATEGY, 1);
    return c;
  }();
  return corpora;
}

// Real data from this machine, at most `limit` bytes of each kind: text
// (the licence texts), binary (this very program) and image data (the
// inflated pixel rows of the largest PNG found under /usr/share). Falls
// back to generated data where none is found.
Bytes RealText(size_t limit) {
  Bytes text;
  std::error_code error;
  std::vector<std::filesystem::path> paths;
  for (const auto& entry : std::filesystem::directory_iterator("/usr/share/common-licenses", error))
    if (entry.is_regular_file(error)) paths.push_back(entry.path());
  std::sort(paths.begin(), paths.end());
  for (const auto& path : paths) {
    const Bytes b = testutil::ReadFile(path.string());
    text.insert(text.end(), b.begin(), b.end());
    if (text.size() >= limit) break;
  }
  if (text.size() < 4096) return testutil::SampleText(limit, 21);
  text.resize(std::min(text.size(), limit));
  return text;
}

Bytes RealBinary(size_t limit) {
  Bytes binary = testutil::ReadFile("/proc/self/exe");
  if (binary.size() < 4096) return testutil::Mixture(limit, 22);
  binary.resize(std::min(binary.size(), limit));
  return binary;
}

// The IDAT data of a PNG inflated: filtered pixel rows.
Bytes PngPixels(const Bytes& png) {
  Bytes joined;
  size_t pos = 8;
  while (pos + 12 <= png.size()) {
    const uint32_t length = static_cast<uint32_t>(png[pos]) << 24 | png[pos + 1] << 16 |
                            png[pos + 2] << 8 | png[pos + 3];
    if (length > png.size() - pos - 12) break;
    if (std::memcmp(&png[pos + 4], "IDAT", 4) == 0)
      joined.insert(joined.end(), png.begin() + pos + 8, png.begin() + pos + 8 + length);
    pos += 12 + length;
  }
  Bytes pixels;
  if (joined.size() < 8 || !testutil::InflateRaw(joined.data() + 2, joined.size() - 2, &pixels))
    return {};
  return pixels;
}

Bytes RealImage(size_t limit) {
  std::error_code error;
  std::filesystem::path best;
  uintmax_t bestSize = 0;
  uint32_t seen = 0;
  for (const char* root : {"/usr/share/pixmaps", "/usr/share/icons", "/usr/share"}) {
    std::filesystem::recursive_directory_iterator it(
        root, std::filesystem::directory_options::skip_permission_denied, error);
    for (; !error && it != std::filesystem::recursive_directory_iterator() && seen < 20000;
         it.increment(error), ++seen) {
      if (it->path().extension() != ".png" || !it->is_regular_file(error)) continue;
      const uintmax_t size = it->file_size(error);
      if (!error && size > bestSize && size <= (4u << 20)) {
        bestSize = size;
        best = it->path();
      }
    }
    if (bestSize >= (64u << 10)) break;
  }
  Bytes pixels = best.empty() ? Bytes{} : PngPixels(testutil::ReadFile(best.string()));
  if (pixels.size() < 4096) return testutil::LongRuns(limit, 23);
  pixels.resize(std::min(pixels.size(), limit));
  return pixels;
}

// Real text, binary and image data at zlib levels 1, 6 and 9.
const std::vector<Corpus>& RealCorpora() {
  static const std::vector<Corpus> corpora = [] {
    const size_t limit = 2 << 20;
    std::vector<Corpus> c;
    const struct {
      const char* name;
      Bytes data;
    } kinds[] = {
        {"text", RealText(limit)}, {"binary", RealBinary(limit)}, {"image", RealImage(limit)}};
    static std::vector<std::string> names;  // labels must outlive the corpora
    names.reserve(9);
    for (const auto& kind : kinds) {
      for (int level : {1, 6, 9}) {
        names.push_back(std::string("real-") + kind.name + "-" + std::to_string(level));
        c.push_back({names.back().c_str(), kind.data, testutil::DeflateRaw(kind.data, level)});
      }
    }
    return c;
  }();
  return corpora;
}

void SetLabel(benchmark::State& state, const Corpus& c) {
  state.SetLabel(c.name);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.data.size()));
}

// zlib inflating the stream into a buffer of the right size.
void BM_ZlibInflate(benchmark::State& state) {
  const Corpus& c = Corpora()[state.range(0)];
  Bytes out(c.data.size());
  for (auto _ : state) {
    z_stream zs{};
    inflateInit2(&zs, -15);
    zs.next_in = const_cast<Bytef*>(c.stream.data());
    zs.avail_in = static_cast<uInt>(c.stream.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    inflate(&zs, Z_FINISH);
    inflateEnd(&zs);
    benchmark::DoNotOptimize(out.data());
  }
  SetLabel(state, c);
}

// The program's decoder over the whole stream, doing nothing with the symbols.
struct NullVisitor {
  static constexpr bool kDigest = false;
  DecodedDigest* digest = nullptr;
  void Literal(uint32_t, uint32_t, uint32_t) {}
  void Copy(const CopyEvent&, const uint8_t*, uint64_t) {}
  void EndOfBlock(uint32_t, uint32_t) {}
  void StoredData(const uint8_t*, uint32_t) {}
  void BlockEnd() {}
};

void BM_Decode(benchmark::State& state) {
  const auto codec = NewCodecState();
  const Corpus& c = Corpora()[state.range(0)];
  for (auto _ : state) {
    NullVisitor v;
    benchmark::DoNotOptimize(
        DecodeStream(*codec, c.stream.data(), static_cast<uint32_t>(c.stream.size()), v));
  }
  SetLabel(state, c);
}

// The program's decoder over the whole stream, digesting what it decodes
// to: the work of the self-check of a re-encoded stream.
void BM_DecodeAndDigest(benchmark::State& state) {
  const auto codec = NewCodecState();
  const Corpus& c = Corpora()[state.range(0)];
  for (auto _ : state) {
    DecodedDigest digest;
    benchmark::DoNotOptimize(
        DigestStream(*codec, c.stream.data(), static_cast<uint32_t>(c.stream.size()), &digest));
  }
  SetLabel(state, c);
}

// Re-encodes one corpus stream per iteration, its self-check included.
void ReencodeCorpus(benchmark::State& state, const Corpus& c) {
  const auto codec = NewCodecState();
  Bytes destination(c.stream.size() + 4);
  uint32_t newLength = 0;
  for (auto _ : state) {
    std::fill(destination.begin(), destination.end(), 0);
    benchmark::DoNotOptimize(ReencodeStream(*codec, Reporter{}, c.stream.data(),
                                            static_cast<uint32_t>(c.stream.size()),
                                            destination.data(), &newLength));
  }
  state.counters["saved%"] = 100.0 * (1.0 - static_cast<double>(newLength) / c.stream.size());
  SetLabel(state, c);
}

// The whole re-encoder on generated data.
void BM_ReencodeStream(benchmark::State& state) {
  ReencodeCorpus(state, Corpora()[state.range(0)]);
}

// The whole re-encoder on real data at several levels.
void BM_ReencodeReal(benchmark::State& state) {
  ReencodeCorpus(state, RealCorpora()[state.range(0)]);
}

// Collects the symbol counts of every compressed block of a stream.
struct BlockCounts {
  uint32_t litLen[288];
  uint32_t dist[32];
};
struct CountsCollector {
  static constexpr bool kDigest = false;
  DecodedDigest* digest = nullptr;
  std::vector<BlockCounts>* blocks;
  const CodecState* codec;
  void Literal(uint32_t, uint32_t, uint32_t) {}
  void Copy(const CopyEvent&, const uint8_t*, uint64_t) {}
  void EndOfBlock(uint32_t, uint32_t) {
    BlockCounts b;
    std::memcpy(b.litLen, codec->work.litLenCounts, sizeof b.litLen);
    std::memcpy(b.dist, codec->work.distCounts, sizeof b.dist);
    blocks->push_back(b);
  }
  void StoredData(const uint8_t*, uint32_t) {}
  void BlockEnd() {}
};

// The tree header search on the counts of real blocks, one block per
// iteration: small blocks (memLevel 1) of real text and image data.
void BM_OptimiseTreeHeader(benchmark::State& state) {
  const auto codec = NewCodecState();
  static const std::vector<BlockCounts> blocks = [&codec] {
    std::vector<BlockCounts> b;
    for (int kind : {0, 2}) {
      const Corpus& c = RealCorpora()[kind * 3];
      const Bytes small = testutil::DeflateRaw(c.data, 6, Z_DEFAULT_STRATEGY, 15, 1);
      CountsCollector collector;
      collector.blocks = &b;
      collector.codec = codec.get();
      DecodeStream(*codec, small.data(), static_cast<uint32_t>(small.size()), collector);
    }
    return b;
  }();
  TreeHeaderPlan plan;
  CodeEntry litLen[288], dist[32];
  size_t i = 0;
  for (auto _ : state) {
    plan = {};
    plan.litLenTable = litLen;
    plan.distTable = dist;
    const BlockCounts& b = blocks[i++ % blocks.size()];
    benchmark::DoNotOptimize(
        OptimiseTreeHeader(codec->headerSearch, codec->tieBreak, b.litLen, b.dist, &plan));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  state.SetLabel(std::to_string(blocks.size()) + " blocks");
}

// The self-check alone: decoding the re-encoded stream and comparing.
void BM_SelfCheck(benchmark::State& state) {
  const auto codec = NewCodecState();
  const Corpus& c = Corpora()[state.range(0)];
  Bytes destination(c.stream.size() + 4);
  uint32_t newLength = 0;
  const uint32_t saved =
      ReencodeStream(*codec, Reporter{}, c.stream.data(), static_cast<uint32_t>(c.stream.size()),
                     destination.data(), &newLength);
  DecodedDigest original;
  const uint32_t bits =
      DigestStream(*codec, c.stream.data(), static_cast<uint32_t>(c.stream.size()), &original);
  for (auto _ : state)
    VerifyReencodedStream(*codec, destination.data(), newLength, bits - saved, original);
  SetLabel(state, c);
}

void AllCorpora(benchmark::internal::Benchmark* b) {
  for (int i = 0; i < 8; ++i) b->Arg(i);
}

BENCHMARK(BM_ZlibInflate)->Apply(AllCorpora)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decode)->Apply(AllCorpora)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeAndDigest)->Apply(AllCorpora)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReencodeStream)->Apply(AllCorpora)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SelfCheck)->Apply(AllCorpora)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReencodeReal)->DenseRange(0, 8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OptimiseTreeHeader)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
