// Collecting the files to process. Each argument is resolved to an absolute
// path; a file is judged by its extension (or, with -a, by its first bytes),
// a folder is walked. A file is listed once, by its identity (device and
// inode): the same file named twice, through another path, a link or a hard
// link is found again, while two files whose names differ only in letter
// case are two files. Identities live in a hash set, so a list of a million
// names costs a million look-ups.
#include "driver/file_list.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/error.h"
#include "trimbit.h"

namespace trimbit {
namespace {

constexpr uint32_t kMaxPath = 1023;  // longest resolved path the program handles

[[noreturn]] void RefusePathTooLong(const char* path) {
  Refuse(FormatText("Path longer than %u characters [%s]", kMaxPath, path));
}

[[noreturn]] void RefuseSystem(const char* action, const char* path, int error) {
  Refuse(FormatText("Could not %s [%s]: %s", action, path, std::strerror(error)));
}
// Resolves `argument` into `out` (kMaxPath + 1 bytes) or throws.
void ResolvePath(const char* argument, char* out) {
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(argument, nullptr), &std::free);
  if (!resolved) RefuseSystem("resolve", argument, errno);
  const size_t length = std::strlen(resolved.get());
  if (length > kMaxPath) RefusePathTooLong(resolved.get());
  std::memcpy(out, resolved.get(), length + 1);
}

bool HasListedExtension(const FileList& list, const char* path) {
  char extension[1024];
  GetExtension(path, extension);
  for (const char* const* mask = list.masks; mask != nullptr && *mask != nullptr; ++mask) {
    // The mask's "*" is skipped: "*.gz" is compared as ".gz".
    if ((*mask)[0] != '\0' && strcasecmp(extension, *mask + 1) == 0) return true;
  }
  return false;
}

// Lists the file at `path` (status `status`, not a folder) if it is one the
// program handles and not listed already.
void AddFile(FileList& list, const char* path, const struct stat& status) {
  uint8_t format = 0;
  if (!list.scanAll) {
    if (!HasListedExtension(list, path)) return;
  } else if (!S_ISREG(status.st_mode) || !DetectFormat(path, &format)) {
    return;
  }
  const FileIdentity identity = {static_cast<uint64_t>(status.st_dev),
                                 static_cast<uint64_t>(status.st_ino)};
  if (list.identities.count(identity) != 0) return;  // listed already
  if (list.names.size() >= list.capacity) Refuse("Too many files");
  list.identities.insert(identity);
  list.names.push_back(list.textStore.AddText(path));
  list.formats.push_back(format);
}

struct FolderEntry {
  std::string name;
  struct stat status;
};

// The entries of the folder at `path` but "." and "..", with their own
// status (links not followed), in byte order of their names. The folder is
// closed before its entries are looked at, so a deep walk holds one
// descriptor at a time.
std::vector<FolderEntry> ReadFolder(const char* path) {
  const int descriptor = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) RefuseSystem("read folder", path, errno);
  DIR* folder = ::fdopendir(descriptor);
  if (folder == nullptr) {
    const int error = errno;
    ::close(descriptor);
    RefuseSystem("read folder", path, error);
  }
  std::unique_ptr<DIR, int (*)(DIR*)> closer(folder, &::closedir);
  std::vector<FolderEntry> entries;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(folder);
    if (entry == nullptr) {
      if (errno != 0) RefuseSystem("read folder", path, errno);
      break;
    }
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    FolderEntry item{entry->d_name, {}};
    if (::fstatat(::dirfd(folder), entry->d_name, &item.status, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;  // removed meanwhile
      RefuseSystem("examine", (std::string(path) + "/" + entry->d_name).c_str(), errno);
    }
    entries.push_back(std::move(item));
  }
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  return entries;
}

void AddFolder(FileList& list, const char* path) {
  const std::string prefix = std::strcmp(path, "/") == 0 ? "/" : std::string(path) + "/";
  for (const FolderEntry& entry : ReadFolder(path)) {
    const bool folder = S_ISDIR(entry.status.st_mode);
    // Links, pipes and devices are not files to process; subfolders only with -r.
    if (folder ? !list.recurse : !S_ISREG(entry.status.st_mode)) continue;
    const std::string child = prefix + entry.name;
    if (child.size() > kMaxPath) RefusePathTooLong(child.c_str());
    if (folder)
      AddFolder(list, child.c_str());
    else
      AddFile(list, child.c_str(), entry.status);
  }
}

}  // namespace

void CreateFileList(FileList& list, uint32_t capacity, const char* const* masks, uint32_t recurse,
                    uint32_t scanAll) {
  ReleaseFileList(list);
  list.capacity = capacity;
  list.masks = masks;
  list.recurse = recurse;
  list.scanAll = scanAll;
}

uint32_t AddFileSpec(FileList& list, const char* argument) {
  if (list.masks == nullptr) Fault("AddFileSpec(): File list not created!?!?!?");
  const size_t countBefore = list.names.size();
  char path[kMaxPath + 1];
  ResolvePath(argument, path);
  struct stat status;
  if (::stat(path, &status) != 0) RefuseSystem("examine", path, errno);
  if (S_ISDIR(status.st_mode))
    AddFolder(list, path);
  else
    AddFile(list, path, status);
  return static_cast<uint32_t>(list.names.size() - countBefore);
}

void GetExtension(const char* path, char* out) {
  out[0] = '\0';
  const char* dot = std::strrchr(path, '.');
  if (dot == nullptr) return;
  const char* slash = std::strrchr(path, '/');
  if (slash != nullptr && dot < slash) return;
  std::snprintf(out, 1024, "%s", dot);
}

uint32_t DetectFormat(const char* path, uint8_t* format) {
  // Only regular files are read: opening a pipe or a device could block or
  // consume data meant for someone else. Short or unreadable files are
  // simply not recognised.
  const int descriptor = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (descriptor < 0) return 0;
  uint8_t head[8];
  size_t got = 0;
  struct stat status;
  if (::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode)) {
    while (got < sizeof head) {
      const ssize_t n = ::read(descriptor, head + got, sizeof head - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
  }
  ::close(descriptor);
  const trimbit_format detected = trimbit_detect_format(head, got);
  if (detected == TRIMBIT_FORMAT_UNKNOWN) return 0;
  *format = static_cast<uint8_t>(detected);
  return 1;
}

void ReleaseFileList(FileList& list) {
  list.textStore.Clear();
  // Swapped with empty ones, so that their memory goes too.
  decltype(list.identities)().swap(list.identities);
  decltype(list.names)().swap(list.names);  // the names went with their store
  decltype(list.formats)().swap(list.formats);
}

}  // namespace trimbit
