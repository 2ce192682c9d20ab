#include "driver/extended_attributes.h"

#include <sys/xattr.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace trimbit {

namespace {

// The NUL-separated names of the file's attributes; false with errno set on
// failure. A file system without extended attributes has none.
bool ListAttributes(int file, std::vector<char>& names) {
  for (;;) {
    const ssize_t size = ::flistxattr(file, nullptr, 0);
    if (size < 0) {
      if (errno != ENOTSUP) return false;
      names.clear();
      return true;
    }
    names.resize(static_cast<size_t>(size));
    const ssize_t got = size == 0 ? 0 : ::flistxattr(file, names.data(), names.size());
    if (got >= 0) {
      names.resize(static_cast<size_t>(got));
      return true;
    }
    if (errno != ERANGE) return false;  // grew meanwhile: ask again
  }
}

// The attribute's value; false with errno set when it cannot be read
// (ENODATA when the file has no such attribute).
bool ReadAttribute(int file, const char* name, std::vector<char>& value) {
  for (;;) {
    const ssize_t size = ::fgetxattr(file, name, nullptr, 0);
    if (size < 0) return false;
    value.resize(static_cast<size_t>(size));
    const ssize_t got = size == 0 ? 0 : ::fgetxattr(file, name, value.data(), value.size());
    if (got >= 0) {
      value.resize(static_cast<size_t>(got));
      return true;
    }
    if (errno != ERANGE) return false;
  }
}

bool Listed(const std::vector<char>& names, const char* name) {
  for (size_t at = 0; at < names.size(); at += std::strlen(names.data() + at) + 1)
    if (std::strcmp(names.data() + at, name) == 0) return true;
  return false;
}

int Failed(const char* name, int error, char* failed, size_t size) {
  std::snprintf(failed, size, "%s", name);
  return error;
}

}  // namespace

int CopyExtendedAttributes(int from, int to, char* failed, size_t size) {
  std::vector<char> fromNames, toNames, value, present;
  if (!ListAttributes(from, fromNames)) return Failed("(list)", errno, failed, size);
  for (size_t at = 0; at < fromNames.size(); at += std::strlen(fromNames.data() + at) + 1) {
    const char* name = fromNames.data() + at;
    if (!ReadAttribute(from, name, value)) {
      if (errno == ENODATA) continue;  // removed meanwhile; the change check sees that
      return Failed(name, errno, failed, size);
    }
    if (ReadAttribute(to, name, present) && present == value) continue;
    if (::fsetxattr(to, name, value.data(), value.size(), 0) != 0)
      return Failed(name, errno, failed, size);
  }
  if (!ListAttributes(to, toNames)) return Failed("(list)", errno, failed, size);
  for (size_t at = 0; at < toNames.size(); at += std::strlen(toNames.data() + at) + 1) {
    const char* name = toNames.data() + at;
    if (!Listed(fromNames, name) && ::fremovexattr(to, name) != 0 && errno != ENODATA)
      return Failed(name, errno, failed, size);
  }
  return 0;
}

}  // namespace trimbit
