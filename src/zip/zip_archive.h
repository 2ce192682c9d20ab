// The ZIP archive: its records as they are held in memory, the reader that
// finds and checks them in a file (class Zip), and the writers that put them
// into a new archive.
//
// Every record is one heap allocation: the fixed fields below, followed by
// the variable parts (name, extra field, comment, data) they point to.
#pragma once

#include <cstdint>

class BigFile;

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
  uint32_t RecordSize;  // bytes of this allocation
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
  char* Filename;             // as stored, NUL added; null when empty
  uint8_t* ExtraField;        // null when empty
};

// One central directory entry.
struct ZIPCENTENT {
  uint32_t RecordSize;  // bytes of this allocation
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
  char* Filename;  // as stored, NUL added; null when empty
  uint8_t* ExtraField;
  char* Comment;  // NUL-terminated; null when empty
};

// The digital signature record that may follow the central directory.
struct ZIPDIGENT {
  uint32_t RecordSize;
  uint32_t Signature;
  uint16_t DataSize;
  uint8_t* Data;  // null when empty
};

// The end-of-central-directory record.
struct ZIPENDENT {
  uint32_t RecordSize;
  uint32_t Signature;
  uint16_t DiskNumber;
  uint16_t CentralDirectoryDisk;
  uint16_t EntriesOnDisk;
  uint16_t TotalEntries;
  uint32_t CentralDirectorySize;
  uint32_t CentralDirectoryOffset;
  uint16_t CommentLength;
  uint16_t ZipfileNameLength;  // length of the path given to Zip::Open (at most 65,535 shown)
  char* Comment;               // inside the object's end-record buffer; null when empty
  char* ZipfileName;           // copy of the path, behind the record
};

// What an open archive offers its users. Entry i is the i-th member in the
// order of the local headers.
struct ZipView {
  uint32_t entries;
  ZIPDIGENT* digent;  // null when the archive has no digital signature
  ZIPENDENT* endent;
  ZIPLOCENT** locent;  // null when the local headers were not read
  ZIPCENTENT** centent;
};

class Zip {
 public:
  Zip();
  virtual ~Zip();

  // Reads the archive at path: its end record, central directory, digital
  // signature and, when readLocalHeaders is set, every local header with its
  // data descriptor. Every length, count and offset is checked against the
  // file before it is used; a failure is thrown and the file is not changed.
  // The central directory is read until its declared size is used up, and
  // the end record's count must match the entries found. ZIP64 archives are
  // refused.
  ZipView* Open(const char* path, bool readLocalHeaders);

  // True when the archive holds bytes that belong to none of its structures:
  // before the first member, between members (data descriptors aside), between
  // the last member and the central directory, between the central directory
  // (with its digital signature) and the end record, or after the end record
  // and its comment. Known for the members only when their local headers
  // were read.
  bool HoldsOutsideData() const;

  // The next entry of the central directory buffer, or null when it is used up.
  ZIPCENTENT* ReadCentralEntry();

  // The local header of the member whose central entry is in slot index.
  ZIPLOCENT* ReadLocalEntry(uint32_t index);

  uint64_t GetFileSize() const;  // 0 when not open
  BigFile* GetSourceFile();      // throws when not open

  // Releases the source file and every record; safe on a closed object.
  void Close();

  // Name of a central entry's compression method ("Stored", "Deflate Normal", ...).
  static const char* MethodName(const ZIPCENTENT* entry);

  // Record writers. With a file they write the record and add the bytes
  // written to position; with null they only add the record's size. Each
  // returns the record's size. Flag bit 3 is cleared in the record and the
  // output, except for an encrypted member, whose flags are kept as they were.
  static uint32_t WriteLocalEntry(uint32_t& position, BigFile* file, ZIPLOCENT* record);
  static uint32_t WriteCentralEntry(uint32_t& position, BigFile* file, ZIPCENTENT* record);
  static uint32_t WriteDigitalSignature(uint32_t& position, BigFile* file, const ZIPDIGENT* record);
  static uint32_t WriteEndOfCentralDirectory(uint32_t& position, BigFile* file,
                                             const ZIPENDENT* record);

  ZipView m_zip;

 private:
  void FindEndRecord();
  void RefuseZip64Markers(const uint8_t* endRecord);
  void ReadCentralDirectory();
  void ReadCentralEntries();
  void FindOutsideMemberData();

  BigFile* m_source;           // the archive
  uint8_t* m_centdir;          // the raw central directory
  uint32_t m_currcentdiroffs;  // parse position in m_centdir
  uint8_t* m_ecdBuffer;        // the end record and the archive comment
  uint64_t m_ecdPosition;      // offset of the end record in the file
  uint64_t m_filesize;
  uint32_t m_open;         // 1 after a successful Open
  uint32_t m_outsideData;  // 1 when bytes outside every structure were found
};

// True when the member is encrypted (flag bit 0 in either header): such a
// member is carried over exactly as it was, descriptor and extra fields included.
bool IsEncryptedMember(const ZIPLOCENT* local, const ZIPCENTENT* central);

// Bytes the member occupies in the new archive: local header, data and, for
// an encrypted member, its data descriptor.
uint64_t MemberSpan(const ZIPLOCENT* local, const ZIPCENTENT* central);

// Completes the new archive once every kept member's local header and data
// are in file: rewrites the local headers with their final sizes, writes the
// central directory, the digital signature with -k, and the end record.
// Sets position to the new archive's size and returns it.
uint32_t FinishZipArchive(ZipView* archive, BigFile* file, uint32_t membersWritten,
                          uint32_t& position);
