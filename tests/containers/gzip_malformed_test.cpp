// Hostile GZIP images in memory: each is refused with the message the
// command line prints (without its "ERROR: " and final full stop). The
// damage zlib and gzip -t judge too, and what a refusal does to the files
// of a run, are the command-line tests' (test_gzip.py).
#include <gtest/gtest.h>

#include "common/images.h"
#include "common/refusal.h"

namespace {

using testutil::Bytes;
using testutil::Patched;

Bytes Join(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Cut(const Bytes& image, size_t length) {
  return Bytes(image.begin(), image.begin() + length);
}

TEST(GzipMalformed, IsRefusedWithTheCommandLinesMessage) {
  const Bytes text = testutil::SampleText(3000);
  const Bytes good = testutil::GzipMember(text);
  const size_t trailer = good.size() - 8;
  const Bytes named = Join(Patched(Cut(good, 10), 3, 0x08, 1), Bytes(40, 'n'));  // no NUL
  const Bytes extra = Join(Patched(Cut(good, 10), 3, 0x04, 1), Bytes(30, 0));
  const Bytes empty = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0};
  const struct {
    const char* damage;
    Bytes image;
    const char* message;
  } cases[] = {
      {"17 bytes", Cut(good, 17), "File too small"},
      {"a header and a trailer, no data", empty, "GZIP file too small"},
      {"name without its NUL", named, "GZIP file too small"},
      {"extra field of 65,535 bytes", Patched(extra, 10, 0xFFFF, 2), "GZIP file too small"},
      {"extra field ending at the end", Patched(extra, 10, 30, 2), "GZIP file too small"},
      {"header CRC past the end", Join(Patched(Cut(good, 10), 3, 0x02, 1), Bytes(9, 0)),
       "GZIP file too small"},
      {"trailer cut short", Cut(good, good.size() - 3), "GZIP file too small"},
      {"signature", Patched(good, 1, 0x8C, 1), "Invalid GZIP signature"},
      {"method", Patched(good, 2, 7, 1), "Invalid GZIP compression method"},
      {"second member of 9 bytes", Join(good, Cut(good, 9)), "GZIP file too small"},
      {"size near 2^32", Patched(good, trailer + 4, 0xFFFFFFFF, 4),
       "Damaged GZIP member 1: the size in its trailer does not match its data"},
      {"third member's CRC-32", Join(Join(good, good), Patched(good, trailer, 0, 4)),
       "Damaged GZIP member 3: the CRC-32 in its trailer does not match its data"},
      {"block type 3", Patched(good, 10, 0x07, 1), "Invalid block type"},
      {"stream cut short", Cut(good, 10 + (trailer - 10) / 2), "Unexpected end of data"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(testutil::Refusal(TRIMBIT_FORMAT_GZIP, c.image), c.message) << c.damage;
  EXPECT_EQ(testutil::Refusal(TRIMBIT_FORMAT_GZIP, Join(good, good)), "accepted");
}

}  // namespace
