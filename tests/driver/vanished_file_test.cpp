// A file that vanishes between collection and processing ends the run with
// the open failure, and leaves nothing behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "deflate/tables.h"
#include "driver/file_list.h"
#include "driver/file_state.h"
#include "driver/process_file.h"
#include "driver/run.h"
#include "driver/run_state.h"
#include "support/message.h"

namespace {

TEST(VanishedFile, EndsTheRunWithTheOpenFailureAndNoTemporaryFile) {
  for (const char* extension : {".gz", ".png", ".zip"}) {
    char folder[] = "/tmp/trimbit-vanish-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/gone" + extension;
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("not really a compressed file, but long enough", f);
    std::fclose(f);

    settings.verbosity = 0;
    InitTables();
    char resolved[4096];
    ASSERT_NE(realpath(path.c_str(), resolved), nullptr);
    ASSERT_EQ(std::remove(path.c_str()), 0);  // gone after it was listed

    std::string message;
    try {
      ProcessFile(resolved, 0);
    } catch (Message m) {
      message = m;
    }
    CleanUp();
    EXPECT_NE(message.find("fopen() failed"), std::string::npos) << extension << ": " << message;
    EXPECT_NE(access((path + "trbQLX").c_str(), F_OK), 0) << extension;
    EXPECT_EQ(fileState.tempFileName[0], '\0');
    rmdir(folder);
  }
}

}  // namespace
