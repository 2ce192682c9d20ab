// TextBuffers: what unquoting and trimming keep, and that stored copies stay
// put while more are added.
#include "support/text_buffers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(TextBuffers, UnquoteTrimAndStableCopies) {
  const struct {
    const char* text;
    bool unquote, trim;
    const char* stored;
  } cases[] = {
      {"\"  a b.gz  \"", true, true, "a b.gz"},
      {"  \"x\"  ", true, true, "\"x\""},  // quotes are looked for before trimming
      {"\"x\"", false, true, "\"x\""},
      {"\"\"", true, false, ""},
      {"\"x", true, true, "\"x"},
      {"\t\r\n\x01 name \x1f", false, true, "name"},
      {" \x7f\xA0 ", false, true, "\x7f\xA0"},  // neither 127 nor bytes from 128 up are blanks
      {"  keep  ", false, false, "  keep  "},
      {nullptr, true, true, ""},
  };
  TextBuffers store;
  std::vector<const char*> copies;
  for (const auto& c : cases) copies.push_back(store.AddText(c.text, c.unquote, c.trim));
  // A copy larger than a block is refused; one that fills a block of its own
  // leaves the earlier copies where they were.
  const std::string huge(16777216, 'x');  // with its NUL one byte too many
  EXPECT_THROW(store.AddText(huge.c_str(), false, false), const char*);
  EXPECT_EQ(std::string(store.AddText(huge.c_str() + 1, false, false)).size(), huge.size() - 1);
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_STREQ(copies[i], cases[i].stored) << i;
  store.Clear();  // may be cleared and used again
  EXPECT_STREQ(store.AddText("again", false, false), "again");
}

}  // namespace
