// What every container ends in: copies of bytes kept as they were, the report of the bits a stream
// saved, the one decision whether a GZIP or PNG image is worth writing anew, and the report of the
// bytes a new image or ZIP member saved.
#pragma once

#include <cstdint>

#include "containers/image.h"

namespace trimbit {

// The size of a GZIP or PNG image, which must be at least 18 bytes and
// leave room for 32-bit offsets ("File too large", "File too small").
uint32_t CheckedStreamImageSize(const ImageJob& job);

// Appends `length` bytes of the image at `at` to the sink.
inline void CopyImageBytes(const ImageJob& job, uint64_t at, uint64_t length) {
  CopyWindowBytes(job.input, at, length, job.sink);
}

// The verbose line of the bits saved in a stream (or the streams of a
// member), when it is not 0 or with -f.
void ReportBitsSaved(const ImageJob& job, uint32_t bitsSaved);

// Reports what a new image or ZIP member of `written` bytes in place of
// `oldSize` bytes saved: a verbose empty line and, when `byteLine` is not 0,
// "Number of bytes saved" at that level. Reported only when it saved bytes,
// with -f, or with -b when it saved bits.
void ReportBytesSaved(const ImageJob& job, ReportKind kind, uint64_t oldSize, uint64_t written,
                      uint32_t bitsSaved, uint32_t byteLine);

// The write decision for a GZIP or PNG image whose new form of `written`
// bytes is complete: written with -f, when `estimate` (the image's length
// with every old stream replaced by its new one) is shorter than the image,
// when a byte's worth of bits was saved, or with -b when any bit was. The
// savings of a new image are reported (with the byte line for GZIP); the
// caller drops the new form when the outcome says it is not written.
ImageOutcome DecideImage(const ImageJob& job, uint64_t written, uint64_t estimate,
                         uint32_t bitsSaved, bool gzipByteLine);

}  // namespace trimbit
