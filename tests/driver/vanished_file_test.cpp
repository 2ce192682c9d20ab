// A file that vanishes between collection and processing ends the run with
// the open failure, and leaves nothing behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/zlib_util.h"
#include "deflate/tables.h"
#include "driver/file_state.h"
#include "driver/process_file.h"
#include "driver/run.h"
#include "driver/run_state.h"
#include "support/message.h"

namespace {

TEST(VanishedFile, EndsTheRunWithTheOpenFailureAndNoTemporaryFile) {
  settings.verbosity = 0;
  InitTables();
  for (const char* extension : {".gz", ".png", ".zip"}) {
    char folder[] = "/tmp/trimbit-vanish-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/gone" + extension;
    testutil::WriteFile(path, testutil::SampleText(100));
    char resolved[4096];
    ASSERT_NE(realpath(path.c_str(), resolved), nullptr);  // listed...
    ASSERT_EQ(std::remove(path.c_str()), 0);               // ...then gone

    std::string message;
    try {
      ProcessFile(resolved, 0);
    } catch (Message m) {
      message = m;
    }
    CleanUp();
    EXPECT_NE(message.find("fopen() failed"), std::string::npos) << extension << ": " << message;
    EXPECT_NE(access((path + "trbQLX").c_str(), F_OK), 0) << extension;
    EXPECT_EQ(rmdir(folder), 0) << "something was left in the folder";
  }
}

}  // namespace
