// The Zip reader and writers on archives assembled here byte by byte: the end
// record found across the search chunks, entries taken in offset order,
// descriptors resolved, empty members, and a written archive read back.
// Malformed archives are refused in the command-line tests.
#include "zip/zip_archive.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/zlib_util.h"
#include "driver/run_state.h"
#include "support/big_file.h"

namespace {

using testutil::Bytes;

void Put16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(Bytes& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}
void Append(Bytes& b, const std::string& s) {
  b.insert(b.end(), s.begin(), s.end());
}
void Append(Bytes& b, const Bytes& s) {
  b.insert(b.end(), s.begin(), s.end());
}

uint32_t Crc(const Bytes& data) {
  // Bitwise CRC-32: an independent check of what the reader passes on.
  uint32_t crc = 0xFFFFFFFF;
  for (uint8_t byte : data) {
    crc ^= byte;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320 & (0u - (crc & 1)));
  }
  return ~crc;
}

struct TestMember {
  std::string localName;
  std::string centralName;
  Bytes data;     // written as they are
  uint32_t size;  // uncompressed size recorded
  uint16_t method = 0;
  uint16_t flags = 0;  // bit 3 adds a descriptor
  bool signedDescriptor = false;
};

// An archive of members, central entries in the given order, followed by
// `trailing` zero bytes after the end record.
Bytes BuildArchive(const std::vector<TestMember>& members, const std::vector<int>& order,
                   const std::string& comment = "", size_t trailing = 0) {
  Bytes out;
  std::vector<Bytes> central;
  for (const TestMember& m : members) {
    const uint32_t offset = static_cast<uint32_t>(out.size());
    const uint32_t crc = Crc(m.data);
    const bool descriptor = (m.flags & 8) != 0;
    Put32(out, kLocalHeaderSignature);
    Put16(out, 20);
    Put16(out, m.flags);
    Put16(out, m.method);
    Put32(out, 0);  // time and date
    Put32(out, descriptor ? 0 : crc);
    Put32(out, descriptor ? 0 : static_cast<uint32_t>(m.data.size()));
    Put32(out, descriptor ? 0 : m.size);
    Put16(out, static_cast<uint32_t>(m.localName.size()));
    Put16(out, 0);
    Append(out, m.localName);
    Append(out, m.data);
    if (m.signedDescriptor) Put32(out, kDescriptorSignature);
    if (descriptor) {
      Put32(out, crc);
      Put32(out, static_cast<uint32_t>(m.data.size()));
      Put32(out, m.size);
    }
    Bytes c;
    Put32(c, kCentralHeaderSignature);
    Put32(c, 0x0014031E);
    Put16(c, m.flags);
    Put16(c, m.method);
    Put32(c, 0);
    Put32(c, crc);
    Put32(c, static_cast<uint32_t>(m.data.size()));
    Put32(c, m.size);
    Put16(c, static_cast<uint32_t>(m.centralName.size()));
    Put32(c, 0);  // extra field and comment lengths
    Put32(c, 0);  // disk, internal attributes
    Put32(c, 0);  // external attributes
    Put32(c, offset);
    Append(c, m.centralName);
    central.push_back(c);
  }
  const uint32_t directoryOffset = static_cast<uint32_t>(out.size());
  for (int index : order) Append(out, central[static_cast<size_t>(index)]);
  const uint32_t directorySize = static_cast<uint32_t>(out.size()) - directoryOffset;
  Put32(out, kEndRecordSignature);
  Put32(out, 0);
  Put16(out, static_cast<uint32_t>(members.size()));
  Put16(out, static_cast<uint32_t>(members.size()));
  Put32(out, directorySize);
  Put32(out, directoryOffset);
  Put16(out, static_cast<uint32_t>(comment.size()));
  Append(out, comment);
  out.resize(out.size() + trailing, 0);
  return out;
}

TestMember Stored(const std::string& name, const Bytes& data) {
  return {name, name, data, static_cast<uint32_t>(data.size())};
}

class ZipArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zip-archive-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    settings = RunSettings{};
  }
  void TearDown() override {
    for (const char* name : {"/a.zip", "/b.zip"}) std::remove((dir_ + name).c_str());
    rmdir(dir_.c_str());
    settings = RunSettings{};
  }
  std::string Write(const Bytes& archive, const char* name = "/a.zip") {
    testutil::WriteFile(dir_ + name, archive);
    return dir_ + name;
  }
  std::string dir_;
};

TEST_F(ZipArchiveTest, EndRecordIsFoundWhereverTheSearchChunksMeet) {
  const Bytes text = testutil::SampleText(3000);
  // Trailing bytes put the end record on either side of each chunk boundary.
  for (size_t trailing : {size_t{0}, size_t{1}, size_t{3}, size_t{65536 - 22}, size_t{65536 - 21},
                          size_t{65536 - 4}, size_t{65536}, size_t{65537}, size_t{200000}}) {
    SCOPED_TRACE(trailing);
    const std::string path =
        Write(BuildArchive({Stored("one", text), Stored("two", {})}, {0, 1}, "hello", trailing));
    Zip zip;
    ZipView* view = zip.Open(path.c_str(), true);
    EXPECT_EQ(view->entries, 2u);
    ASSERT_NE(view->endent->Comment, nullptr);
    EXPECT_EQ(std::string(view->endent->Comment, view->endent->CommentLength), "hello");
    EXPECT_EQ(zip.GetFileSize(), testutil::ReadFile(path).size());
  }
}

TEST_F(ZipArchiveTest, EndRecordAloneAndLongestComment) {
  for (size_t commentLength : {size_t{0}, size_t{65535}}) {
    const std::string path = Write(BuildArchive({}, {}, std::string(commentLength, 'c')));
    Zip zip;
    ZipView* view = zip.Open(path.c_str(), true);
    EXPECT_EQ(view->entries, 0u);
    EXPECT_EQ(view->endent->CommentLength, commentLength);
  }
}

TEST_F(ZipArchiveTest, EntriesTakenInOffsetOrderWithDescriptorsResolved) {
  const Bytes a = testutil::SampleText(500, 1), b = testutil::RandomBytes(300, 2);
  TestMember bare = Stored("dir\\bare", a);  // a backslash in the local name only
  bare.centralName = "dir/bare";
  bare.flags = 8;
  TestMember signedOne = Stored("signed", b);
  signedOne.flags = 8;
  signedOne.signedDescriptor = true;
  TestMember empty = {"empty", "empty", testutil::DeflateRaw({}), 0, 8};
  TestMember lockedEmpty = {"locked", "locked", testutil::RandomBytes(12, 3), 0, 8, 1};
  const std::string path = Write(BuildArchive({bare, signedOne, empty, lockedEmpty}, {3, 1, 2, 0}));

  Zip zip;
  ZipView* view = zip.Open(path.c_str(), true);
  ASSERT_EQ(view->entries, 4u);
  const char* names[] = {"dir/bare", "signed", "empty", "locked"};
  const uint32_t descriptors[] = {12, 16, 0, 0};
  for (uint32_t k = 0; k < 4; ++k) {
    SCOPED_TRACE(names[k]);
    EXPECT_STREQ(view->centent[k]->Filename, names[k]);
    EXPECT_STREQ(view->locent[k]->Filename, names[k]);
    EXPECT_EQ(view->locent[k]->DescriptorLength, descriptors[k]);
    if (k > 0) {
      EXPECT_LT(view->centent[k - 1]->LocalHeaderOffset, view->centent[k]->LocalHeaderOffset);
    }
  }
  EXPECT_EQ(view->locent[0]->Crc, Crc(a));
  EXPECT_EQ(view->locent[1]->CompressedSize, b.size());
  // An empty member becomes stored without data; an encrypted one keeps its 12 bytes.
  EXPECT_EQ(view->locent[2]->Method, 0);
  EXPECT_EQ(view->centent[2]->CompressedSize, 0u);
  EXPECT_EQ(view->locent[3]->Method, 8);
  EXPECT_EQ(view->centent[3]->CompressedSize, 12u);
  EXPECT_STREQ(Zip::MethodName(view->centent[2]), "Stored");
}

TEST_F(ZipArchiveTest, WrittenArchiveReadsBackAndCountingMatchesWriting) {
  const Bytes a = testutil::SampleText(700, 4), b = testutil::RandomBytes(90, 5);
  TestMember withDescriptor = Stored("sub/a.txt", a);
  withDescriptor.flags = 8;
  Zip zip;
  ZipView* view = zip.Open(
      Write(BuildArchive({withDescriptor, Stored("b.bin", b)}, {1, 0}, "kept with -c")).c_str(),
      true);
  settings.keepComments = 1;

  // The members as the processing writes them: local header, then data.
  BigFile* out = BigFile::QuickOpen((dir_ + "/b.zip").c_str(), "wb", 1);
  uint32_t position = 0;
  for (const Bytes* data : {&a, &b}) {
    const uint32_t k = data == &a ? 0 : 1;
    Zip::WriteLocalEntry(position, out, view->locent[k]);
    position += out->fwrite(data->data(), 1, static_cast<uint32_t>(data->size()));
  }
  const uint32_t written = FinishZipArchive(view, out, 2, position);
  out->fclose();
  delete out;
  uint32_t counted = 0;
  EXPECT_EQ(FinishZipArchive(view, nullptr, 2, counted), written);
  EXPECT_EQ(counted, written);

  const Bytes rewritten = testutil::ReadFile(dir_ + "/b.zip");
  ASSERT_EQ(rewritten.size(), written);
  EXPECT_EQ(written, testutil::ReadFile(dir_ + "/a.zip").size() - 12);  // the descriptor is gone
  Zip again;
  ZipView* back = again.Open((dir_ + "/b.zip").c_str(), true);
  ASSERT_EQ(back->entries, 2u);
  EXPECT_STREQ(back->locent[0]->Filename, "sub/a.txt");
  EXPECT_EQ(back->locent[0]->Flags & 8, 0);
  EXPECT_EQ(back->locent[0]->Crc, Crc(a));
  EXPECT_EQ(back->locent[1]->CompressedSize, b.size());
  EXPECT_EQ(std::string(back->endent->Comment, back->endent->CommentLength), "kept with -c");
}

TEST(ZipMethodName, EveryMethodAndOption) {
  struct {
    uint16_t method, flags;
    const char* name;
  } cases[] = {{0, 0, "Stored"},
               {1, 0, "Shrink"},
               {2, 0, "Reduce 1"},
               {5, 0, "Reduce 4"},
               {6, 0, "Implode 4k2"},
               {6, 2, "Implode 8k2"},
               {6, 4, "Implode 4k3"},
               {6, 6, "Implode 8k3"},
               {7, 0, "Tokenised"},
               {8, 0, "Deflate Normal"},
               {8, 2, "Deflate eXtreme"},
               {8, 4, "Deflate Fast"},
               {8, 6, "Deflate Superfast"},
               {8, 5, "Deflate Fast"},
               {9, 0, "Deflate64"},
               {10, 0, "Implode DCL"},
               {11, 0, "Unknown"},
               {99, 1, "Unknown"}};
  for (const auto& c : cases) {
    ZIPCENTENT entry = {};
    entry.Method = c.method;
    entry.Flags = c.flags;
    EXPECT_STREQ(Zip::MethodName(&entry), c.name) << c.method << "/" << c.flags;
  }
}

}  // namespace
