// GZIP files: every member's header trimmed by the options, every member's
// deflate data re-encoded, trailers and any other trailing bytes kept.
// OptimiseGzip (containers/image.h) is the entry.
#pragma once

#include "containers/image.h"
