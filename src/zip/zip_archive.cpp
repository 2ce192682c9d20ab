// The ZIP reader: finds the end record from the end of the archive, reads
// the central directory and an optional digital signature, orders the
// entries by the position of their local headers, and reads and checks every
// local header, resolving data descriptors. Member data are not looked at
// here. The archive is read through a window; only the records are copied
// out, so that memory follows the directory, not the members' data.
//
// Everything the archive says about lengths, counts and offsets is checked
// against the archive before it is used, so a damaged or hostile archive is
// refused with a message instead of being read out of bounds. Names are kept
// as stored; bytes that belong to no structure are noted, not skipped.
#include "zip/zip_archive.h"

#include <algorithm>

#include "support/byte_order.h"
#include "support/error.h"
#include "zip/zip_names.h"

namespace trimbit {
namespace {

constexpr char kZip64[] = "ZIP64 archives are not supported";
constexpr char kCountMismatch[] =
    "Number of entries in the end record does not match the central directory";
constexpr char kLocalPastEnd[] = "Local fileheader runs past the end of the Zipfile";

}  // namespace

void CheckMemberBytes(uint64_t size, uint64_t offset, uint64_t length) {
  if (offset > size || length > size - offset)
    Refuse("Member data run past the end of the Zipfile");
}

bool IsEncryptedMember(const ZIPLOCENT* local, const ZIPCENTENT* central) {
  return ((local->Flags | central->Flags) & kFlagEncrypted) != 0;
}

uint64_t MemberSpan(const ZIPLOCENT* local, const ZIPCENTENT* central) {
  uint64_t span = uint64_t{kLocalHeaderSize} + local->FilenameLength + local->ExtraFieldLength +
                  local->CompressedSize;
  if (IsEncryptedMember(local, central)) span += local->DescriptorLength;
  return span;
}

// Scans backwards from the last place an end record can start for its
// signature; the hit nearest the end wins. The archive comment must lie
// within the archive.
void Zip::FindEndRecord() {
  if (m_filesize < kEndRecordSize) Refuse("Could not find ECD");
  // Backwards a piece at a time, each piece with the 3 bytes after it, so
  // that a signature across two pieces is seen.
  constexpr uint64_t kPiece = 64u << 10;
  std::vector<uint8_t> piece(kPiece + 3);
  bool found = false;
  for (uint64_t top = m_filesize - kEndRecordSize + 1; top > 0 && !found;) {
    const uint64_t bottom = top > kPiece ? top - kPiece : 0;
    m_input->Read(bottom, piece.data(), top - bottom + 3);
    for (uint64_t p = top; p-- > bottom;) {
      if (LoadLe32(piece.data() + (p - bottom)) == kEndRecordSignature) {
        m_ecdPosition = p;
        found = true;
        break;
      }
    }
    top = bottom;
  }
  if (!found) Refuse("Could not find ECD");
  m_input->Read(m_ecdPosition, m_endRecord, kEndRecordSize);
  const uint16_t commentLength = LoadLe16(m_endRecord + 20);
  if (m_ecdPosition + kEndRecordSize + commentLength > m_filesize)
    Refuse("Archive comment runs past the end of the Zipfile");
  if (m_ecdPosition + kEndRecordSize + commentLength < m_filesize) m_outsideData = true;
  m_comment.resize(commentLength);
  m_input->Read(m_ecdPosition + kEndRecordSize, m_comment.data(), commentLength);
}

// A ZIP64 archive announces itself by a locator right before the end record,
// or by the end record's markers that send readers to the ZIP64 records
// (0xFFFF for a disk number, 0xFFFFFFFF for the directory's size or offset).
// A count of 0xFFFF is also a plain count of 65,535; ReadCentralEntries
// tells the two apart.
void Zip::RefuseZip64Markers(const uint8_t* endRecord) {
  if (m_ecdPosition >= kZip64LocatorSize &&
      LoadLe32At(m_ecdPosition - kZip64LocatorSize) == kZip64LocatorSignature)
    Refuse(kZip64);
  if (LoadLe16(endRecord + 4) == 0xFFFF || LoadLe16(endRecord + 6) == 0xFFFF ||
      LoadLe32(endRecord + 12) == 0xFFFFFFFF || LoadLe32(endRecord + 16) == 0xFFFFFFFF)
    Refuse(kZip64);
}

// Finds the central directory and what lies between it and the end record:
// nothing, or a digital signature that ends right at the end record. A
// ZIP64 end record there is refused; any other bytes are outside data.
void Zip::ReadCentralDirectory() {
  const ZIPENDENT& end = m_endent;
  const uint64_t directoryEnd = uint64_t{end.CentralDirectoryOffset} + end.CentralDirectorySize;
  if (directoryEnd > m_ecdPosition)
    Refuse("Central directory's offset or size points past the ECD");
  if (directoryEnd == m_ecdPosition) return;

  if (directoryEnd + 4 > m_ecdPosition) {
    m_outsideData = true;
    return;
  }
  const uint32_t signature = LoadLe32At(directoryEnd);
  if (signature == kZip64EndRecordSignature) Refuse(kZip64);
  if (signature != kDigitalSignatureSignature || directoryEnd + 6 > m_ecdPosition) {
    m_outsideData = true;
    return;
  }
  uint8_t sizeField[2];
  m_input->Read(directoryEnd + 4, sizeField, 2);
  const uint16_t dataSize = LoadLe16(sizeField);
  if (directoryEnd + 6 + dataSize > m_ecdPosition) Refuse("Digital signature runs past the ECD");
  if (directoryEnd + 6 + dataSize < m_ecdPosition) m_outsideData = true;
  m_signatureData.resize(dataSize);
  m_input->Read(directoryEnd + 6, m_signatureData.data(), dataSize);
  m_digent.Signature = signature;
  m_digent.DataSize = dataSize;
  m_digent.Data = dataSize != 0 ? m_signatureData.data() : nullptr;
  m_zip.digent = &m_digent;
}

// Reads central entries until the directory's declared size is used up, so
// that an end record whose count is wrong (0, or taken modulo 65,536) cannot
// hide members; the count must then match. More than 65,535 entries cannot
// be counted without ZIP64.
void Zip::ReadCentralEntries() {
  const uint16_t counted = m_endent.TotalEntries;
  m_currcentdiroffs = 0;
  m_central.clear();
  for (;;) {
    ZIPCENTENT entry;
    if (!ReadCentralEntry(&entry)) break;
    m_central.push_back(entry);
    if (m_central.size() > kMaxEntries) Refuse(kCountMismatch);
  }
  const uint32_t entries = static_cast<uint32_t>(m_central.size());
  if (counted == 0xFFFF && entries != kMaxEntries) Refuse(kZip64);
  if (counted != entries) Refuse(kCountMismatch);
}

// With the entries in the order of their local headers: the first member
// must start the archive, each must end (data descriptor included) where the
// next begins, and the last where the central directory begins.
void Zip::FindOutsideMemberData() {
  uint64_t expected = 0;
  for (uint32_t k = 0; k < m_zip.entries; ++k) {
    const ZIPLOCENT& local = m_local[k];
    if (m_central[k].LocalHeaderOffset != expected) m_outsideData = true;
    expected = uint64_t{local.DataOffset} + local.CompressedSize + local.DescriptorLength;
  }
  if (m_endent.CentralDirectoryOffset != expected) m_outsideData = true;
}

uint32_t Zip::LoadLe32At(uint64_t offset) {
  uint8_t field[4];
  m_input->Read(offset, field, 4);
  return LoadLe32(field);
}

ZipView* Zip::Open(InputWindow& input) {
  m_input = &input;
  const uint64_t size = input.size();
  m_filesize = size;
  m_currcentdiroffs = 0;
  m_ecdPosition = 0;
  m_outsideData = false;
  m_central.clear();
  m_centralNames.clear();
  m_local.clear();
  m_endent = {};
  m_digent = {};
  m_zip = {};
  if (size == 0) Refuse("Zero filesize or could not get filesize of Zipfile");

  FindEndRecord();
  const uint8_t* e = m_endRecord;
  RefuseZip64Markers(e);
  const uint16_t diskNumber = LoadLe16(e + 4);
  const uint16_t directoryDisk = LoadLe16(e + 6);
  const uint16_t entriesOnDisk = LoadLe16(e + 8);
  const uint16_t totalEntries = LoadLe16(e + 10);
  // A single-file archive lives on disk 0; any other number belongs to a spanned set.
  if (diskNumber != directoryDisk || entriesOnDisk != totalEntries || diskNumber != 0)
    Refuse("Zipfile corrupt or contains spanned disks");

  ZIPENDENT& endent = m_endent;
  endent.Signature = LoadLe32(e);
  endent.DiskNumber = diskNumber;
  endent.CentralDirectoryDisk = directoryDisk;
  endent.EntriesOnDisk = entriesOnDisk;
  endent.TotalEntries = totalEntries;
  endent.CentralDirectorySize = LoadLe32(e + 12);
  endent.CentralDirectoryOffset = LoadLe32(e + 16);
  endent.CommentLength = LoadLe16(e + 20);
  endent.Comment =
      endent.CommentLength != 0 ? reinterpret_cast<const char*>(m_comment.data()) : nullptr;
  m_zip.endent = &m_endent;

  ReadCentralDirectory();
  ReadCentralEntries();
  const uint32_t entries = static_cast<uint32_t>(m_central.size());
  std::sort(m_central.begin(), m_central.end(), [](const ZIPCENTENT& a, const ZIPCENTENT& b) {
    return a.LocalHeaderOffset < b.LocalHeaderOffset;
  });
  m_zip.entries = entries;
  m_zip.centent = m_central.data();
  m_local.assign(entries, ZIPLOCENT{});
  m_localNames.assign(entries, {});
  m_zip.locent = m_local.data();
  for (uint32_t k = 0; k < entries; ++k) ReadLocalEntry(k);
  FindOutsideMemberData();
  return &m_zip;
}

bool Zip::ReadCentralEntry(ZIPCENTENT* c) {
  const uint32_t size = m_endent.CentralDirectorySize;
  if (m_currcentdiroffs == size) return false;
  if (m_currcentdiroffs > size)
    Fault(
        "m_currcentdiroffs > m_zip.endent->CentralDirectorySize... This should NEVER happen?!?!?!");
  if (uint64_t{m_currcentdiroffs} + kCentralHeaderSize > size)
    Refuse("Central fileheader cut short at the end of the zip directory");
  const uint64_t at = uint64_t{m_endent.CentralDirectoryOffset} + m_currcentdiroffs;
  uint8_t h[kCentralHeaderSize];
  m_input->Read(at, h, kCentralHeaderSize);
  if (LoadLe32(h) != kCentralHeaderSignature) Refuse("Central fileheader's signature not found");

  const uint16_t n = LoadLe16(h + 28);
  const uint16_t m = LoadLe16(h + 30);
  const uint16_t k = LoadLe16(h + 32);
  const uint64_t p = uint64_t{m_currcentdiroffs} + kCentralHeaderSize;
  if (p + n > size) Refuse("Invalid filename length in zip directory");
  if (p + n + m > size) Refuse("Invalid extra field length in zip directory");
  if (p + n + m + k > size) Refuse("Invalid comment length in zip directory");
  // These markers send readers to the member's ZIP64 extra field.
  if (LoadLe32(h + 20) == 0xFFFFFFFF || LoadLe32(h + 24) == 0xFFFFFFFF ||
      LoadLe16(h + 34) == 0xFFFF || LoadLe32(h + 42) == 0xFFFFFFFF)
    Refuse(kZip64);

  c->Signature = LoadLe32(h);
  c->VersionMadeBy[0] = h[4];
  c->VersionMadeBy[1] = h[5];
  c->VersionNeeded[0] = h[6];
  c->VersionNeeded[1] = h[7];
  c->Flags = LoadLe16(h + 8);
  c->Method = LoadLe16(h + 10);
  c->Time = LoadLe16(h + 12);
  c->Date = LoadLe16(h + 14);
  c->Crc = LoadLe32(h + 16);
  c->CompressedSize = LoadLe32(h + 20);
  c->UncompressedSize = LoadLe32(h + 24);
  c->FilenameLength = n;
  c->ExtraFieldLength = m;
  c->CommentLength = k;
  c->DiskNumberStart = LoadLe16(h + 34);
  c->InternalAttributes = LoadLe16(h + 36);
  c->ExternalAttributes = LoadLe32(h + 38);
  c->LocalHeaderOffset = LoadLe32(h + 42);
  // Only the entries found are copied, never what a directory size claims.
  m_centralNames.push_back({std::vector<uint8_t>(size_t{n} + m + k)});
  uint8_t* behind = m_centralNames.back().bytes.data();
  m_input->Read(at + kCentralHeaderSize, behind, size_t{n} + m + k);
  c->Filename = n != 0 ? reinterpret_cast<const char*>(behind) : nullptr;
  c->ExtraField = m != 0 ? behind + n : nullptr;
  c->Comment = k != 0 ? reinterpret_cast<const char*>(behind + n + m) : nullptr;

  m_currcentdiroffs += kCentralHeaderSize + n + m + k;
  return true;
}

// The member in slot index must fit, header, data and descriptor, between
// its local header offset and the next member's (the central directory for
// the last one): this keeps every read inside the archive and members apart.
void Zip::ReadLocalEntry(uint32_t index) {
  const ZIPCENTENT* c = &m_central[index];
  const uint64_t limit = index + 1 < m_zip.entries ? m_central[index + 1].LocalHeaderOffset
                                                   : m_endent.CentralDirectoryOffset;
  const uint64_t start = c->LocalHeaderOffset;
  if (start + kLocalHeaderSize > limit)
    Refuse("Local fileheader runs past the next member or the central directory");
  // The next member's offset, which bounds this one, may itself lie past the
  // end: that member is refused in its turn, but this one must not be read
  // out of bounds first.
  if (start + kLocalHeaderSize > m_filesize) Refuse(kLocalPastEnd);

  uint8_t h[kLocalHeaderSize];
  m_input->Read(start, h, kLocalHeaderSize);
  if (LoadLe32(h) != kLocalHeaderSignature) Refuse("Local fileheader's signature not found");
  if (LoadLe32(h + 18) == 0xFFFFFFFF || LoadLe32(h + 22) == 0xFFFFFFFF) Refuse(kZip64);
  const uint16_t n = LoadLe16(h + 26);
  const uint16_t m = LoadLe16(h + 28);
  const uint64_t dataOffset = start + kLocalHeaderSize + n + m;
  if (dataOffset > limit)
    Refuse("Local fileheader runs past the next member or the central directory");
  if (dataOffset > m_filesize) Refuse(kLocalPastEnd);

  ZIPLOCENT* l = &m_local[index];
  l->Signature = LoadLe32(h);
  l->VersionNeeded = LoadLe16(h + 4);
  l->Flags = LoadLe16(h + 6);
  l->Method = LoadLe16(h + 8);
  l->Time = LoadLe16(h + 10);
  l->Date = LoadLe16(h + 12);
  l->Crc = LoadLe32(h + 14);
  l->CompressedSize = LoadLe32(h + 18);
  l->UncompressedSize = LoadLe32(h + 22);
  l->FilenameLength = n;
  l->ExtraFieldLength = m;
  l->DataOffset = static_cast<uint32_t>(dataOffset);
  l->Skip = 0;
  l->DescriptorLength = 0;
  std::vector<uint8_t>& behind = m_localNames[index].bytes;
  behind.resize(size_t{n} + m);
  m_input->Read(start + kLocalHeaderSize, behind.data(), behind.size());
  l->Filename = n != 0 ? reinterpret_cast<const char*>(behind.data()) : nullptr;
  l->ExtraField = m != 0 ? behind.data() + n : nullptr;

  if (l->Flags & kFlagDescriptor) {
    // The descriptor follows the data, whose size the central entry gives, so
    // that bytes between it and the next member show as outside data. A
    // signature may precede its 12 bytes; fields that match the central entry
    // as they stand have none, even when their CRC reads as the signature.
    const uint64_t at = dataOffset + c->CompressedSize;
    if (at + 12 > limit)
      Refuse("Data descriptor runs past the next member or the central directory");
    const bool room = at + 16 <= limit;
    if (at + (room ? 16 : 12) > m_filesize)
      Refuse("Data descriptor runs past the end of the Zipfile");
    uint8_t d[16];
    m_input->Read(at, d, room ? 16 : 12);
    const bool bare = LoadLe32(d) == c->Crc && LoadLe32(d + 4) == c->CompressedSize &&
                      LoadLe32(d + 8) == c->UncompressedSize;
    const bool withSignature = !bare && room && LoadLe32(d) == kDescriptorSignature;
    const uint8_t* fields = withSignature ? d + 4 : d;
    l->Crc = LoadLe32(fields);
    l->CompressedSize = LoadLe32(fields + 4);
    l->UncompressedSize = LoadLe32(fields + 8);
    l->DescriptorLength = withSignature ? 16 : 12;
  }
  if (dataOffset + l->CompressedSize + l->DescriptorLength > limit)
    Refuse("Member data run past the next member or the central directory");

  if (l->Crc != c->Crc)
    Refuse("CRC in local fileheader differs from the one in the central directory");
  if (l->CompressedSize != c->CompressedSize)
    Refuse("Compressed size in local fileheader differs from the one in the central directory");
  if (l->UncompressedSize != c->UncompressedSize)
    Refuse("Uncompressed size in local fileheader differs from the one in the central directory");
  if (!SameMemberName(l->Filename, l->FilenameLength, c->Filename, c->FilenameLength))
    Refuse("Name in local fileheader differs from the one in the central directory");
  // Readers that go by the central entry would take re-encoded data for
  // what the local header's method said they were: refuse the contradiction.
  if (l->Method != c->Method)
    Refuse("Compression method in local fileheader differs from the one in the central directory");
}

const char* Zip::MethodName(const ZIPCENTENT* entry) {
  static const char* const kNames[] = {
      "Stored",    "Shrink",         "Reduce 1",        "Reduce 2",     "Reduce 3",
      "Reduce 4",  "Implode 4k2",    "Implode 8k2",     "Implode 4k3",  "Implode 8k3",
      "Tokenised", "Deflate Normal", "Deflate eXtreme", "Deflate Fast", "Deflate Superfast",
      "Deflate64", "Implode DCL"};
  const uint32_t method = entry->Method;
  const uint32_t option = (entry->Flags >> 1) & 3u;
  if (method > 10) return "Unknown";
  uint32_t index = method;
  switch (method) {
    case 6:
      index = 6 + option;
      break;
    case 7:
      index = 10;
      break;
    case 8:
      index = 11 + option;
      break;
    case 9:
      index = 15;
      break;
    case 10:
      index = 16;
      break;
    default:
      break;
  }
  return kNames[index];
}

}  // namespace trimbit
