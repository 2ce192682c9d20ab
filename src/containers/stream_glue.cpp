// Placeholder until the stream glue lands.
#include "containers/stream_glue.h"

StreamGlue glue = {};
