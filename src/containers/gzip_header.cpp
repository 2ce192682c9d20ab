// The member header of a GZIP file: checked, described in verbose runs, and
// trimmed in place. Kept by option:
//   default: FLG & 0x09, the name;  -c: FLG & 0x19, name and comment;
//   -k: the whole header as read (extra field and header CRC included).
// Every offset is checked against the end of the data before it is used, and
// a header CRC is checked before anything is changed.
#include "containers/gzip_header.h"

#include <cstring>
#include <ctime>

#include "containers/gzip.h"
#include "containers/stream_glue.h"
#include "driver/console.h"
#include "driver/file_state.h"
#include "driver/run_state.h"
#include "support/byte_order.h"
#include "support/crc32.h"
#include "support/message.h"

using trimbit::Crc32;

namespace {

constexpr uint8_t kFlagHeaderCrc = 0x02;
constexpr uint8_t kFlagExtra = 0x04;
constexpr uint8_t kFlagName = 0x08;
constexpr uint8_t kFlagComment = 0x10;

[[noreturn]] void ThrowTooSmall() {
  throw static_cast<Message>("GZIP file too small");
}

uint32_t DataLength() {
  return static_cast<uint32_t>(fileState.dataEnd - fileState.fileBuffer);
}

uint32_t ReadLe16(uint64_t at) {
  return trimbit::LoadLe16(fileState.fileBuffer + at);
}

uint32_t ReadLe32(uint64_t at) {
  return trimbit::LoadLe32(fileState.fileBuffer + at);
}

// Length, NUL included, of the text field at `at`; the field must end
// before the end of the data.
uint64_t TextFieldLength(uint64_t at) {
  const uint32_t end = DataLength();
  if (at >= end) ThrowTooSmall();
  const void* nul = std::memchr(fileState.fileBuffer + at, 0, end - at);
  if (nul == nullptr) ThrowTooSmall();
  return static_cast<const uint8_t*>(nul) - (fileState.fileBuffer + at) + 1;
}

void PrintFixedHeader(uint32_t start, uint8_t flags) {
  if (settings.verbosity < 2) return;
  const uint8_t* b = fileState.fileBuffer + start;
  const time_t modified = static_cast<time_t>(ReadLe32(start + 4));
  const char* when = std::ctime(&modified);
  PrintMessage(kLevelVerbose,
               "\nFile's universal time: %sFlags                : 0x%02x\n"
               "Extra flags          : %4u\nOS                   : %4u\n",
               when != nullptr ? when : "?\n", flags, b[8], b[9]);
}

}  // namespace

void CheckGzipMemberStart(uint32_t start) {
  const uint32_t end = DataLength();
  if (start > end || end - start < 10) ThrowTooSmall();
  const uint8_t* b = fileState.fileBuffer + start;
  if (b[0] != 0x1F || b[1] != 0x8B) throw static_cast<Message>("Invalid GZIP signature");
  if (b[2] != 8) throw static_cast<Message>("Invalid GZIP compression method");
}

GzipIndex FindGzipIndexSubfield(uint32_t start) {
  const uint8_t* b = fileState.fileBuffer;
  const uint64_t end = DataLength();
  if ((b[start + 3] & kFlagExtra) == 0 || start + 12ull > end) return GzipIndex::kNone;
  const uint64_t fieldEnd = start + 12ull + ReadLe16(start + 10);
  if (fieldEnd > end) return GzipIndex::kNone;
  // Subfields: SI1, SI2, a 2-byte length, then that many bytes.
  for (uint64_t at = start + 12ull; at + 4 <= fieldEnd; at += 4ull + ReadLe16(at + 2)) {
    if (b[at] == 'B' && b[at + 1] == 'C') return GzipIndex::kBlockGzip;
    if (b[at] == 'R' && b[at + 1] == 'A') return GzipIndex::kRandomAccess;
  }
  return GzipIndex::kNone;
}

uint32_t TrimGzipMemberHeader(uint32_t start, GzipMember* member) {
  uint8_t* b = fileState.fileBuffer;
  const uint32_t end = DataLength();
  const uint8_t flags = b[start + 3];  // parsing always follows the flags as read
  PrintFixedHeader(start, flags);

  // First where every field stands, as read; nothing moves until the
  // header CRC has been checked against these bytes. 64 bits: no sum can wrap.
  uint64_t read = start + 10ull;
  if (flags & kFlagExtra) {
    if (read + 2 > end) ThrowTooSmall();
    read += 2ull + ReadLe16(static_cast<uint32_t>(read));
  }
  if (read >= end) ThrowTooSmall();

  const uint64_t name = read;
  uint64_t nameLength = 0;
  if (flags & kFlagName) {
    nameLength = TextFieldLength(read);
    PrintMessage(kLevelVerbose, "Original filename    : %s\n",
                 reinterpret_cast<const char*>(b + read));
    read += nameLength;
    if (read >= end) ThrowTooSmall();
  }

  const uint64_t comment = read;
  uint64_t commentLength = 0;
  if (flags & kFlagComment) {
    commentLength = TextFieldLength(read);
    read += commentLength;
    if (read >= end) ThrowTooSmall();
  }

  if (flags & kFlagHeaderCrc) read += 2;

  // At least one byte of deflate data and the 8-byte trailer must follow.
  if (read + 9 > end) ThrowTooSmall();

  // A header CRC is the low 16 bits of the CRC-32 of the header before it.
  // One that does not match marks a damaged file: dropping it, as the
  // options otherwise would, would make the file look sound.
  if ((flags & kFlagHeaderCrc) && (Crc32(b + start, static_cast<uint32_t>(read - 2 - start)) &
                                   0xFFFF) != ReadLe16(static_cast<uint32_t>(read - 2)))
    ThrowFormatted(gzipState.messageText, sizeof gzipState.messageText,
                   "Damaged GZIP member %u: its header CRC does not match the header",
                   gzipState.memberCount);

  // Trim: `keep` is the end of the header bytes kept so far, already at
  // their final place.
  uint64_t keep = read;
  if (!settings.keepAll) {
    b[start + 3] = flags & (settings.keepComments ? 0x19 : 0x09);
    keep = start + 10ull;
    if (flags & kFlagName) {
      std::memmove(b + keep, b + name, nameLength);
      keep += nameLength;
    }
    if ((flags & kFlagComment) && settings.keepComments) {
      std::memmove(b + keep, b + comment, commentLength);
      keep += commentLength;
    }
  }

  member->headerStart = start;
  member->headerLength = static_cast<uint32_t>(keep - start);
  member->streamStart = static_cast<uint32_t>(read);
  return static_cast<uint32_t>(read - keep);
}
