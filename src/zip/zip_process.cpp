// Optimising one ZIP archive: every member is written into the temporary
// file in the order of the old local headers, deflated members re-encoded,
// other members copied, encrypted members carried over byte for byte; a
// folder entry is left out only when extracting another member makes that
// folder anyway. Then the archive is completed with new offsets, central
// directory and end record, and the savings are reported.
//
// An archive that holds bytes outside its members and records (a
// self-extracting stub, a signing block) is left as it is: the program
// cannot tell what those bytes are for, and dropping them would break them.
#include "zip/zip_process.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "containers/stream_glue.h"
#include "deflate/stream_check.h"
#include "driver/console.h"
#include "driver/file_state.h"
#include "driver/run_state.h"
#include "support/big_file.h"
#include "support/message.h"
#include "support/number_text.h"
#include "zip/zip_archive.h"
#include "zip/zip_extra_field.h"
#include "zip/zip_names.h"

Zip* zipArchive = nullptr;

void ReleaseZipArchive() {
  Zip* archive = zipArchive;
  zipArchive = nullptr;  // cleared first: a second call finds nothing to release
  if (archive == nullptr) return;
  // Closed before the delete so that a failing close is thrown from here and
  // not from the destructor; the object is deleted either way.
  std::unique_ptr<Zip> owner(archive);
  archive->Close();
}

using trimbit::FormatNumber;

namespace {

constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;

// The writer OptimiseStream calls for a member: the re-encoded data go behind
// the member's local header. The path is not needed.
uint32_t WriteZipMemberData(const char*) {
  return fileState.outputFile->fwrite(glue.outputBuffer, 1, glue.newStreamLength);
}

// Reads length bytes at offset of the archive into fileBuffer.
void ReadIntoFileBuffer(BigFile* source, uint64_t offset, uint32_t length) {
  PrepareFileBuffer(length);
  source->fseek(static_cast<int64_t>(offset), SEEK_SET);
  source->fread(fileState.fileBuffer, 1, length);
}

// A member whose headers say it holds nothing becomes a stored member without
// data, but only when its data say so too: stored data must be empty, and
// deflate data must decode to nothing and end within the member. Data of any
// other method cannot be judged here and stay as they are. The member's data
// are in fileBuffer.
void SettleEmptyMember(ZIPLOCENT* local, ZIPCENTENT* central) {
  static constexpr Message kSizesMismatch = "Member sizes do not match its data";
  if (local->UncompressedSize != 0) return;
  const uint32_t length = local->CompressedSize;
  if (length != 0) {
    if (local->Method == kMethodStored) throw kSizesMismatch;
    if (local->Method != kMethodDeflated) return;
    trimbit::DecodedDigest digest;
    const uint32_t bits = trimbit::DigestStream(RunCodec(), fileState.fileBuffer, length, &digest);
    if (digest.length != 0 || bits > uint64_t{8} * length) throw kSizesMismatch;
  }
  local->Method = central->Method = kMethodStored;
  local->CompressedSize = central->CompressedSize = 0;
}

bool IsEmptyFolderEntry(const ZIPLOCENT* local, const ZIPCENTENT* central) {
  return local->CompressedSize == 0 && local->UncompressedSize == 0 && HasFolderName(central);
}

// An encrypted member goes over as it was: local header (name, flags, sizes
// and extra field untouched), data and data descriptor.
void CopyEncryptedMember(BigFile* source, const ZIPLOCENT* local, const ZIPCENTENT* central,
                         uint32_t& position) {
  const uint64_t span = MemberSpan(local, central);
  if (span > UINT32_MAX - 4) throw static_cast<Message>("File too large");
  ReadIntoFileBuffer(source, central->LocalHeaderOffset, static_cast<uint32_t>(span));
  position += fileState.outputFile->fwrite(fileState.fileBuffer, 1, static_cast<uint32_t>(span));
  PrintMessage(kLevelVerbose, "\n  Encrypted member; copied unchanged.\n");
}

// Writes one member that is not encrypted, whose data are in fileBuffer: its
// local header (still with the old compressed size; FinishZipArchive puts in
// the final one), then its data, re-encoded when deflated and copied otherwise.
void WriteMember(const char* path, ZIPLOCENT* local, ZIPCENTENT* central, uint32_t& position) {
  glue.bitsSaved = 0;
  if (!settings.keepAll)
    local->ExtraFieldLength =
        KeepNeededExtraSubfields(local->ExtraField, local->ExtraFieldLength, settings.keepComments);

  glue.streamLength = fileState.fileSize = local->CompressedSize;
  glue.streamStart = fileState.fileBuffer;
  Zip::WriteLocalEntry(position, fileState.outputFile, local);

  if (local->Method == kMethodDeflated) {
    AllocateOutputBuffer(glue.streamLength);
    OptimiseStream(path, WriteZipMemberData);
    if (glue.newStreamLength > local->CompressedSize)
      throw static_cast<Message>("Compressed size is larger than it was!?!?!?");
    local->CompressedSize = glue.newStreamLength;
    central->CompressedSize = glue.newStreamLength;
    position += glue.newStreamLength;
    return;
  }
  if (local->Method == kMethodStored && local->UncompressedSize != glue.streamLength)
    throw static_cast<Message>(
        "Compressed size differs from uncompressed size for Stored data!?!?!?");
  position += fileState.outputFile->fwrite(fileState.fileBuffer, 1, glue.streamLength);
  PrintMessage(kLevelVerbose, "\n  Compression method is \"%s\"; no deflated data to optimise.\n",
               Zip::MethodName(central));
}

}  // namespace

void ProcessZip(const char* path) {
  const uint32_t totalOnEntry = totals.totalBytesSaved;
  fileState.fileBitsSaved = 0;
  fileState.fileBytesSaved = 0;

  ReleaseZipArchive();
  zipArchive = new (std::nothrow) Zip();
  if (zipArchive == nullptr) throw static_cast<Message>("Could not new Zip");
  ZipView* archive = zipArchive->Open(path, true);
  const uint64_t archiveSize = zipArchive->GetFileSize();
  // Offsets, the position counter and the savings are 32-bit.
  if (archiveSize + 4 > UINT32_MAX) throw static_cast<Message>("File too large");
  if (zipArchive->HoldsOutsideData()) {
    PrintMessage(kLevelNormal, "Archive holds data outside its members; left unchanged.\n");
    ReleaseZipArchive();
    return;
  }
  const uint32_t entries = archive->entries;
  BigFile* source = zipArchive->GetSourceFile();
  const std::vector<bool> madeByOthers = FoldersMadeByOtherEntries(archive->centent, entries);

  fileState.outputFile = OpenTemporaryFile();

  uint32_t membersWritten = 0;
  uint32_t position = 0;
  for (uint32_t k = 0; k < entries; ++k) {
    ZIPLOCENT* local = archive->locent[k];
    ZIPCENTENT* central = archive->centent[k];
    PrintMessage(kLevelVerbose, "\n[ZIPPED]: \"%s\"\n",
                 local->Filename != nullptr ? local->Filename : "");
    if (IsEncryptedMember(local, central)) {
      CopyEncryptedMember(source, local, central, position);
      membersWritten += 1;
      continue;
    }
    ReadIntoFileBuffer(source, local->DataOffset, local->CompressedSize);
    SettleEmptyMember(local, central);
    if (madeByOthers[k] && IsEmptyFolderEntry(local, central)) {
      local->Skip = 1;
      PrintMessage(kLevelVerbose, "\n  Stored directory name; skipping.\n");
      continue;
    }
    WriteMember(path, local, central, position);
    fileState.fileBitsSaved += glue.bitsSaved;
    membersWritten += 1;
  }

  const uint32_t newSize =
      FinishZipArchive(archive, fileState.outputFile, membersWritten, position);

  CloseTemporaryFile();
  ReleaseZipArchive();

  // Nothing in the new archive takes more room than it did in the old one.
  if (newSize > archiveSize)
    throw static_cast<Message>("New archive is larger than the old one!?!?!?");
  fileState.fileBytesSaved = static_cast<uint32_t>(archiveSize) - newSize;
  totals.totalBytesSaved = totalOnEntry + fileState.fileBytesSaved;
  if (fileState.fileBytesSaved != 0 && fileState.fileBitsSaved == 0)
    fileState.fileBitsSaved =
        fileState.fileBytesSaved > UINT32_MAX / 8 ? UINT32_MAX : 8 * fileState.fileBytesSaved;

  PrintMessage(kLevelVerbose, "\n");
  if (fileState.fileBytesSaved != 0 || settings.forceRewrite)
    PrintMessage(kLevelNormal, "Number of bytes saved%s: %s (%s --> %s)\n",
                 settings.verbosity == 2 ? " for this zip" : "",
                 FormatNumber(fileState.fileBytesSaved).c_str(), FormatNumber(archiveSize).c_str(),
                 FormatNumber(newSize).c_str());
}
