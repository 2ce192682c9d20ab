#pragma once

// Optimises the GZIP file whose bytes fileState.inputFile holds.
void ProcessGzip(const char* path);
