// The decoder against zlib and against streams made by hand: decoded bytes,
// bits occupied, per-block symbol counts, the code-length sequence as read,
// the grace bits past the end, and every decoding failure.
#include "deflate/block_decoder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "common/zlib_util.h"
#include "deflate/codec_state.h"
#include "stream_builder.h"
#include "support/error.h"
#include "zlib_streams.h"

namespace {

using namespace handmade;
using namespace trimbit;

// What a stream decodes to, and every block's type and counts.
struct Decoded {
  Bytes out;
  std::vector<uint32_t> types;
  std::vector<Counts> counts;
};

// The symbol loop works on a copy of its visitor: this one only points.
struct Collector {
  static constexpr bool kDigest = false;
  DecodedDigest* digest = nullptr;
  Decoded* d;
  const CodecState* codec;

  void Literal(uint32_t byte, uint32_t, uint32_t) { d->out.push_back(static_cast<uint8_t>(byte)); }
  void Copy(const CopyEvent& c, const uint8_t* window, uint64_t end) {
    for (uint64_t i = end - c.length; i < end; ++i) d->out.push_back(window[i & (kWindowSize - 1)]);
  }
  void EndOfBlock(uint32_t, uint32_t) {}
  void StoredData(const uint8_t* data, uint32_t n) { d->out.insert(d->out.end(), data, data + n); }
  void BlockEnd() {
    const CodeWorkspace& work = codec->work;
    d->types.push_back(codec->header.btype);
    d->counts.push_back(
        {{work.litLenCounts, work.litLenCounts + 288}, {work.distCounts, work.distCounts + 32}});
  }
};

// Decodes in a fresh state, turning a refusal into its message ("" when none).
std::string Decode(const Bytes& stream, Decoded* d, uint32_t* bits = nullptr) {
  const auto codec = NewCodecState();
  Collector c{nullptr, d, codec.get()};
  try {
    const uint32_t b = DecodeStream(*codec, stream.data(), static_cast<uint32_t>(stream.size()), c);
    if (bits) *bits = b;
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), Error::Kind::BadInput) << e.what();
    return e.what();
  }
  return "";
}

TEST(BlockDecoder, AgreesWithZlibOverLevelsStrategiesAndFlushes) {
  for (const auto& [name, stream] : ZlibStreams()) {
    SCOPED_TRACE(name);
    Bytes inflated;
    size_t used = 0;
    ASSERT_TRUE(testutil::InflateRaw(stream, &inflated, &used));
    Decoded d;
    uint32_t bits = 0;
    ASSERT_EQ(Decode(stream, &d, &bits), "");
    EXPECT_TRUE(d.out == inflated);
    EXPECT_EQ((bits + 7) / 8, used);  // zlib stops at the byte holding the last bit
  }
}

// Streams built by hand from known tokens: the counts of every block must
// be those of its tokens, and the bytes those zlib inflates.
TEST(BlockDecoder, CountsSymbolsOfEveryBlock) {
  using Plan = std::vector<std::pair<char, uint32_t>>;  // 's'tored, 'f'ixed or 'd'ynamic; size
  const Plan plans[] = {{{'f', 1}},
                        {{'d', 40}},
                        {{'f', 300}, {'d', 2000}, {'s', 50}, {'f', 700}, {'d', 5}},
                        {{'d', 3000}, {'d', 3000}, {'f', 0}, {'s', 0}, {'d', 1}}};
  uint32_t seed = 1;
  for (const Plan& plan : plans) {
    BitSink sink;
    Bytes expected;
    std::vector<Counts> counts;
    for (size_t i = 0; i < plan.size(); ++i) {
      const auto [kind, n] = plan[i];
      const bool final = i + 1 == plan.size();
      // A stored block holds what literals alone would give.
      const std::vector<Token> tokens = SomeTokens(n, seed++, kind == 's' ? 0 : expected.size());
      const size_t start = expected.size();
      Expand(tokens, &expected);
      if (kind == 's') sink.Stored(final, Bytes(expected.begin() + start, expected.end()));
      if (kind != 's') kind == 'f' ? sink.Fixed(final, tokens) : sink.Dynamic(final, tokens);
      counts.push_back(CountTokens(tokens));
    }
    Bytes inflated;
    ASSERT_TRUE(testutil::InflateRaw(sink.bytes, &inflated));
    ASSERT_TRUE(inflated == expected);

    Decoded d;
    uint32_t bits = 0;
    ASSERT_EQ(Decode(sink.bytes, &d, &bits), "");
    EXPECT_EQ(bits, sink.bits);
    EXPECT_TRUE(d.out == expected);
    ASSERT_EQ(d.types.size(), plan.size());
    for (size_t i = 0; i < plan.size(); ++i) {
      EXPECT_EQ(d.types[i], std::string("sfd").find(plan[i].first)) << "block " << i;
      EXPECT_TRUE(plan[i].first == 's' || d.counts[i] == counts[i]) << "block " << i;
    }
  }
}

// A fixed block of the given literal/length symbols; an entry kDist + d
// stands for the 5-bit distance code d.
constexpr int kDist = 1000;
Bytes Fixed(std::initializer_list<int> symbols, bool final = true) {
  static const std::vector<uint8_t> lengths = FixedLitLenLengths();
  static const std::vector<uint32_t> codes = CanonicalCodes(lengths);
  BitSink s;
  s.Put(final | 2, 3);
  for (int c : symbols) c >= kDist ? s.PutCode(c - kDist, 5) : s.PutCode(codes[c], lengths[c]);
  return s.bytes;
}

// A final dynamic block: the header with the given sequence (under the
// code-length code `cl` when given), then the given codes (value, length).
Bytes Dynamic(uint32_t litLenCount, uint32_t distCount, const std::vector<SequenceElement>& seq,
              const std::vector<std::pair<uint32_t, uint32_t>>& codes = {},
              std::vector<uint8_t> cl = {}) {
  BitSink s;
  s.Header(true, litLenCount, distCount, seq, std::move(cl));
  for (auto [code, length] : codes) s.PutCode(code, length);
  return s.bytes;
}

// The lengths sent singly: n of them, all 0 but those given.
std::vector<SequenceElement> Singly(size_t n,
                                    std::initializer_list<std::pair<uint32_t, uint32_t>> set) {
  std::vector<SequenceElement> seq(n, {0, 0});
  for (auto [symbol, length] : set) seq[symbol].first = length;
  return seq;
}

// Code-length-code lengths (by code-length symbol) giving the symbols
// 0, 1 and 2 the lengths a, b and c.
std::vector<uint8_t> CodeLengthCode(uint8_t a, uint8_t b, uint8_t c) {
  std::vector<uint8_t> cl(19, 0);
  cl[0] = a, cl[1] = b, cl[2] = c;
  return cl;
}

// Every case against zlib's verdict too: the decoder refuses exactly what
// zlib refuses, and what both accept decodes to the same bytes.
TEST(BlockDecoder, RefusesWhatIsNotDeflateWithItsMessage) {
  // Five 9-bit literals after the 3 header bits: the end-of-block code starts
  // on a byte boundary and is the last byte. Its seven 0 bits (peeked as
  // nine) may lie wholly in the 16 zero bits granted past the end; when the
  // block is not the last, the next header fits in them too, but not its LEN.
  const Bytes ending = Fixed({200, 200, 200, 200, 200, 256});
  const Bytes notFinal = Fixed({200, 200, 200, 200, 200, 256}, false);
  // 257 + 2 lengths: 'a' to 'd' 3 (codes 100 to 111), end-of-block and distance
  // 0 length 1; the zeros between use every repeat code, and a 16 after a 17
  // repeats a zero. With 286 + 30 lengths declared, the last 18 of `past137`
  // starts at 315 and runs 137 past the total.
  const std::vector<SequenceElement> repeats = {{18, 86}, {3, 0},  {16, 0}, {18, 127}, {17, 4},
                                                {16, 1},  {16, 3}, {1, 0},  {1, 0},    {0, 0}};
  std::vector<SequenceElement> past137 = {{18, 127}, {18, 127}, {17, 7}, {17, 7}, {17, 7}};
  past137.insert(past137.end(), 9, {0, 0});
  past137.push_back({18, 127});
  // The code tables of the cases below, lengths by symbol (distance d at
  // litLenCount + d). Canonical codes, most significant bit first:
  //   ab:     'a' 0, end-of-block 1; no distance code
  //   three:  'a' 0, 'b' 1, end-of-block 1 again: over-subscribed
  //   abEnd2: 'a' 00, 'b' 01, end-of-block 10; 11 is no code: incomplete
  //   lone:   'a' 0, end-of-block 10, length 3 11; distance 0 the one code 0
  //   holey:  as lone, but distances 0 (0) and 1 (10); 11 is no code
  //   endOnly: end-of-block 0 alone; 1 is no code
  const auto ab = Singly(257 + 1, {{'a', 1}, {256, 1}});
  const auto three = Singly(257 + 1, {{'a', 1}, {'b', 1}, {256, 1}, {257, 1}});
  const auto abEnd2 = Singly(257 + 1, {{'a', 2}, {'b', 2}, {256, 2}});
  const auto noEnd = Singly(257 + 1, {{'a', 1}, {'b', 1}});
  const auto lone = Singly(258 + 1, {{'a', 1}, {256, 2}, {257, 2}, {258, 1}});
  const auto noDist = Singly(258 + 1, {{'a', 1}, {256, 2}, {257, 2}});
  const auto holey = Singly(258 + 2, {{'a', 1}, {256, 2}, {257, 2}, {258, 1}, {259, 2}});
  const auto endOnly = Singly(257 + 1, {{256, 1}});
  const struct {
    const char* name;
    Bytes stream;
    std::string outcome;  // the message, or what the stream decodes to
  } cases[] = {
      {"block type 3", {0x07, 0, 0, 0}, "Invalid block type"},
      {"LEN and NLEN disagree",
       {0x01, 5, 0, 5, 0, 1, 2, 3, 4, 5},
       "Discrepancy in length and complemented length in stored block"},
      {"stored data cut short",
       {0x01, 10, 0, 0xF5, 0xFF, 1, 2, 3},
       "Too few bytes to be stored from input!?!?!?"},
      {"every repeat code", Dynamic(257, 2, repeats, {{4, 3}, {5, 3}, {6, 3}, {7, 3}, {0, 1}}),
       "abcd"},
      {"repeat past the count", Dynamic(257, 1, {{18, 127}, {18, 127}, {0, 0}}),
       "Discrepancy in number of code lengths"},
      {"repeat 137 past the largest count", Dynamic(286, 30, past137),
       "Discrepancy in number of code lengths"},
      {"288 literal/length codes declared", Dynamic(288, 1, Singly(288 + 1, {{'a', 1}, {256, 1}})),
       "Too many literal/length codes (more than 286)"},
      {"31 distance codes declared", Dynamic(257, 31, Singly(257 + 31, {{'a', 1}, {256, 1}})),
       "Too many distance codes (more than 30)"},
      {"fixed symbol 286", Fixed({'a', 'b', 'c', 'd', 286}), "Invalid literal/length code"},
      {"fixed distance 30", Fixed({'a', 257, kDist + 30}), "Invalid distance code"},
      {"distance 2 after one byte", Fixed({'a', 257, kDist + 1, 256}),
       "Distance points before beginning of file"},
      {"distance equal to the bytes so far", Fixed({'a', 'b', 257, kDist + 1, 256}), "ababa"},
      {"whole", ending, std::string(5, '\xC8')},
      {"end-of-block code cut off", {ending.begin(), ending.end() - 1}, std::string(5, '\xC8')},
      {"more needed than the grace",
       {notFinal.begin(), notFinal.end() - 1},
       "Unexpected end of data"},
      // Codes zlib refuses although every pattern the block uses is covered:
      // decoding them anyway would turn a refused stream into a valid one.
      {"incomplete code-length code",
       Dynamic(257, 1, ab, {{0, 1}, {1, 1}}, CodeLengthCode(2, 2, 0)),
       "Incomplete code-length code"},
      {"code-length code without codes",
       Dynamic(257, 1, ab, {{0, 1}, {1, 1}}, CodeLengthCode(0, 0, 0)),
       "Incomplete code-length code"},
      {"over-subscribed code-length code",
       Dynamic(257, 1, ab, {{0, 1}, {1, 1}}, CodeLengthCode(1, 1, 1)),
       "Over-subscribed code-length code"},
      {"over-subscribed literal/length code", Dynamic(257, 1, three),
       "Over-subscribed literal/length code"},
      {"incomplete literal/length code", Dynamic(257, 1, abEnd2, {{0, 2}, {1, 2}, {2, 2}}),
       "Incomplete literal/length code"},
      {"no end-of-block code", Dynamic(257, 1, noEnd, {{0, 1}, {1, 1}}),
       "Missing end-of-block code"},
      {"incomplete distance code", Dynamic(258, 2, holey, {{0, 1}, {3, 2}, {0, 1}, {2, 2}}),
       "Incomplete distance code"},
      // The exceptions zlib makes: a single code of length 1, and a
      // distance code without codes. A pattern no code covers is refused
      // only when it comes.
      {"end-of-block the one code", Dynamic(257, 1, endOnly, {{0, 1}}), ""},
      {"uncovered literal/length pattern", Dynamic(257, 1, endOnly, {{1, 1}}),
       "Invalid literal/length code"},
      {"a lone distance code", Dynamic(258, 1, lone, {{0, 1}, {3, 2}, {0, 1}, {2, 2}}), "aaaa"},
      {"uncovered distance pattern", Dynamic(258, 1, lone, {{0, 1}, {3, 2}, {1, 1}, {2, 2}}),
       "Invalid distance code"},
      {"no distance code and no copy", Dynamic(257, 1, ab, {{0, 1}, {0, 1}, {1, 1}}), "aa"},
      {"no distance code for a copy", Dynamic(258, 1, noDist, {{0, 1}, {3, 2}, {0, 1}}),
       "Invalid distance code"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Decoded d;
    const std::string message = Decode(c.stream, &d);
    EXPECT_EQ(message.empty() ? std::string(d.out.begin(), d.out.end()) : message, c.outcome);
    // zlib agrees; it grants no bits past the end, so it gets zero bytes.
    Bytes padded = c.stream, inflated;
    padded.insert(padded.end(), 2, 0);
    EXPECT_EQ(testutil::InflateRaw(padded, &inflated), message.empty());
    if (message.empty()) {
      EXPECT_EQ(std::string(inflated.begin(), inflated.end()), c.outcome);
    }
  }
}

}  // namespace
