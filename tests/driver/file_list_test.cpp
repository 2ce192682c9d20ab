// The file list past what the command line can reach: more names than
// comparing every one with every other would allow, up to its capacity.
#include "driver/file_list.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/zlib_util.h"
#include "driver/file_state.h"

namespace {

TEST(FileList, ManyFilesStayUniqueUpToTheCapacity) {
  char pattern[] = "/tmp/filelist-test-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  char* real = realpath(pattern, nullptr);  // listed names are resolved
  const std::string dir = real;
  std::free(real);
  constexpr uint32_t kFiles = 3000;  // makes the duplicate index grow several times
  std::vector<const char*> names(kFiles);
  std::vector<uint8_t> formats(kFiles);
  const char* const masks[] = {"*.gz", nullptr};
  CreateFileList(names.data(), formats.data(), kFiles, masks, 0, 0);
  std::vector<std::string> paths;
  for (uint32_t i = 0; i <= kFiles; ++i) {
    paths.push_back(dir + "/" + std::to_string(i) + ".gz");
    testutil::WriteFile(paths.back(), {});
  }
  for (uint32_t i = 0; i < kFiles; ++i) ASSERT_EQ(AddFileSpec(paths[i].c_str()), 1u);
  for (uint32_t i = kFiles; i-- > 0;) {
    ASSERT_EQ(AddFileSpec((dir + "/./" + std::to_string(i) + ".gz").c_str()), 0u) << i;
  }
  EXPECT_EQ(AddFileSpec(paths[0].c_str()), 0u);  // a duplicate is dropped before the capacity check
  try {
    AddFileSpec(paths[kFiles].c_str());
    ADD_FAILURE() << "no error past the capacity";
  } catch (const char* message) {
    EXPECT_STREQ(message, "Too many files");
  }
  ASSERT_EQ(fileList.count, kFiles);
  for (uint32_t i = 0; i < kFiles; ++i) EXPECT_EQ(fileList.names[i], paths[i]);
  ReleaseFileList();
  ReleaseFileList();  // any number of times
  std::filesystem::remove_all(dir);
}

}  // namespace
