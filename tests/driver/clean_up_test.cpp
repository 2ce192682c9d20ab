// CleanUp: releases everything a run can leave behind, in any state, any
// number of times; a failing close does not stop the rest.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "common/zlib_util.h"
#include "containers/stream_glue.h"
#include "driver/file_list.h"
#include "driver/file_state.h"
#include "driver/run.h"
#include "support/big_file.h"

namespace {

bool Exists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

TEST(CleanUp, ReleasesAnyStateAnyNumberOfTimesEvenWhenACloseFails) {
  char folder[] = "/tmp/cleanup-test-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string input = std::string(folder) + "/input.gz", temporary = input + "trbQLX";
  testutil::WriteFile(input, testutil::SampleText(20));
  std::vector<const char*> names(4);
  std::vector<uint8_t> formats(4);
  const char* const masks[] = {"*.gz", nullptr};
  for (const char* output : {static_cast<const char*>(nullptr), "/dev/full"}) {
    if (output != nullptr && access(output, W_OK) != 0) continue;  // no /dev/full here
    SCOPED_TRACE(output != nullptr ? output : "temporary file");
    // A run caught in the middle of a file: list, buffers, the input open,
    // the temporary file created, and output still buffered.
    CreateFileList(names.data(), formats.data(), 4, masks, 0, 0);
    ASSERT_EQ(AddFileSpec(input.c_str()), 1u);
    PrepareFileBuffer(20);
    glue.outputBuffer = new uint8_t[64];
    glue.outputBufferCapacity = 64;
    fileState.inputFile = BigFile::QuickOpen(input.c_str(), "rb", 1);
    std::snprintf(fileState.tempFileName, sizeof fileState.tempFileName, "%s", temporary.c_str());
    fileState.outputFile = OpenTemporaryFile();
    if (output != nullptr) {  // where the final flush fails
      fileState.outputFile->fclose();
      delete fileState.outputFile;
      fileState.outputFile = BigFile::QuickOpen(output, "wb", 1);
    }
    fileState.outputFile->fwrite(formats.data(), 1, 4);
    ASSERT_TRUE(Exists(temporary));

    std::string message;
    try {
      CleanUp();
    } catch (const char* m) {
      message = m;
    }
    EXPECT_EQ(message, output != nullptr ? "BigFile::fclose(): ::fclose() failed" : "");
    EXPECT_EQ(fileList.textStore, nullptr);
    EXPECT_EQ(fileState.inputFile, nullptr);
    EXPECT_EQ(fileState.outputFile, nullptr);
    EXPECT_EQ(fileState.tempFileName[0], '\0');
    EXPECT_FALSE(Exists(temporary));
    EXPECT_EQ(fileState.fileBuffer, nullptr);
    EXPECT_EQ(fileState.fileBufferCapacity, 0u);
    EXPECT_EQ(glue.outputBuffer, nullptr);
    EXPECT_EQ(glue.outputBufferCapacity, 0u);
    EXPECT_NO_THROW(CleanUp());
  }
  // A file already carrying the temporary name belongs to someone else.
  std::snprintf(fileState.tempFileName, sizeof fileState.tempFileName, "%s", input.c_str());
  fileState.tempFileCreated = 0;
  EXPECT_NO_THROW(CleanUp());
  EXPECT_EQ(fileState.tempFileName[0], '\0');
  EXPECT_EQ(testutil::ReadFile(input), testutil::SampleText(20)) << "the input is never touched";
  std::filesystem::remove_all(folder);
}

}  // namespace
