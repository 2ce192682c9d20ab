// ReencodeStream with zlib as the judge: every new stream must inflate to
// exactly what the original inflated to, never be longer, and save exactly
// the bits it claims. Hand-made streams pin the rules that decide the bits.
#include "deflate/reencode.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>
#include <string>
#include <vector>

#include "common/zlib_util.h"
#include "deflate/tables.h"
#include "stream_builder.h"
#include "support/message.h"

namespace {

using handmade::BitSink;
using handmade::Copy;
using handmade::Lit;
using handmade::Token;
using testutil::Bytes;

struct Outcome {
  std::string error;  // "" when it worked
  Bytes stream;       // the new stream
  uint32_t saved = 0;
  uint32_t used = 0;
};

Outcome Reencode(const Bytes& input) {
  InitTables();
  Outcome o;
  Bytes destination(input.size() + 4, 0);
  uint32_t newLength = 0;
  try {
    o.saved = ReencodeStream(input.data(), static_cast<uint32_t>(input.size()), destination.data(),
                             &newLength, &o.used);
  } catch (Message m) {
    o.error = m;
    return o;
  }
  EXPECT_LE(newLength, input.size());
  // Nothing is written past the new stream.
  for (size_t i = newLength; i < destination.size(); ++i) EXPECT_EQ(destination[i], 0) << i;
  o.stream.assign(destination.begin(), destination.begin() + newLength);
  return o;
}

// zlib's view of a stream: what it inflates to and its exact length in
// bits. Inflating block by block (Z_BLOCK), zlib stops right after the
// final block's last code with the bits it has not used still counted.
struct Inflated {
  bool ok = false;
  Bytes data;
  uint64_t bits = 0;
};

Inflated ZlibInflate(const Bytes& stream) {
  Inflated r;
  z_stream zs{};
  if (inflateInit2(&zs, -15) != Z_OK) return r;
  Bytes chunk(1 << 16);
  zs.next_in = const_cast<Bytef*>(stream.data());
  zs.avail_in = static_cast<uInt>(stream.size());
  int rc = Z_OK;
  bool ended = false;
  while (rc == Z_OK) {
    zs.next_out = chunk.data();
    zs.avail_out = static_cast<uInt>(chunk.size());
    rc = inflate(&zs, ended ? Z_FINISH : Z_BLOCK);
    r.data.insert(r.data.end(), chunk.data(), chunk.data() + (chunk.size() - zs.avail_out));
    if (!ended && (zs.data_type & 0xC0) == 0xC0) {  // after the last block
      ended = true;
      r.bits = 8 * (stream.size() - zs.avail_in) - (zs.data_type & 63);
    }
    if (rc == Z_BUF_ERROR && zs.avail_out != 0) break;
  }
  r.ok = rc == Z_STREAM_END && ended;
  inflateEnd(&zs);
  return r;
}

// The properties every re-encoding must have.
void CheckRoundTrip(const Bytes& original, const Outcome& o) {
  ASSERT_EQ(o.error, "");
  const Inflated before = ZlibInflate(original);
  ASSERT_TRUE(before.ok);
  const Inflated after = ZlibInflate(o.stream);
  ASSERT_TRUE(after.ok);
  EXPECT_TRUE(after.data == before.data);
  EXPECT_EQ(o.used, (before.bits + 7) / 8);
  EXPECT_LE(o.stream.size(), o.used);
  EXPECT_EQ(o.saved, before.bits - after.bits);
}

TEST(Reencode, RoundTripsZlibStreams) {
  const int levels[] = {1, 6, 9};
  const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
  const int memLevels[] = {1, 9, 8};
  const int flushes[] = {0, Z_SYNC_FLUSH, Z_FULL_FLUSH, Z_PARTIAL_FLUSH};
  struct Content {
    const char* name;
    Bytes data;
  };
  const Content contents[] = {{"text", testutil::SampleText(24000, 11)},
                              {"random", testutil::RandomBytes(9000, 12)},
                              {"runs", testutil::LongRuns(30000, 13)},
                              {"mixture", testutil::Mixture(24000, 14)}};
  // Every level, strategy, flush and content together; memory level and
  // window size rotate so that each value meets each of the others.
  uint32_t index = 0;
  uint64_t totalSaved = 0;
  for (const Content& content : contents) {
    for (int level : levels) {
      for (int strategy : strategies) {
        for (int flush : flushes) {
          const int memLevel = memLevels[index % 3];
          const int windowBits = 9 + static_cast<int>(index % 7);
          ++index;
          std::vector<testutil::MidFlush> at;
          if (flush) at = {{500, flush}, {501, flush}, {7000, flush}};
          SCOPED_TRACE(std::string(content.name) + " level " + std::to_string(level) +
                       " strategy " + std::to_string(strategy) + " memLevel " +
                       std::to_string(memLevel) + " windowBits " + std::to_string(windowBits) +
                       " flush " + std::to_string(flush));
          const Bytes stream =
              testutil::DeflateRaw(content.data, level, strategy, windowBits, memLevel, at);
          const Outcome o = Reencode(stream);
          CheckRoundTrip(stream, o);
          totalSaved += o.saved;
        }
      }
    }
  }
  EXPECT_GT(totalSaved, 0u);
}

// Dynamic blocks made by hand, with codes that define unused symbols and
// sequences with and without repeat codes: small ones turn fixed, merge
// with each other, or take new codes.
TEST(Reencode, RoundTripsHandMadeDynamicBlocks) {
  uint32_t state = 12345;
  auto next = [&]() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  for (int round = 0; round < 300; ++round) {
    BitSink sink;
    Bytes produced;
    const int blocks = 1 + next() % 3;
    for (int b = 0; b < blocks; ++b) {
      const std::vector<Token> tokens =
          handmade::RandomTokens(1 + next() % 200, next(), produced.size(),
                                 static_cast<uint8_t>('a' + next() % 50), 1 + next() % 100);
      std::vector<uint32_t> unused;
      for (uint32_t k = next() % 6; k > 0; --k) unused.push_back(next() % 316);
      handmade::PutDynamicBlock(
          sink, b + 1 == blocks, tokens, unused, [&](const std::vector<uint8_t>& lengths) {
            return handmade::RepeatSequence(lengths, [&] { return next() % 2 == 0; });
          });
      handmade::Expand(tokens, &produced);
    }
    SCOPED_TRACE("round " + std::to_string(round));
    CheckRoundTrip(sink.bytes, Reencode(sink.bytes));
  }
}

// Hand-made streams whose re-encoding is known bit for bit.
struct Exact {
  const char* name;
  Bytes input;
  Bytes expected;
};

Bytes Stream(const std::function<void(BitSink&)>& build) {
  BitSink s;
  build(s);
  return s.bytes;
}

std::vector<Token> Literals(const std::string& text) {
  std::vector<Token> t;
  for (char c : text) t.push_back(Lit(static_cast<uint8_t>(c)));
  return t;
}

std::vector<Token> Join(std::vector<Token> a, const std::vector<Token>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<Exact> ExactCases() {
  using namespace handmade;
  std::vector<Exact> cases;
  const std::vector<Token> a = Join(Literals("to be or not "), {Copy(3, 3), Copy(4, 13)});
  const std::vector<Token> b = Join(Literals(" that is"), {Copy(10, 20), Lit('?')});

  cases.push_back({"two fixed blocks merge, BFINAL on the merged block", Stream([&](BitSink& s) {
                     PutFixedBlock(s, false, a);
                     PutFixedBlock(s, true, b);
                   }),
                   Stream([&](BitSink& s) { PutFixedBlock(s, true, Join(a, b)); })});
  cases.push_back({"an empty stored block between two fixed blocks vanishes",
                   Stream([&](BitSink& s) {
                     PutFixedBlock(s, false, a);
                     PutStoredBlock(s, false, {});
                     PutFixedBlock(s, true, b);
                   }),
                   Stream([&](BitSink& s) { PutFixedBlock(s, true, Join(a, b)); })});
  cases.push_back({"an empty final stored block vanishes", Stream([&](BitSink& s) {
                     PutFixedBlock(s, false, a);
                     PutStoredBlock(s, true, {});
                   }),
                   Stream([&](BitSink& s) { PutFixedBlock(s, true, a); })});
  cases.push_back({"empty fixed and dynamic blocks vanish", Stream([&](BitSink& s) {
                     PutFixedBlock(s, false, a);
                     PutDynamicBlock(s, false, {});
                     PutFixedBlock(s, false, {});
                     PutFixedBlock(s, true, b);
                   }),
                   Stream([&](BitSink& s) { PutFixedBlock(s, true, Join(a, b)); })});

  // The empty dynamic block's re-sent header is longer than the one-literal
  // block before it; once dropped it must not be copied back.
  cases.push_back(
      {"a dropped block is finished when dropped", Stream([&](BitSink& s) {
         PutFixedBlock(s, false, {Lit('x')});
         PutDynamicBlock(s, false, {});
         PutFixedBlock(s, true, Join(Literals("yz"), {Copy(5, 3)}));
       }),
       Stream([&](BitSink& s) { PutFixedBlock(s, true, Join(Literals("xyz"), {Copy(5, 3)})); })});

  const Bytes upper(100, 200);  // 9-bit literals in the fixed code
  cases.push_back({"a fixed block of literals 144 to 255 becomes stored", Stream([&](BitSink& s) {
                     std::vector<Token> t;
                     for (uint8_t c : upper) t.push_back(Lit(c));
                     PutFixedBlock(s, true, t);
                   }),
                   Stream([&](BitSink& s) { PutStoredBlock(s, true, upper); })});
  {
    // Merged into its predecessor, such a block has no stored form of its own.
    std::vector<Token> many;
    for (int i = 0; i < 500; ++i) many.push_back(Lit(200));
    cases.push_back({"a merged block is not made stored", Stream([&](BitSink& s) {
                       PutFixedBlock(s, false, {Lit('x')});
                       PutFixedBlock(s, true, many);
                     }),
                     Stream([&](BitSink& s) { PutFixedBlock(s, true, Join({Lit('x')}, many)); })});
  }

  // 20000 bytes of history in a stored block, which stays as it is. A copy
  // of three 8-bit literals at distance 16384 costs 7 + 5 + 12 bits: the
  // same as the literals, so it stays; at 16385 (13 extra bits) it costs one
  // bit more and becomes literals. The last stored block, now one bit
  // earlier, is realigned even though it would compress well.
  {
    const Bytes history = testutil::SampleText(20000, 31);
    const Bytes zeros(60, 0);
    const std::vector<Token> copies = {Copy(3, 16384), Copy(3, 16385)};
    // The second copy starts at 20003 and reads from 20003 - 16385.
    const std::vector<Token> rewritten = {Copy(3, 16384), Lit(history[3618]), Lit(history[3619]),
                                          Lit(history[3620])};
    cases.push_back({"copies cost against literals; stored stays stored", Stream([&](BitSink& s) {
                       PutStoredBlock(s, false, history);
                       PutFixedBlock(s, false, copies);
                       PutStoredBlock(s, true, zeros);
                     }),
                     Stream([&](BitSink& s) {
                       PutStoredBlock(s, false, history);
                       PutFixedBlock(s, false, rewritten);
                       PutStoredBlock(s, true, zeros);
                     })});
  }

  // Dynamic blocks too small for their tree headers take the fixed codes,
  // merged into a preceding fixed block where there is one; one of 100
  // distinct literals is cheapest stored.
  const std::vector<Token> small = Join(Literals("abcab"), {Copy(4, 2)});
  cases.push_back({"a small dynamic block becomes fixed",
                   Stream([&](BitSink& s) { PutDynamicBlock(s, true, small); }),
                   Stream([&](BitSink& s) { PutFixedBlock(s, true, small); })});
  cases.push_back({"a small dynamic block becomes fixed and merges", Stream([&](BitSink& s) {
                     PutFixedBlock(s, false, a);
                     PutDynamicBlock(s, true, small);
                   }),
                   Stream([&](BitSink& s) { PutFixedBlock(s, true, Join(a, small)); })});
  {
    Bytes distinct;
    for (int i = 100; i < 200; ++i) distinct.push_back(static_cast<uint8_t>(i));
    std::vector<Token> t;
    for (uint8_t c : distinct) t.push_back(Lit(c));
    cases.push_back({"a dynamic block of distinct literals becomes stored",
                     Stream([&](BitSink& s) { PutDynamicBlock(s, true, t); }),
                     Stream([&](BitSink& s) { PutStoredBlock(s, true, distinct); })});
  }
  return cases;
}

TEST(Reencode, WritesKnownStreamsBitForBit) {
  for (const Exact& c : ExactCases()) {
    SCOPED_TRACE(c.name);
    const Outcome o = Reencode(c.input);
    CheckRoundTrip(c.input, o);
    EXPECT_TRUE(o.stream == c.expected);
  }
}

TEST(Reencode, FailsOrKeepsTheOriginalWhereItMust) {
  using namespace handmade;
  InitTables();
  // Nothing but empty blocks: there is nothing to write.
  EXPECT_EQ(Reencode({0x03, 0x00}).error, "Zero length data");
  EXPECT_EQ(Reencode(Stream([](BitSink& s) {
              PutStoredBlock(s, false, {});
              PutDynamicBlock(s, false, {});
              PutFixedBlock(s, true, {});
            })).error,
            "Zero length data");
  // Decoding failures pass through.
  EXPECT_EQ(Reencode({0x07, 0x00}).error, "Invalid block type");
  EXPECT_EQ(Reencode({0x01, 0x05, 0x00, 0x05, 0x00}).error,
            "Discrepancy in length and complemented length in stored block");

  // A final code that reaches into the zero bits granted past the end: the
  // new stream would spell those bits out and come out a byte longer, so
  // the original is kept and nothing is saved.
  const Bytes whole = Stream([](BitSink& s) {
    s.Put(1, 1);
    s.Put(1, 2);
    const std::vector<uint8_t> lengths = FixedLitLenLengths();
    const std::vector<uint32_t> codes = CanonicalCodes(lengths);
    for (int i = 0; i < 5; ++i) s.PutCode(codes[200], 9);
    s.PutCode(codes[256], 7);  // starts on a byte boundary
  });
  const Bytes cut(whole.begin(), whole.end() - 1);
  const Outcome o = Reencode(cut);
  EXPECT_EQ(o.error, "");
  EXPECT_TRUE(o.stream == cut);
  EXPECT_EQ(o.saved, 0u);
  EXPECT_EQ(o.used, cut.size());
}

// The later passes over a block replay the symbols the first pass kept; a
// block too long to keep is decoded again. Both must write the same bits,
// also when the two kinds of block alternate in one stream.
TEST(Reencode, ReplayWritesWhatDecodingWrites) {
  struct Source {
    const char* name;
    Bytes data;
    int level, strategy, memLevel;
  };
  const Bytes text = testutil::SampleText(60000, 51);
  const Bytes mixture = testutil::Mixture(50000, 52);
  const Source sources[] = {
      {"text level 1", text, 1, Z_DEFAULT_STRATEGY, 8},
      {"text level 6 small blocks", text, 6, Z_DEFAULT_STRATEGY, 1},
      {"text level 9", text, 9, Z_DEFAULT_STRATEGY, 9},
      {"text fixed", text, 6, Z_FIXED, 2},
      {"text huffman only", text, 6, Z_HUFFMAN_ONLY, 1},
      {"mixture level 6", mixture, 6, Z_DEFAULT_STRATEGY, 2},
      {"mixture rle", mixture, 9, Z_RLE, 1},
      {"random level 1", testutil::RandomBytes(20000, 53), 1, Z_DEFAULT_STRATEGY, 1},
  };
  const uint32_t defaultLimit = SetSymbolRecordLimit(0);
  SetSymbolRecordLimit(defaultLimit);
  for (const Source& source : sources) {
    SCOPED_TRACE(source.name);
    const Bytes stream =
        testutil::DeflateRaw(source.data, source.level, source.strategy, 15, source.memLevel);
    const Outcome replayed = Reencode(stream);
    CheckRoundTrip(stream, replayed);
    for (uint32_t limit : {0u, 1u, 300u}) {
      SetSymbolRecordLimit(limit);
      const Outcome decoded = Reencode(stream);
      SetSymbolRecordLimit(defaultLimit);
      EXPECT_EQ(decoded.error, "") << "limit " << limit;
      EXPECT_TRUE(decoded.stream == replayed.stream) << "limit " << limit;
      EXPECT_EQ(decoded.saved, replayed.saved) << "limit " << limit;
    }
  }
}

TEST(Reencode, IgnoresBytesAfterTheFinalBlock) {
  const Bytes stream = testutil::DeflateRaw(testutil::SampleText(30000, 41), 9);
  const Outcome plain = Reencode(stream);
  CheckRoundTrip(stream, plain);
  for (const Bytes& tail : {Bytes{0xFF}, Bytes{0x00, 0x00, 0x00, 0x00}, Bytes(100, 0xA5)}) {
    Bytes longer = stream;
    longer.insert(longer.end(), tail.begin(), tail.end());
    const Outcome o = Reencode(longer);
    EXPECT_EQ(o.error, "");
    EXPECT_TRUE(o.stream == plain.stream);
    EXPECT_EQ(o.saved, plain.saved);
    EXPECT_EQ(o.used, stream.size());
  }
}

}  // namespace
