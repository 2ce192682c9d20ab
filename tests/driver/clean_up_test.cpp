// CleanUp: releases everything a run can leave behind, in any state, any
// number of times; a failing close does not stop the rest.
#include <fcntl.h>
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
#include "driver/replace_file.h"
#include "driver/run.h"
#include "support/big_file.h"

namespace {

bool Exists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

// Descriptors open in this process: every one a run opened must be closed.
int OpenDescriptors() {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++count;
  }
  return count;
}

TEST(CleanUp, ReleasesAnyStateAnyNumberOfTimesEvenWhenACloseFails) {
  char folder[] = "/tmp/cleanup-test-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string input = std::string(folder) + "/input.gz", temporary = input + "trbQLX";
  testutil::WriteFile(input, testutil::SampleText(20));
  std::vector<const char*> names(4);
  std::vector<uint8_t> formats(4);
  const char* const masks[] = {"*.gz", nullptr};
  const int descriptorsBefore = OpenDescriptors();
  for (const char* output : {static_cast<const char*>(nullptr), "/dev/full"}) {
    if (output != nullptr && access(output, W_OK) != 0) continue;  // no /dev/full here
    SCOPED_TRACE(output != nullptr ? output : "temporary file");
    // A run caught in the middle of a file: list, buffers, the file and its
    // folder open, the input open, the temporary file created, and output
    // still buffered.
    CreateFileList(names.data(), formats.data(), 4, masks, 0, 0);
    ASSERT_EQ(AddFileSpec(input.c_str()), 1u);
    PrepareFileBuffer(20);
    glue.outputBuffer = new uint8_t[64];
    glue.outputBufferCapacity = 64;
    RunCodec();
    OpenReplacementTarget(input.c_str(), fileState.target);
    BigFile::PinName(input.c_str(), fileState.target.original);
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
    EXPECT_EQ(message,
              output != nullptr ? "Could not write [/dev/full]: No space left on device" : "");
    EXPECT_EQ(fileList.textStore, nullptr);
    EXPECT_EQ(fileState.inputFile, nullptr);
    EXPECT_EQ(fileState.outputFile, nullptr);
    EXPECT_EQ(fileState.tempFileName[0], '\0');
    EXPECT_FALSE(Exists(temporary));
    EXPECT_EQ(fileState.target.folder, -1);
    EXPECT_EQ(OpenDescriptors(), descriptorsBefore) << "a descriptor was left open";
    EXPECT_EQ(fileState.fileBuffer, nullptr);
    EXPECT_EQ(fileState.fileBufferCapacity, 0u);
    EXPECT_EQ(glue.outputBuffer, nullptr);
    EXPECT_EQ(glue.outputBufferCapacity, 0u);
    EXPECT_EQ(glue.codec, nullptr);
    EXPECT_NO_THROW(CleanUp());
  }
  // A file already carrying the temporary name belongs to someone else.
  OpenReplacementTarget(input.c_str(), fileState.target);
  std::snprintf(fileState.tempFileName, sizeof fileState.tempFileName, "%s", temporary.c_str());
  testutil::WriteFile(temporary, {'x'});
  std::string message;
  try {
    OpenTemporaryFile();
  } catch (const char* m) {
    message = m;
  }
  EXPECT_EQ(message, "Temporary file exists already; remove it if no other run is using it [" +
                         temporary + "]");
  EXPECT_NO_THROW(CleanUp());
  EXPECT_EQ(testutil::ReadFile(temporary), testutil::Bytes{'x'})
      << "someone else's file was touched";
  EXPECT_EQ(testutil::ReadFile(input), testutil::SampleText(20)) << "the input is never touched";
  EXPECT_EQ(OpenDescriptors(), descriptorsBefore);
  std::filesystem::remove_all(folder);
}

}  // namespace
