// Reading and trimming one GZIP member header inside fileState.fileBuffer.
#pragma once

#include <cstdint>

struct GzipMember;

// Checks that a member starts at offset `start`: at least 10 bytes, the
// signature 1F 8B and compression method 8. Throws "GZIP file too small",
// "Invalid GZIP signature" or "Invalid GZIP compression method".
void CheckGzipMemberStart(uint32_t start);

// True when the member at `start` (already checked) has an extra field
// holding the subfield "BC" of block-gzip files.
bool HasBlockGzipSubfield(uint32_t start);

// Parses the member header at `start` (already checked), prints its verbose
// details and trims it in place by the options: the FLG byte rewritten, the
// removed fields dropped and the kept ones moved down. Fills the member's
// headerStart, headerLength and streamStart; returns the header bytes
// removed. Throws "GZIP file too small" when a field runs to the end of the
// data or fewer than 9 bytes (deflate data and trailer) follow the header.
uint32_t TrimGzipMemberHeader(uint32_t start, GzipMember* member);
