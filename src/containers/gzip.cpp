// GZIP files. A file is a sequence of members (header, deflate data, 8-byte
// trailer), possibly followed by bytes that are not a member. Every member is
// trimmed and re-encoded by the same rules; the trailer is the 8 bytes right
// after the member's deflate data, wherever the data end; whatever follows
// the last member is kept as it is. One decision for the whole file then
// says whether it is written, and it is written into one temporary file.
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
#include <new>

#include "containers/gzip_header.h"
#include "containers/stream_glue.h"
#include "deflate/reencode.h"
#include "driver/console.h"
#include "driver/file_state.h"
#include "driver/run_state.h"
#include "support/big_file.h"
#include "support/byte_order.h"
#include "support/message.h"
#include "support/number_text.h"

using trimbit::FormatNumber;

GzipState gzipState = {};

namespace {

GzipMember* AppendMember() {
  GzipState& s = gzipState;
  if (s.memberCount == s.memberCapacity) {
    const uint32_t capacity = s.memberCapacity == 0 ? 16 : s.memberCapacity * 2;
    GzipMember* grown = new (std::nothrow) GzipMember[capacity];
    if (grown == nullptr) throw static_cast<Message>("Could not allocate GZIP member list");
    for (uint32_t i = 0; i < s.memberCount; ++i) grown[i] = s.members[i];
    delete[] s.members;
    s.members = grown;
    s.memberCapacity = capacity;
  }
  GzipMember* member = &s.members[s.memberCount++];
  *member = {};
  return member;
}

uint32_t SaturatingAdd(uint32_t a, uint32_t b) {
  return b > UINT32_MAX - a ? UINT32_MAX : a + b;
}

bool StartsMember(uint32_t at) {
  const uint8_t* b = fileState.fileBuffer;
  const uint32_t end = static_cast<uint32_t>(fileState.dataEnd - b);
  return end - at >= 3 && b[at] == 0x1F && b[at + 1] == 0x8B && b[at + 2] == 8;
}

// Re-encodes the member's deflate data into its place in the output buffer,
// locates its trailer, prints the member's verbose lines, and returns the
// bits saved in the member (header bytes removed included).
uint32_t OptimiseMember(GzipMember* member, uint32_t headerBitsSaved) {
  const uint8_t* b = fileState.fileBuffer;
  const uint32_t end = static_cast<uint32_t>(fileState.dataEnd - b);
  // The data may run up to the end of the file: where the stream ends is
  // known only once it is decoded. The destination has room for that many
  // bytes and 4 more, since the output buffer mirrors the file from
  // outputBase to its end (4 bytes of slack included); a member's new data
  // never outgrow its old data, so members never overlap there, and the
  // re-encoder leaves zero bytes behind its new stream for the next member.
  const uint32_t available = end - member->streamStart;
  uint8_t* destination = glue.outputBuffer + (member->streamStart - gzipState.outputBase);
  glue.streamStart = b + member->streamStart;
  glue.streamLength = available;
  glue.bitsSaved = headerBitsSaved;
  uint32_t used = 0;
  glue.bitsSaved += trimbit::ReencodeStream(RunCodec(), ConsoleReporter(), glue.streamStart,
                                            available, destination, &glue.newStreamLength, &used);
  if (used > available || available - used < 8) throw static_cast<Message>("GZIP file too small");
  if (glue.newStreamLength > used) {
    // Never longer: keep the data as they were, and leave zero bytes behind
    // them as the next member's destination needs.
    const uint32_t capacityLeft =
        glue.outputBufferCapacity - static_cast<uint32_t>(destination - glue.outputBuffer);
    const uint32_t dirty =
        glue.newStreamLength + 4 < capacityLeft ? glue.newStreamLength + 4 : capacityLeft;
    std::memset(destination, 0, dirty);
    std::memcpy(destination, glue.streamStart, used);
    glue.newStreamLength = used;
    glue.bitsSaved = headerBitsSaved;
  }
  member->streamLength = used;
  member->newStreamLength = glue.newStreamLength;

  const uint32_t trailer = member->streamStart + used;
  const uint32_t crc = trimbit::LoadLe32(b + trailer);
  const uint32_t size = trimbit::LoadLe32(b + trailer + 4);
  PrintMessage(kLevelVerbose, "CRC                  : 0x%08x\nUncompressed size    : %s\n", crc,
               FormatNumber(size).c_str());
  const trimbit::DecodedDigest& decoded = trimbit::LastDecodedDigest(RunCodec());
  const char* damage = trimbit::DigestCrc(decoded) != crc              ? "CRC-32"
                       : static_cast<uint32_t>(decoded.length) != size ? "size"
                                                                       : nullptr;
  if (damage != nullptr)
    ThrowFormatted(gzipState.messageText, sizeof gzipState.messageText,
                   "Damaged GZIP member %u: the %s in its trailer does not match its data",
                   gzipState.memberCount, damage);
  ReportBitsSaved();
  return glue.bitsSaved;
}

void LeaveIndexedFile(GzipIndex index) {
  if (index == GzipIndex::kBlockGzip)
    PrintMessage(kLevelNormal,
                 "Block-gzip file (extra subfield BC) left unchanged: rewriting it would "
                 "invalidate any index into it.\n");
  else
    PrintMessage(kLevelNormal,
                 "Random-access gzip file (extra subfield RA, as dictzip writes) left unchanged: "
                 "rewriting it would invalidate the index of offsets it carries.\n");
  glue.bitsSaved = 0;
  glue.streamStart = nullptr;
  fileState.fileBitsSaved = 0;
  fileState.fileBytesSaved = 0;
}

}  // namespace

void ReleaseGzipMembers() {
  delete[] gzipState.members;
  gzipState = {};
}

void ProcessGzip(const char* path) {
  fileState.inputFile->fread(fileState.readPos, 1, fileState.fileSize);
  fileState.inputFile->fclose();
  delete fileState.inputFile;
  fileState.inputFile = nullptr;

  const uint32_t end = static_cast<uint32_t>(fileState.dataEnd - fileState.fileBuffer);
  gzipState.memberCount = 0;

  uint32_t fileBits = 0;
  uint32_t oldStreamBytes = 0;
  uint32_t newStreamBytes = 0;
  uint32_t start = 0;
  for (;;) {
    CheckGzipMemberStart(start);
    // Nothing has been written yet, so leaving the file as it is stays
    // possible at any member.
    const GzipIndex index = FindGzipIndexSubfield(start);
    if (index != GzipIndex::kNone) {
      LeaveIndexedFile(index);
      return;
    }
    if (gzipState.memberCount > 0)
      PrintMessage(kLevelVerbose, "\nMember %u at offset %s:\n", gzipState.memberCount + 1,
                   FormatNumber(start).c_str());
    GzipMember* member = AppendMember();
    const uint32_t headerBytesRemoved = TrimGzipMemberHeader(start, member);
    if (gzipState.memberCount == 1) {
      gzipState.outputBase = member->streamStart;
      AllocateOutputBuffer(end - gzipState.outputBase);
    }
    fileBits = SaturatingAdd(fileBits, OptimiseMember(member, 8 * headerBytesRemoved));
    oldStreamBytes += member->streamLength;
    newStreamBytes += member->newStreamLength;

    const uint32_t next = member->streamStart + member->streamLength + 8;
    if (!StartsMember(next)) {
      gzipState.tailStart = next;
      break;
    }
    start = next;
  }

  const uint32_t members = gzipState.memberCount;
  if (members > 1 && (fileBits != 0 || settings.forceRewrite))
    PrintMessage(kLevelVerbose,
                 "\nNumber of bits that can be saved in all %u members: %s (%0.3f bytes)\n",
                 members, FormatNumber(fileBits).c_str(), fileBits * 0.125);
  if (gzipState.tailStart < end)
    PrintMessage(kLevelVerbose, "\nData after the last member, kept unchanged: %s bytes\n",
                 FormatNumber(end - gzipState.tailStart).c_str());

  // The file's totals drive the one write decision.
  glue.bitsSaved = fileBits;
  glue.streamLength = oldStreamBytes;
  glue.newStreamLength = newStreamBytes;
  WriteAndBookStream(path, WriteGzipFile);
  glue.streamStart = nullptr;
  PrintMessage(kLevelVerbose, "\n");
}

uint32_t WriteGzipFile(const char*) {
  BigFile* out = fileState.outputFile;
  const uint8_t* b = fileState.fileBuffer;
  uint32_t written = 0;
  for (uint32_t i = 0; i < gzipState.memberCount; ++i) {
    const GzipMember& m = gzipState.members[i];
    written += out->fwrite(b + m.headerStart, 1, m.headerLength);
    written += out->fwrite(glue.outputBuffer + (m.streamStart - gzipState.outputBase), 1,
                           m.newStreamLength);
    written += out->fwrite(b + m.streamStart + m.streamLength, 1, 8);
  }
  const uint32_t end = static_cast<uint32_t>(fileState.dataEnd - b);
  if (gzipState.tailStart < end)
    written += out->fwrite(b + gzipState.tailStart, 1, end - gzipState.tailStart);
  return written;
}
