// ZIP archives: every member optimised into a new archive, which is then
// completed with new offsets, central directory and end record.
#pragma once

#include "containers/image.h"

namespace trimbit {

// Optimises the ZIP archive. An archive holding bytes outside its members
// and records is left alone, with a notice saying so; everything the reader
// refuses (see zip_archive.h) and a member whose sizes contradict its data
// are refused.
ImageOutcome OptimiseZip(const ImageJob& job);

}  // namespace trimbit
