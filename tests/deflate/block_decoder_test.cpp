// The decoder against zlib and against streams made by hand: decoded bytes,
// bits occupied, per-block symbol counts, the code-length sequence as read,
// the grace bits past the end, and every decoding failure.
#include "deflate/block_decoder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "common/zlib_util.h"
#include "deflate/tables.h"
#include "stream_builder.h"

namespace {

using handmade::BitSink;
using handmade::Copy;
using handmade::Lit;
using handmade::Token;
using testutil::Bytes;

// What a stream decodes to, and every block's type and counts.
struct Decoded {
  Bytes out;
  struct Block {
    uint32_t btype;
    std::vector<uint32_t> litLen, dist;
  };
  std::vector<Block> blocks;
};

// Visitors are copied into the symbol loop: this one only points.
struct Collector {
  static constexpr bool kDigest = false;
  DecodedDigest* digest = nullptr;
  Decoded* d;

  void Literal(uint32_t byte, uint32_t, uint32_t) { d->out.push_back(static_cast<uint8_t>(byte)); }
  void Copy(const CopyEvent& c, const uint8_t* window, uint64_t windowPos) {
    for (uint32_t i = 0; i < c.length; ++i)
      d->out.push_back(window[(windowPos - c.length + i) & (kWindowSize - 1)]);
  }
  void EndOfBlock(uint32_t, uint32_t) {}
  void StoredData(const uint8_t* data, uint32_t n) { d->out.insert(d->out.end(), data, data + n); }
  void BlockEnd() {
    d->blocks.push_back({blockHeader.btype,
                         std::vector<uint32_t>(codeWork.litLenCounts, codeWork.litLenCounts + 288),
                         std::vector<uint32_t>(codeWork.distCounts, codeWork.distCounts + 32)});
  }
};

// Decodes, turning a thrown message into text ("" when none).
std::string Decode(const Bytes& stream, Decoded* d, uint32_t* bits = nullptr) {
  InitTables();
  Collector c;
  c.d = d;
  try {
    const uint32_t b = DecodeStream(stream.data(), static_cast<uint32_t>(stream.size()), c);
    if (bits) *bits = b;
  } catch (Message m) {
    ReleaseBlockTables();
    return m;
  }
  return "";
}

TEST(BlockDecoder, AgreesWithZlibOverLevelsStrategiesAndFlushes) {
  struct Content {
    const char* name;
    Bytes data;
  };
  const Content contents[] = {{"text", testutil::SampleText(150000, 3)},
                              {"random", testutil::RandomBytes(40000, 4)},
                              {"runs", testutil::LongRuns(120000, 5)},
                              {"mixture", testutil::Mixture(100000, 6)}};
  const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
  const int levels[] = {0, 1, 6, 9};
  for (const Content& content : contents) {
    for (int level : levels) {
      for (int strategy : strategies) {
        for (int flush : {0, Z_SYNC_FLUSH, Z_FULL_FLUSH}) {
          std::vector<testutil::MidFlush> flushes;
          if (flush) flushes = {{1000, flush}, {1001, flush}, {30000, flush}};
          SCOPED_TRACE(std::string(content.name) + " level " + std::to_string(level) +
                       " strategy " + std::to_string(strategy) + " flush " + std::to_string(flush));
          const Bytes stream = testutil::DeflateRaw(content.data, level, strategy, 15, 8, flushes);
          Bytes inflated;
          size_t used = 0;
          ASSERT_TRUE(testutil::InflateRaw(stream, &inflated, &used));
          Decoded c;
          uint32_t bits = 0;
          ASSERT_EQ(Decode(stream, &c, &bits), "");
          EXPECT_TRUE(c.out == inflated);
          EXPECT_TRUE(c.out == content.data);
          // zlib stops at the byte that holds the final block's last bit.
          EXPECT_EQ((bits + 7) / 8, used);
        }
      }
    }
  }
}

// Streams built by hand from known tokens: the counts of every block must
// be those of its tokens, and the bytes those zlib inflates.
TEST(BlockDecoder, CountsSymbolsOfEveryBlock) {
  struct Plan {
    char kind;  // 's' stored, 'f' fixed, 'd' dynamic
    uint32_t tokens;
  };
  const std::vector<std::vector<Plan>> streams = {
      {{'f', 1}},
      {{'d', 40}},
      {{'f', 300}, {'d', 2000}, {'s', 50}, {'f', 700}, {'d', 5}},
      {{'d', 3000}, {'d', 3000}, {'f', 0}, {'s', 0}, {'d', 1}},
  };
  uint32_t seed = 1;
  for (const auto& plans : streams) {
    BitSink sink;
    Bytes expected;
    std::vector<handmade::Counts> counts;
    std::vector<char> kinds;
    for (size_t i = 0; i < plans.size(); ++i) {
      const bool final = i + 1 == plans.size();
      if (plans[i].kind == 's') {
        const Bytes data = testutil::RandomBytes(plans[i].tokens, seed++);
        handmade::PutStoredBlock(sink, final, data);
        expected.insert(expected.end(), data.begin(), data.end());
      } else {
        const std::vector<Token> tokens =
            handmade::RandomTokens(plans[i].tokens, seed++, expected.size());
        if (plans[i].kind == 'f') {
          handmade::PutFixedBlock(sink, final, tokens);
        } else {
          handmade::PutDynamicBlock(sink, final, tokens);
        }
        handmade::Expand(tokens, &expected);
        counts.push_back(handmade::CountTokens(tokens));
      }
      kinds.push_back(plans[i].kind);
    }
    Bytes inflated;
    ASSERT_TRUE(testutil::InflateRaw(sink.bytes, &inflated));
    ASSERT_TRUE(inflated == expected);

    Decoded c;
    uint32_t bits = 0;
    ASSERT_EQ(Decode(sink.bytes, &c, &bits), "");
    EXPECT_EQ(bits, sink.bits);
    EXPECT_TRUE(c.out == expected);
    ASSERT_EQ(c.blocks.size(), plans.size());
    size_t k = 0;
    for (size_t i = 0; i < plans.size(); ++i) {
      EXPECT_EQ(c.blocks[i].btype, kinds[i] == 's' ? 0u : kinds[i] == 'f' ? 1u : 2u);
      if (kinds[i] == 's') continue;
      EXPECT_EQ(c.blocks[i].litLen, counts[k].litLen) << "block " << i;
      EXPECT_EQ(c.blocks[i].dist, counts[k].dist) << "block " << i;
      ++k;
    }
  }
}

// The code-length sequence is kept exactly as read, repeats and their
// extra values included, with the lengths it stands for.
TEST(BlockDecoder, KeepsTheCodeLengthSequenceAsRead) {
  using E = handmade::SequenceElement;
  // 257 literal/length lengths and 2 distance lengths: 'a' to 'd' length 3,
  // end-of-block length 1, distance 0 length 1. The zeros between them use
  // every repeat code, and 16 after 17 repeats a zero.
  const std::vector<E> seq = {{18, 86}, {3, 0},  {16, 0}, {18, 127}, {17, 4},
                              {16, 1},  {16, 3}, {1, 0},  {1, 0},    {0, 0}};
  std::vector<uint8_t> lengths(259, 0);
  for (int i = 97; i <= 100; ++i) lengths[i] = 3;
  lengths[256] = 1;
  lengths[257] = 1;

  BitSink sink;
  const uint64_t sequenceBits = handmade::PutDynamicHeader(sink, true, 257, 2, seq);
  const std::vector<uint8_t> ll(lengths.begin(), lengths.begin() + 257);
  const std::vector<uint8_t> dl(lengths.begin() + 257, lengths.end());
  handmade::PutTokens(sink, {Lit('a'), Lit('b'), Lit('c'), Lit('d')}, ll, dl);
  Bytes inflated;
  ASSERT_TRUE(testutil::InflateRaw(sink.bytes, &inflated));
  ASSERT_EQ(std::string(inflated.begin(), inflated.end()), "abcd");

  Decoded c;
  ASSERT_EQ(Decode(sink.bytes, &c), "");
  EXPECT_EQ(std::string(c.out.begin(), c.out.end()), "abcd");
  std::vector<uint8_t> asRead;
  for (const E& e : seq) {
    asRead.push_back(static_cast<uint8_t>(e.first));
    if (e.first >= 16) asRead.push_back(static_cast<uint8_t>(e.second));
  }
  EXPECT_EQ(std::vector<uint8_t>(blockHeader.codeLengthSequence,
                                 blockHeader.codeLengthSequence + blockHeader.sequenceLength),
            asRead);
  EXPECT_EQ(blockHeader.sequenceBitsRead, sequenceBits);
  EXPECT_EQ(std::vector<uint8_t>(blockHeader.codeLengths, blockHeader.codeLengths + 259), lengths);
  EXPECT_EQ(blockHeader.litLenCodeCount, 257u);
  EXPECT_EQ(blockHeader.distCodeCount, 2u);
  EXPECT_EQ(blockHeader.clCodeCount, 18u);  // symbol 1 is second to last in the order
}

Bytes Stored(uint32_t len, uint32_t nlen, size_t dataBytes) {
  BitSink s;
  s.Put(1, 1);
  s.Put(0, 2);
  s.Align();
  s.Put(len, 16);
  s.Put(nlen, 16);
  for (size_t i = 0; i < dataBytes; ++i) s.Put(0x5A, 8);
  return s.bytes;
}

// A final fixed block: header, then whatever `body` writes.
template <class F>
Bytes Fixed(F body) {
  BitSink s;
  s.Put(1, 1);
  s.Put(1, 2);
  body(s);
  return s.bytes;
}

const std::vector<uint32_t>& FixedCodes() {
  static const std::vector<uint32_t> codes =
      handmade::CanonicalCodes(handmade::FixedLitLenLengths());
  return codes;
}
void PutFixedSymbol(BitSink& s, uint32_t symbol) {
  s.PutCode(FixedCodes()[symbol], handmade::FixedLitLenLengths()[symbol]);
}

// A final dynamic block with the given lengths written singly; `body`
// writes the symbols.
template <class F>
Bytes Dynamic(const std::vector<uint8_t>& litLen, const std::vector<uint8_t>& dist, F body) {
  BitSink s;
  std::vector<uint8_t> all = litLen;
  all.insert(all.end(), dist.begin(), dist.end());
  handmade::PutDynamicHeader(s, true, static_cast<uint32_t>(litLen.size()),
                             static_cast<uint32_t>(dist.size()), handmade::SingleSequence(all));
  body(s);
  return s.bytes;
}

// Five 9-bit literals after the 3 header bits: the end-of-block code
// starts on a byte boundary and is the last byte of the stream.
Bytes FixedEndingOnByteBoundary(bool final) {
  BitSink s;
  s.Put(final, 1);
  s.Put(1, 2);
  for (int i = 0; i < 5; ++i) PutFixedSymbol(s, 200);
  PutFixedSymbol(s, 256);
  return s.bytes;
}

struct Outcome {
  const char* name;
  Bytes stream;
  std::string message;  // "" when it decodes
  std::string decoded;  // what it decodes to, when it does
};

std::vector<Outcome> Outcomes() {
  std::vector<Outcome> cases;
  cases.push_back({"block type 3", {0x07, 0, 0, 0}, "Invalid block type", ""});
  cases.push_back({"LEN and NLEN disagree", Stored(5, 5, 5),
                   "Discrepancy in length and complemented length in stored block", ""});
  cases.push_back({"stored data cut short", Stored(10, 10 ^ 0xFFFF, 3),
                   "Too few bytes to be stored from input!?!?!?", ""});
  cases.push_back({"empty stored block at the very end", Stored(0, 0xFFFF, 0), "", ""});

  {
    // A repeat that runs past the declared total; with 288 + 32 lengths
    // declared, the last 18 reaches 137 entries beyond the arrays' use.
    BitSink s;
    handmade::PutDynamicHeader(s, true, 257, 1, {{18, 127}, {18, 127}});
    cases.push_back(
        {"repeat past the count", s.bytes, "Discrepancy in number of code lengths", ""});
    BitSink t;
    handmade::PutDynamicHeader(t, true, 288, 32,
                               {{18, 127},
                                {18, 127},
                                {17, 7},
                                {17, 7},
                                {17, 7},
                                {17, 7},
                                {0, 0},
                                {0, 0},
                                {0, 0},
                                {18, 127}});
    cases.push_back({"repeat 137 past the largest count", t.bytes,
                     "Discrepancy in number of code lengths", ""});
  }
  cases.push_back({"fixed symbol 286", Fixed([](BitSink& s) {
                     PutFixedSymbol(s, 'a');
                     PutFixedSymbol(s, 286);
                   }),
                   "Invalid literal/length code", ""});
  cases.push_back({"fixed distance 30", Fixed([](BitSink& s) {
                     PutFixedSymbol(s, 'a');
                     PutFixedSymbol(s, 257);
                     s.PutCode(30, 5);
                   }),
                   "Invalid distance code", ""});
  cases.push_back({"distance 2 after one byte", Fixed([](BitSink& s) {
                     PutFixedSymbol(s, 'a');
                     PutFixedSymbol(s, 257);
                     s.PutCode(1, 5);  // distance 2
                     PutFixedSymbol(s, 256);
                   }),
                   "Distance points before beginning of file", ""});
  cases.push_back({"distance equal to the bytes so far", Fixed([](BitSink& s) {
                     PutFixedSymbol(s, 'a');
                     PutFixedSymbol(s, 'b');
                     PutFixedSymbol(s, 257);
                     s.PutCode(1, 5);  // distance 2
                     PutFixedSymbol(s, 256);
                   }),
                   "", "ababa"});
  cases.push_back({"length 258 at distance 1", Fixed([](BitSink& s) {
                     PutFixedSymbol(s, 'x');
                     PutFixedSymbol(s, 285);
                     s.PutCode(0, 5);
                     PutFixedSymbol(s, 256);
                   }),
                   "", std::string(259, 'x')});

  // The sixteen zero bits of grace: the end-of-block code (seven 0 bits,
  // peeked as nine) may lie wholly past the end. When the block is not the
  // last, the next header still fits in the grace, but its LEN does not.
  {
    const Bytes whole = FixedEndingOnByteBoundary(true);
    const std::string text(5, static_cast<char>(200));
    cases.push_back({"whole", whole, "", text});
    cases.push_back({"end-of-block code cut off", Bytes(whole.begin(), whole.end() - 1), "", text});
    const Bytes notFinal = FixedEndingOnByteBoundary(false);
    cases.push_back({"more needed than the grace", Bytes(notFinal.begin(), notFinal.end() - 1),
                     "Unexpected end of data", ""});
    Bytes trailing = whole;
    trailing.insert(trailing.end(), {0xFF, 0xFF, 0x07});
    cases.push_back({"bytes after the final block", trailing, "", text});
  }

  // Over-subscribed lengths: three codes of length 1.
  {
    std::vector<uint8_t> ll(257, 0);
    ll['a'] = ll['b'] = ll['c'] = 1;
    ll[256] = 1;
    cases.push_back({"over-subscribed", Dynamic(ll, {1}, [](BitSink&) {}),
                     "Over-subscribed set of code lengths", ""});
  }
  // A single distance code of length 1 leaves the pattern 1 uncovered.
  {
    std::vector<uint8_t> ll(258, 0);
    ll['a'] = 1;
    ll[256] = 2;
    ll[257] = 2;
    cases.push_back({"uncovered distance pattern",
                     Dynamic(ll, {1},
                             [](BitSink& s) {
                               s.PutCode(0, 1);  // 'a'
                               s.PutCode(3, 2);  // 257: length 3
                               s.Put(1, 1);      // no distance code starts with 1
                               s.PutCode(2, 2);  // end of block
                             }),
                     "Trying to write 0 bits", ""});
    cases.push_back({"covered distance pattern",
                     Dynamic(ll, {1},
                             [](BitSink& s) {
                               s.PutCode(0, 1);
                               s.PutCode(3, 2);
                               s.Put(0, 1);
                               s.PutCode(2, 2);
                             }),
                     "", "aaaa"});
  }
  // 288 literal/length and 32 distance lengths are accepted; symbol 286
  // copies nothing, though its distance is still read.
  {
    std::vector<uint8_t> ll(288, 0), dl(32, 0);
    ll['q'] = 2;
    ll[256] = 2;
    ll[286] = 2;
    ll[287] = 2;
    dl[0] = 1;
    dl[31] = 1;
    cases.push_back({"declared 288 and 32",
                     Dynamic(ll, dl,
                             [](BitSink& s) {
                               s.PutCode(0, 2);  // 'q'
                               s.PutCode(2, 2);  // 286
                               s.PutCode(0, 1);  // distance 1
                               s.PutCode(0, 2);  // 'q'
                               s.PutCode(1, 2);  // end of block
                             }),
                     "", "qq"});
    cases.push_back({"distance symbol 31",
                     Dynamic(ll, dl,
                             [](BitSink& s) {
                               s.PutCode(0, 2);
                               s.PutCode(2, 2);
                               s.PutCode(1, 1);  // distance symbol 31
                             }),
                     "Invalid distance code", ""});
  }
  return cases;
}

TEST(BlockDecoder, RefusesWhatIsNotDeflateWithItsMessage) {
  for (const Outcome& o : Outcomes()) {
    SCOPED_TRACE(o.name);
    Decoded c;
    EXPECT_EQ(Decode(o.stream, &c), o.message);
    if (o.message.empty()) {
      EXPECT_EQ(std::string(c.out.begin(), c.out.end()), o.decoded);
    }
    // zlib agrees wherever the stream is standard deflate.
    if (o.message.empty() && std::string(o.name) != "declared 288 and 32") {
      Bytes inflated;
      const Bytes& in = o.stream;
      // zlib grants no bits past the end; give it the zero bytes it needs.
      Bytes padded = in;
      padded.insert(padded.end(), 2, 0);
      EXPECT_TRUE(testutil::InflateRaw(padded, &inflated));
      EXPECT_EQ(std::string(inflated.begin(), inflated.end()), o.decoded);
    }
  }
}

}  // namespace
