// TextBuffers: what unquoting and trimming keep, and that stored copies stay
// put while more are added.
#include "support/text_buffers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(TextBuffers, UnquoteAndTrim) {
  struct Case {
    const char* text;
    bool unquote;
    bool trim;
    const char* stored;
  };
  const Case cases[] = {
      {"\"/tmp/a b.gz\"", true, true, "/tmp/a b.gz"},
      {"\"  padded  \"", true, true, "padded"},
      {"  \"x\"  ", true, true, "\"x\""},  // quotes are looked for before trimming
      {"\"x\"", false, true, "\"x\""},
      {"\"x\"", true, false, "x"},
      {"\"\"", true, false, ""},
      {"\"", true, true, "\""},  // a single quote is not a pair
      {"\"x", true, true, "\"x"},
      {"   ", false, true, ""},
      {"\t\r\n\x01 name \x1f", false, true, "name"},
      {" \x7f ", false, true, "\x7f"},                 // 127 is not a blank
      {"\xC3\xA9\xA0 ", false, true, "\xC3\xA9\xA0"},  // nor are bytes from 128 up
      {"  keep  ", false, false, "  keep  "},
      {"", true, true, ""},
  };
  TextBuffers store;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(std::string(store.AddText(c.text, c.unquote, c.trim)), c.stored);
  }
  EXPECT_EQ(std::string(store.AddText(nullptr, true, true)), "");
}

TEST(TextBuffers, CopiesStayValidAndSeparate) {
  TextBuffers store;
  std::vector<const char*> copies;
  std::vector<std::string> originals;
  for (int i = 0; i < 5000; ++i) {
    originals.push_back("/data/file-" + std::to_string(i) + ".gz");
    copies.push_back(store.AddText(originals.back().c_str(), true, true));
  }
  for (size_t i = 0; i < copies.size(); ++i) ASSERT_EQ(std::string(copies[i]), originals[i]);
  EXPECT_NE(copies[0], originals[0].c_str());

  store.Clear();  // may be cleared, used again, and destroyed
  EXPECT_EQ(std::string(store.AddText("again", false, false)), "again");
}

TEST(TextBuffers, RefusesACopyLargerThanABlock) {
  TextBuffers store;
  const std::string huge(16777216, 'x');  // with its NUL one byte too many
  try {
    store.AddText(huge.c_str(), false, false);
    FAIL() << "nothing thrown";
  } catch (const char* message) {
    EXPECT_STREQ(message, "MemoryBlocks::Allocate(): Requested size too large");
  }
  EXPECT_EQ(std::string(store.AddText(huge.c_str() + 1, false, false)).size(), 16777215u);
}

}  // namespace
