// PNG files: chunks trimmed by the options, IDAT chunks joined into one and
// their zlib stream re-encoded. OptimisePng (containers/image.h) is the entry.
#pragma once

#include "containers/image.h"
