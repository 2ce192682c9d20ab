// One image in hand: what the handler of every format works with. The image
// is the caller's, read-only, through a window; the new image goes to the
// sink as it is made; the deflate engine's state and the reports come from
// the caller too, so a handler keeps nothing between calls. A handler
// refuses what it cannot handle by throwing trimbit::Error; it may have
// reported lines and written to the sink before, which then mean nothing.
#pragma once

#include <cstdint>

#include "deflate/codec_state.h"
#include "support/input_window.h"
#include "support/output_sink.h"
#include "support/report.h"

namespace trimbit {

// What the command-line letters mean for one image.
struct ImageOptions {
  bool replaceOnBits;  // -b: worth replacing when bits but no whole byte were saved
  bool keepComments;   // -c: keep GZIP and ZIP comments
  bool forceRewrite;   // -f: always produce a new image
  bool keepAll;        // -k: keep every chunk and structure
};

struct ImageJob {
  uint64_t size;  // the image's size in bytes
  const ImageOptions& options;
  CodecState& codec;         // the deflate engine's state, kept from image to image
  const Reporter& reporter;  // where the report lines go
  InputWindow& input;        // the image, read through a window
  OutputSink& sink;          // receives the new image as it is made
};

// What a handler made of an image.
struct ImageOutcome {
  bool written;         // the output holds a new image
  uint32_t bitsSaved;   // bits saved, as the report counts them
  uint64_t bytesSaved;  // bytes saved by the new image; 0 when none was written
};

// Whether the new image should take the old one's place: always with -f,
// otherwise when bits were saved and whole bytes too (or, with -b, bits
// alone), and only when a new image was written at all.
inline bool WorthReplacing(const ImageOptions& options, const ImageOutcome& outcome) {
  const bool replace = options.forceRewrite || (outcome.bitsSaved != 0 &&
                                                (outcome.bytesSaved != 0 || options.replaceOnBits));
  return replace && outcome.written;
}

}  // namespace trimbit
