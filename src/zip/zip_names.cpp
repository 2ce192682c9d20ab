// Name rules for ZIP members: the separator-blind comparison of a local
// name with its central name, and which folder entries extraction of the
// other members makes redundant.
#include "zip/zip_names.h"

#include <algorithm>
#include <string_view>

#include "zip/zip_archive.h"

namespace trimbit {
namespace {

std::string_view NameOf(const ZIPCENTENT* entry) {
  return entry->Filename != nullptr ? std::string_view(entry->Filename, entry->FilenameLength)
                                    : std::string_view();
}

bool NamesSomething(std::string_view component) {
  return !component.empty() && component != "." && component != "..";
}

// The leading part of name that extraction turns into folders: everything
// before its last component that names something. Empty when there is none
// or it is the first component.
std::string_view FolderPart(std::string_view name) {
  size_t end = name.size();
  for (;;) {
    const size_t slash = end == 0 ? std::string_view::npos : name.rfind('/', end - 1);
    const size_t start = slash == std::string_view::npos ? 0 : slash + 1;
    if (NamesSomething(name.substr(start, end - start))) return name.substr(0, start);
    if (start == 0) return {};
    end = start - 1;
  }
}

}  // namespace

bool SameMemberName(const char* a, uint32_t aLength, const char* b, uint32_t bLength) {
  if (aLength != bLength) return false;
  for (uint32_t k = 0; k < aLength; ++k) {
    const char x = a[k] == '\\' ? '/' : a[k];
    const char y = b[k] == '\\' ? '/' : b[k];
    if (x != y) return false;
  }
  return true;
}

bool HasFolderName(const ZIPCENTENT* entry) {
  const std::string_view name = NameOf(entry);
  return !name.empty() && name.back() == '/';
}

// A folder name F is made by another entry N when F is a prefix of N's
// folder part. Folder parts that start with F sort together right from the
// first one not below F, so one binary search per folder entry suffices.
std::vector<bool> FoldersMadeByOtherEntries(const ZIPCENTENT* entries, uint32_t count) {
  std::vector<std::string_view> parts;
  parts.reserve(count);
  for (uint32_t k = 0; k < count; ++k) {
    const std::string_view part = FolderPart(NameOf(&entries[k]));
    if (!part.empty()) parts.push_back(part);
  }
  std::sort(parts.begin(), parts.end());
  std::vector<bool> made(count, false);
  for (uint32_t k = 0; k < count; ++k) {
    if (!HasFolderName(&entries[k])) continue;
    const std::string_view folder = NameOf(&entries[k]);
    // The entry's own folder part is shorter than its name, so it never counts.
    const auto first = std::lower_bound(parts.begin(), parts.end(), folder);
    made[k] = first != parts.end() && first->substr(0, folder.size()) == folder;
  }
  return made;
}

}  // namespace trimbit
