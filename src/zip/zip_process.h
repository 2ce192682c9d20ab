// ZIP archives: every member optimised into a new archive, which is then
// completed with new offsets, central directory and end record.
// OptimiseZip (containers/image.h) is the entry.
#pragma once

#include "containers/image.h"
