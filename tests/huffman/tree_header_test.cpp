// Tree header normalisation: rewrites of repeat codes, exchanges of code
// lengths, unused repeat codes dropped (the code rebuilt under the carried
// tie-break mode, which counts as reading it), and the failures. (zlib
// judges written headers in the re-encoder's round trips.)
#include "huffman/tree_header.h"

#include <gtest/gtest.h>

#include <array>
#include <sstream>
#include <string>
#include <vector>

#include "dynamic_block.h"

namespace {

using namespace huffmantest;
using Cl = std::array<uint8_t, 19>;

// A code-length code from "symbol:length ...".
Cl ParseCl(const std::string& text) {
  Cl cl{};
  std::istringstream in(text);
  int symbol, length;
  char colon;
  while (in >> symbol >> colon >> length) cl[symbol] = static_cast<uint8_t>(length);
  return cl;
}

// Runs EncodeTreeHeader (writing when `write`) under a carried tie-break
// mode 0 that no search wrote yet, and returns the message thrown, or the
// code and sequence it left as "symbol:length ... | sequence". Checks that
// the mode counts as read exactly when the code was rebuilt.
std::string Encode(Cl& cl, Seq& seq, bool write = false) {
  const uint32_t length = static_cast<uint32_t>(seq.size());
  seq.resize(kSequenceCapacity);
  Bytes out;
  BitWriter w = StartWriting(out, 64);
  TieBreakState tieBreak = {0, false, false};
  bool rebuilt = false;
  try {
    const uint32_t result = EncodeTreeHeader(cl.data(), 19, seq.data(), length, tieBreak,
                                             write ? &w : nullptr, &rebuilt);
    seq.resize(write ? length : result);
  } catch (const Error& e) {
    return e.what();
  }
  EXPECT_EQ(tieBreak.readBeforeWritten, rebuilt);
  EXPECT_EQ(tieBreak.mode, 0u);
  std::ostringstream text;
  for (int s = 0; s < 19; ++s)
    if (cl[s]) text << s << ':' << int{cl[s]} << ' ';
  text << '|';
  for (uint8_t v : seq) text << ' ' << int{v};
  return text.str();
}

TEST(TreeHeader, RewritesAndFailures) {
  std::string tooLong;  // 30 x 11 zeros
  for (int i = 0; i < 30; ++i) tooLong += "18 0 ";
  const struct {
    const char* name;
    std::string cl, seq;
    bool write;
    std::string result;  // code and sequence left, or the message
  } cases[] = {
      // 11 zeros cost 11 bits against 5 + 7; the unused 18 then loses its
      // code and the code is rebuilt.
      {"18 to zeros", "0:1 18:5", "0*12 18 0", false,
       "0:1 | 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0"},
      {"18 kept at equal cost", "0:1 18:4", "0*12 18 0", false,
       "0:1 18:4 | 0 0 0 0 0 0 0 0 0 0 0 0 18 0"},
      {"17 to zeros", "0:1 5:2 17:2", "5 5 17 0 0 0 5 17 0", false,
       "0:1 5:1 | 5 5 0 0 0 0 0 5 0 0 0"},
      // Five zeros: 3 + 2 bits by a 16, 3 + 3 by the 17, 10 as literals.
      {"17 after a zero to 16", "0:2 5:2 16:3 17:3", "0 17 2 5 17 2", false,
       "0:2 5:2 16:3 17:3 | 0 16 2 5 17 2"},
      {"17 kept, 16 dearer", "0:2 5:2 16:4 17:3", "0 17 2 5 17 2", false,
       "0:2 5:2 17:1 | 0 17 2 5 17 2"},
      {"17 after 18 to 16", "5:2 16:3 17:3 18:3", "18 0 17 2 5 17 2", false,
       "5:2 16:3 17:3 18:3 | 18 0 16 2 5 17 2"},
      {"16 to copies", "7:1 16:4", "7 16 0", false, "7:1 | 7 7 7 7"},
      {"16 kept at equal cost", "7:1 16:1", "7 16 0", false, "7:1 16:1 | 7 16 0"},
      {"lengths exchanged", "5:3 6:2", "5*10 6*4", false, "5:2 6:3 | 5 5 5 5 5 5 5 5 5 5 6 6 6 6"},
      {"equal counts kept", "5:3 6:2", "5*4 6*4", false, "5:3 6:2 | 5 5 5 5 6 6 6 6"},
      {"unused 16 dropped", "0:2 8:1 16:2", "8*4 0*3", false, "0:1 8:1 | 8 8 8 8 0 0 0"},
      {"empty sequence", "3:1 16:2 18:1", "", false, "|"},
      {"16 first", "0:1 16:1", "16 0 0", false, "Code 16, but there is no last value yet!?!?!?"},
      {"18 without its value", "0:1 18:1", "0 18", false,
       "Discrepancy in number of codes (location 1)"},
      {"16 without its value", "0:1 16:1", "0 16", true,
       "Discrepancy in number of codes (location 1)"},
      {"symbol 19", "0:1", "0 19 0", false, "Invalid code-length symbol!?!?!?"},
      {"330 zeros", "0:1 18:5", tooLong, false, "Too many code lengths in tree header!?!?!?"},
      {"uncoded symbol", "5:1 6:1", "5 6 3", true, "Trying to write 0 bits"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Cl cl = ParseCl(c.cl);
    Seq seq = ParseSeq(c.seq);
    const std::string result = Encode(cl, seq, c.write);
    EXPECT_EQ(result, c.result);
    const bool rewritten = result.find('|') != std::string::npos;
    EXPECT_TRUE(!rewritten || Encode(cl, seq) == result) << "not a fixed point";
  }
}

}  // namespace
