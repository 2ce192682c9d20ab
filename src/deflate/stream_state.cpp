#include "deflate/stream_state.h"

StreamCursor cursor = {};
