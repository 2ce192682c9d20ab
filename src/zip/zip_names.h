// Member names as the archive's readers see them: names are kept byte for
// byte, and only compared with '\' taken for '/', and the folders that
// extracting the other members makes anyway.
#pragma once

#include <cstdint>
#include <vector>

namespace trimbit {

struct ZIPCENTENT;

// True when the two names are the same once every '\' is taken for '/'
// (some tools write one separator in the local header and the other in the
// central directory). The names themselves are not changed.
bool SameMemberName(const char* a, uint32_t aLength, const char* b, uint32_t bLength);

// True when the entry's name ends in '/': a folder, if it also holds nothing.
bool HasFolderName(const ZIPCENTENT* entry);

// For each of the count entries: whether extracting some other entry makes
// the folder this entry names anyway, because a component that names
// something (not empty, "." or "..") follows the whole of this entry's name
// in that other name. Only such a folder entry may be left out. Names are
// compared byte for byte.
std::vector<bool> FoldersMadeByOtherEntries(const ZIPCENTENT* entries, uint32_t count);

}  // namespace trimbit
