// Placeholder until the handler lands.
#include "containers/gzip.h"

#include "support/message.h"

void ProcessGzip(const char*) { throw static_cast<Message>("Not implemented yet"); }
