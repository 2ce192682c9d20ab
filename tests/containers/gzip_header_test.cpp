// GZIP member headers: what each option keeps, the bits booked for what is
// removed, block-gzip detection, and every header that must be refused.
#include "containers/gzip_header.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "containers/gzip.h"
#include "driver/file_state.h"
#include "driver/run.h"
#include "driver/run_state.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A member header: the 10 fixed bytes with `flags`, then the fields the
// flags announce, then `tail` (standing for deflate data and trailer).
Bytes Header(uint8_t flags, const Bytes& extra, const std::string& name, const std::string& comment,
             size_t tail = 12) {
  Bytes h = {0x1F, 0x8B, 8, flags, 0x78, 0x56, 0x34, 0x12, 2, 3};
  if (flags & 0x04) {
    h.push_back(static_cast<uint8_t>(extra.size()));
    h.push_back(static_cast<uint8_t>(extra.size() >> 8));
    h.insert(h.end(), extra.begin(), extra.end());
  }
  if (flags & 0x08) h.insert(h.end(), name.c_str(), name.c_str() + name.size() + 1);
  if (flags & 0x10) h.insert(h.end(), comment.c_str(), comment.c_str() + comment.size() + 1);
  if (flags & 0x02) {
    h.push_back(0xAA);
    h.push_back(0xBB);
  }
  h.insert(h.end(), tail, 0x33);
  return h;
}

class GzipHeaderTest : public ::testing::Test {
 protected:
  void SetUp() override { settings = RunSettings{}; }
  void TearDown() override {
    CleanUp();
    settings = RunSettings{};
    settings.verbosity = 1;
  }
  void Load(const Bytes& file) {
    PrepareFileBuffer(static_cast<uint32_t>(file.size()));
    std::memcpy(fileState.fileBuffer, file.data(), file.size());
  }
  Bytes Kept(const GzipMember& m) {
    return Bytes(fileState.fileBuffer + m.headerStart,
                 fileState.fileBuffer + m.headerStart + m.headerLength);
  }
};

TEST_F(GzipHeaderTest, KeepsWhatEachOptionSays) {
  const Bytes extra = {'A', 'B', 1, 0, 7};
  const Bytes full = Header(0x1E | 0x02 | 0x01, extra, "name.txt", "a comment");
  const size_t fullHeader = full.size() - 12;
  struct Case {
    const char* name;
    uint32_t keepComments, keepAll;
    Bytes expected;
  };
  const Case cases[] = {
      {"default", 0, 0, Bytes(Header(0x09, {}, "name.txt", "", 0))},
      {"-c", 1, 0, Bytes(Header(0x19, {}, "name.txt", "a comment", 0))},
      {"-k", 0, 1, Bytes(full.begin(), full.begin() + fullHeader)},
      {"-c -k", 1, 1, Bytes(full.begin(), full.begin() + fullHeader)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    settings.keepComments = c.keepComments;
    settings.keepAll = c.keepAll;
    Load(full);
    GzipMember member = {};
    const uint32_t removed = TrimGzipMemberHeader(0, &member);
    EXPECT_EQ(Kept(member), c.expected);
    EXPECT_EQ(member.streamStart, fullHeader);
    EXPECT_EQ(removed, fullHeader - c.expected.size());
  }
}

TEST_F(GzipHeaderTest, FindsTheBlockGzipSubfieldOnly) {
  struct Case {
    Bytes file;
    bool blockGzip;
  };
  const Case cases[] = {
      {Header(0x04, {'B', 'C', 2, 0, 0x1B, 0}, "", ""), true},
      {Header(0x04, {'X', 'Y', 1, 0, 9, 'B', 'C', 2, 0, 0, 0}, "", ""), true},
      {Header(0x04, {'X', 'Y', 2, 0, 'B', 'C'}, "", ""), false},  // inside another subfield
      {Header(0x04, {'B', 'C'}, "", ""), false},                  // no room for a subfield
      {Header(0x08, {}, "BC", ""), false},                        // no extra field
  };
  for (const Case& c : cases) {
    Load(c.file);
    CheckGzipMemberStart(0);
    EXPECT_EQ(HasBlockGzipSubfield(0), c.blockGzip);
  }
}

// Fields that run past the data (the simpler failures are checked from the
// command line).
TEST_F(GzipHeaderTest, RefusesFieldsPastTheEnd) {
  Bytes longExtra = Header(0x04, Bytes(4), "", "");
  longExtra[10] = 0xFF;  // XLEN beyond the data
  struct Case {
    const char* name;
    Bytes file;
    const char* message;
  };
  const Case cases[] = {
      {"comment reaching the end", Header(0x10, {}, "", "c", 0), "GZIP file too small"},
      {"extra field past the end", longExtra, "GZIP file too small"},
      {"header CRC past the end", Header(0x02, {}, "", "", 8), "GZIP file too small"},
      {"member cut short", Bytes{0x1F, 0x8B, 8, 0, 0}, "GZIP file too small"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Load(c.file);
    try {
      CheckGzipMemberStart(0);
      GzipMember member = {};
      TrimGzipMemberHeader(0, &member);
      ADD_FAILURE() << "accepted";
    } catch (const char* message) {
      EXPECT_STREQ(message, c.message);
    }
  }
}

}  // namespace
