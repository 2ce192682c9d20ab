// Hostile ZIP archives in memory: lengths, counts and offsets that point
// outside the file or into a neighbouring structure, and headers that
// disagree. Each is refused with the message the command line prints
// (without its "ERROR: " and final full stop). Archives made by the zip
// tool or Python's zipfile, and what a refusal does to the files of a run,
// are the command-line tests' (test_zip_refused.py).
#include <gtest/gtest.h>

#include "common/images.h"
#include "common/refusal.h"

namespace {

using testutil::Bytes;
using testutil::Patched;

uint32_t Le32(const Bytes& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
}

TEST(ZipMalformed, IsRefusedWithTheCommandLinesMessage) {
  const Bytes sound = testutil::Zip({{"first.txt", testutil::SampleText(3000, 1)},
                                     {"second.txt", testutil::SampleText(2000, 2)}});
  const size_t end = sound.size() - 22;            // the end record
  const uint32_t first = Le32(sound, end + 16);    // the first central entry
  const uint32_t last = first + 46 + 9;            // the second
  const uint32_t second = Le32(sound, last + 42);  // the second local header
  const uint32_t dataSize = Le32(sound, 18);       // the first member's
  // Ten stray bytes at the end of the directory, counted as a third entry.
  Bytes cutShort(sound.begin(), sound.begin() + end);
  cutShort.resize(end + 10);
  cutShort.insert(cutShort.end(), sound.begin() + end, sound.end());
  cutShort =
      Patched(Patched(cutShort, end + 18, 0x00030003, 4), end + 22, Le32(sound, end + 12) + 10, 4);
  const auto differ = [](const char* what) {
    return std::string(what) + " in local fileheader differs from the one in the central directory";
  };
  const char* const pastEcd = "Central directory's offset or size points past the ECD";
  const char* const pastMember = "Member data run past the next member or the central directory";
  const char* const localPast =
      "Local fileheader runs past the next member or the central directory";
  const char* const miscounted =
      "Number of entries in the end record does not match the central directory";
  const char* const spanned = "Zipfile corrupt or contains spanned disks";
  const char* const zip64 = "ZIP64 archives are not supported";
  const struct {
    const char* damage;
    Bytes image;
    std::string message;
  } cases[] = {
      {"entry cut short", cutShort, "Central fileheader cut short at the end of the zip directory"},
      {"name past the directory", Patched(sound, last + 28, 500, 2),
       "Invalid filename length in zip directory"},
      {"extra past the directory", Patched(sound, last + 30, 500, 2),
       "Invalid extra field length in zip directory"},
      {"comment past the directory", Patched(sound, last + 32, 500, 2),
       "Invalid comment length in zip directory"},
      {"archive comment past the end", Patched(sound, end + 20, 5, 2),
       "Archive comment runs past the end of the Zipfile"},
      {"directory offset past the end", Patched(sound, end + 16, 0x7FFFFF00, 4), pastEcd},
      {"directory size near 2^32", Patched(sound, end + 12, 0xFFFFFF00, 4), pastEcd},
      {"directory one byte early", Patched(sound, end + 16, first - 1, 4),
       "Central fileheader's signature not found"},
      {"local offset near 2^32", Patched(sound, first + 42, 0xFFFFFFF0, 4), localPast},
      {"local offset into the directory", Patched(sound, first + 42, first, 4), localPast},
      {"local offset into the first member's data", Patched(sound, last + 42, 40, 4), pastMember},
      {"both entries on the first member", Patched(sound, last + 42, 0, 4), localPast},
      {"local extra field of 65,535 bytes", Patched(sound, 28, 0xFFFF, 2), localPast},
      {"compressed size near 2^32", Patched(sound, 18, 0xFFFFFFF0, 4), pastMember},
      {"data run into the next member", Patched(sound, 18, dataSize + 1, 4), pastMember},
      {"more entries counted than present", Patched(sound, end + 8, 0x00030003, 4), miscounted},
      {"no entries counted", Patched(sound, end + 8, 0, 4), miscounted},
      {"65,535 entries counted", Patched(sound, end + 8, 0xFFFFFFFF, 4), zip64},
      {"no end record", Bytes(sound.begin(), sound.begin() + end), "Could not find ECD"},
      {"local signature", Patched(sound, second, 0, 4), "Local fileheader's signature not found"},
      {"central signature", Patched(sound, last, 0, 4), "Central fileheader's signature not found"},
      {"CRC", Patched(sound, 14, 1, 4), differ("CRC")},
      {"size", Patched(sound, 22, 1, 4), differ("Uncompressed size")},
      {"name", Patched(sound, 30, 'F', 1), differ("Name")},
      {"method", Patched(sound, 8, 0, 2), differ("Compression method")},
      {"deflate data that do not decode", Patched(sound, 30 + 9, 0xFF, 1), "Invalid block type"},
      {"this disk 1", Patched(sound, end + 4, 1, 2), spanned},
      {"all on disk 1", Patched(sound, end + 4, 0x00010001, 4), spanned},
      {"entries on this disk differ", Patched(sound, end + 8, 0, 2), spanned},
      {"ZIP64 marker for a member's size", Patched(sound, first + 24, 0xFFFFFFFF, 4), zip64},
      {"ZIP64 marker for the directory's offset", Patched(sound, end + 16, 0xFFFFFFFF, 4), zip64},
  };
  for (const auto& c : cases)
    EXPECT_EQ(testutil::Refusal(TRIMBIT_FORMAT_ZIP, c.image), c.message) << c.damage;
  EXPECT_EQ(testutil::Refusal(TRIMBIT_FORMAT_ZIP, sound), "accepted");
  // The end record is searched for backwards, 64 KiB at a time: found on
  // either side of a piece's edge and across it (the bytes after it are
  // outside data, and the archive is left as it is).
  for (size_t after : {65535u, 65536u, 65537u, 65538u}) {
    Bytes trailing = sound;
    trailing.resize(sound.size() + after);
    EXPECT_EQ(testutil::Refusal(TRIMBIT_FORMAT_ZIP, trailing), "accepted") << after;
  }
}

}  // namespace
