// Timings of the program's decoder and re-encoder on streams made by zlib,
// with zlib's own inflate on the same streams as the yardstick.
//
//   cmake -S . -B build-bench -DTRIMBIT_BENCH=ON && cmake --build build-bench --target
//   trimbit_bench build-bench/bench/trimbit_bench
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <vector>

#include "common/zlib_util.h"
#include "deflate/block_decoder.h"
#include "deflate/reencode.h"
#include "deflate/stream_check.h"
#include "deflate/tables.h"

namespace {

using testutil::Bytes;

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
  InitTables();
  const Corpus& c = Corpora()[state.range(0)];
  for (auto _ : state) {
    NullVisitor v;
    benchmark::DoNotOptimize(
        DecodeStream(c.stream.data(), static_cast<uint32_t>(c.stream.size()), v));
  }
  SetLabel(state, c);
}

// The program's decoder over the whole stream, digesting what it decodes
// to: the work of the self-check of a re-encoded stream.
void BM_DecodeAndDigest(benchmark::State& state) {
  InitTables();
  const Corpus& c = Corpora()[state.range(0)];
  for (auto _ : state) {
    DecodedDigest digest;
    benchmark::DoNotOptimize(
        DigestStream(c.stream.data(), static_cast<uint32_t>(c.stream.size()), &digest));
  }
  SetLabel(state, c);
}

// The whole re-encoder, its self-check included.
void BM_ReencodeStream(benchmark::State& state) {
  InitTables();
  const Corpus& c = Corpora()[state.range(0)];
  Bytes destination(c.stream.size() + 4);
  uint32_t newLength = 0;
  for (auto _ : state) {
    std::fill(destination.begin(), destination.end(), 0);
    benchmark::DoNotOptimize(ReencodeStream(c.stream.data(), static_cast<uint32_t>(c.stream.size()),
                                            destination.data(), &newLength));
  }
  state.counters["saved%"] = 100.0 * (1.0 - static_cast<double>(newLength) / c.stream.size());
  SetLabel(state, c);
}

// The self-check alone: decoding the re-encoded stream and comparing.
void BM_SelfCheck(benchmark::State& state) {
  InitTables();
  const Corpus& c = Corpora()[state.range(0)];
  Bytes destination(c.stream.size() + 4);
  uint32_t newLength = 0;
  const uint32_t saved = ReencodeStream(c.stream.data(), static_cast<uint32_t>(c.stream.size()),
                                        destination.data(), &newLength);
  DecodedDigest original;
  const uint32_t bits =
      DigestStream(c.stream.data(), static_cast<uint32_t>(c.stream.size()), &original);
  for (auto _ : state) VerifyReencodedStream(destination.data(), newLength, bits - saved, original);
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

}  // namespace

BENCHMARK_MAIN();
