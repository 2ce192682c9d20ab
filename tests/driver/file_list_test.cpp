// Collecting files: extensions, signatures, duplicates however they are
// named, and the limits (capacity, path length). Every case works on real
// files in a scratch folder.
#include "driver/file_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/file_state.h"

namespace {

const char* const kMasks[] = {"*.gz", "*.tgz", "*.png", "*.zip", nullptr};
const char* const kScanMasks[] = {"*.*", nullptr};

const std::string kGzipHead("\x1F\x8B\x08\x00\x00\x00\x00\x00", 8);
const std::string kPngHead("\x89PNG\r\n\x1A\n", 8);
const std::string kZipHead("PK\x03\x04\x14\x00\x00\x00", 8);

template <typename Action>
std::string Thrown(Action action) {
  try {
    action();
  } catch (const char* message) {
    return message;
  }
  return "";
}

class FileListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/filelist-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    char* real = realpath(pattern, nullptr);  // /tmp itself may be a link
    dir_ = real;
    std::free(real);
  }
  void TearDown() override {
    ReleaseFileList();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  void Create(uint32_t capacity, bool scanAll) {
    names_.assign(capacity, nullptr);
    formats_.assign(capacity, 0xFF);
    CreateFileList(names_.data(), formats_.data(), capacity, scanAll ? kScanMasks : kMasks, 0,
                   scanAll ? 1 : 0);
  }

  // Writes `content` to dir_/relative and returns the full path.
  std::string Write(const std::string& relative, const std::string& content = kGzipHead) {
    const std::string path = dir_ + "/" + relative;
    FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr) << path;
    if (f) {
      std::fwrite(content.data(), 1, content.size(), f);
      std::fclose(f);
    }
    return path;
  }
  std::string MakeDir(const std::string& relative) {
    const std::string path = dir_ + "/" + relative;
    EXPECT_EQ(mkdir(path.c_str(), 0700), 0) << path;
    return path;
  }
  std::vector<std::string> Listed() const {
    return std::vector<std::string>(fileList.names, fileList.names + fileList.count);
  }

  std::string dir_;
  std::vector<const char*> names_;
  std::vector<uint8_t> formats_;
};

TEST(GetExtension, FromTheLastDotAfterTheLastSlash) {
  struct Case {
    const char* path;
    const char* extension;
  };
  const Case cases[] = {
      {"/x/a.gz", ".gz"},    {"/x/c.tar.gz", ".gz"}, {"/x/a.GZ", ".GZ"},
      {"/x/.gz", ".gz"},     {"/dir.d/file", ""},    {"/x/noext", ""},
      {"plain.png", ".png"}, {"/x/a.", "."},         {"", ""},
      {"/a.b/c.d/e", ""},
  };
  for (const Case& c : cases) {
    char out[1024] = "junk";
    GetExtension(c.path, out);
    EXPECT_STREQ(out, c.extension) << c.path;
  }
}

TEST_F(FileListTest, DetectFormatBySignature) {
  struct Case {
    const char* name;
    std::string content;
    uint32_t found;
    uint8_t format;
  };
  const Case cases[] = {
      {"gzip", kGzipHead, 1, GZIP},
      {"gzip-other-method", std::string("\x1F\x8B\x07\x00\x00\x00\x00\x00", 8), 0, 0},
      {"png", kPngHead, 1, PNG},
      {"png-damaged", std::string("\x89PNG\r\n\x1A\x0B", 8), 0, 0},
      {"zip", kZipHead, 1, ZIP},
      {"zip-end-record", std::string("PK\x05\x06\x00\x00\x00\x00", 8), 0, 0},
      {"gzip-7-bytes", kGzipHead.substr(0, 7), 0, 0},
      {"png-7-bytes", kPngHead.substr(0, 7), 0, 0},
      {"empty", "", 0, 0},
      {"text", "just some text", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    uint8_t format = 0xEE;
    EXPECT_EQ(DetectFormat(Write(c.name, c.content).c_str(), &format), c.found);
    if (c.found) {
      EXPECT_EQ(format, c.format);
    }
  }
  uint8_t format = 0;
  EXPECT_EQ(DetectFormat(MakeDir("folder").c_str(), &format), 0u);
  EXPECT_EQ(DetectFormat((dir_ + "/missing").c_str(), &format), 0u);
  // A pipe is not read: opening it for reading must not wait for a writer.
  const std::string pipe = dir_ + "/pipe";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_EQ(DetectFormat(pipe.c_str(), &format), 0u);
}

TEST_F(FileListTest, ExtensionsDecideWithoutScanAll) {
  struct Case {
    const char* name;
    uint32_t added;
  };
  const Case cases[] = {
      {"a.GZ", 1},  {"b.Tgz", 1}, {"c.tar.gz", 1}, {"d.png", 1},  {"e.ZIP", 1},  {".gz", 1},
      {"f.txt", 0}, {"g", 0},     {"h.gz.bak", 0}, {"i.gzip", 0}, {"j.pngx", 0},
  };
  Create(64, false);
  std::vector<std::string> expected;
  for (const Case& c : cases) {
    const std::string path = Write(c.name, "not even compressed");
    EXPECT_EQ(AddFileSpec(path.c_str()), c.added) << c.name;
    if (c.added) expected.push_back(path);
  }
  MakeDir("dir.d");
  EXPECT_EQ(AddFileSpec(Write("dir.d/file").c_str()), 0u);  // its dot is in the folder's name
  EXPECT_EQ(AddFileSpec(MakeDir("folder").c_str()), 0u);
  // A folder named like an archive is judged by its name, like a file.
  expected.push_back(MakeDir("old.zip"));
  EXPECT_EQ(AddFileSpec(expected.back().c_str()), 1u);
  // A link is judged by the name it resolves to.
  const std::string target = Write("x.data");
  ASSERT_EQ(symlink(target.c_str(), (dir_ + "/x.gz").c_str()), 0);
  EXPECT_EQ(AddFileSpec((dir_ + "/x.gz").c_str()), 0u);

  EXPECT_EQ(Listed(), expected);
  for (uint32_t i = 0; i < fileList.count; ++i) EXPECT_EQ(formats_[i], 0) << i;
}

TEST_F(FileListTest, SignaturesDecideWithScanAll) {
  Create(64, true);
  const std::string photo = Write("photo.dat", kPngHead + "rest");
  const std::string packed = Write("packed.bin", kGzipHead);
  const std::string archive = Write("archive", kZipHead);
  const std::string trailingBlank = Write("blank ", kGzipHead);
  EXPECT_EQ(AddFileSpec(photo.c_str()), 1u);
  EXPECT_EQ(AddFileSpec(packed.c_str()), 1u);
  EXPECT_EQ(AddFileSpec(archive.c_str()), 1u);
  EXPECT_EQ(AddFileSpec(Write("short.gz", kGzipHead.substr(0, 7)).c_str()), 0u);
  EXPECT_EQ(AddFileSpec(Write("text.gz", "plain text, not gzip").c_str()), 0u);
  EXPECT_EQ(AddFileSpec(MakeDir("dir.zip").c_str()), 0u);
  EXPECT_EQ(AddFileSpec(trailingBlank.c_str()), 1u);

  // Names are stored exactly as resolved: a trailing blank is part of the name.
  EXPECT_EQ(Listed(), (std::vector<std::string>{photo, packed, archive, trailingBlank}));
  EXPECT_EQ(formats_[0], PNG);
  EXPECT_EQ(formats_[1], GZIP);
  EXPECT_EQ(formats_[2], ZIP);
  EXPECT_EQ(formats_[3], GZIP);
}

TEST_F(FileListTest, EachFileIsListedOnceAndTheFirstNameWins) {
  Create(64, false);
  const std::string file = Write("data.gz");
  MakeDir("sub");
  const std::string upper = Write("CASE.GZ");
  const std::string lower = Write("case.gz");
  ASSERT_EQ(symlink(file.c_str(), (dir_ + "/link.gz").c_str()), 0);
  ASSERT_EQ(symlink(dir_.c_str(), (dir_ + "/sub/up").c_str()), 0);

  ASSERT_EQ(chdir(dir_.c_str()), 0);
  struct Case {
    std::string argument;
    uint32_t added;
  };
  const Case cases[] = {
      {file, 1},
      {file, 0},
      {"data.gz", 0},
      {"./data.gz", 0},
      {dir_ + "/./sub/../data.gz", 0},
      {"link.gz", 0},
      {"sub/up/data.gz", 0},
      {upper, 1},
      {lower, 0},  // differs only in case: the first one wins
      {"\"" + file + "\"", 0},
  };
  for (const Case& c : cases) {
    if (c.argument[0] == '"') {
      // A quoted argument names a file whose name has quotes in it: none here.
      EXPECT_EQ(Thrown([&] { AddFileSpec(c.argument.c_str()); }), "realpath() failed");
      continue;
    }
    EXPECT_EQ(AddFileSpec(c.argument.c_str()), c.added) << c.argument;
  }
  EXPECT_EQ(Listed(), (std::vector<std::string>{file, upper}));
}

TEST_F(FileListTest, ManyFilesKeepTheirOrderAndStayUnique) {
  // Enough names to make the duplicate index grow several times.
  constexpr int kFiles = 3000;
  Create(kFiles, false);
  MakeDir("many");
  std::vector<std::string> paths;
  for (int i = 0; i < kFiles; ++i) paths.push_back(Write("many/f" + std::to_string(i) + ".gz"));
  for (const std::string& path : paths) ASSERT_EQ(AddFileSpec(path.c_str()), 1u);
  for (int i = kFiles - 1; i >= 0; --i) {
    ASSERT_EQ(AddFileSpec((dir_ + "/many/./f" + std::to_string(i) + ".gz").c_str()), 0u);
  }
  EXPECT_EQ(Listed(), paths);
}

TEST_F(FileListTest, Limits) {
  Create(2, false);
  const std::string a = Write("a.gz");
  const std::string b = Write("b.gz");
  EXPECT_EQ(AddFileSpec(a.c_str()), 1u);
  EXPECT_EQ(AddFileSpec(b.c_str()), 1u);
  EXPECT_EQ(AddFileSpec(a.c_str()), 0u);  // a duplicate is dropped before the capacity check
  EXPECT_EQ(AddFileSpec(Write("c.txt").c_str()), 0u);
  EXPECT_EQ(Thrown([&] { AddFileSpec(Write("c.gz").c_str()); }), "Too many files");
  EXPECT_EQ(fileList.count, 2u);

  EXPECT_EQ(Thrown([&] { AddFileSpec((dir_ + "/missing.gz").c_str()); }), "realpath() failed");
  EXPECT_EQ(Thrown([&] { AddFileSpec((dir_ + "/*.gz").c_str()); }), "realpath() failed");
  EXPECT_EQ(Thrown([&] { AddFileSpec(""); }), "realpath() failed");

  // Resolved paths up to 1023 characters are taken, longer ones refused by name.
  Create(4, false);
  std::string deep = dir_;
  while (deep.size() < 900) {
    deep += "/" + std::string(100, 'd');
    ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
  }
  const std::string fits = deep + "/" + std::string(1019 - deep.size(), 'f') + ".gz";
  ASSERT_EQ(fits.size(), 1023u);
  Write(fits.substr(dir_.size() + 1));
  EXPECT_EQ(AddFileSpec(fits.c_str()), 1u);
  const std::string tooLong = deep + "/" + std::string(1020 - deep.size(), 'f') + ".gz";
  Write(tooLong.substr(dir_.size() + 1));
  EXPECT_EQ(Thrown([&] { AddFileSpec(tooLong.c_str()); }),
            "Path longer than 1023 characters [" + tooLong + "]");
  EXPECT_EQ(Listed(), (std::vector<std::string>{fits}));
}

TEST_F(FileListTest, ReleaseMayRunAgain) {
  Create(4, false);
  EXPECT_EQ(AddFileSpec(Write("a.gz").c_str()), 1u);
  ReleaseFileList();
  EXPECT_EQ(fileList.textStore, nullptr);
  EXPECT_EQ(fileList.count, 0u);
  ReleaseFileList();
  EXPECT_NE(Thrown([&] { AddFileSpec((dir_ + "/a.gz").c_str()); }), "");
}

}  // namespace
