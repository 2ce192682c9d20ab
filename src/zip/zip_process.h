#pragma once

class Zip;

// The archive being processed, so that CleanUp can release it after an error.
extern Zip* zipArchive;

// Closes and deletes zipArchive, if any; safe to call any number of times.
void ReleaseZipArchive();

// Optimises the ZIP archive at path into fileState.tempFileName.
void ProcessZip(const char* path);
