// BigFile: the mode rules, short reads and writes with and without the throw
// flag, the messages that name the file, and closing twice.
#include "support/big_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

// A scratch folder with a 100-byte file in it, removed afterwards.
class BigFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/bigfile-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/data.bin";
    FILE* f = std::fopen(path_.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    for (int i = 0; i < 100; ++i) std::fputc(i, f);
    std::fclose(f);
  }
  void TearDown() override {
    std::remove(path_.c_str());
    rmdir(dir_.c_str());
  }

  // The message thrown by `action`, or "" when nothing was thrown.
  template <typename Action>
  static std::string Thrown(Action action) {
    try {
      action();
    } catch (const char* message) {
      return message;
    }
    return "";
  }

  std::string dir_;
  std::string path_;
};

TEST_F(BigFileTest, ModeRules) {
  struct Case {
    const char* mode;
    const char* message;  // null: opens
  };
  const Case cases[] = {
      {"rb", nullptr},
      {"br", nullptr},
      {"rbb", nullptr},  // repetitions count once
      {"rrb", nullptr},
      {"ab", nullptr},
      {"rw", "BigFile::fopen(): b has to be specified in the mode"},
      {"r", "BigFile::fopen(): b has to be specified in the mode"},
      {"rwb", "BigFile::fopen(): Only ONE of a, r, and w are allowed for the mode"},
      {"bar", "BigFile::fopen(): Only ONE of a, r, and w are allowed for the mode"},
      {"b", "BigFile::fopen(): a, r, or w has to be specified in the mode"},
      {"rx", "BigFile::fopen(): Only a, b, r, and w are allowed for the mode"},
      {"rb+", "BigFile::fopen(): Only a, b, r, and w are allowed for the mode"},
      {"x", "BigFile::fopen(): Only a, b, r, and w are allowed for the mode"},  // before "b"
      {"", "BigFile::fopen(): No mode specified"},
      {nullptr, "BigFile::fopen(): No mode specified"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode ? c.mode : "(null)");
    BigFile quiet(0);
    EXPECT_EQ(quiet.fopen(path_.c_str(), c.mode), c.message ? 0 : 1);
    EXPECT_EQ(quiet.Stream() != nullptr, c.message == nullptr);
    quiet.fclose();

    BigFile loud(1);
    EXPECT_EQ(Thrown([&] { loud.fopen(path_.c_str(), c.mode); }), c.message ? c.message : "");
    loud.fclose();
  }
}

TEST_F(BigFileTest, OpenFailuresNameTheFile) {
  const std::string missing = dir_ + "/missing.gz";
  BigFile file(1);
  EXPECT_EQ(Thrown([&] { file.fopen(missing.c_str(), "rb"); }),
            "BigFile::fopen(): fopen() failed [" + missing + "]");
  EXPECT_EQ(Thrown([&] { BigFile::QuickOpen(missing.c_str(), "rb", 1); }),
            "BigFile::fopen(): fopen() failed [" + missing + "]");

  // Without the flag QuickOpen hands back the object unopened.
  std::unique_ptr<BigFile> quiet(BigFile::QuickOpen(missing.c_str(), "rb", 0));
  ASSERT_NE(quiet, nullptr);
  EXPECT_EQ(quiet->Stream(), nullptr);
  EXPECT_EQ(std::string(quiet->Name()), missing);

  // A name that would not fit the name field is refused, never shortened.
  const std::string longest = dir_ + "/" + std::string(1023 - dir_.size() - 1, 'n');
  ASSERT_EQ(longest.size(), 1023u);
  EXPECT_EQ(Thrown([&] { file.fopen(longest.c_str(), "rb"); }),
            "BigFile::fopen(): fopen() failed [" + longest + "]");
  const std::string tooLong = longest + "n";
  EXPECT_EQ(Thrown([&] { file.fopen(tooLong.c_str(), "rb"); }),
            "BigFile::fopen(): File name too long [" + tooLong + "]");

  // An open object is not opened a second time (the first stream would leak).
  ASSERT_EQ(file.fopen(path_.c_str(), "rb"), 1);
  EXPECT_NE(Thrown([&] { file.fopen(path_.c_str(), "rb"); }), "");
  EXPECT_NE(file.Stream(), nullptr);
  file.fclose();
}

TEST_F(BigFileTest, ShortReads) {
  std::vector<uint8_t> buffer(100);

  BigFile quiet(0);
  ASSERT_EQ(quiet.fopen(path_.c_str(), "rb"), 1);
  EXPECT_EQ(quiet.fread(buffer.data(), 1, 0), 0u);  // reading nothing never fails
  EXPECT_EQ(quiet.fsize(), 100);
  EXPECT_EQ(quiet.fseek(-1, SEEK_SET), -1);
  ASSERT_EQ(quiet.fseek(-40, SEEK_END), 0);
  EXPECT_EQ(quiet.ftell(), 60);
  EXPECT_EQ(quiet.fread(buffer.data(), 1, 100), 40u);
  EXPECT_EQ(buffer[0], 60);
  EXPECT_EQ(buffer[39], 99);
  EXPECT_EQ(quiet.fread(buffer.data(), 1, 100), 0u);
  quiet.fclose();

  struct Case {
    int64_t fromEnd;
    const char* message;
  };
  const Case cases[] = {
      {40, "BigFile::fread(): Failed to read the desired number of bytes (less read)"},
      {0, "BigFile::fread(): Failed to read the desired number of bytes (zero read)"},
  };
  for (const Case& c : cases) {
    BigFile loud(1);
    ASSERT_EQ(loud.fopen(path_.c_str(), "rb"), 1);
    ASSERT_EQ(loud.fseek(-c.fromEnd, SEEK_END), 0);
    testing::internal::CaptureStdout();
    const std::string thrown = Thrown([&] { loud.fread(buffer.data(), 1, 100); });
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(thrown, std::string(c.message) + " [" + path_ + "]");
    EXPECT_EQ(printed, "\nFilename: " + path_ + "\n");
    loud.fclose();
  }
}

TEST_F(BigFileTest, FailedWritesAndUnopenedObjects) {
  const uint8_t data[16] = {};
  BigFile reader(1);
  ASSERT_EQ(reader.fopen(path_.c_str(), "rb"), 1);
  testing::internal::CaptureStdout();
  const std::string thrown = Thrown([&] { reader.fwrite(data, 1, sizeof data); });
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(thrown,
            "BigFile::fwrite(): Failed to write the desired number of bytes (zero write) [" +
                path_ + "]");
  reader.fclose();

  // Nothing is open: every call fails cleanly instead of touching a null stream.
  BigFile closed(1);
  EXPECT_EQ(Thrown([&] { closed.fsize(); }),
            "BigFile::fsize(): File not open; use BigFile::fopen() first");
  EXPECT_EQ(Thrown([&] { closed.fseek(0, SEEK_SET); }), "BigFile::fseek(): ::fseek() failed");
  EXPECT_EQ(Thrown([&] { closed.ftell(); }), "BigFile::ftell(): ::ftell() failed");
  EXPECT_NE(Thrown([&] { closed.fread(nullptr, 1, 1); }), "");
  EXPECT_NE(Thrown([&] { closed.fwrite(data, 1, 1); }), "");
  BigFile quietClosed(0);
  EXPECT_EQ(quietClosed.fsize(), 0);
  EXPECT_EQ(quietClosed.fseek(0, SEEK_SET), -1);
  EXPECT_EQ(quietClosed.ftell(), -1);
  EXPECT_EQ(quietClosed.fread(nullptr, 1, 1), 0u);
}

TEST_F(BigFileTest, CloseTwiceAndFailedClose) {
  BigFile file(1);
  ASSERT_EQ(file.fopen(path_.c_str(), "rb"), 1);
  file.fclose();
  EXPECT_EQ(file.Stream(), nullptr);
  EXPECT_EQ(Thrown([&] { file.fclose(); }), "");

  // Data still buffered for a full device: the close is where the write fails.
  BigFile full(1);
  if (full.fopen("/dev/full", "wb") == 0) GTEST_SKIP() << "/dev/full is not available";
  const uint8_t data[10] = {};
  EXPECT_EQ(full.fwrite(data, 1, sizeof data), 10u);
  EXPECT_EQ(Thrown([&] { full.fclose(); }), "BigFile::fclose(): ::fclose() failed");
  EXPECT_EQ(full.Stream(), nullptr);
  EXPECT_EQ(Thrown([&] { full.fclose(); }), "");
}

}  // namespace
