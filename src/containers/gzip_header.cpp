// The member header of a GZIP file: checked, described in verbose runs, and
// trimmed into the new image. Kept by option:
//   default: FLG & 0x09, the name;  -c: FLG & 0x19, name and comment;
//   -k: the whole header as read (extra field and header CRC included).
// Every offset is checked against the end of the image before it is used,
// and a header CRC is checked before anything is kept.
#include "containers/gzip_header.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "support/byte_order.h"
#include "support/crc32.h"
#include "support/error.h"

namespace trimbit {
namespace {

constexpr uint8_t kFlagHeaderCrc = 0x02;
constexpr uint8_t kFlagExtra = 0x04;
constexpr uint8_t kFlagName = 0x08;
constexpr uint8_t kFlagComment = 0x10;

[[noreturn]] void RefuseTooSmall() {
  Refuse("GZIP file too small");
}

uint32_t End(const ImageJob& job) {
  return static_cast<uint32_t>(job.size);
}

// Length, NUL included, of the text field at `at`; the field must end
// before the end of the image.
uint64_t TextFieldLength(const ImageJob& job, uint64_t at) {
  const uint32_t end = End(job);
  if (at >= end) RefuseTooSmall();
  const void* nul = std::memchr(job.image + at, 0, end - at);
  if (nul == nullptr) RefuseTooSmall();
  return static_cast<const uint8_t*>(nul) - (job.image + at) + 1;
}

void ReportFixedHeader(const ImageJob& job, uint32_t start, uint8_t flags) {
  if (job.reporter.verbosity < kReportVerbose) return;
  const uint8_t* b = job.image + start;
  const time_t modified = static_cast<time_t>(LoadLe32(b + 4));
  // In the form ctime() gives, but without its buffer, which every thread
  // of the process shares.
  static const char kDays[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  struct tm t;
  char when[64] = "?\n";
  if (localtime_r(&modified, &t) != nullptr && t.tm_wday >= 0 && t.tm_wday < 7 && t.tm_mon >= 0 &&
      t.tm_mon < 12)
    std::snprintf(when, sizeof when, "%s %s%3d %.2d:%.2d:%.2d %d\n", kDays[t.tm_wday],
                  kMonths[t.tm_mon], t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, 1900 + t.tm_year);
  Report(job.reporter, kReportVerbose, ReportKind::Detail,
         "\nFile's universal time: %sFlags                : 0x%02x\n"
         "Extra flags          : %4u\nOS                   : %4u\n",
         when, flags, b[8], b[9]);
}

}  // namespace

void CheckGzipMemberStart(const ImageJob& job, uint32_t start) {
  const uint32_t end = End(job);
  if (start > end || end - start < 10) RefuseTooSmall();
  const uint8_t* b = job.image + start;
  if (b[0] != 0x1F || b[1] != 0x8B) Refuse("Invalid GZIP signature");
  if (b[2] != 8) Refuse("Invalid GZIP compression method");
}

GzipIndex FindGzipIndexSubfield(const ImageJob& job, uint32_t start) {
  const uint8_t* b = job.image;
  const uint64_t end = End(job);
  if ((b[start + 3] & kFlagExtra) == 0 || start + 12ull > end) return GzipIndex::kNone;
  const uint64_t fieldEnd = start + 12ull + LoadLe16(b + start + 10);
  if (fieldEnd > end) return GzipIndex::kNone;
  // Subfields: SI1, SI2, a 2-byte length, then that many bytes.
  for (uint64_t at = start + 12ull; at + 4 <= fieldEnd; at += 4ull + LoadLe16(b + at + 2)) {
    if (b[at] == 'B' && b[at + 1] == 'C') return GzipIndex::kBlockGzip;
    if (b[at] == 'R' && b[at + 1] == 'A') return GzipIndex::kRandomAccess;
  }
  return GzipIndex::kNone;
}

GzipMemberHeader TrimGzipMemberHeader(const ImageJob& job, uint32_t start, uint32_t number) {
  const uint8_t* b = job.image;
  const uint32_t end = End(job);
  const uint8_t flags = b[start + 3];  // parsing always follows the flags as read
  ReportFixedHeader(job, start, flags);

  // First where every field stands; nothing is kept until the header CRC
  // has been checked. 64 bits: no sum can wrap.
  uint64_t read = start + 10ull;
  if (flags & kFlagExtra) {
    if (read + 2 > end) RefuseTooSmall();
    read += 2ull + LoadLe16(b + read);
  }
  if (read >= end) RefuseTooSmall();

  const uint64_t name = read;
  uint64_t nameLength = 0;
  if (flags & kFlagName) {
    nameLength = TextFieldLength(job, read);
    Report(job.reporter, kReportVerbose, ReportKind::Detail, "Original filename    : %s\n",
           reinterpret_cast<const char*>(b + read));
    read += nameLength;
    if (read >= end) RefuseTooSmall();
  }

  const uint64_t comment = read;
  uint64_t commentLength = 0;
  if (flags & kFlagComment) {
    commentLength = TextFieldLength(job, read);
    read += commentLength;
    if (read >= end) RefuseTooSmall();
  }

  if (flags & kFlagHeaderCrc) read += 2;

  // At least one byte of deflate data and the 8-byte trailer must follow.
  if (read + 9 > end) RefuseTooSmall();

  // A header CRC is the low 16 bits of the CRC-32 of the header before it.
  // One that does not match marks a damaged file: dropping it, as the
  // options otherwise would, would make the file look sound.
  if ((flags & kFlagHeaderCrc) && (Crc32(b + start, static_cast<uint32_t>(read - 2 - start)) &
                                   0xFFFF) != LoadLe16(b + read - 2))
    Refuse(FormatText("Damaged GZIP member %u: its header CRC does not match the header", number));

  OutputBuffer& out = job.output;
  const size_t kept = out.size();
  if (job.options.keepAll) {
    out.Append(b + start, read - start);
  } else {
    out.Append(b + start, 10);
    const uint8_t keptFlags = flags & (job.options.keepComments ? 0x19 : 0x09);
    out.Patch(kept + 3, &keptFlags, 1);
    if (flags & kFlagName) out.Append(b + name, nameLength);
    if ((flags & kFlagComment) && job.options.keepComments) out.Append(b + comment, commentLength);
  }
  const uint64_t keptLength = out.size() - kept;
  return {static_cast<uint32_t>(read), static_cast<uint32_t>(read - start - keptLength)};
}

}  // namespace trimbit
