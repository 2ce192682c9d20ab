// The stream glue: CRC-32 against zlib, the zeroed output buffer, and the
// write / report / booking rules that decide whether a file is rewritten.
#include "containers/stream_glue.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "common/zlib_util.h"
#include "deflate/tables.h"
#include "driver/file_state.h"
#include "driver/run.h"
#include "driver/run_state.h"
#include "support/big_file.h"

namespace {

using testutil::Bytes;

TEST(Crc32Test, MatchesZlib) {
  InitTables();
  EXPECT_EQ(Crc32(nullptr, 0), 0u);
  const Bytes samples[] = {testutil::SampleText(1), testutil::SampleText(1000, 3),
                           testutil::RandomBytes(65537, 7), testutil::LongRuns(4096, 2)};
  for (const Bytes& data : samples) {
    const uLong expected = crc32(0L, data.data(), static_cast<uInt>(data.size()));
    EXPECT_EQ(Crc32(data.data(), static_cast<uint32_t>(data.size())), expected) << data.size();
  }
  const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(Crc32(check, 9), 0xCBF43926u);  // the standard check value
}

TEST(AllocateOutputBufferTest, ClearsWhatItHandsOutAndGrowsExactly) {
  CleanUp();  // start without a buffer
  AllocateOutputBuffer(100);
  ASSERT_NE(glue.outputBuffer, nullptr);
  EXPECT_EQ(glue.outputBufferCapacity, 104u);
  std::memset(glue.outputBuffer, 0xAB, 104);
  uint8_t* first = glue.outputBuffer;

  AllocateOutputBuffer(60);  // reused, and cleared again
  EXPECT_EQ(glue.outputBuffer, first);
  EXPECT_EQ(glue.outputBufferCapacity, 104u);
  for (uint32_t i = 0; i < 64; ++i) ASSERT_EQ(glue.outputBuffer[i], 0) << i;

  AllocateOutputBuffer(1000);  // replaced
  EXPECT_EQ(glue.outputBufferCapacity, 1004u);
  for (uint32_t i = 0; i < 1004; ++i) ASSERT_EQ(glue.outputBuffer[i], 0) << i;
  CleanUp();
  EXPECT_EQ(glue.outputBuffer, nullptr);
}

// A writer that writes `fakeOutputSize` bytes and counts its calls.
struct FakeWriter {
  uint32_t outputSize;
  uint32_t calls;
};
FakeWriter fakeWriter;

uint32_t WriteFake(const char*) {
  ++fakeWriter.calls;
  const Bytes data(fakeWriter.outputSize, 0x55);
  if (data.empty()) return 0;
  return fileState.outputFile->fwrite(data.data(), 1, fakeWriter.outputSize);
}

class WriteDecisionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/glue-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    temporary_ = dir_ + "/f.gztrbQLX";
    settings = RunSettings{};
    totals = RunTotals{};
    PrepareFileBuffer(1000);
    fileState.fileSize = 1000;
  }
  void TearDown() override {
    DiscardTemporaryFile();
    CleanUp();
    settings = RunSettings{};
    settings.verbosity = 1;
    std::filesystem::remove_all(dir_);
  }

  std::string dir_;
  std::string temporary_;
};

TEST_F(WriteDecisionTest, GzipAndPngFollowTheRules) {
  struct Case {
    const char* name;
    FileFormat format;
    uint32_t bitsSaved, oldStream, newStream, outputSize;
    uint32_t replaceOnBits, forceRewrite;
    bool written;
    const char* line;  // expected standard output at normal verbosity
  };
  const Case cases[] = {
      {"nothing saved", GZIP, 0, 500, 500, 1000, 0, 0, false, ""},
      {"bits only", GZIP, 5, 500, 500, 1000, 0, 0, false, ""},
      {"bits only, -b", GZIP, 5, 500, 500, 1000, 1, 0, true,
       "Number of bytes saved: 0 (1,000 --> 1,000) (5 bits)\n"},
      {"one bit, -b", GZIP, 1, 500, 500, 1000, 1, 0, true,
       "Number of bytes saved: 0 (1,000 --> 1,000) (1 bit)\n"},
      {"shorter stream", GZIP, 3, 500, 499, 999, 0, 0, true,
       "Number of bytes saved: 1 (1,000 --> 999) (3 bits)\n"},
      {"eight bits", GZIP, 8, 500, 500, 999, 0, 0, true,
       "Number of bytes saved: 1 (1,000 --> 999) (8 bits)\n"},
      {"forced", GZIP, 0, 500, 500, 1000, 0, 1, true,
       "Number of bytes saved: 0 (1,000 --> 1,000) (0 bits)\n"},
      {"png saves bytes", PNG, 800, 0, 0, 900, 0, 0, true, ""},
      {"png bits only", PNG, 3, 0, 0, 1000, 0, 0, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    settings.replaceOnBits = c.replaceOnBits;
    settings.forceRewrite = c.forceRewrite;
    settings.verbosity = 1;
    totals.totalBytesSaved = 0;
    fileState.fileFormat = c.format;
    fileState.fileBitsSaved = 77;
    fileState.fileBytesSaved = 77;
    std::snprintf(fileState.tempFileName, sizeof fileState.tempFileName, "%s", temporary_.c_str());
    fileState.tempFileCreated = 0;
    glue.bitsSaved = c.bitsSaved;
    glue.streamLength = c.oldStream;
    glue.newStreamLength = c.newStream;
    fakeWriter = {c.outputSize, 0};

    testing::internal::CaptureStdout();
    WriteAndBookStream("f.gz", WriteFake);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.line);

    EXPECT_EQ(fakeWriter.calls, c.written ? 1u : 0u);
    EXPECT_EQ(access(temporary_.c_str(), F_OK) == 0, c.written);
    EXPECT_EQ(fileState.outputFile, nullptr) << "closed right after the writer";
    const uint32_t saved = c.written ? 1000 - c.outputSize : 0;
    EXPECT_EQ(fileState.fileBytesSaved, saved);
    EXPECT_EQ(totals.totalBytesSaved, saved);
    EXPECT_EQ(fileState.fileBitsSaved, c.format == GZIP ? c.bitsSaved : 77u);
    DiscardTemporaryFile();
  }
}

}  // namespace
