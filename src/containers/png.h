// PNG files: chunks trimmed by the options, IDAT chunks joined into one and
// their zlib stream re-encoded.
#pragma once

#include "containers/image.h"

namespace trimbit {

// Optimises the PNG image. Refuses a bad signature, any chunk the handler
// refuses (see png_state.h), and an image without a complete IDAT run.
ImageOutcome OptimisePng(const ImageJob& job);

}  // namespace trimbit
