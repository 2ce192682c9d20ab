// CleanUp: releases everything a run can leave behind, in any state, any
// number of times, and a failing close does not stop the rest.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "containers/stream_glue.h"
#include "driver/file_list.h"
#include "driver/file_state.h"
#include "driver/run.h"
#include "support/big_file.h"

namespace {

bool Exists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

class CleanUpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/cleanup-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    input_ = dir_ + "/input.gz";
    FILE* f = std::fopen(input_.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("twenty bytes of data", f);
    std::fclose(f);
  }
  void TearDown() override {
    CleanUp();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // A run caught in the middle of a file: list, buffers, both files open and
  // the temporary file created.
  void FillRunState(const char* outputName) {
    names_.assign(4, nullptr);
    formats_.assign(4, 0);
    const char* const masks[] = {"*.gz", nullptr};
    CreateFileList(names_.data(), formats_.data(), 4, masks, 0, 0);
    ASSERT_EQ(AddFileSpec(input_.c_str()), 1u);
    PrepareFileBuffer(20);
    glue.outputBuffer = new uint8_t[64];
    glue.outputBufferCapacity = 64;
    fileState.inputFile = BigFile::QuickOpen(input_.c_str(), "rb", 1);
    std::snprintf(fileState.tempFileName, sizeof fileState.tempFileName, "%strbQLX",
                  input_.c_str());
    BigFile* temporary = OpenTemporaryFile();
    if (outputName == nullptr) {
      fileState.outputFile = temporary;
    } else {
      temporary->fclose();
      delete temporary;
      fileState.outputFile = BigFile::QuickOpen(outputName, "wb", 1);
    }
    const uint8_t data[10] = {};
    fileState.outputFile->fwrite(data, 1, sizeof data);  // still buffered
  }

  void ExpectReleased(const std::string& temporary) {
    EXPECT_EQ(fileList.textStore, nullptr);
    EXPECT_EQ(fileState.inputFile, nullptr);
    EXPECT_EQ(fileState.outputFile, nullptr);
    EXPECT_EQ(fileState.tempFileName[0], '\0');
    EXPECT_FALSE(Exists(temporary));
    EXPECT_EQ(fileState.fileBuffer, nullptr);
    EXPECT_EQ(fileState.fileBufferCapacity, 0u);
    EXPECT_EQ(glue.outputBuffer, nullptr);
    EXPECT_EQ(glue.outputBufferCapacity, 0u);
    EXPECT_TRUE(Exists(input_)) << "the input file is never touched";
  }

  std::string dir_;
  std::string input_;
  std::vector<const char*> names_;
  std::vector<uint8_t> formats_;
};

TEST_F(CleanUpTest, NothingToReleaseAnyNumberOfTimes) {
  for (int i = 0; i < 3; ++i) EXPECT_NO_THROW(CleanUp());
}

TEST_F(CleanUpTest, ReleasesAMidFileState) {
  FillRunState(nullptr);
  const std::string temporary = input_ + "trbQLX";
  ASSERT_TRUE(Exists(temporary));
  EXPECT_NO_THROW(CleanUp());
  ExpectReleased(temporary);
  EXPECT_NO_THROW(CleanUp());
}

TEST_F(CleanUpTest, AFailedCloseIsReportedAfterEverythingIsReleased) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "/dev/full is not available";
  FillRunState("/dev/full");
  const std::string temporary = input_ + "trbQLX";
  ASSERT_TRUE(Exists(temporary));
  try {
    CleanUp();
    FAIL() << "the failed close was not reported";
  } catch (const char* message) {
    EXPECT_STREQ(message, "BigFile::fclose(): ::fclose() failed");
  }
  ExpectReleased(temporary);
  EXPECT_NO_THROW(CleanUp());
}

TEST_F(CleanUpTest, LeavesAFileItDidNotCreate) {
  // A file already carrying the temporary name belongs to someone else.
  std::snprintf(fileState.tempFileName, sizeof fileState.tempFileName, "%s", input_.c_str());
  fileState.tempFileCreated = 0;
  EXPECT_NO_THROW(CleanUp());
  EXPECT_TRUE(Exists(input_));
  EXPECT_EQ(fileState.tempFileName[0], '\0');
}

}  // namespace
