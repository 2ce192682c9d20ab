// A rewritten file whose rename fails: the original stays as it was and the
// temporary file goes. (A successful replacement is checked from the
// command line.)
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/zlib_util.h"
#include "driver/file_state.h"
#include "driver/process_file.h"
#include "support/big_file.h"

namespace {

TEST(ReplaceFile, FailedRenameLeavesOriginalAndRemovesTemporary) {
  char pattern[] = "/tmp/replace-test-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  // A directory (with something in it) in the file's place cannot be replaced.
  const std::string name = std::string(pattern) + "/b.gz";
  ASSERT_EQ(mkdir(name.c_str(), 0755), 0);
  testutil::WriteFile(name + "/inside", {'x'});
  struct stat original = {};
  ASSERT_EQ(stat(name.c_str(), &original), 0);

  std::snprintf(fileState.tempFileName, sizeof fileState.tempFileName, "%strbQLX", name.c_str());
  const std::string temporary = fileState.tempFileName;
  BigFile* out = OpenTemporaryFile();
  out->fwrite("new", 1, 3);
  out->fclose();
  delete out;
  try {
    ReplaceWithTemporaryFile(name.c_str(), &original);
    ADD_FAILURE() << "rename succeeded";
  } catch (const char* message) {
    EXPECT_EQ(std::string(message).rfind("rename() failed: ", 0), 0u) << message;
  }
  EXPECT_NE(access(temporary.c_str(), F_OK), 0) << "temporary file left behind";
  EXPECT_EQ(fileState.tempFileName[0], '\0');
  EXPECT_EQ(testutil::ReadFile(name + "/inside"), testutil::Bytes{'x'});
  DiscardTemporaryFile();
  std::filesystem::remove_all(pattern);
}

}  // namespace
