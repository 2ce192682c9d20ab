// Replacing a file by its rewritten form when the rename fails: the original
// stays and the temporary file goes. (Permissions and times kept by a
// successful replacement are checked from the command line.)
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
#include "driver/run_state.h"
#include "support/big_file.h"

namespace {

class ReplaceFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/replace-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    settings = RunSettings{};
  }
  void TearDown() override {
    DiscardTemporaryFile();
    settings = RunSettings{};
    settings.verbosity = 1;
    std::filesystem::remove_all(dir_);
  }
  // Writes `content` as the temporary file of `name`, the way a handler does.
  void WriteTemporary(const std::string& name, const std::string& content) {
    std::snprintf(fileState.tempFileName, sizeof fileState.tempFileName, "%strbQLX", name.c_str());
    BigFile* out = OpenTemporaryFile();
    out->fwrite(content.data(), 1, static_cast<uint32_t>(content.size()));
    out->fclose();
    delete out;
  }
  std::string Read(const std::string& path) {
    const testutil::Bytes b = testutil::ReadFile(path);
    return std::string(b.begin(), b.end());
  }

  std::string dir_;
};

TEST_F(ReplaceFileTest, FailedRenameLeavesOriginalAndRemovesTemporary) {
  // A directory in the file's place (with something in it) cannot be replaced.
  const std::string name = dir_ + "/b.gz";
  ASSERT_EQ(mkdir(name.c_str(), 0755), 0);
  testutil::WriteFile(name + "/inside", {'x'});
  struct stat original = {};
  ASSERT_EQ(stat(name.c_str(), &original), 0);
  WriteTemporary(name, "new");
  const std::string temporary = fileState.tempFileName;
  try {
    ReplaceWithTemporaryFile(name.c_str(), &original);
    ADD_FAILURE() << "rename succeeded";
  } catch (const char* message) {
    EXPECT_EQ(std::string(message).rfind("rename() failed: ", 0), 0u) << message;
  }
  EXPECT_NE(access(temporary.c_str(), F_OK), 0) << "temporary file left behind";
  EXPECT_EQ(fileState.tempFileName[0], '\0');
  EXPECT_EQ(Read(name + "/inside"), "x");
}

}  // namespace
