// The ZIP archive: its records as they are held in memory, the reader that
// finds and checks them in the archive's bytes (class Zip), and the writers
// that append them to a new archive.
//
// A record holds the fixed fields of its structure; its variable parts
// (name, extra field, comment) point into the reader's copies of the
// records, or into a copy that the processing trims.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "support/input_window.h"
#include "support/output_sink.h"

namespace trimbit {

constexpr uint32_t kLocalHeaderSignature = 0x04034B50;       // "PK", 3, 4
constexpr uint32_t kCentralHeaderSignature = 0x02014B50;     // "PK", 1, 2
constexpr uint32_t kDigitalSignatureSignature = 0x05054B50;  // "PK", 5, 5
constexpr uint32_t kEndRecordSignature = 0x06054B50;         // "PK", 5, 6
constexpr uint32_t kDescriptorSignature = 0x08074B50;        // "PK", 7, 8
constexpr uint32_t kZip64EndRecordSignature = 0x06064B50;    // "PK", 6, 6
constexpr uint32_t kZip64LocatorSignature = 0x07064B50;      // "PK", 6, 7

constexpr uint32_t kLocalHeaderSize = 30;    // fixed part in the file
constexpr uint32_t kCentralHeaderSize = 46;  // fixed part in the file
constexpr uint32_t kEndRecordSize = 22;      // fixed part in the file
constexpr uint32_t kZip64LocatorSize = 20;   // right before the end record
constexpr uint32_t kMaxEntries = 65535;      // the most the end record can count

constexpr uint16_t kFlagEncrypted = 0x0001;   // general purpose flag bit 0
constexpr uint16_t kFlagDescriptor = 0x0008;  // bit 3: sizes and CRC follow the data

// One member's local header.
struct ZIPLOCENT {
  uint32_t Signature;
  uint16_t VersionNeeded;
  uint16_t Flags;
  uint16_t Method;
  uint16_t Time;
  uint16_t Date;
  uint32_t Crc;               // from the data descriptor when flag bit 3 is set
  uint32_t CompressedSize;    // likewise
  uint32_t UncompressedSize;  // likewise
  uint16_t FilenameLength;
  uint16_t ExtraFieldLength;
  uint32_t DataOffset;        // offset of the member's data in the archive
  uint32_t Skip;              // 1: the member is left out of the new archive
  uint32_t DescriptorLength;  // bytes of data descriptor behind the data (0, 12 or 16)
  const char* Filename;       // as stored, not NUL-terminated; null when empty
  const uint8_t* ExtraField;  // null when empty
};

// One central directory entry.
struct ZIPCENTENT {
  uint32_t Signature;
  uint8_t VersionMadeBy[2];  // format version of the maker, host system
  uint8_t VersionNeeded[2];
  uint16_t Flags;
  uint16_t Method;
  uint16_t Time;
  uint16_t Date;
  uint32_t Crc;
  uint32_t CompressedSize;
  uint32_t UncompressedSize;
  uint16_t FilenameLength;
  uint16_t ExtraFieldLength;
  uint16_t CommentLength;
  uint16_t DiskNumberStart;
  uint16_t InternalAttributes;
  uint32_t ExternalAttributes;
  uint32_t LocalHeaderOffset;
  const char* Filename;  // as stored, not NUL-terminated; null when empty
  const uint8_t* ExtraField;
  const char* Comment;  // null when empty
};

// The digital signature record that may follow the central directory.
struct ZIPDIGENT {
  uint32_t Signature;
  uint16_t DataSize;
  const uint8_t* Data;  // null when empty
};

// The end-of-central-directory record.
struct ZIPENDENT {
  uint32_t Signature;
  uint16_t DiskNumber;
  uint16_t CentralDirectoryDisk;
  uint16_t EntriesOnDisk;
  uint16_t TotalEntries;
  uint32_t CentralDirectorySize;
  uint32_t CentralDirectoryOffset;
  uint16_t CommentLength;
  const char* Comment;  // null when empty
};

// What an open archive offers its users. Entry i is the i-th member in the
// order of the local headers, in both arrays.
struct ZipView {
  uint32_t entries;
  const ZIPDIGENT* digent;  // null when the archive has no digital signature
  const ZIPENDENT* endent;
  ZIPLOCENT* locent;
  ZIPCENTENT* centent;
};

class Zip {
 public:
  Zip() = default;
  virtual ~Zip() = default;
  Zip(const Zip&) = delete;
  Zip& operator=(const Zip&) = delete;

  // Reads the archive through `input` (which must stay while the records
  // are used): its end record, central directory, digital
  // signature and every local header with its data descriptor. Every
  // length, count and offset is checked against the archive before it is
  // used; a failure is thrown. The central directory is read until its
  // declared size is used up, and the end record's count must match the
  // entries found. ZIP64 archives are refused. A member's data are checked
  // against the next member and the central directory, but only when they
  // are used against the end of the archive (see CheckMemberBytes).
  ZipView* Open(InputWindow& input);

  // True when the archive holds bytes that belong to none of its structures:
  // before the first member, between members (data descriptors aside), between
  // the last member and the central directory, between the central directory
  // (with its digital signature) and the end record, or after the end record
  // and its comment.
  bool HoldsOutsideData() const { return m_outsideData; }

  uint64_t GetFileSize() const { return m_filesize; }

  // Name of a central entry's compression method ("Stored", "Deflate Normal", ...).
  static const char* MethodName(const ZIPCENTENT* entry);

  // Record writers: each appends its record to `out` and returns the
  // record's size. Flag bit 3 is cleared in the record and the output,
  // except for an encrypted member, whose flags are kept as they were.
  static uint32_t WriteLocalEntry(OutputSink& out, ZIPLOCENT* record);
  static uint32_t WriteCentralEntry(OutputSink& out, ZIPCENTENT* record);
  static uint32_t WriteDigitalSignature(OutputSink& out, const ZIPDIGENT* record);
  static uint32_t WriteEndOfCentralDirectory(OutputSink& out, const ZIPENDENT* record);

  ZipView m_zip = {};

 private:
  void FindEndRecord();
  void RefuseZip64Markers(const uint8_t* endRecord);
  void ReadCentralDirectory();
  void ReadCentralEntries();
  // The next entry of the central directory into *entry; false when the
  // directory is used up.
  bool ReadCentralEntry(ZIPCENTENT* entry);
  // The local header of the member whose central entry is in slot index.
  void ReadLocalEntry(uint32_t index);
  void FindOutsideMemberData();
  uint32_t LoadLe32At(uint64_t offset);

  InputWindow* m_input = nullptr;     // the archive
  uint64_t m_filesize = 0;            // its size
  uint32_t m_currcentdiroffs = 0;     // parse position in the central directory
  uint64_t m_ecdPosition = 0;         // offset of the end record
  bool m_outsideData = false;         // bytes outside every structure were found
  std::vector<ZIPCENTENT> m_central;  // the central entries
  std::vector<ZIPLOCENT> m_local;     // the local headers, in the same order
  ZIPENDENT m_endent = {};
  ZIPDIGENT m_digent = {};
  // Copies of the records the entries point into.
  uint8_t m_endRecord[kEndRecordSize] = {};
  std::vector<uint8_t> m_comment;
  // A record's variable parts; a type of ours, so that the containers of
  // them stay out of the shared library's exports.
  struct RecordBytes {
    std::vector<uint8_t> bytes;
  };
  std::deque<RecordBytes> m_centralNames;  // each central entry's name, extra, comment
  std::vector<uint8_t> m_signatureData;
  std::vector<RecordBytes> m_localNames;  // each local header's name and extra field
};

// Checks that the `length` bytes at `offset` lie within the archive's `size`
// bytes: a member's data, or an encrypted member as a whole. Refuses bytes
// that run past the end ("Member data run past the end of the Zipfile"),
// which a member bounded by a next member that starts past the end can claim.
void CheckMemberBytes(uint64_t size, uint64_t offset, uint64_t length);

// True when the member is encrypted (flag bit 0 in either header): such a
// member is carried over exactly as it was, descriptor and extra fields included.
bool IsEncryptedMember(const ZIPLOCENT* local, const ZIPCENTENT* central);

// Bytes the member occupies in the new archive: local header, data and, for
// an encrypted member, its data descriptor.
uint64_t MemberSpan(const ZIPLOCENT* local, const ZIPCENTENT* central);

}  // namespace trimbit
