// The verbose block report, line for line, for a stored, a fixed, an empty
// and a dynamic block.
#include "deflate/block_report.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "common/zlib_util.h"
#include "deflate/reencode.h"
#include "deflate/tables.h"
#include "driver/run_state.h"
#include "stream_builder.h"
#include "support/message.h"

namespace {

using handmade::BitSink;
using handmade::Token;
using testutil::Bytes;

std::string Escape(const std::string& text) {
  static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
  return std::regex_replace(text, special, R"(\$&)");
}

// "%14s" of a number below 1000.
std::string Right(uint64_t value) {
  std::string s = std::to_string(value);
  return std::string(14 - s.size(), ' ') + s;
}

uint32_t FixedLength(uint32_t symbol) {
  return handmade::FixedLitLenLengths()[symbol];
}

TEST(BlockReport, DescribesEveryBlockInVerboseRuns) {
  InitTables();
  // Tokens for the dynamic block; 'Q', 'W' and distance code 9 get codes
  // but are never used.
  std::vector<Token> tokens;
  for (char c : std::string("the cat sat on the mat")) tokens.push_back(handmade::Lit(c));
  tokens.push_back(handmade::Copy(4, 8));

  BitSink sink;
  handmade::PutStoredBlock(sink, false, {'h', 'e', 'l', 'l', 'o'});
  handmade::PutFixedBlock(sink, false,
                          {handmade::Lit('a'), handmade::Lit('b'), handmade::Lit('c')});
  handmade::PutFixedBlock(sink, false, {});
  const uint64_t dynamicStart = sink.bits;
  const handmade::DynamicInfo info =
      handmade::PutDynamicBlock(sink, true, tokens, {'Q', 'W', 286 + 9}, handmade::SingleSequence);
  const uint64_t dynamicBits = sink.bits - dynamicStart;

  uint64_t fixedCost = 3 + FixedLength(256);
  for (const Token& t : tokens) {
    if (t.distance == 0) {
      fixedCost += FixedLength(t.value);
    } else {
      const handmade::Coded l = handmade::LengthCode(t.value);
      fixedCost +=
          FixedLength(l.symbol) + l.extraBits + 5 + handmade::DistanceCode(t.distance).extraBits;
    }
  }
  const uint64_t header = info.sequenceBits + 3 * info.clCount + 17;
  char ratio[32], headerBytes[32];
  std::snprintf(ratio, sizeof ratio, "%0.2f", 26 * 8.0 / static_cast<double>(dynamicBits));
  std::snprintf(headerBytes, sizeof headerBytes, "%0.3f", header / 8.0);
  const std::string cCodes =
      std::to_string(info.clCount) + " C-codes \\(" + std::to_string(3 * info.clCount) +
      " bits\\); [0-9]+ bits for trees; " + "[0-9]+ bits total \\([0-9]+\\.[0-9]{3} bytes\\)\n";

  const std::string expected =
      Escape(
          "\nCompressed data:\n"
          // Stored "hello": 3 + 5 + 32 + 40 bits as read, at output bit 0.
          "\n  Block      :             1"
          "\n  Blocktype  :             0  (Stored)"
          "\n  Offset     :             0"
          "\n  Size (unc) :             5 bytes"
          "\n  Size (unc) :            40 bits"
          "\n  Bits (com) :            80  (0.50 bits/bit)"
          "\n  Bits stored:            80\n"
          // Fixed "abc" at output bit 80: 3 + 24 + 7 bits.
          "\n  Block      :             2"
          "\n  Blocktype  :             1  (Fixed trees)"
          "\n  Offset     :             5"
          "\n  Size (unc) :             3 bytes"
          "\n  Size (unc) :            24 bits"
          "\n  Bits (com) :            34  (0.71 bits/bit)"
          "\n  Bits stored:            64\n"
          // An empty fixed block, merged into block 2 and so priced at
          // its header's position, then dropped.
          "\n  Block      :             3"
          "\n  Blocktype  :             1  (Fixed trees)"
          "\n  Offset     :             8"
          "\n  Size (unc) :             0 bytes"
          "\n  Size (unc) :             0 bits"
          "\n  Bits (com) :            10  (0.00 bits/bit)"
          "\n  Bits stored:            40\n"
          // The dynamic block, at output bit 114.
          "\n  Block      :             4"
          "\n  Blocktype  :             2  (Dynamic trees; L-codes: " +
          std::to_string(info.litLenCount) + "; D-codes: " + std::to_string(info.distCount) +
          ")"
          "\n  Offset     :             8"
          "\n  Size (unc) :            26 bytes"
          "\n  Size (unc) :           208 bits"
          "\n  Bits (com) :" +
          Right(dynamicBits) + "  (" + ratio + " bits/bit)\n    " + std::to_string(info.clCount) +
          " C-codes (" + std::to_string(3 * info.clCount) + " bits); " +
          std::to_string(info.sequenceBits) + " bits for trees; " + std::to_string(header) +
          " bits total (" + headerBytes + " bytes)\n") +
      "  Bits \\(new\\) : *[0-9]+\n    " + cCodes +
      Escape("  Bits fixed :" + Right(fixedCost) + "\n  Bits stored:" + Right(8 * 26 + 35 + 3) +
             "\n" +
             "      L-code defined but unused:  81\n"
             "      L-code defined but unused:  87\n"
             "      D-code defined but unused:   9\n") +
      "(  Bits \\(redo\\): *[0-9]+\n    [0-9]+ C-codes \\([0-9]+ bits\\); [0-9]+ bits for trees; "
      "[0-9]+ bits total \\([0-9]+\\.[0-9]{3} bytes\\)\n)+";

  const uint32_t verbosity = settings.verbosity;
  settings.verbosity = 2;
  Bytes destination(sink.bytes.size() + 4, 0);
  uint32_t newLength = 0;
  std::string error;
  testing::internal::CaptureStdout();
  try {
    ReencodeStream(sink.bytes.data(), static_cast<uint32_t>(sink.bytes.size()), destination.data(),
                   &newLength);
  } catch (Message m) {
    error = m;
  }
  const std::string printed = testing::internal::GetCapturedStdout();
  settings.verbosity = verbosity;
  ASSERT_EQ(error, "");
  EXPECT_TRUE(std::regex_match(printed, std::regex(expected))) << printed << "\n---\n" << expected;

  // Below verbosity 2 nothing is printed.
  testing::internal::CaptureStdout();
  ReencodeStream(sink.bytes.data(), static_cast<uint32_t>(sink.bytes.size()), destination.data(),
                 &newLength);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

}  // namespace
