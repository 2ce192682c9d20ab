// The ZIP record writers: each record's fixed part is laid out on the stack
// and appended to the output, followed by its variable parts.
#include <cstring>

#include "zip/zip_archive.h"
#include "zip/zip_bytes.h"

namespace trimbit {
namespace {

// Appends length bytes of source; nothing for an empty field.
void PutBytes(OutputSink& out, const void* source, uint32_t length) {
  if (length != 0) out.Append(source, length);
}

}  // namespace

uint32_t Zip::WriteLocalEntry(OutputSink& out, ZIPLOCENT* record) {
  // Traditional encryption checks the password against the time instead of
  // the CRC when bit 3 is set, so an encrypted member keeps it.
  if (!(record->Flags & kFlagEncrypted)) record->Flags &= static_cast<uint16_t>(~kFlagDescriptor);
  uint8_t fixed[kLocalHeaderSize];
  uint8_t* p = fixed;
  p = PutLe32(p, record->Signature);
  p = PutLe16(p, record->VersionNeeded);
  p = PutLe16(p, record->Flags);
  p = PutLe16(p, record->Method);
  p = PutLe16(p, record->Time);
  p = PutLe16(p, record->Date);
  p = PutLe32(p, record->Crc);
  p = PutLe32(p, record->CompressedSize);
  p = PutLe32(p, record->UncompressedSize);
  p = PutLe16(p, record->FilenameLength);
  PutLe16(p, record->ExtraFieldLength);
  out.Append(fixed, kLocalHeaderSize);
  PutBytes(out, record->Filename, record->FilenameLength);
  PutBytes(out, record->ExtraField, record->ExtraFieldLength);
  return kLocalHeaderSize + record->FilenameLength + record->ExtraFieldLength;
}

uint32_t Zip::WriteCentralEntry(OutputSink& out, ZIPCENTENT* record) {
  if (!(record->Flags & kFlagEncrypted)) record->Flags &= static_cast<uint16_t>(~kFlagDescriptor);
  uint8_t fixed[kCentralHeaderSize];
  uint8_t* p = fixed;
  p = PutLe32(p, record->Signature);
  *p++ = record->VersionMadeBy[0];
  *p++ = record->VersionMadeBy[1];
  *p++ = record->VersionNeeded[0];
  *p++ = record->VersionNeeded[1];
  p = PutLe16(p, record->Flags);
  p = PutLe16(p, record->Method);
  p = PutLe16(p, record->Time);
  p = PutLe16(p, record->Date);
  p = PutLe32(p, record->Crc);
  p = PutLe32(p, record->CompressedSize);
  p = PutLe32(p, record->UncompressedSize);
  p = PutLe16(p, record->FilenameLength);
  p = PutLe16(p, record->ExtraFieldLength);
  p = PutLe16(p, record->CommentLength);
  p = PutLe16(p, record->DiskNumberStart);
  p = PutLe16(p, record->InternalAttributes);
  p = PutLe32(p, record->ExternalAttributes);
  PutLe32(p, record->LocalHeaderOffset);
  out.Append(fixed, kCentralHeaderSize);
  PutBytes(out, record->Filename, record->FilenameLength);
  PutBytes(out, record->ExtraField, record->ExtraFieldLength);
  PutBytes(out, record->Comment, record->CommentLength);
  return kCentralHeaderSize + record->FilenameLength + record->ExtraFieldLength +
         record->CommentLength;
}

uint32_t Zip::WriteDigitalSignature(OutputSink& out, const ZIPDIGENT* record) {
  uint8_t fixed[6];
  uint8_t* p = fixed;
  p = PutLe32(p, record->Signature);
  PutLe16(p, record->DataSize);
  out.Append(fixed, 6);
  PutBytes(out, record->Data, record->DataSize);
  return 6 + record->DataSize;
}

uint32_t Zip::WriteEndOfCentralDirectory(OutputSink& out, const ZIPENDENT* record) {
  uint8_t fixed[kEndRecordSize];
  uint8_t* p = fixed;
  p = PutLe32(p, record->Signature);
  p = PutLe16(p, record->DiskNumber);
  p = PutLe16(p, record->CentralDirectoryDisk);
  p = PutLe16(p, record->EntriesOnDisk);
  p = PutLe16(p, record->TotalEntries);
  p = PutLe32(p, record->CentralDirectorySize);
  p = PutLe32(p, record->CentralDirectoryOffset);
  PutLe16(p, record->CommentLength);
  out.Append(fixed, kEndRecordSize);
  PutBytes(out, record->Comment, record->CommentLength);
  return kEndRecordSize + record->CommentLength;
}

}  // namespace trimbit
