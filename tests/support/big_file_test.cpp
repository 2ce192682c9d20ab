// BigFile: the mode rules, short reads with and without the throw flag, and
// the names, reopenings and closes that fail.
#include "support/big_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

// The message thrown by `action`, or "" when nothing was thrown.
template <typename Action>
std::string Thrown(Action action) {
  try {
    action();
  } catch (const char* message) {
    return message;
  }
  return "";
}

TEST(BigFile, ModeRules) {
  const std::string letters = "BigFile::fopen(): Only a, b, r, and w are allowed for the mode";
  const struct {
    const char* mode;
    std::string message;  // empty: opens
  } cases[] = {
      {"rb", ""},
      {"br", ""},
      {"r", "BigFile::fopen(): b has to be specified in the mode"},
      {"rwb", "BigFile::fopen(): Only ONE of a, r, and w are allowed for the mode"},
      {"b", "BigFile::fopen(): a, r, or w has to be specified in the mode"},
      {"rb+", letters},
      {"x", letters},  // before the missing "b"
      {"", "BigFile::fopen(): No mode specified"},
      {nullptr, "BigFile::fopen(): No mode specified"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode ? c.mode : "(null)");
    BigFile quiet(0), loud(1);
    EXPECT_EQ(quiet.fopen("/dev/null", c.mode), c.message.empty() ? 1 : 0);
    EXPECT_EQ(quiet.Stream() != nullptr, c.message.empty());
    EXPECT_EQ(Thrown([&] { loud.fopen("/dev/null", c.mode); }), c.message);
  }
}

TEST(BigFile, ShortReadsAndRefusedOpensAndCloses) {
  char name[] = "/tmp/bigfile-test-XXXXXX";
  close(mkstemp(name));
  const std::string path = name;
  unsigned char buffer[100];
  for (int i = 0; i < 100; ++i) buffer[i] = static_cast<unsigned char>(i);
  BigFile quiet(0), loud(1), full(1);
  ASSERT_EQ(quiet.fopen(path.c_str(), "wb"), 1);
  EXPECT_EQ(quiet.fwrite(buffer, 1, 100), 100u);
  quiet.fclose();
  ASSERT_EQ(quiet.fopen(path.c_str(), "rb"), 1);
  ASSERT_EQ(quiet.fseek(-40, SEEK_END), 0);
  EXPECT_EQ(quiet.fread(buffer, 1, 100), 40u);
  EXPECT_EQ(buffer[0], 60);
  EXPECT_EQ(quiet.fread(buffer, 1, 100), 0u);

  ASSERT_EQ(loud.fopen(path.c_str(), "rb"), 1);
  loud.fseek(-40, SEEK_END);
  testing::internal::CaptureStdout();
  EXPECT_EQ(
      Thrown([&] { loud.fread(buffer, 1, 100); }),
      "BigFile::fread(): Failed to read the desired number of bytes (less read) [" + path + "]");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nFilename: " + path + "\n");
  // An open object is not opened again (its stream would leak); closing twice does nothing.
  EXPECT_NE(Thrown([&] { loud.fopen(path.c_str(), "rb"); }), "");
  loud.fclose();
  EXPECT_EQ(Thrown([&] { loud.fclose(); }), "");
  quiet.fclose();
  unlink(path.c_str());

  // A name that does not fit is refused, never shortened.
  const std::string tooLong = "/tmp/" + std::string(1019, 'n');
  EXPECT_EQ(Thrown([&] { loud.fopen(tooLong.c_str(), "rb"); }),
            "BigFile::fopen(): File name too long [" + tooLong + "]");
  EXPECT_EQ(Thrown([&] { loud.fopen(tooLong.c_str() + 1, "rb"); }),
            "BigFile::fopen(): fopen() failed [" + tooLong.substr(1) + "]");

  // Data still buffered for a full device: the close is where the write fails.
  if (full.fopen("/dev/full", "wb") == 0) GTEST_SKIP() << "/dev/full is not available";
  EXPECT_EQ(full.fwrite(buffer, 1, 10), 10u);
  EXPECT_EQ(Thrown([&] { full.fclose(); }), "BigFile::fclose(): ::fclose() failed");
  EXPECT_EQ(Thrown([&] { full.fclose(); }), "");
}

}  // namespace
