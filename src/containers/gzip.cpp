// GZIP files. A file is a sequence of members (header, deflate data, 8-byte
// trailer), possibly followed by bytes that are not a member. Every member is
// trimmed and re-encoded by the same rules into the new image; the trailer is
// the 8 bytes right after the member's deflate data, wherever the data end;
// whatever follows the last member is kept as it is. One decision for the
// whole file then says whether the new image is worth having.
//
// Files indexed by their compressed offsets are left alone: block-gzip
// (index files point into its compressed bytes) and dictzip random-access
// files (the header lists the chunk offsets). Any rewrite would silently
// invalidate the index.
//
// A damaged member is refused, never polished: a header CRC that does not
// match, or a trailer whose CRC-32 or size does not match what the data
// decode to (the re-encoder's own digest of the data, taken on its first
// pass, says what they decode to).
#include "containers/gzip.h"

#include <cstring>

#include "containers/gzip_header.h"
#include "containers/stream_glue.h"
#include "deflate/reencode.h"
#include "support/byte_order.h"
#include "support/error.h"
#include "support/number_text.h"

namespace trimbit {
namespace {

uint32_t SaturatingAdd(uint32_t a, uint64_t b) {
  return b > UINT32_MAX - a ? UINT32_MAX : a + static_cast<uint32_t>(b);
}

bool StartsMember(const ImageJob& job, uint64_t at) {
  if (at > job.size || job.size - at < 3) return false;
  uint8_t b[3];
  job.input.Read(at, b, 3);
  return b[0] == 0x1F && b[1] == 0x8B && b[2] == 8;
}

// The old and new lengths of a member's deflate data.
struct MemberStream {
  uint64_t used;       // bytes the old data occupy; the 8-byte trailer follows
  uint64_t newLength;  // bytes of the new data
};

// Whether a trailer's size field fits data of `length` bytes: it holds the
// length modulo 2^32, so members of 4 GiB and more have their say too.
bool SizeFieldMatches(uint32_t field, uint64_t length) {
  return field == static_cast<uint32_t>(length);
}

// Re-encodes member `number`'s deflate data at `streamStart` into the
// sink, behind its header, appends its trailer, reports the member's
// verbose lines, and adds to *bitsSaved the bits saved in the data.
MemberStream OptimiseMember(const ImageJob& job, uint32_t number, uint64_t streamStart,
                            uint32_t* bitsSaved) {
  // The data may run up to the end of the file: where the stream ends is
  // known only once it is decoded.
  const uint64_t available = job.size - streamStart;
  uint64_t used = 0, newLength = 0;
  const uint64_t saved = ReencodeStreamIn(job.codec, job.reporter, job.input, streamStart,
                                          available, job.sink, &newLength, &used);
  if (used > available || available - used < 8) Refuse("GZIP file too small");
  *bitsSaved = SaturatingAdd(*bitsSaved, saved);
  uint8_t trailer[8];
  job.input.Read(streamStart + used, trailer, 8);
  job.sink.Append(trailer, 8);

  const uint32_t crc = LoadLe32(trailer);
  const uint32_t size = LoadLe32(trailer + 4);
  Report(job.reporter, kReportVerbose, ReportKind::Detail,
         "CRC                  : 0x%08x\nUncompressed size    : %s\n", crc,
         FormatNumber(size).c_str());
  const DecodedDigest& decoded = LastDecodedDigest(job.codec);
  const char* damage = DigestCrc(decoded) != crc                 ? "CRC-32"
                       : !SizeFieldMatches(size, decoded.length) ? "size"
                                                                 : nullptr;
  if (damage != nullptr)
    Refuse(FormatText("Damaged GZIP member %u: the %s in its trailer does not match its data",
                      number, damage));
  ReportBitsSaved(job, *bitsSaved);
  return {used, newLength};
}

void LeaveIndexedFile(const ImageJob& job, GzipIndex index) {
  if (index == GzipIndex::kBlockGzip)
    Report(job.reporter, kReportNormal, ReportKind::Notice,
           "Block-gzip file (extra subfield BC) left unchanged: rewriting it would "
           "invalidate any index into it.\n");
  else
    Report(job.reporter, kReportNormal, ReportKind::Notice,
           "Random-access gzip file (extra subfield RA, as dictzip writes) left unchanged: "
           "rewriting it would invalidate the index of offsets it carries.\n");
  job.sink.Truncate(0);
}

}  // namespace

ImageOutcome OptimiseGzip(const ImageJob& job) {
  if (job.size < 18) Refuse("File too small");
  const uint64_t end = job.size;
  OutputSink& out = job.sink;
  out.Truncate(0);
  out.Reserve(end);

  uint32_t members = 0;
  uint32_t fileBits = 0;
  uint64_t oldStreamBytes = 0;
  uint64_t newStreamBytes = 0;
  uint64_t start = 0;
  uint64_t tailStart = 0;
  for (;;) {
    CheckGzipMemberStart(job, start);
    // Nothing is final yet, so leaving the file as it is stays possible at
    // any member.
    const GzipIndex index = FindGzipIndexSubfield(job, start);
    if (index != GzipIndex::kNone) {
      LeaveIndexedFile(job, index);
      return {false, 0, 0};
    }
    if (members > 0)
      Report(job.reporter, kReportVerbose, ReportKind::Detail, "\nMember %u at offset %s:\n",
             members + 1, FormatNumber(start).c_str());
    members += 1;
    const GzipMemberHeader header = TrimGzipMemberHeader(job, start, members);
    uint32_t memberBits = 8 * header.bytesRemoved;
    const MemberStream stream = OptimiseMember(job, members, header.streamStart, &memberBits);
    fileBits = SaturatingAdd(fileBits, memberBits);
    oldStreamBytes += stream.used;
    newStreamBytes += stream.newLength;

    const uint64_t next = header.streamStart + stream.used + 8;
    if (!StartsMember(job, next)) {
      tailStart = next;
      break;
    }
    start = next;
  }

  if (members > 1 && (fileBits != 0 || job.options.forceRewrite))
    Report(job.reporter, kReportVerbose, ReportKind::Detail,
           "\nNumber of bits that can be saved in all %u members: %s (%0.3f bytes)\n", members,
           FormatNumber(fileBits).c_str(), fileBits * 0.125);
  if (tailStart < end) {
    Report(job.reporter, kReportVerbose, ReportKind::Detail,
           "\nData after the last member, kept unchanged: %s bytes\n",
           FormatNumber(end - tailStart).c_str());
    CopyImageBytes(job, tailStart, end - tailStart);
  }

  // The file's totals drive the one write decision.
  const uint64_t estimate = end - oldStreamBytes + newStreamBytes;
  const ImageOutcome outcome = DecideImage(job, out.size(), estimate, fileBits, true);
  if (!outcome.written) out.Truncate(0);
  Report(job.reporter, kReportVerbose, outcome.written ? ReportKind::Result : ReportKind::Detail,
         "\n");
  return outcome;
}

}  // namespace trimbit
