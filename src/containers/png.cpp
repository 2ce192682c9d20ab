// PNG files: the signature, the chunk loop and the decision. The chunks
// themselves are handled in png_chunk.cpp, the zlib streams inside them in
// png_zlib_stream.cpp.
#include "containers/png.h"

#include <cstring>

#include "containers/png_state.h"
#include "containers/stream_glue.h"
#include "support/error.h"
#include "support/number_text.h"

namespace trimbit {
namespace {

constexpr uint8_t kPngSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

}  // namespace

void AddPngBitsSaved(PngState& s, uint64_t bits) {
  const uint64_t sum = uint64_t{s.bitsSaved} + bits;
  s.bitsSaved = sum > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(sum);
}

// Reads the image chunk by chunk and writes the new image as it goes, then
// decides whether the new image is worth having. Refuses a bad signature,
// any chunk the handler refuses, and an image that holds no complete IDAT
// run.
ImageOutcome OptimisePng(const ImageJob& job) {
  const uint32_t size = CheckedStreamImageSize(job);
  OutputSink& out = job.sink;
  out.Truncate(0);
  out.Reserve(size);
  uint8_t signature[8];
  job.input.Read(0, signature, 8);
  if (std::memcmp(signature, kPngSignature, 8) != 0) Refuse("Invalid PNG signature");
  out.Append(kPngSignature, 8);

  IdatRun run(job.input);
  PngState s = {job, run, 8, 0, 0, false, false, false, false, 0, 0};
  while (s.readPos < size) ProcessPngChunk(s);
  // A run still open here was never closed by a following chunk (no IEND).
  if (!s.imageDataDone) Refuse("No IDAT chunk found");

  // Each joined chunk left its length, type and CRC behind.
  const uint64_t estimate = size - uint64_t{12} * s.joinedChunks;
  const ImageOutcome outcome = DecideImage(job, out.size(), estimate, s.bitsSaved, false);
  if (!outcome.written) out.Truncate(0);
  const ReportKind kind = outcome.written ? ReportKind::Result : ReportKind::Detail;
  Report(job.reporter, kReportVerbose, kind, "\n");
  if (outcome.bytesSaved != 0 || job.options.forceRewrite)
    Report(job.reporter, kReportNormal, kind, "Number of bytes saved%s: %s (%s --> %s)\n",
           job.reporter.verbosity == 2 ? " for this png" : "",
           FormatNumber(outcome.bytesSaved).c_str(), FormatNumber(size).c_str(),
           FormatNumber(size - outcome.bytesSaved).c_str());
  return outcome;
}

}  // namespace trimbit
