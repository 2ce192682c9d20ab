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

// The member header in hand: bytes from the member's start up to `end`
// (an offset of the image), or to where the window stops (`cut`).
struct HeaderBytes {
  const uint8_t* b;  // the byte at offset `start`
  uint64_t start;
  uint64_t end;
  bool cut;  // the image goes on past `end`
};

// A first look at a header: enough for all but huge names and comments.
// Asking for the whole window at every member would move it each time.
constexpr uint64_t kFirstLook = 1u << 17;

HeaderBytes MapHeader(const ImageJob& job, uint64_t start, uint64_t want) {
  uint64_t available = 0;
  const uint8_t* b = job.input.Map(start, want, &available);
  return {b, start, start + available, start + available < job.size};
}

// Whether the header's fields all end within the bytes in hand (or the
// image ends there too, so that no more bytes would help).
bool HeaderInHand(const HeaderBytes& h) {
  if (!h.cut) return true;
  const uint8_t flags = h.b[3];
  uint64_t read = h.start + 10;
  if (flags & kFlagExtra) {
    if (read + 2 > h.end) return false;
    read += 2 + LoadLe16(h.b + (read - h.start));
  }
  for (const uint8_t flag : {kFlagName, kFlagComment}) {
    if ((flags & flag) == 0) continue;
    if (read >= h.end) return false;
    const void* nul = std::memchr(h.b + (read - h.start), 0, h.end - read);
    if (nul == nullptr) return false;
    read = h.start + (static_cast<const uint8_t*>(nul) - h.b) + 1;
  }
  return read + 2 <= h.end;
}

[[noreturn]] void RefuseTooSmall(const HeaderBytes& h) {
  if (h.cut) Refuse("GZIP member header too large");
  Refuse("GZIP file too small");
}

uint8_t At(const HeaderBytes& h, uint64_t at) {
  return h.b[at - h.start];
}

// Length, NUL included, of the text field at `at`; the field must end
// before the end of the image.
uint64_t TextFieldLength(const HeaderBytes& h, uint64_t at) {
  if (at >= h.end) RefuseTooSmall(h);
  const uint8_t* field = h.b + (at - h.start);
  const void* nul = std::memchr(field, 0, h.end - at);
  if (nul == nullptr) RefuseTooSmall(h);
  return static_cast<const uint8_t*>(nul) - field + 1;
}

void ReportFixedHeader(const ImageJob& job, const HeaderBytes& h, uint8_t flags) {
  if (job.reporter.verbosity < kReportVerbose) return;
  const time_t modified = static_cast<time_t>(LoadLe32(h.b + 4));
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
         when, flags, h.b[8], h.b[9]);
}

}  // namespace

void CheckGzipMemberStart(const ImageJob& job, uint64_t start) {
  if (start > job.size || job.size - start < 10) Refuse("GZIP file too small");
  uint8_t b[3];
  job.input.Read(start, b, 3);
  if (b[0] != 0x1F || b[1] != 0x8B) Refuse("Invalid GZIP signature");
  if (b[2] != 8) Refuse("Invalid GZIP compression method");
}

GzipIndex FindGzipIndexSubfield(const ImageJob& job, uint64_t start) {
  // The extra field comes first and holds at most 65,535 bytes.
  const HeaderBytes h = MapHeader(job, start, kFirstLook);
  const uint64_t end = h.end;
  if ((At(h, start + 3) & kFlagExtra) == 0 || start + 12 > end) return GzipIndex::kNone;
  const uint64_t fieldEnd = start + 12 + LoadLe16(h.b + 10);
  if (fieldEnd > end) return GzipIndex::kNone;
  // Subfields: SI1, SI2, a 2-byte length, then that many bytes.
  for (uint64_t at = start + 12; at + 4 <= fieldEnd; at += 4 + LoadLe16(h.b + (at - start) + 2)) {
    if (At(h, at) == 'B' && At(h, at + 1) == 'C') return GzipIndex::kBlockGzip;
    if (At(h, at) == 'R' && At(h, at + 1) == 'A') return GzipIndex::kRandomAccess;
  }
  return GzipIndex::kNone;
}

GzipMemberHeader TrimGzipMemberHeader(const ImageJob& job, uint64_t start, uint32_t number) {
  HeaderBytes h = MapHeader(job, start, kFirstLook);
  if (!HeaderInHand(h)) h = MapHeader(job, start, job.input.capacity());
  const uint64_t end = h.end;
  const uint8_t flags = h.b[3];  // parsing always follows the flags as read
  ReportFixedHeader(job, h, flags);

  // First where every field stands; nothing is kept until the header CRC
  // has been checked.
  uint64_t read = start + 10;
  if (flags & kFlagExtra) {
    if (read + 2 > end) RefuseTooSmall(h);
    read += 2 + LoadLe16(h.b + (read - start));
  }
  if (read >= end) RefuseTooSmall(h);

  const uint64_t name = read;
  uint64_t nameLength = 0;
  if (flags & kFlagName) {
    nameLength = TextFieldLength(h, read);
    Report(job.reporter, kReportVerbose, ReportKind::Detail, "Original filename    : %s\n",
           reinterpret_cast<const char*>(h.b + (read - start)));
    read += nameLength;
    if (read >= end) RefuseTooSmall(h);
  }

  const uint64_t comment = read;
  uint64_t commentLength = 0;
  if (flags & kFlagComment) {
    commentLength = TextFieldLength(h, read);
    read += commentLength;
    if (read >= end) RefuseTooSmall(h);
  }

  if (flags & kFlagHeaderCrc) {
    read += 2;
    if (read > end) RefuseTooSmall(h);
  }

  // At least one byte of deflate data and the 8-byte trailer must follow.
  if (read + 9 > job.size) Refuse("GZIP file too small");

  // A header CRC is the low 16 bits of the CRC-32 of the header before it.
  // One that does not match marks a damaged file: dropping it, as the
  // options otherwise would, would make the file look sound.
  if ((flags & kFlagHeaderCrc) && (Crc32(h.b, static_cast<uint32_t>(read - 2 - start)) & 0xFFFF) !=
                                      LoadLe16(h.b + (read - 2 - start)))
    Refuse(FormatText("Damaged GZIP member %u: its header CRC does not match the header", number));

  OutputSink& out = job.sink;
  const uint64_t kept = out.size();
  if (job.options.keepAll) {
    out.Append(h.b, read - start);
  } else {
    const uint8_t keptFlags = flags & (job.options.keepComments ? 0x19 : 0x09);
    out.Append(h.b, 3);
    out.Append(&keptFlags, 1);
    out.Append(h.b + 4, 6);
    if (flags & kFlagName) out.Append(h.b + (name - start), nameLength);
    if ((flags & kFlagComment) && job.options.keepComments)
      out.Append(h.b + (comment - start), commentLength);
  }
  const uint64_t keptLength = out.size() - kept;
  return {read, static_cast<uint32_t>(read - start - keptLength)};
}

}  // namespace trimbit
