// The ZIP writers: each record is assembled in one static buffer and written
// with a single write; FinishZipArchive completes a new archive once the
// members are in place (final local headers, central directory, digital
// signature with -k, end record).
#include <cstdio>
#include <cstring>

#include "driver/run_state.h"
#include "support/big_file.h"
#include "support/message.h"
#include "zip/zip_archive.h"
#include "zip/zip_bytes.h"
#include "zip/zip_extra_field.h"

namespace {

// The largest record, a central header whose name, extra field and comment
// are 65,535 bytes each, takes 46 + 3 * 65,535 = 196,651 bytes.
struct ZipRecordBuffer {
  uint8_t bytes[262144];
};
ZipRecordBuffer recordBuffer;

// Writes (or, without a file, only counts) the first `size` bytes of the
// record buffer and advances position. The new archive never outgrows the
// old one, which fits in 32 bits; the check keeps the counter from wrapping.
uint32_t EmitRecord(uint32_t& position, BigFile* file, uint32_t size) {
  if (uint64_t{position} + size > UINT32_MAX) throw static_cast<Message>("Zipfile too large");
  position += file != nullptr ? file->fwrite(recordBuffer.bytes, 1, size) : size;
  return size;
}

void CheckRecordSize(uint64_t size) {
  if (size > sizeof recordBuffer.bytes)
    throw static_cast<Message>("Record larger than the record buffer!?!?!?");
}

// Copies length bytes of source behind p; a null source with a length is a
// record that lost its data and is refused.
uint8_t* PutBytes(uint8_t* p, const void* source, uint32_t length) {
  if (length == 0) return p;
  if (source == nullptr) throw static_cast<Message>("Record field without its data!?!?!?");
  std::memcpy(p, source, length);
  return p + length;
}

}  // namespace

uint32_t Zip::WriteLocalEntry(uint32_t& position, BigFile* file, ZIPLOCENT* record) {
  const uint64_t size =
      uint64_t{kLocalHeaderSize} + record->FilenameLength + record->ExtraFieldLength;
  CheckRecordSize(size);
  // Traditional encryption checks the password against the time instead of
  // the CRC when bit 3 is set, so an encrypted member keeps it.
  if (!(record->Flags & kFlagEncrypted)) record->Flags &= static_cast<uint16_t>(~kFlagDescriptor);
  uint8_t* p = recordBuffer.bytes;
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
  p = PutLe16(p, record->ExtraFieldLength);
  p = PutBytes(p, record->Filename, record->FilenameLength);
  PutBytes(p, record->ExtraField, record->ExtraFieldLength);
  return EmitRecord(position, file, static_cast<uint32_t>(size));
}

uint32_t Zip::WriteCentralEntry(uint32_t& position, BigFile* file, ZIPCENTENT* record) {
  const uint64_t size = uint64_t{kCentralHeaderSize} + record->FilenameLength +
                        record->ExtraFieldLength + record->CommentLength;
  CheckRecordSize(size);
  if (!(record->Flags & kFlagEncrypted)) record->Flags &= static_cast<uint16_t>(~kFlagDescriptor);
  uint8_t* p = recordBuffer.bytes;
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
  p = PutLe32(p, record->LocalHeaderOffset);
  p = PutBytes(p, record->Filename, record->FilenameLength);
  p = PutBytes(p, record->ExtraField, record->ExtraFieldLength);
  PutBytes(p, record->Comment, record->CommentLength);
  return EmitRecord(position, file, static_cast<uint32_t>(size));
}

uint32_t Zip::WriteDigitalSignature(uint32_t& position, BigFile* file, const ZIPDIGENT* record) {
  const uint64_t size = 6 + uint64_t{record->DataSize};
  CheckRecordSize(size);
  uint8_t* p = recordBuffer.bytes;
  p = PutLe32(p, record->Signature);
  p = PutLe16(p, record->DataSize);
  PutBytes(p, record->Data, record->DataSize);
  return EmitRecord(position, file, static_cast<uint32_t>(size));
}

uint32_t Zip::WriteEndOfCentralDirectory(uint32_t& position, BigFile* file,
                                         const ZIPENDENT* record) {
  const uint64_t size = uint64_t{kEndRecordSize} + record->CommentLength;
  CheckRecordSize(size);
  uint8_t* p = recordBuffer.bytes;
  p = PutLe32(p, record->Signature);
  p = PutLe16(p, record->DiskNumber);
  p = PutLe16(p, record->CentralDirectoryDisk);
  p = PutLe16(p, record->EntriesOnDisk);
  p = PutLe16(p, record->TotalEntries);
  p = PutLe32(p, record->CentralDirectorySize);
  p = PutLe32(p, record->CentralDirectoryOffset);
  p = PutLe16(p, record->CommentLength);
  PutBytes(p, record->Comment, record->CommentLength);
  return EmitRecord(position, file, static_cast<uint32_t>(size));
}

// Moves the output file to position, or does nothing when only counting.
static void SeekOutput(BigFile* file, uint32_t position) {
  if (file != nullptr) file->fseek(position, SEEK_SET);
}

uint32_t FinishZipArchive(ZipView* archive, BigFile* file, uint32_t membersWritten,
                          uint32_t& position) {
  if (archive->entries != 0 && archive->locent == nullptr)
    throw static_cast<Message>("FinishZipArchive(): Local headers were not read!?!?!?");

  // Each local header is rewritten in place with its final sizes; it is as
  // long as the one written before the data. An encrypted member was copied
  // whole and keeps its header as it was.
  SeekOutput(file, 0);
  position = 0;
  for (uint32_t k = 0; k < archive->entries; ++k) {
    ZIPLOCENT* local = archive->locent[k];
    ZIPCENTENT* central = archive->centent[k];
    if (local->Skip) continue;
    central->LocalHeaderOffset = position;
    const uint64_t next = uint64_t{position} + MemberSpan(local, central);
    if (next > UINT32_MAX) throw static_cast<Message>("Zipfile too large");
    if (!IsEncryptedMember(local, central)) Zip::WriteLocalEntry(position, file, local);
    position = static_cast<uint32_t>(next);
    SeekOutput(file, position);
  }

  ZIPENDENT end = {};
  end.CentralDirectoryOffset = position;
  for (uint32_t k = 0; k < archive->entries; ++k) {
    ZIPLOCENT* local = archive->locent[k];
    ZIPCENTENT* central = archive->centent[k];
    if (local->Skip) continue;
    // An encrypted member's central entry stays as it was; AES needs its extra field.
    if (!IsEncryptedMember(local, central) && !settings.keepAll) {
      central->ExtraFieldLength = KeepNeededExtraSubfields(
          central->ExtraField, central->ExtraFieldLength, settings.keepComments);
      if (!settings.keepComments) central->CommentLength = 0;
    }
    Zip::WriteCentralEntry(position, file, central);
  }
  end.CentralDirectorySize = position - end.CentralDirectoryOffset;

  if (settings.keepAll && archive->digent != nullptr)
    Zip::WriteDigitalSignature(position, file, archive->digent);

  end.Signature = kEndRecordSignature;
  end.EntriesOnDisk = static_cast<uint16_t>(membersWritten);
  end.TotalEntries = static_cast<uint16_t>(membersWritten);
  if (settings.keepComments && archive->endent != nullptr) {
    end.CommentLength = archive->endent->CommentLength;
    end.Comment = archive->endent->Comment;
  }
  Zip::WriteEndOfCentralDirectory(position, file, &end);
  return position;
}
