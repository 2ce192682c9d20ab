// The file list past what the command line can reach: more names than
// comparing every one with every other would allow, up to its capacity.
#include "driver/file_list.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/zlib_util.h"
#include "support/error.h"

namespace {

using namespace trimbit;

TEST(FileList, ManyFilesStayUniqueUpToTheCapacity) {
  char pattern[] = "/tmp/filelist-test-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  char* real = realpath(pattern, nullptr);  // listed names are resolved
  const std::string dir = real;
  std::free(real);
  constexpr uint32_t kFiles = 3000;  // makes the duplicate index grow several times
  const char* const masks[] = {"*.gz", nullptr};
  FileList list;
  CreateFileList(list, kFiles, masks, 0, 0);
  std::vector<std::string> paths;
  for (uint32_t i = 0; i <= kFiles; ++i) {
    paths.push_back(dir + "/" + std::to_string(i) + ".gz");
    testutil::WriteFile(paths.back(), {});
  }
  for (uint32_t i = 0; i < kFiles; ++i) ASSERT_EQ(AddFileSpec(list, paths[i].c_str()), 1u);
  for (uint32_t i = kFiles; i-- > 0;) {
    ASSERT_EQ(AddFileSpec(list, (dir + "/./" + std::to_string(i) + ".gz").c_str()), 0u) << i;
  }
  EXPECT_EQ(AddFileSpec(list, paths[0].c_str()),
            0u);  // a duplicate is dropped before the capacity check
  try {
    AddFileSpec(list, paths[kFiles].c_str());
    ADD_FAILURE() << "no error past the capacity";
  } catch (const Error& error) {
    EXPECT_EQ(error.message(), "Too many files");
  }
  ASSERT_EQ(list.names.size(), kFiles);
  for (uint32_t i = 0; i < kFiles; ++i) EXPECT_EQ(list.names[i], paths[i]);
  ReleaseFileList(list);
  ReleaseFileList(list);  // any number of times
  std::filesystem::remove_all(dir);
}

}  // namespace
