// A file that vanished or became something else between collection and
// processing ends the run with a message that says so, is never read as a
// file, and leaves nothing behind; a file whose name leads elsewhere once it
// has been examined is read as the file examined.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>

#include "common/zlib_util.h"
#include "driver/process_file.h"
#include "driver/replace_file.h"
#include "driver/run.h"
#include "driver/run_state.h"
#include "support/error.h"

namespace {

using namespace trimbit;

TEST(VanishedFile, EndsTheRunWithTheReasonAndNoTemporaryFile) {
  const struct {
    const char* change;
    std::string message;  // "%" stands for the path
  } changes[] = {
      {"removed", "Could not open [%]: No such file or directory"},
      {"folder", "Is a directory [%]"},
      {"pipe", "Not a regular file [%]"},
      {"link", "Not a regular file [%]"},
  };
  for (const char* extension : {".gz", ".png", ".zip"}) {
    for (const auto& c : changes) {
      SCOPED_TRACE(std::string(extension) + " " + c.change);
      char folder[] = "/tmp/trimbit-vanish-XXXXXX";
      ASSERT_NE(mkdtemp(folder), nullptr);
      const std::string path = std::string(folder) + "/gone" + extension;
      testutil::WriteFile(path, testutil::SampleText(100));
      char resolved[4096];
      ASSERT_NE(realpath(path.c_str(), resolved), nullptr);  // listed...
      ASSERT_EQ(std::remove(path.c_str()), 0);               // ...then changed
      const std::string other = std::string(folder) + "/other";
      testutil::WriteFile(other, testutil::SampleText(100));
      const std::string change = c.change;
      const int made = change == "folder" ? mkdir(path.c_str(), 0755)
                       : change == "pipe" ? mkfifo(path.c_str(), 0644)
                       : change == "link" ? symlink(other.c_str(), path.c_str())
                                          : 0;
      ASSERT_EQ(made, 0);

      trimbit::Run run;
      run.settings.verbosity = 0;
      std::string message;
      try {
        ProcessFile(run, resolved, 0);
      } catch (const Error& error) {
        message = error.message();
      }
      CleanUp(run);
      std::string expected = c.message;
      expected.replace(expected.find('%'), 1, resolved);
      EXPECT_EQ(message, expected);
      EXPECT_EQ(testutil::ReadFile(other), testutil::SampleText(100));
      const auto entries = std::distance(std::filesystem::directory_iterator(folder),
                                         std::filesystem::directory_iterator());
      EXPECT_EQ(entries, c.change == std::string("removed") ? 1 : 2) << "something was left";
      std::filesystem::remove_all(folder);
    }
  }
}

TEST(VanishedFile, TheFileExaminedIsReadWhateverTheNameLeadsToLater) {
  char folder[] = "/tmp/trimbit-swap-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string path = std::string(folder) + "/a.gz";
  testutil::WriteFile(path, {'f', 'i', 'r', 's', 't'});
  FileState file;
  OpenReplacementTarget(path.c_str(), file.target);
  ASSERT_EQ(std::remove(path.c_str()), 0);
  testutil::WriteFile(path, {'o', 't', 'h', 'e', 'r', '!'});  // the name now leads elsewhere
  for (int round = 0; round < 2; ++round) {                   // from the start, each time
    ReadFileImage(file, path.c_str());
    EXPECT_EQ(std::string(file.fileBuffer.begin(), file.fileBuffer.begin() + file.fileSize),
              "first");
  }
  ReleaseReplacementTarget(file);
  std::filesystem::remove_all(folder);
}

}  // namespace
