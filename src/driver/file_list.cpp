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
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

#include "driver/file_state.h"
#include "support/message.h"
#include "support/text_buffers.h"

namespace {

struct FileIdentity {
  uint64_t device;
  uint64_t inode;
  bool operator==(const FileIdentity&) const = default;
};

struct FileIdentityHash {
  size_t operator()(const FileIdentity& id) const {
    return static_cast<size_t>(id.inode * 0x9E3779B97F4A7C15ull ^ id.device);
  }
};

}  // namespace

struct FileIdentityIndex {
  std::unordered_set<FileIdentity, FileIdentityHash> listed;  // every listed file
};

FileList fileList = {};

namespace {

constexpr uint32_t kMaxPath = 1023;  // longest resolved path the program handles

char fileListErrorText[4200];

[[noreturn]] void ThrowPathTooLong(const char* path) {
  ThrowFormatted(fileListErrorText, sizeof fileListErrorText, "Path longer than %u characters [%s]",
                 kMaxPath, path);
}

[[noreturn]] void ThrowSystem(const char* action, const char* path, int error) {
  ThrowFormatted(fileListErrorText, sizeof fileListErrorText, "Could not %s [%s]: %s", action, path,
                 std::strerror(error));
}

// Resolves `argument` into `out` (kMaxPath + 1 bytes) or throws.
void ResolvePath(const char* argument, char* out) {
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(argument, nullptr), &std::free);
  if (!resolved) ThrowSystem("resolve", argument, errno);
  const size_t length = std::strlen(resolved.get());
  if (length > kMaxPath) ThrowPathTooLong(resolved.get());
  std::memcpy(out, resolved.get(), length + 1);
}

bool HasListedExtension(const char* path) {
  char extension[1024];
  GetExtension(path, extension);
  for (const char* const* mask = fileList.masks; mask != nullptr && *mask != nullptr; ++mask) {
    // The mask's "*" is skipped: "*.gz" is compared as ".gz".
    if ((*mask)[0] != '\0' && strcasecmp(extension, *mask + 1) == 0) return true;
  }
  return false;
}

// Lists the file at `path` (status `status`, not a folder) if it is one the
// program handles and not listed already.
void AddFile(const char* path, const struct stat& status) {
  uint8_t format = 0;
  if (!fileList.scanAll) {
    if (!HasListedExtension(path)) return;
  } else if (!S_ISREG(status.st_mode) || !DetectFormat(path, &format)) {
    return;
  }
  const FileIdentity identity = {static_cast<uint64_t>(status.st_dev),
                                 static_cast<uint64_t>(status.st_ino)};
  if (fileList.identities->listed.count(identity) != 0) return;  // listed already
  if (fileList.count >= fileList.capacity) throw static_cast<Message>("Too many files");
  fileList.identities->listed.insert(identity);
  const char* stored = fileList.textStore->AddText(path);
  fileList.formats[fileList.count] = format;
  fileList.names[fileList.count] = stored;
  fileList.count += 1;
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
  if (descriptor < 0) ThrowSystem("read folder", path, errno);
  DIR* folder = ::fdopendir(descriptor);
  if (folder == nullptr) {
    const int error = errno;
    ::close(descriptor);
    ThrowSystem("read folder", path, error);
  }
  std::unique_ptr<DIR, int (*)(DIR*)> closer(folder, &::closedir);
  std::vector<FolderEntry> entries;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(folder);
    if (entry == nullptr) {
      if (errno != 0) ThrowSystem("read folder", path, errno);
      break;
    }
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    FolderEntry item{entry->d_name, {}};
    if (::fstatat(::dirfd(folder), entry->d_name, &item.status, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;  // removed meanwhile
      ThrowSystem("examine", (std::string(path) + "/" + entry->d_name).c_str(), errno);
    }
    entries.push_back(std::move(item));
  }
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  return entries;
}

void AddFolder(const char* path) {
  const std::string prefix = std::strcmp(path, "/") == 0 ? "/" : std::string(path) + "/";
  for (const FolderEntry& entry : ReadFolder(path)) {
    const bool folder = S_ISDIR(entry.status.st_mode);
    // Links, pipes and devices are not files to process; subfolders only with -r.
    if (folder ? !fileList.recurse : !S_ISREG(entry.status.st_mode)) continue;
    const std::string child = prefix + entry.name;
    if (child.size() > kMaxPath) ThrowPathTooLong(child.c_str());
    if (folder)
      AddFolder(child.c_str());
    else
      AddFile(child.c_str(), entry.status);
  }
}

}  // namespace

void CreateFileList(const char** names, uint8_t* formats, uint32_t capacity,
                    const char* const* masks, uint32_t recurse, uint32_t scanAll) {
  ReleaseFileList();
  fileList.names = names;
  fileList.formats = formats;
  fileList.capacity = capacity;
  fileList.masks = masks;
  fileList.recurse = recurse;
  fileList.scanAll = scanAll;
  fileList.count = 0;
  fileList.textStore = new (std::nothrow) TextBuffers;
  if (fileList.textStore == nullptr) throw static_cast<Message>("Could not new TextBuffers");
  fileList.identities = new FileIdentityIndex;
}

uint32_t AddFileSpec(const char* argument) {
  if (fileList.textStore == nullptr || fileList.identities == nullptr)
    throw static_cast<Message>("AddFileSpec(): File list not created!?!?!?");
  const uint32_t countBefore = fileList.count;
  char path[kMaxPath + 1];
  ResolvePath(argument, path);
  struct stat status;
  if (::stat(path, &status) != 0) ThrowSystem("examine", path, errno);
  if (S_ISDIR(status.st_mode))
    AddFolder(path);
  else
    AddFile(path, status);
  return fileList.count - countBefore;
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
  if (got < sizeof head) return 0;

  static const uint8_t kGzip[] = {0x1F, 0x8B, 0x08};
  static const uint8_t kPng[] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
  static const uint8_t kZip[] = {0x50, 0x4B, 0x03, 0x04};
  if (std::memcmp(head, kGzip, sizeof kGzip) == 0) {
    *format = GZIP;
  } else if (std::memcmp(head, kPng, sizeof kPng) == 0) {
    *format = PNG;
  } else if (std::memcmp(head, kZip, sizeof kZip) == 0) {
    *format = ZIP;
  } else {
    return 0;
  }
  return 1;
}

void ReleaseFileList() {
  if (fileList.textStore != nullptr) {
    fileList.textStore->Clear();
    delete fileList.textStore;
    fileList.textStore = nullptr;
  }
  delete fileList.identities;
  fileList.identities = nullptr;
  fileList.count = 0;  // the names went with their store
}
