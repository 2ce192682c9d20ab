// Optimising one ZIP archive: every member is appended to the new archive in
// the order of the old local headers, deflated members re-encoded, other
// members copied, encrypted members carried over byte for byte; a folder
// entry is left out only when extracting another member makes that folder
// anyway. Members stream from the input window to the sink: a local header
// is appended before its member's data and its compressed size patched once
// the new data are known. Then the archive is
// completed with new offsets, central directory and end record, and the
// savings are reported.
//
// An archive that holds bytes outside its members and records (a
// self-extracting stub, a signing block) is left as it is: the program
// cannot tell what those bytes are for, and dropping them would break them.
#include "zip/zip_process.h"

#include <vector>

#include "containers/stream_glue.h"
#include "deflate/reencode.h"
#include "deflate/stream_check.h"
#include "support/byte_order.h"
#include "support/error.h"
#include "support/number_text.h"
#include "zip/zip_archive.h"
#include "zip/zip_extra_field.h"
#include "zip/zip_names.h"

namespace trimbit {
namespace {

constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;
constexpr uint32_t kCompressedSizeField = 18;  // offset of the field in a local header

// The archive in hand and the extra fields as the new archive keeps them:
// trimmed copies live in keptExtra, which is reserved for all of them at
// once, so that the records can point into it.
struct ZipState {
  const ImageJob& job;
  ZipView* archive;
  std::vector<uint8_t> keptExtra;
};

// Points the record's extra field at a copy of it that keeps only the
// subfields the options need, and sets its length.
template <typename Record>
void TrimExtraField(ZipState& z, Record* record) {
  if (record->ExtraFieldLength == 0) return;
  const size_t at = z.keptExtra.size();
  z.keptExtra.insert(z.keptExtra.end(), record->ExtraField,
                     record->ExtraField + record->ExtraFieldLength);
  uint8_t* copy = z.keptExtra.data() + at;
  record->ExtraFieldLength =
      KeepNeededExtraSubfields(copy, record->ExtraFieldLength, z.job.options.keepComments);
  record->ExtraField = record->ExtraFieldLength != 0 ? copy : nullptr;
}

// A member whose headers say it holds nothing becomes a stored member without
// data, but only when its data say so too: stored data must be empty, and
// deflate data must decode to nothing and end within the member. Data of any
// other method cannot be judged here and stay as they are. The member's data
// are at offset `data` of the input.
void SettleEmptyMember(const ImageJob& job, uint64_t data, ZIPLOCENT* local, ZIPCENTENT* central) {
  static constexpr char kSizesMismatch[] = "Member sizes do not match its data";
  if (local->UncompressedSize != 0) return;
  const uint32_t length = local->CompressedSize;
  if (length != 0) {
    if (local->Method == kMethodStored) Refuse(kSizesMismatch);
    if (local->Method != kMethodDeflated) return;
    DecodedDigest digest;
    const uint64_t bits = DigestStreamIn(job.codec, job.input, data, length, &digest);
    if (digest.length != 0 || bits > uint64_t{8} * length) Refuse(kSizesMismatch);
  }
  local->Method = central->Method = kMethodStored;
  local->CompressedSize = central->CompressedSize = 0;
}

bool IsEmptyFolderEntry(const ZIPLOCENT* local, const ZIPCENTENT* central) {
  return local->CompressedSize == 0 && local->UncompressedSize == 0 && HasFolderName(central);
}

// An encrypted member goes over as it was: local header (name, flags, sizes
// and extra field untouched), data and data descriptor.
void CopyEncryptedMember(const ImageJob& job, const ZIPLOCENT* local, const ZIPCENTENT* central) {
  const uint64_t span = MemberSpan(local, central);
  if (span > UINT32_MAX - 4) Refuse("File too large");
  CheckMemberBytes(job.size, central->LocalHeaderOffset, span);
  CopyImageBytes(job, central->LocalHeaderOffset, span);
  Report(job.reporter, kReportVerbose, ReportKind::Detail,
         "\n  Encrypted member; copied unchanged.\n");
}

// Appends one member that is not encrypted (its data at offset `data` of the
// input): its local header, then its data, re-encoded when deflated and
// copied otherwise. Returns the bits saved in its data.
uint32_t WriteMember(ZipState& z, uint64_t data, ZIPLOCENT* local, ZIPCENTENT* central) {
  const ImageJob& job = z.job;
  OutputSink& out = job.sink;
  if (!job.options.keepAll) TrimExtraField(z, local);
  const uint64_t header = out.size();
  Zip::WriteLocalEntry(out, local);
  const uint32_t length = local->CompressedSize;

  if (local->Method == kMethodDeflated) {
    uint64_t newLength = 0, used = 0;
    const uint32_t bitsSaved = static_cast<uint32_t>(
        ReencodeStreamIn(job.codec, job.reporter, job.input, data, length, out, &newLength, &used));
    ReportBitsSaved(job, bitsSaved);
    ReportBytesSaved(job, ReportKind::Detail, length, newLength, bitsSaved, kReportVerbose);
    if (newLength > length) Fault("Compressed size is larger than it was!?!?!?");
    local->CompressedSize = central->CompressedSize = static_cast<uint32_t>(newLength);
    uint8_t field[4];
    StoreLe32(field, local->CompressedSize);
    out.WriteAt(header + kCompressedSizeField, field, 4);
    return bitsSaved;
  }
  if (local->Method == kMethodStored && local->UncompressedSize != length)
    Refuse("Compressed size differs from uncompressed size for Stored data!?!?!?");
  CopyImageBytes(job, data, length);
  Report(job.reporter, kReportVerbose, ReportKind::Detail,
         "\n  Compression method is \"%s\"; no deflated data to optimise.\n",
         Zip::MethodName(central));
  return 0;
}

// Completes the new archive once every kept member is in it: the central
// directory (extra fields and comments trimmed by the options, an encrypted
// member's entry as it was), the digital signature with -k, and the end
// record with the archive comment with -c.
void FinishZipArchive(ZipState& z, uint32_t membersWritten) {
  const ImageOptions& options = z.job.options;
  OutputSink& out = z.job.sink;
  ZipView* archive = z.archive;
  ZIPENDENT end = {};
  end.CentralDirectoryOffset = static_cast<uint32_t>(out.size());
  for (uint32_t k = 0; k < archive->entries; ++k) {
    ZIPLOCENT* local = &archive->locent[k];
    ZIPCENTENT* central = &archive->centent[k];
    if (local->Skip) continue;
    // An encrypted member's central entry stays as it was; AES needs its extra field.
    if (!IsEncryptedMember(local, central) && !options.keepAll) {
      TrimExtraField(z, central);
      if (!options.keepComments) central->CommentLength = 0;
    }
    Zip::WriteCentralEntry(out, central);
  }
  end.CentralDirectorySize = static_cast<uint32_t>(out.size()) - end.CentralDirectoryOffset;

  if (options.keepAll && archive->digent != nullptr)
    Zip::WriteDigitalSignature(out, archive->digent);

  end.Signature = kEndRecordSignature;
  end.EntriesOnDisk = static_cast<uint16_t>(membersWritten);
  end.TotalEntries = static_cast<uint16_t>(membersWritten);
  if (options.keepComments) {
    end.CommentLength = archive->endent->CommentLength;
    end.Comment = archive->endent->Comment;
  }
  Zip::WriteEndOfCentralDirectory(out, &end);
}

}  // namespace

ImageOutcome OptimiseZip(const ImageJob& job) {
  // Offsets, the sizes and the savings are 32-bit.
  if (job.size + 4 > UINT32_MAX) Refuse("File too large");
  Zip zip;
  ZipView* archive = zip.Open(job.input);
  const uint64_t archiveSize = zip.GetFileSize();
  if (zip.HoldsOutsideData()) {
    Report(job.reporter, kReportNormal, ReportKind::Notice,
           "Archive holds data outside its members; left unchanged.\n");
    return {false, 0, 0};
  }
  const uint32_t entries = archive->entries;
  const std::vector<bool> madeByOthers = FoldersMadeByOtherEntries(archive->centent, entries);

  ZipState z = {job, archive, {}};
  // Room for a trimmed copy of every extra field, local and central.
  size_t extraBytes = 0;
  for (uint32_t k = 0; k < entries; ++k)
    extraBytes +=
        size_t{archive->locent[k].ExtraFieldLength} + archive->centent[k].ExtraFieldLength;
  z.keptExtra.reserve(extraBytes);

  OutputSink& out = job.sink;
  out.Truncate(0);
  out.Reserve(archiveSize);
  uint32_t bitsSaved = 0;
  uint32_t membersWritten = 0;
  for (uint32_t k = 0; k < entries; ++k) {
    ZIPLOCENT* local = &archive->locent[k];
    ZIPCENTENT* central = &archive->centent[k];
    Report(job.reporter, kReportVerbose, ReportKind::Detail, "\n[ZIPPED]: \"%.*s\"\n",
           static_cast<int>(local->FilenameLength),
           local->Filename != nullptr ? local->Filename : "");
    const uint32_t position = static_cast<uint32_t>(out.size());
    if (IsEncryptedMember(local, central)) {
      CopyEncryptedMember(job, local, central);
      central->LocalHeaderOffset = position;
      membersWritten += 1;
      continue;
    }
    const uint64_t data = local->DataOffset;
    CheckMemberBytes(job.size, data, local->CompressedSize);
    SettleEmptyMember(job, data, local, central);
    if (madeByOthers[k] && IsEmptyFolderEntry(local, central)) {
      local->Skip = 1;
      Report(job.reporter, kReportVerbose, ReportKind::Detail,
             "\n  Stored directory name; skipping.\n");
      continue;
    }
    bitsSaved += WriteMember(z, data, local, central);
    central->LocalHeaderOffset = position;
    membersWritten += 1;
  }
  FinishZipArchive(z, membersWritten);

  // Nothing in the new archive takes more room than it did in the old one.
  const uint64_t newSize = out.size();
  if (newSize > archiveSize) Fault("New archive is larger than the old one!?!?!?");
  const uint32_t bytesSaved = static_cast<uint32_t>(archiveSize - newSize);
  if (bytesSaved != 0 && bitsSaved == 0)
    bitsSaved = bytesSaved > UINT32_MAX / 8 ? UINT32_MAX : 8 * bytesSaved;

  Report(job.reporter, kReportVerbose, ReportKind::Result, "\n");
  if (bytesSaved != 0 || job.options.forceRewrite)
    Report(job.reporter, kReportNormal, ReportKind::Result,
           "Number of bytes saved%s: %s (%s --> %s)\n",
           job.reporter.verbosity == 2 ? " for this zip" : "", FormatNumber(bytesSaved).c_str(),
           FormatNumber(archiveSize).c_str(), FormatNumber(newSize).c_str());
  return {true, bitsSaved, bytesSaved};
}

}  // namespace trimbit
