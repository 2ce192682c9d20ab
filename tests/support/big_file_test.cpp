// BigFile: the modes, short reads with and without the throw flag, and the
// names, reopenings and closes that fail.
#include "support/big_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/error.h"

namespace {

using trimbit::BigFile;

// The message thrown by `action`, or "" when nothing was thrown.
template <typename Action>
std::string Thrown(Action action) {
  try {
    action();
  } catch (const trimbit::Error& error) {
    return error.message();
  }
  return "";
}

TEST(BigFile, OnlyReadingAndWriting) {
  for (const char* mode : {"rb", "wb", "r", "ab", "rb+", "", static_cast<const char*>(nullptr)}) {
    SCOPED_TRACE(mode ? mode : "(null)");
    const bool opens = mode != nullptr && (std::string(mode) == "rb" || std::string(mode) == "wb");
    BigFile quiet(0), loud(1);
    EXPECT_EQ(quiet.fopen("/dev/null", mode), opens ? 1 : 0);
    EXPECT_EQ(quiet.Stream() != nullptr, opens);
    EXPECT_EQ(Thrown([&] { loud.fopen("/dev/null", mode); }),
              opens ? "" : "BigFile::fopen(): The mode must be rb or wb");
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
  EXPECT_EQ(quiet.fwrite(buffer + 60, 1, 40), 40u);
  quiet.fclose();
  ASSERT_EQ(quiet.fopen(path.c_str(), "rb"), 1);
  EXPECT_EQ(quiet.fread(buffer, 1, 100), 40u);
  EXPECT_EQ(buffer[0], 60);
  EXPECT_EQ(quiet.fread(buffer, 1, 100), 0u);

  ASSERT_EQ(loud.fopen(path.c_str(), "rb"), 1);
  testing::internal::CaptureStdout();
  EXPECT_EQ(
      Thrown([&] { loud.fread(buffer, 1, 100); }),
      "BigFile::fread(): Failed to read the desired number of bytes (less read) [" + path + "]");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "the file layer prints nothing";
  // An open object is not opened again (its stream would leak); closing twice does nothing.
  EXPECT_NE(Thrown([&] { loud.fopen(path.c_str(), "rb"); }), "");
  loud.fclose();
  EXPECT_EQ(Thrown([&] { loud.fclose(); }), "");
  quiet.fclose();
  unlink(path.c_str());

  // A name that does not fit is refused, never shortened; a failed system
  // call names the file and the system's reason.
  const std::string tooLong = "/tmp/" + std::string(BigFile::kNameCapacity - 5, 'n');
  EXPECT_EQ(Thrown([&] { loud.fopen(tooLong.c_str(), "rb"); }),
            "BigFile::fopen(): File name too long [" + tooLong + "]");
  const std::string longComponent = tooLong.substr(0, 300);
  EXPECT_EQ(Thrown([&] { loud.fopen(longComponent.c_str(), "rb"); }),
            "Could not open [" + longComponent + "]: File name too long");
  EXPECT_EQ(Thrown([&] { loud.fopen("/nonexistent/x.gz", "rb"); }),
            "Could not open [/nonexistent/x.gz]: No such file or directory");
  ASSERT_EQ(loud.fopen("/tmp", "rb"), 1);
  EXPECT_EQ(Thrown([&] { loud.fread(buffer, 1, 10); }), "Could not read [/tmp]: Is a directory");
  loud.fclose();

  // Data still buffered for a full device: the close is where the write fails.
  if (full.fopen("/dev/full", "wb") == 0) GTEST_SKIP() << "/dev/full is not available";
  EXPECT_EQ(full.fwrite(buffer, 1, 10), 10u);
  EXPECT_EQ(Thrown([&] { full.fclose(); }), "Could not write [/dev/full]: No space left on device");
  EXPECT_EQ(Thrown([&] { full.fclose(); }), "");
  ASSERT_EQ(full.fopen("/dev/full", "wb"), 1);
  std::vector<unsigned char> block(1 << 16);
  EXPECT_EQ(Thrown([&] { full.fwrite(block.data(), 1, static_cast<uint32_t>(block.size())); }),
            "Could not write [/dev/full]: No space left on device");
  full.fclose();
}

}  // namespace
