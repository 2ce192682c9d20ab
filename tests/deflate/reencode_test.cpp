// ReencodeStream with zlib as the judge: every new stream must inflate to
// exactly what the original inflated to, never be longer, and save exactly
// the bits it claims. Hand-made streams pin the rules that decide the bits
// and the verbose block report; two threads, each with its own state, must
// write what one thread writes.
#include "deflate/reencode.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "common/zlib_util.h"
#include "deflate/split_reencode.h"
#include "stream_builder.h"
#include "support/error.h"
#include "zlib_streams.h"

namespace {

using namespace handmade;
using trimbit::CodecState;

struct Outcome {
  std::string error;  // "" when it worked
  Bytes stream;       // the new stream
  uint32_t saved = 0;
  uint32_t used = 0;
};

// Re-encodes in `codec`, reporting nothing unless a reporter is given.
Outcome Reencode(CodecState& codec, const Bytes& input, const trimbit::Reporter& reporter = {}) {
  Outcome o;
  Bytes destination(input.size() + 4, 0);  // 4 more, to see that nothing goes there
  uint32_t newLength = 0;
  try {
    o.saved =
        trimbit::ReencodeStream(codec, reporter, input.data(), static_cast<uint32_t>(input.size()),
                                destination.data(), &newLength, &o.used);
  } catch (const trimbit::Error& e) {
    o.error = e.what();
    return o;
  }
  EXPECT_LE(newLength, input.size());
  // Nothing is written past the new stream.
  EXPECT_EQ(std::count(destination.begin() + newLength, destination.end(), 0),
            destination.size() - newLength);
  o.stream.assign(destination.begin(), destination.begin() + newLength);
  return o;
}

// Re-encodes in a fresh state.
Outcome Reencode(const Bytes& input) {
  return Reencode(*trimbit::NewCodecState(), input);
}

// zlib's view of a stream: what it inflates to and its exact length in
// bits. Inflating block by block (Z_BLOCK), zlib stops right after the
// final block's last code, and data_type tells the bits it left unused.
struct Inflated {
  bool ok = false;
  Bytes data = Bytes(4 << 20);
  uint64_t bits = 0;
};

Inflated ZlibInflate(const Bytes& stream) {
  Inflated r;
  z_stream zs{};
  inflateInit2(&zs, -15);
  zs.next_in = const_cast<Bytef*>(stream.data());
  zs.avail_in = static_cast<uInt>(stream.size());
  zs.next_out = r.data.data();
  zs.avail_out = static_cast<uInt>(r.data.size());
  int rc = Z_OK;
  while (rc == Z_OK && (zs.data_type & 0xC0) != 0xC0) rc = inflate(&zs, Z_BLOCK);
  r.bits = 8 * (stream.size() - zs.avail_in) - (zs.data_type & 63);
  r.ok = rc == Z_OK && inflate(&zs, Z_FINISH) == Z_STREAM_END;
  r.data.resize(zs.total_out);
  inflateEnd(&zs);
  return r;
}

// The properties every re-encoding must have.
void CheckRoundTrip(const Bytes& original, const Outcome& o) {
  ASSERT_EQ(o.error, "");
  const Inflated before = ZlibInflate(original), after = ZlibInflate(o.stream);
  ASSERT_TRUE(before.ok);
  ASSERT_TRUE(after.ok);
  EXPECT_TRUE(after.data == before.data);
  EXPECT_EQ(o.used, (before.bits + 7) / 8);
  EXPECT_LE(o.stream.size(), o.used);
  EXPECT_EQ(o.saved, before.bits - after.bits);
}

// Every stream also in place, its destination the input itself: the same
// bytes come out.
TEST(Reencode, RoundTripsZlibStreams) {
  uint64_t totalSaved = 0;
  for (const auto& [name, stream] : ZlibStreams()) {
    SCOPED_TRACE(name);
    const Outcome o = Reencode(stream);
    CheckRoundTrip(stream, o);
    totalSaved += o.saved;
    Bytes inPlace = stream;
    uint32_t newLength = 0;
    trimbit::ReencodeStream(*trimbit::NewCodecState(), {}, inPlace.data(),
                            static_cast<uint32_t>(inPlace.size()), inPlace.data(), &newLength);
    inPlace.resize(newLength);
    EXPECT_TRUE(inPlace == o.stream);
  }
  EXPECT_GT(totalSaved, 0u);
}

std::vector<Token> Join(std::vector<Token> a, const std::vector<Token>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Hand-made streams whose re-encoding is known bit for bit.
TEST(Reencode, WritesKnownStreamsBitForBit) {
  const std::vector<Token> a = Join(Literals("to be or not "), {Copy(3, 3), Copy(4, 13)});
  const std::vector<Token> b = Join(Literals(" that is"), {Copy(10, 20), Lit('?')});
  const std::vector<Token> x = {Lit('x')}, yz = Join(Literals("yz"), {Copy(5, 3)});
  const std::vector<Token> upper(100, Lit(200)), many(500, Lit(200));  // 9-bit fixed codes
  // 20000 bytes of history in a stored block, which stays as it is. A copy
  // of three 8-bit literals at distance 16384 costs 7 + 5 + 12 bits: the
  // same as the literals, so it stays; at 16385 (13 extra bits) it costs one
  // bit more and becomes literals. The last stored block, now one bit
  // earlier, is realigned although it would compress well.
  const Bytes history = testutil::SampleText(20000, 31), zeros(60, 0);
  const std::vector<Token> copies = {Copy(3, 16384), Copy(3, 16385)};
  // The second copy starts at 20003 and reads from 20003 - 16385.
  const std::vector<Token> rewritten = {Copy(3, 16384), Lit(history[3618]), Lit(history[3619]),
                                        Lit(history[3620])};
  const struct {
    const char* name;
    Bytes input, expected;
    uint32_t saved;  // 0: whatever zlib's bit lengths say
  } cases[] = {
      {"two fixed blocks merge, BFINAL on the merged block",
       BitSink().Fixed(false, a).Fixed(true, b).bytes, BitSink().Fixed(true, Join(a, b)).bytes, 10},
      {"an empty stored block between blocks vanishes",
       BitSink().Fixed(false, a).Stored(false, {}).Fixed(true, b).bytes,
       BitSink().Fixed(true, Join(a, b)).bytes, 0},
      {"bytes after the final block are ignored",
       BitSink().Fixed(false, a).Fixed(true, b).Align().Put(0xA50000FF, 32).bytes,
       BitSink().Fixed(true, Join(a, b)).bytes, 10},
      {"an empty final stored block vanishes", BitSink().Fixed(false, a).Stored(true, {}).bytes,
       BitSink().Fixed(true, a).bytes, 0},
      // The empty dynamic block's re-sent header is longer than the
      // one-literal block before it; once dropped it must not be copied back.
      {"a dropped block is finished when dropped",
       BitSink().Fixed(false, x).Dynamic(false, {}).Fixed(true, yz).bytes,
       BitSink().Fixed(true, Join(x, yz)).bytes, 0},
      {"a fixed block of literals 144 to 255 becomes stored", BitSink().Fixed(true, upper).bytes,
       BitSink().Stored(true, Bytes(100, 200)).bytes, 0},
      // Merged into its predecessor, such a block has no stored form of its own.
      {"a merged block is not made stored", BitSink().Fixed(false, x).Fixed(true, many).bytes,
       BitSink().Fixed(true, Join(x, many)).bytes, 0},
      // A stream that decodes to nothing becomes the shortest such stream,
      // a final fixed block holding only its end-of-block code.
      {"an empty stream stays the empty fixed block", {0x03, 0x00}, {0x03, 0x00}, 0},
      {"empty blocks of every type become 03 00",
       BitSink().Stored(false, {}).Dynamic(false, {}).Fixed(false, {}).Stored(true, {}).bytes,
       {0x03, 0x00},
       0},
      {"copies cost against literals; stored stays stored",
       BitSink().Stored(false, history).Fixed(false, copies).Stored(true, zeros).bytes,
       BitSink().Stored(false, history).Fixed(false, rewritten).Stored(true, zeros).bytes, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome o = Reencode(c.input);
    CheckRoundTrip(c.input, o);
    EXPECT_TRUE(o.stream == c.expected);
    EXPECT_TRUE(c.saved == 0 || o.saved == c.saved) << o.saved << " bits saved";
  }
}

TEST(Reencode, FailsOrKeepsTheOriginalWhereItMust) {
  // Decoding failures pass through.
  EXPECT_EQ(Reencode({0x07, 0x00}).error, "Invalid block type");

  // A final code that reaches into the zero bits granted past the end: the
  // new stream would spell those bits out and come out a byte longer, so
  // the original is kept and nothing is saved. (Five 9-bit literals, then
  // the end-of-block code on a byte boundary, cut off.)
  Bytes cut = BitSink().Fixed(true, std::vector<Token>(5, Lit(200))).bytes;
  cut.pop_back();
  const Outcome o = Reencode(cut);
  EXPECT_EQ(o.error, "");
  EXPECT_TRUE(o.stream == cut);
  EXPECT_EQ(o.saved, 0u);
  EXPECT_EQ(o.used, cut.size());
}

// A sink that keeps nothing in view: the self-check reads the stream back.
// It may stand `skipped` bytes further on than it holds (an Append of null
// skips), so that the new stream lies past 4 GiB.
class HiddenSink : public trimbit::OutputSink {
 public:
  Bytes bytes;
  uint64_t skipped = 0;

 protected:
  bool DoAppend(const void* b, size_t n) override {
    if (b == nullptr) return (skipped += n, true);
    bytes.insert(bytes.end(), static_cast<const uint8_t*>(b), static_cast<const uint8_t*>(b) + n);
    return true;
  }
  bool DoWriteAt(uint64_t at, const void* b, size_t n) override {
    std::memcpy(bytes.data() + (at - skipped), b, n);
    return true;
  }
  bool DoReadAt(uint64_t at, void* to, size_t n) override {
    std::memcpy(to, bytes.data() + (at - skipped), n);
    return true;
  }
  bool DoTruncate(uint64_t size) override {
    bytes.resize(size - skipped);
    return true;
  }
};

// An input of the stream at offset `at`, zeros elsewhere.
struct PlacedStream {
  const Bytes& stream;
  uint64_t at;
};

int ReadPlaced(void* context, uint64_t offset, void* buffer, size_t n) {
  const PlacedStream& p = *static_cast<const PlacedStream*>(context);
  auto* to = static_cast<uint8_t*>(buffer);
  for (size_t i = 0; i < n; ++i) {
    const uint64_t k = offset + i - p.at;
    to[i] = offset + i >= p.at && k < p.stream.size() ? p.stream[k] : 0;
  }
  return 0;
}

// The later passes over a block replay the symbols the first pass kept; a
// block too long to keep is decoded again. A stream read through a small
// window and built in a small buffer (blocks longer than either: the input
// read again, bytes sent out and taken back in a block's passes, BFINAL set
// in bytes sent out, offsets past 4 GiB) streams out. All must write the
// same bits, also when the kinds of block alternate in one stream.
TEST(Reencode, ReplayAndSmallWindowsWriteWhatDecodingWrites) {
  struct Way {
    uint32_t recordLimit, inputWindow, workWindow;
    uint64_t at;  // where the stream lies in the input and the sink
  };
  const uint64_t far = (5ull << 30) + 3;  // offsets past 4 GiB
  const Way ways[] = {{0, 0, 0, 0},
                      {1, 0, 0, 0},
                      {300, 0, 0, 0},
                      {1u << 20, 66000, 1 << 16, 3},
                      {300, 70000, 1 << 20, 3},
                      {1u << 20, 1 << 20, 1 << 16, far}};
  auto streams = ZlibStreams();
  const Bytes big = testutil::Mixture(1 << 20, 15);
  for (int level : {1, 9})
    streams.push_back({"1 MiB", testutil::DeflateRaw(big, level, 0, 15, 9, {})});
  // Blocks far longer than the smallest windows, whose later passes pay.
  for (uint32_t copyEvery : {0u, 3u})
    streams.push_back(
        {"one long block", BitSink().Dynamic(true, SomeTokens(400000, 5, 0, copyEvery)).bytes});
  for (const auto& [name, stream] : streams) {
    const Outcome replayed = Reencode(stream);
    for (const Way& way : ways) {
      SCOPED_TRACE(testing::Message() << name << ", limit " << way.recordLimit << ", windows "
                                      << way.inputWindow << " " << way.workWindow);
      const auto codec = trimbit::NewCodecState();
      trimbit::SetSymbolRecordLimit(*codec, way.recordLimit);
      Outcome decoded;
      if (way.inputWindow == 0) {
        decoded = Reencode(*codec, stream);
      } else {
        trimbit::SetWorkWindow(*codec, way.workWindow);
        PlacedStream placed = {stream, way.at};
        trimbit::InputWindow window(ReadPlaced, &placed, way.at + stream.size() + 5,
                                    way.inputWindow);
        HiddenSink sink;
        sink.Append(nullptr, way.at);
        uint64_t newLength = 0, used = 0;
        decoded.saved = static_cast<uint32_t>(trimbit::ReencodeStreamIn(
            *codec, {}, window, way.at, stream.size(), sink, &newLength, &used));
        decoded.stream = sink.bytes;
        EXPECT_EQ(newLength, decoded.stream.size());
        EXPECT_EQ(used, replayed.used);
      }
      EXPECT_EQ(decoded.error, "");
      EXPECT_TRUE(decoded.stream == replayed.stream);
      EXPECT_EQ(decoded.saved, replayed.saved);
    }
  }
}

// -x: every stream inflates to what it did, never comes out longer than
// without -x and, unless shorter, is the default stream bit for bit; the
// same through a hidden sink past 4 GiB, and correct with small windows that
// also end inside blocks. Halves of different data in one block gain.
TEST(Reencode, SplitBlocksNeverLoseAndKeepTheContent) {
  auto streams = ZlibStreams();
  const Bytes halves = testutil::SampleText(30000, 3), noise = testutil::RandomBytes(20000, 4);
  Bytes joined = halves;
  joined.insert(joined.end(), noise.begin(), noise.end());
  streams.push_back({"text, then random bytes", testutil::DeflateRaw(joined, 9, 0, 15, 9, {})});
  // One block longer than two windows, whose new blocks begin where its
  // letters change and inside it where a window ends.
  std::vector<Token> letters = SomeTokens(2500000, 5, 0, 0);
  for (size_t i = 0; i < 300000; ++i) letters[i].value = '0' + letters[i].value % 4;
  streams.push_back({"one long block", BitSink().Dynamic(true, letters).bytes});
  uint32_t shorter = 0;
  for (const auto& [name, stream] : streams) {
    const Outcome plain = Reencode(stream);
    for (int way = 0; way < 3; ++way) {
      if (way == 1 && stream.size() > 100000) continue;  // small windows take long
      SCOPED_TRACE(testing::Message() << name << ", way " << way);
      const auto codec = trimbit::NewCodecState();
      codec->splitBlocks = true;
      if (way == 1) trimbit::SetSplitWindow(*codec, 3000);
      Outcome split;
      if (way < 2) {
        split = Reencode(*codec, stream);
      } else {
        const uint64_t far = (5ull << 30) + 3;
        PlacedStream placed = {stream, far};
        trimbit::InputWindow window(ReadPlaced, &placed, far + stream.size() + 5, 70000);
        HiddenSink sink;
        sink.Append(nullptr, far);
        uint64_t newLength = 0, used = 0;
        split.saved = static_cast<uint32_t>(trimbit::ReencodeStreamIn(
            *codec, {}, window, far, stream.size(), sink, &newLength, &used));
        split.stream = sink.bytes;
        split.used = static_cast<uint32_t>(used);
        EXPECT_EQ(newLength, split.stream.size());
      }
      CheckRoundTrip(stream, split);
      EXPECT_LE(split.stream.size(), plain.stream.size());
      if (split.stream.size() == plain.stream.size()) {
        EXPECT_TRUE(split.stream == plain.stream);
      }
      shorter += split.stream.size() < plain.stream.size();
      if (name == "text, then random bytes" || name == "one long block") {
        EXPECT_LT(split.stream.size(), plain.stream.size());
      }
    }
  }
  EXPECT_GT(shorter, 0u);
}

std::string Escape(const std::string& text) {
  static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
  return std::regex_replace(text, special, R"(\$&)");
}

template <class... T>
std::string Format(const char* format, T... values) {
  char text[256];
  std::snprintf(text, sizeof text, format, values...);
  return text;
}

// The verbose report, line for line, for a stored, a fixed and a dynamic block.
TEST(BlockReport, DescribesEveryBlockInVerboseRuns) {
  // The dynamic block's 26 bytes; 'Q', 'W' and distance code 9 get codes
  // but are never used.
  std::vector<Token> tokens = Literals("the cat sat on the mat");
  tokens.push_back(Copy(4, 8));
  BitSink sink;
  sink.Stored(false, {'h', 'e', 'l', 'l', 'o'}).Fixed(false, {Lit('a'), Lit('b'), Lit('c')});
  const uint64_t dynamicStart = sink.bits;
  sink.Dynamic(true, tokens, {'Q', 'W', 286 + 9});
  const unsigned dynamicBits = static_cast<unsigned>(sink.bits - dynamicStart);
  const unsigned header = sink.sequenceBits + 3 * sink.clCount + 17;
  const std::string anyHeaderLine =
      "    [0-9]+ C-codes \\([0-9]+ bits\\); [0-9]+ bits for trees; [0-9]+ bits total "
      "\\([0-9]+\\.[0-9]{3} bytes\\)\n";

  // The lines every block gets, then those of the three blocks: stored
  // "hello" (3 + 5 + 32 + 40 bits) at output bit 0, fixed "abc" (3 + 24 + 7
  // bits) at 80, and the dynamic block at 114.
  auto lines = [](unsigned number, unsigned type, const std::string& name, unsigned offset,
                  unsigned bytes, unsigned bits) {
    return Format(
        "\n  Block      :%14u\n  Blocktype  :%14u  (%s)\n  Offset     :%14u\n"
        "  Size (unc) :%14u bytes\n  Size (unc) :%14u bits\n  Bits (com) :%14u  (%0.2f bits/bit)\n",
        number, type, name.c_str(), offset, bytes, 8 * bytes, bits, 8.0 * bytes / bits);
  };
  const std::string dynamicName =
      Format("Dynamic trees; L-codes: %u; D-codes: %u", sink.litLenCount, sink.distCount);
  const std::string expected =
      Escape("\nCompressed data:\n" + lines(1, 0, "Stored", 0, 5, 80) +
             "  Bits stored:            80\n" + lines(2, 1, "Fixed trees", 5, 3, 34) +
             "  Bits stored:            64\n" + lines(3, 2, dynamicName, 8, 26, dynamicBits) +
             Format("    %u C-codes (%u bits); %u bits for trees; %u bits total (%0.3f bytes)\n",
                    sink.clCount, 3 * sink.clCount, sink.sequenceBits, header, header / 8.0)) +
      "  Bits \\(new\\) : *[0-9]+\n" + anyHeaderLine +
      Escape(
          // 3 + 22 literals of 8 bits + the copy (7 + 5 + 1) + end of block (7).
          "  Bits fixed :           199\n"
          // 8 bits per byte, 35 for the header and 3 to align.
          "  Bits stored:           246\n"
          "      L-code defined but unused:  81\n"
          "      L-code defined but unused:  87\n"
          "      D-code defined but unused:   9\n") +
      "(  Bits \\(redo\\): *[0-9]+\n" + anyHeaderLine + ")+";

  for (uint32_t level : {2u, 1u}) {  // below 2 nothing is reported
    std::string printed;
    const trimbit::Reporter collect = {level,
                                       [](void* text, const trimbit::ReportEvent& event) {
                                         EXPECT_EQ(event.kind, trimbit::ReportKind::Detail);
                                         EXPECT_EQ(event.level, trimbit::kReportVerbose);
                                         *static_cast<std::string*>(text) += event.text;
                                       },
                                       &printed};
    const Outcome o = Reencode(*trimbit::NewCodecState(), sink.bytes, collect);
    CheckRoundTrip(sink.bytes, o);
    EXPECT_TRUE(std::regex_match(printed, std::regex(level == 2 ? expected : "")))
        << printed << "\n---\n"
        << expected;
  }
}

// Each thread re-encodes its streams one after the other in its own state,
// which carries the tie-break mode from stream to stream; the bytes must be
// those of the same streams run one after the other on one thread, each
// list in a fresh state.
TEST(Reencode, TwoThreadsWriteWhatOneThreadWrites) {
  std::vector<Bytes> lists[2];
  const auto& streams = ZlibStreams();
  for (size_t i = 0; i < streams.size(); i += 8) lists[i / 8 % 2].push_back(streams[i].second);
  auto run = [](const std::vector<Bytes>& streams, std::vector<Outcome>* outcomes) {
    const auto codec = trimbit::NewCodecState();
    for (const Bytes& stream : streams) outcomes->push_back(Reencode(*codec, stream));
  };
  std::vector<Outcome> alone[2], together[2];
  for (int k = 0; k < 2; ++k) run(lists[k], &alone[k]);
  std::thread first(run, std::cref(lists[0]), &together[0]);
  std::thread second(run, std::cref(lists[1]), &together[1]);
  first.join();
  second.join();
  for (int k = 0; k < 2; ++k) {
    ASSERT_EQ(together[k].size(), lists[k].size());
    for (size_t n = 0; n < lists[k].size(); ++n) {
      SCOPED_TRACE(testing::Message() << "thread " << k << ", stream " << n);
      CheckRoundTrip(lists[k][n], together[k][n]);
      EXPECT_TRUE(together[k][n].stream == alone[k][n].stream);
      EXPECT_EQ(together[k][n].saved, alone[k][n].saved);
    }
  }
}

}  // namespace
