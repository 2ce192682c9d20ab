// TextBuffers: copies are byte for byte and stay put while more are added.
#include "support/text_buffers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/error.h"

namespace {

using trimbit::TextBuffers;

TEST(TextBuffers, ExactAndStableCopies) {
  // Names are kept exactly: quotes, blanks and control bytes included.
  const char* texts[] = {"\"  a b.gz  \"", " x ", "\t\r\n\x01 name \x1f", "\x7f\xA0", ""};
  TextBuffers store;
  std::vector<const char*> copies;
  for (const char* text : texts) copies.push_back(store.AddText(text));
  // A copy larger than the largest block is refused; one that fills a block
  // of its own leaves the earlier copies where they were.
  const std::string huge(16777216, 'x');  // with its NUL one byte too many
  EXPECT_THROW(store.AddText(huge.c_str()), trimbit::Error);
  EXPECT_EQ(std::string(store.AddText(huge.c_str() + 1)).size(), huge.size() - 1);
  for (size_t i = 0; i < std::size(texts); ++i) EXPECT_STREQ(copies[i], texts[i]) << i;
  store.Clear();  // may be cleared and used again
  EXPECT_STREQ(store.AddText("again"), "again");
}

}  // namespace
