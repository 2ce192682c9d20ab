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
#include "driver/replace_file.h"
#include "driver/run.h"
#include "driver/run_state.h"
#include "support/big_file.h"
#include "support/error.h"

namespace {

using namespace trimbit;

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
  const char* const masks[] = {"*.gz", nullptr};
  const uint8_t bytes[4] = {1, 2, 3, 4};
  const int descriptorsBefore = OpenDescriptors();
  for (const char* output : {static_cast<const char*>(nullptr), "/dev/full"}) {
    if (output != nullptr && access(output, W_OK) != 0) continue;  // no /dev/full here
    SCOPED_TRACE(output != nullptr ? output : "temporary file");
    // A run caught in the middle of a file: list, session, the file read and
    // its folder open, the temporary file created, and output still buffered.
    trimbit::Run run;
    CreateFileList(run.fileList, 4, masks, 0, 0);
    ASSERT_EQ(AddFileSpec(run.fileList, input.c_str()), 1u);
    run.session = trimbit_session_new();
    FileState& file = run.file;
    OpenReplacementTarget(input.c_str(), file.target);
    ReadFileImage(file, input.c_str());
    file.heldLines.push_back({1, "held"});
    file.tempFileName = temporary;
    file.outputFile = OpenTemporaryFile(file);
    if (output != nullptr) {  // where the final flush fails
      file.outputFile->fclose();
      delete file.outputFile;
      file.outputFile = BigFile::QuickOpen(output, "wb", 1);
    }
    file.outputFile->fwrite(bytes, 1, 4);
    ASSERT_TRUE(Exists(temporary));

    std::string message;
    try {
      CleanUp(run);
    } catch (const Error& error) {
      message = error.message();
    }
    EXPECT_EQ(message,
              output != nullptr ? "Could not write [/dev/full]: No space left on device" : "");
    EXPECT_TRUE(run.fileList.names.empty());
    EXPECT_EQ(run.session, nullptr);
    EXPECT_EQ(file.outputFile, nullptr);
    EXPECT_TRUE(file.tempFileName.empty());
    EXPECT_FALSE(Exists(temporary));
    EXPECT_EQ(file.target.folder, -1);
    EXPECT_EQ(OpenDescriptors(), descriptorsBefore) << "a descriptor was left open";
    EXPECT_EQ(file.fileBuffer.capacity(), 0u);
    EXPECT_TRUE(file.heldLines.empty());
    EXPECT_NO_THROW(CleanUp(run));
  }
  EXPECT_EQ(testutil::ReadFile(input), testutil::SampleText(20)) << "the input is never touched";
  std::filesystem::remove_all(folder);
}

}  // namespace
