// The end every container handler comes to: the verbose bits line, the one
// decision whether a GZIP or PNG image is worth writing, and the report of
// the bytes saved. Lines reported once the new image is complete are
// Result lines: the command line shows them after it has written the file.
#include "containers/stream_glue.h"

#include "support/error.h"
#include "support/number_text.h"

namespace trimbit {

uint32_t CheckedStreamImageSize(const ImageJob& job) {
  if (job.size + 4 > UINT32_MAX) Refuse("File too large");
  if (job.size < 18) Refuse("File too small");
  return static_cast<uint32_t>(job.size);
}

void ReportBitsSaved(const ImageJob& job, uint32_t bitsSaved) {
  if (bitsSaved != 0 || job.options.forceRewrite)
    Report(job.reporter, kReportVerbose, ReportKind::Detail,
           "\nNumber of bits that can be saved: %s (%0.3f bytes)\n",
           FormatNumber(bitsSaved).c_str(), bitsSaved * 0.125);
}

void ReportBytesSaved(const ImageJob& job, ReportKind kind, uint64_t oldSize, uint64_t written,
                      uint32_t bitsSaved, uint32_t byteLine) {
  const ImageOptions& o = job.options;
  if (!(written < oldSize || o.forceRewrite || (bitsSaved != 0 && o.replaceOnBits))) return;
  Report(job.reporter, kReportVerbose, kind, "\n");
  if (byteLine != 0)
    Report(job.reporter, byteLine, kind, "Number of bytes saved: %s (%s --> %s) (%s bit%s)\n",
           FormatNumber(oldSize - written).c_str(), FormatNumber(oldSize).c_str(),
           FormatNumber(written).c_str(), FormatNumber(bitsSaved).c_str(),
           bitsSaved == 1 ? "" : "s");
}

ImageOutcome DecideImage(const ImageJob& job, uint64_t written, uint64_t estimate,
                         uint32_t bitsSaved, bool gzipByteLine) {
  const ImageOptions& o = job.options;
  const bool write = o.forceRewrite || estimate < job.size || bitsSaved >= 8 ||
                     (bitsSaved != 0 && o.replaceOnBits);
  if (!write) return {false, bitsSaved, 0};
  // Neither format ever grows; a larger result would book a wrapped saving
  // and replace the file for nothing.
  if (written > job.size) Fault("Rewritten file is larger than the original!?!?!?");
  ReportBytesSaved(job, ReportKind::Result, job.size, written, bitsSaved,
                   gzipByteLine ? kReportNormal : 0);
  return {true, bitsSaved, job.size - written};
}

}  // namespace trimbit
