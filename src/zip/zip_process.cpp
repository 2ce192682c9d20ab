// Placeholder until the ZIP handler lands.
#include "zip/zip_process.h"

#include "support/message.h"

Zip* zipArchive = nullptr;

void ReleaseZipArchive() {}

void ProcessZip(const char*) { throw static_cast<Message>("Not implemented yet"); }
