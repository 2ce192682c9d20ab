// The ZIP reader: finds the end record from the end of the file, reads the
// central directory and an optional digital signature, orders the entries by
// the position of their local headers, and reads and checks every local
// header, resolving data descriptors. Member data are not read here.
//
// Everything the archive says about lengths, counts and offsets is checked
// against the file before it is used, so a damaged or hostile archive ends
// the run with a message instead of a read out of bounds. Names are kept as
// stored; bytes that belong to no structure are noted, not skipped.
#include "zip/zip_archive.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "support/big_file.h"
#include "support/message.h"
#include "zip/zip_bytes.h"
#include "zip/zip_names.h"

namespace {

constexpr Message kZip64 = "ZIP64 archives are not supported";
constexpr Message kCountMismatch =
    "Number of entries in the end record does not match the central directory";

constexpr uint32_t kEndSearchChunk = 65536;  // bytes examined per read while finding the end record

// One allocation holding a record of type T and `extra` bytes behind it.
template <typename T>
T* AllocateRecord(uint64_t extra, const char* failure) {
  const uint64_t size = sizeof(T) + extra;
  void* memory = std::calloc(1, static_cast<size_t>(size));
  if (memory == nullptr) throw static_cast<Message>(failure);
  T* record = static_cast<T*>(memory);
  record->RecordSize = static_cast<uint32_t>(size);
  return record;
}

// Reads count bytes at offset; a short read throws `failure`.
void ReadAt(BigFile* file, uint64_t offset, void* buffer, uint32_t count, const char* seekFailure,
            const char* failure) {
  if (file->fseek(static_cast<int64_t>(offset), SEEK_SET) != 0)
    throw static_cast<Message>(seekFailure);
  if (file->fread(buffer, 1, count) != count) throw static_cast<Message>(failure);
}

void ReadNext(BigFile* file, void* buffer, uint32_t count, const char* failure) {
  if (file->fread(buffer, 1, count) != count) throw static_cast<Message>(failure);
}

}  // namespace

bool IsEncryptedMember(const ZIPLOCENT* local, const ZIPCENTENT* central) {
  return ((local->Flags | central->Flags) & kFlagEncrypted) != 0;
}

uint64_t MemberSpan(const ZIPLOCENT* local, const ZIPCENTENT* central) {
  uint64_t span = uint64_t{kLocalHeaderSize} + local->FilenameLength + local->ExtraFieldLength +
                  local->CompressedSize;
  if (IsEncryptedMember(local, central)) span += local->DescriptorLength;
  return span;
}

Zip::Zip()
    : m_zip{},
      m_source(nullptr),
      m_centdir(nullptr),
      m_currcentdiroffs(0),
      m_ecdBuffer(nullptr),
      m_ecdPosition(0),
      m_filesize(0),
      m_open(0),
      m_outsideData(0) {}

Zip::~Zip() {
  Close();
}

void Zip::Close() {
  if (m_source != nullptr) {
    // Forgotten first and deleted even when the close fails, so nothing is freed twice.
    std::unique_ptr<BigFile> source(m_source);
    m_source = nullptr;
    source->fclose();
  }
  for (uint32_t k = m_zip.entries; k-- > 0;) {
    if (m_zip.locent != nullptr) std::free(m_zip.locent[k]);
    if (m_zip.centent != nullptr) std::free(m_zip.centent[k]);
  }
  std::free(m_zip.locent);
  std::free(m_zip.centent);
  std::free(m_zip.endent);
  std::free(m_zip.digent);
  std::free(m_centdir);
  std::free(m_ecdBuffer);
  m_zip = ZipView{};
  m_centdir = nullptr;
  m_ecdBuffer = nullptr;
  m_currcentdiroffs = 0;
  m_ecdPosition = 0;
  m_filesize = 0;
  m_open = 0;
  m_outsideData = 0;
}

uint64_t Zip::GetFileSize() const {
  return m_open ? m_filesize : 0;
}

bool Zip::HoldsOutsideData() const {
  return m_outsideData != 0;
}

BigFile* Zip::GetSourceFile() {
  if (!m_open || m_source == nullptr) throw static_cast<Message>("Source Zipfile is not open");
  return m_source;
}

// Scans backwards from the last place an end record can start for its
// signature, a bounded chunk at a time, so that an archive without one costs
// no more memory than one chunk. The hit nearest the end wins. Then reads
// the end record and the archive comment into m_ecdBuffer.
void Zip::FindEndRecord() {
  if (m_filesize < kEndRecordSize) throw static_cast<Message>("Could not find ECD");
  std::unique_ptr<uint8_t, decltype(&std::free)> chunk(
      static_cast<uint8_t*>(std::malloc(kEndSearchChunk)), &std::free);
  if (chunk == nullptr) throw static_cast<Message>("Could not allocate ECD buffer");
  uint64_t highest = m_filesize - kEndRecordSize;  // highest candidate not yet examined
  bool found = false;
  for (;;) {
    const uint64_t windowEnd = std::min(m_filesize, highest + 4);
    const uint64_t windowStart = windowEnd > kEndSearchChunk ? windowEnd - kEndSearchChunk : 0;
    ReadAt(m_source, windowStart, chunk.get(), static_cast<uint32_t>(windowEnd - windowStart),
           "Could not seek in file", "Failed reading into temporary ECD buffer");
    for (uint64_t p = highest + 1; p-- > windowStart;) {
      if (LoadLe32(chunk.get() + (p - windowStart)) == kEndRecordSignature) {
        m_ecdPosition = p;
        found = true;
        break;
      }
    }
    if (found || windowStart == 0) break;
    highest = windowStart - 1;
  }
  if (!found) throw static_cast<Message>("Could not find ECD");

  uint8_t fixed[kEndRecordSize];
  ReadAt(m_source, m_ecdPosition, fixed, kEndRecordSize, "Could not seek in file",
         "Failed reading into temporary ECD buffer");
  const uint16_t commentLength = LoadLe16(fixed + 20);
  if (m_ecdPosition + kEndRecordSize + commentLength > m_filesize)
    throw static_cast<Message>("Archive comment runs past the end of the Zipfile");
  if (m_ecdPosition + kEndRecordSize + commentLength < m_filesize) m_outsideData = 1;
  m_ecdBuffer = static_cast<uint8_t*>(std::calloc(1, kEndRecordSize + commentLength + 1u));
  if (m_ecdBuffer == nullptr) throw static_cast<Message>("Could not allocate ECD buffer");
  std::memcpy(m_ecdBuffer, fixed, kEndRecordSize);
  ReadNext(m_source, m_ecdBuffer + kEndRecordSize, commentLength,
           "Failed reading into temporary ECD buffer");
}

// A ZIP64 archive announces itself by a locator right before the end record,
// or by the end record's markers that send readers to the ZIP64 records
// (0xFFFF for a disk number, 0xFFFFFFFF for the directory's size or offset).
// A count of 0xFFFF is also a plain count of 65,535; ReadCentralEntries
// tells the two apart.
void Zip::RefuseZip64Markers(const uint8_t* endRecord) {
  if (m_ecdPosition >= kZip64LocatorSize) {
    uint8_t bytes[4];
    ReadAt(m_source, m_ecdPosition - kZip64LocatorSize, bytes, 4, "Could not seek in file",
           "Failed reading into temporary ECD buffer");
    if (LoadLe32(bytes) == kZip64LocatorSignature) throw kZip64;
  }
  if (LoadLe16(endRecord + 4) == 0xFFFF || LoadLe16(endRecord + 6) == 0xFFFF ||
      LoadLe32(endRecord + 12) == 0xFFFFFFFF || LoadLe32(endRecord + 16) == 0xFFFFFFFF)
    throw kZip64;
}

// Reads the central directory and what lies between it and the end record:
// nothing, or a digital signature that ends right at the end record. A
// ZIP64 end record there is refused; any other bytes are outside data.
void Zip::ReadCentralDirectory() {
  const ZIPENDENT* end = m_zip.endent;
  const uint64_t directoryEnd = uint64_t{end->CentralDirectoryOffset} + end->CentralDirectorySize;
  if (directoryEnd > m_ecdPosition)
    throw static_cast<Message>("Central directory's offset or size points past the ECD");

  m_centdir = static_cast<uint8_t*>(std::malloc(size_t{end->CentralDirectorySize} + 1));
  if (m_centdir == nullptr)
    throw static_cast<Message>("Could not allocate memory for the Zip's central directory");
  ReadAt(m_source, end->CentralDirectoryOffset, m_centdir, end->CentralDirectorySize,
         "Could not seek in file", "Failed reading the Zip's central directory");
  if (directoryEnd == m_ecdPosition) return;

  uint8_t bytes[4];
  if (directoryEnd + 4 > m_ecdPosition) {
    m_outsideData = 1;
    return;
  }
  ReadNext(m_source, bytes, 4, "Could not read digital signature or ECD signature");
  const uint32_t signature = LoadLe32(bytes);
  if (signature == kZip64EndRecordSignature) throw kZip64;
  if (signature != kDigitalSignatureSignature || directoryEnd + 6 > m_ecdPosition) {
    m_outsideData = 1;
    return;
  }
  ReadNext(m_source, bytes, 2, "Could not read size of digital signature");
  const uint16_t dataSize = LoadLe16(bytes);
  if (directoryEnd + 6 + dataSize > m_ecdPosition)
    throw static_cast<Message>("Digital signature runs past the ECD");
  if (directoryEnd + 6 + dataSize < m_ecdPosition) m_outsideData = 1;
  ZIPDIGENT* digent =
      AllocateRecord<ZIPDIGENT>(dataSize, "Could not allocate memory for ZIPDIGENT structure");
  m_zip.digent = digent;
  digent->Signature = signature;
  digent->DataSize = dataSize;
  digent->Data = dataSize != 0 ? reinterpret_cast<uint8_t*>(digent + 1) : nullptr;
  ReadNext(m_source, reinterpret_cast<uint8_t*>(digent + 1), dataSize,
           "Failed reading the digital signature");
}

// Reads central entries until the directory's declared size is used up, so
// that an end record whose count is wrong (0, or taken modulo 65,536) cannot
// hide members; the count must then match. More than 65,535 entries cannot
// be counted without ZIP64.
void Zip::ReadCentralEntries() {
  const uint16_t counted = m_zip.endent->TotalEntries;
  uint32_t capacity = 0;
  m_currcentdiroffs = 0;
  for (;;) {
    if (m_zip.entries == capacity) {
      // Grown as entries come; no more than 65,536 are ever held.
      const uint32_t grown = capacity == 0 ? 64 : 2 * capacity;
      void* larger = std::realloc(m_zip.centent, (grown + size_t{1}) * sizeof(ZIPCENTENT*));
      if (larger == nullptr) throw static_cast<Message>("Could not allocate ZIPCENTENT array");
      m_zip.centent = static_cast<ZIPCENTENT**>(larger);
      capacity = grown;
    }
    ZIPCENTENT* entry = ReadCentralEntry();
    if (entry == nullptr) break;
    m_zip.centent[m_zip.entries++] = entry;  // owned from here on, so Close frees it
    if (m_zip.entries > kMaxEntries) throw kCountMismatch;
  }
  m_zip.centent[m_zip.entries] = nullptr;
  if (counted == 0xFFFF && m_zip.entries != kMaxEntries) throw kZip64;
  if (counted != m_zip.entries) throw kCountMismatch;
}

// With the entries in the order of their local headers: the first member
// must start the file, each must end (data descriptor included) where the
// next begins, and the last where the central directory begins.
void Zip::FindOutsideMemberData() {
  uint64_t expected = 0;
  for (uint32_t k = 0; k < m_zip.entries; ++k) {
    const ZIPLOCENT* local = m_zip.locent[k];
    if (m_zip.centent[k]->LocalHeaderOffset != expected) m_outsideData = 1;
    expected = uint64_t{local->DataOffset} + local->CompressedSize + local->DescriptorLength;
  }
  if (m_zip.endent->CentralDirectoryOffset != expected) m_outsideData = 1;
}

ZipView* Zip::Open(const char* path, bool readLocalHeaders) {
  Close();
  m_source = BigFile::QuickOpen(path, "rb", 1);
  const int64_t size = m_source->fsize();
  if (size <= 0) throw static_cast<Message>("Zero filesize or could not get filesize of Zipfile");
  m_filesize = static_cast<uint64_t>(size);

  FindEndRecord();
  const uint8_t* e = m_ecdBuffer;
  RefuseZip64Markers(e);
  const uint16_t diskNumber = LoadLe16(e + 4);
  const uint16_t directoryDisk = LoadLe16(e + 6);
  const uint16_t entriesOnDisk = LoadLe16(e + 8);
  const uint16_t totalEntries = LoadLe16(e + 10);
  // A single-file archive lives on disk 0; any other number belongs to a spanned set.
  if (diskNumber != directoryDisk || entriesOnDisk != totalEntries || diskNumber != 0)
    throw static_cast<Message>("Zipfile corrupt or contains spanned disks");

  const size_t pathLength = std::strlen(path);
  const uint16_t nameLength = pathLength < 65535 ? static_cast<uint16_t>(pathLength) : 65535;
  ZIPENDENT* endent = AllocateRecord<ZIPENDENT>(
      nameLength + 1u, "Could not allocate memory for ZIPENDENT structure");
  m_zip.endent = endent;
  endent->Signature = LoadLe32(e);
  endent->DiskNumber = diskNumber;
  endent->CentralDirectoryDisk = directoryDisk;
  endent->EntriesOnDisk = entriesOnDisk;
  endent->TotalEntries = totalEntries;
  endent->CentralDirectorySize = LoadLe32(e + 12);
  endent->CentralDirectoryOffset = LoadLe32(e + 16);
  endent->CommentLength = LoadLe16(e + 20);
  endent->Comment =
      endent->CommentLength != 0 ? reinterpret_cast<char*>(m_ecdBuffer + kEndRecordSize) : nullptr;
  endent->ZipfileNameLength = nameLength;
  endent->ZipfileName = reinterpret_cast<char*>(endent + 1);
  std::memcpy(endent->ZipfileName, path, nameLength);

  ReadCentralDirectory();
  ReadCentralEntries();
  const uint32_t entries = m_zip.entries;
  std::sort(m_zip.centent, m_zip.centent + entries, [](const ZIPCENTENT* a, const ZIPCENTENT* b) {
    return a->LocalHeaderOffset < b->LocalHeaderOffset;
  });
  if (readLocalHeaders) {
    m_zip.locent = static_cast<ZIPLOCENT**>(std::calloc(entries + 1u, sizeof(ZIPLOCENT*)));
    if (m_zip.locent == nullptr) throw static_cast<Message>("Could not allocate ZIPLOCENT array");
    for (uint32_t k = 0; k < entries; ++k) m_zip.locent[k] = ReadLocalEntry(k);
    FindOutsideMemberData();
  }

  m_open = 1;
  return &m_zip;
}

ZIPCENTENT* Zip::ReadCentralEntry() {
  const uint32_t size = m_zip.endent->CentralDirectorySize;
  if (m_currcentdiroffs == size) return nullptr;
  if (m_currcentdiroffs > size)
    throw static_cast<Message>(
        "m_currcentdiroffs > m_zip.endent->CentralDirectorySize... This should NEVER happen?!?!?!");
  if (uint64_t{m_currcentdiroffs} + kCentralHeaderSize > size)
    throw static_cast<Message>("Central fileheader cut short at the end of the zip directory");
  const uint8_t* h = m_centdir + m_currcentdiroffs;
  if (LoadLe32(h) != kCentralHeaderSignature)
    throw static_cast<Message>("Central fileheader's signature not found");

  const uint16_t n = LoadLe16(h + 28);
  const uint16_t m = LoadLe16(h + 30);
  const uint16_t k = LoadLe16(h + 32);
  const uint64_t p = uint64_t{m_currcentdiroffs} + kCentralHeaderSize;
  if (p + n > size) throw static_cast<Message>("Invalid filename length in zip directory");
  if (p + n + m > size) throw static_cast<Message>("Invalid extra field length in zip directory");
  if (p + n + m + k > size) throw static_cast<Message>("Invalid comment length in zip directory");
  // These markers send readers to the member's ZIP64 extra field.
  if (LoadLe32(h + 20) == 0xFFFFFFFF || LoadLe32(h + 24) == 0xFFFFFFFF ||
      LoadLe16(h + 34) == 0xFFFF || LoadLe32(h + 42) == 0xFFFFFFFF)
    throw kZip64;

  ZIPCENTENT* c = AllocateRecord<ZIPCENTENT>(uint64_t{n} + 1 + m + k + 1,
                                             "Could not allocate memory for ZIPCENTENT structure");
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

  char* behind = reinterpret_cast<char*>(c + 1);
  const uint8_t* source = h + kCentralHeaderSize;
  std::memcpy(behind, source, n);  // the NUL after it is already there (calloc)
  c->Filename = n != 0 ? behind : nullptr;
  std::memcpy(behind + n + 1, source + n, m);
  c->ExtraField = m != 0 ? reinterpret_cast<uint8_t*>(behind + n + 1) : nullptr;
  std::memcpy(behind + n + 1 + m, source + n + m, k);
  c->Comment = k != 0 ? behind + n + 1 + m : nullptr;

  m_currcentdiroffs += kCentralHeaderSize + n + m + k;
  return c;
}

// The member in slot index must fit, header, data and descriptor, between
// its local header offset and the next member's (the central directory for
// the last one): this keeps every read inside the file and members apart.
ZIPLOCENT* Zip::ReadLocalEntry(uint32_t index) {
  if (m_source == nullptr) throw static_cast<Message>("Zipfile is not open (NULL handle)");
  if (index >= m_zip.entries || m_zip.centent == nullptr || m_zip.centent[index] == nullptr)
    throw static_cast<Message>("Zip::ReadLocalEntry(): No central entry in that slot!?!?!?");
  if (m_zip.locent == nullptr) {
    m_zip.locent = static_cast<ZIPLOCENT**>(std::calloc(m_zip.entries + 1u, sizeof(ZIPLOCENT*)));
    if (m_zip.locent == nullptr) throw static_cast<Message>("Could not allocate ZIPLOCENT array");
  }
  std::free(m_zip.locent[index]);  // a slot read again replaces its record
  m_zip.locent[index] = nullptr;
  ZIPCENTENT* c = m_zip.centent[index];
  const uint64_t limit = index + 1 < m_zip.entries ? m_zip.centent[index + 1]->LocalHeaderOffset
                                                   : m_zip.endent->CentralDirectoryOffset;
  const uint64_t start = c->LocalHeaderOffset;
  if (start + kLocalHeaderSize > limit)
    throw static_cast<Message>(
        "Local fileheader runs past the next member or the central directory");

  uint8_t h[kLocalHeaderSize];
  ReadAt(m_source, start, h, kLocalHeaderSize, "Could not position file on local fileheader",
         "Could not read local fileheader");
  if (LoadLe32(h) != kLocalHeaderSignature)
    throw static_cast<Message>("Local fileheader's signature not found");
  if (LoadLe32(h + 18) == 0xFFFFFFFF || LoadLe32(h + 22) == 0xFFFFFFFF) throw kZip64;
  const uint16_t n = LoadLe16(h + 26);
  const uint16_t m = LoadLe16(h + 28);
  const uint64_t dataOffset = start + kLocalHeaderSize + n + m;
  if (dataOffset > limit)
    throw static_cast<Message>(
        "Local fileheader runs past the next member or the central directory");

  ZIPLOCENT* l = AllocateRecord<ZIPLOCENT>(uint64_t{n} + 1 + m,
                                           "Could not allocate memory for ZIPLOCENT structure");
  m_zip.locent[index] = l;  // owned by the object from here on, so Close frees it after a failure
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
  char* behind = reinterpret_cast<char*>(l + 1);
  ReadNext(m_source, behind, n, "Could not read local filename");
  l->Filename = n != 0 ? behind : nullptr;
  ReadNext(m_source, behind + n + 1, m, "Could not read local extra field");
  l->ExtraField = m != 0 ? reinterpret_cast<uint8_t*>(behind + n + 1) : nullptr;

  if (l->Flags & kFlagDescriptor) {
    // The descriptor follows the data, whose size the central entry gives, so
    // that bytes between it and the next member show as outside data. A
    // signature may precede its 12 bytes; fields that match the central entry
    // as they stand have none, even when their CRC reads as the signature.
    const uint64_t at = dataOffset + c->CompressedSize;
    if (at + 12 > limit)
      throw static_cast<Message>(
          "Data descriptor runs past the next member or the central directory");
    uint8_t d[16];
    const uint32_t readLength = at + 16 <= limit ? 16 : 12;
    ReadAt(m_source, at, d, readLength, "Could not position file on data descriptor",
           "Could not read data descriptor");
    const bool bare = LoadLe32(d) == c->Crc && LoadLe32(d + 4) == c->CompressedSize &&
                      LoadLe32(d + 8) == c->UncompressedSize;
    const bool withSignature = !bare && readLength == 16 && LoadLe32(d) == kDescriptorSignature;
    const uint8_t* fields = withSignature ? d + 4 : d;
    l->Crc = LoadLe32(fields);
    l->CompressedSize = LoadLe32(fields + 4);
    l->UncompressedSize = LoadLe32(fields + 8);
    l->DescriptorLength = withSignature ? 16 : 12;
  }
  if (dataOffset + l->CompressedSize + l->DescriptorLength > limit)
    throw static_cast<Message>("Member data run past the next member or the central directory");

  if (l->Crc != c->Crc)
    throw static_cast<Message>(
        "CRC in local fileheader differs from the one in the central directory");
  if (l->CompressedSize != c->CompressedSize)
    throw static_cast<Message>(
        "Compressed size in local fileheader differs from the one in the central directory");
  if (l->UncompressedSize != c->UncompressedSize)
    throw static_cast<Message>(
        "Uncompressed size in local fileheader differs from the one in the central directory");
  if (!SameMemberName(l->Filename, l->FilenameLength, c->Filename, c->FilenameLength))
    throw static_cast<Message>(
        "Name in local fileheader differs from the one in the central directory");
  // Readers that go by the central entry would take re-encoded data for
  // what the local header's method said they were: refuse the contradiction.
  if (l->Method != c->Method)
    throw static_cast<Message>(
        "Compression method in local fileheader differs from the one in the central directory");
  return l;
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
