// Collecting the files to process. Each argument is resolved to an absolute
// path, judged by its extension (or, with -a, by its first bytes), and listed
// once: names that differ only in the case of ASCII letters count as one, and
// the first one named wins. Duplicates are found through a hash table of the
// case-folded names, so a list of a million names costs no more than a
// million look-ups.
#include "driver/file_list.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "driver/file_state.h"
#include "support/message.h"
#include "support/text_buffers.h"

// Open addressing over the indices of listed names; a slot holds index + 1,
// 0 when empty. Kept at most half full.
struct FileNameIndex {
  std::unique_ptr<uint32_t[]> slots;   // index + 1 of a listed name, or 0
  std::unique_ptr<uint32_t[]> hashes;  // hash of the folded name in the same slot
  uint32_t mask = 0;                   // slot count - 1 (a power of two minus one)
  uint32_t used = 0;                   // occupied slots
};

FileList fileList = {};

namespace {

constexpr uint32_t kMaxPath = 1023;  // longest resolved path the program handles

char FoldCase(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

uint32_t FoldedHash(const char* text) {
  uint32_t hash = 2166136261u;  // FNV-1a
  for (; *text != '\0'; ++text) {
    hash ^= static_cast<uint8_t>(FoldCase(*text));
    hash *= 16777619u;
  }
  return hash;
}

bool EqualFolded(const char* a, const char* b) {
  for (; *a != '\0' && FoldCase(*a) == FoldCase(*b); ++a, ++b) {
  }
  return *a == *b;
}

void AllocateSlots(FileNameIndex& index, uint32_t slotCount) {
  index.slots.reset(new (std::nothrow) uint32_t[slotCount]());
  index.hashes.reset(new (std::nothrow) uint32_t[slotCount]());
  if (!index.slots || !index.hashes)
    throw static_cast<Message>("Could not allocate file name index");
  index.mask = slotCount - 1;
  index.used = 0;
}

// The slot holding `name`, or the empty slot where it belongs.
uint32_t FindSlot(const FileNameIndex& index, const char* name, uint32_t hash) {
  uint32_t slot = hash & index.mask;
  while (index.slots[slot] != 0) {
    if (index.hashes[slot] == hash && EqualFolded(fileList.names[index.slots[slot] - 1], name))
      return slot;
    slot = (slot + 1) & index.mask;
  }
  return slot;
}

void InsertIntoIndex(FileNameIndex& index, uint32_t entry, uint32_t hash) {
  uint32_t slot = hash & index.mask;
  while (index.slots[slot] != 0) slot = (slot + 1) & index.mask;
  index.slots[slot] = entry + 1;
  index.hashes[slot] = hash;
  index.used += 1;
}

// Doubles the table once it would be more than half full.
void GrowIndexIfNeeded(FileNameIndex& index) {
  if (static_cast<uint64_t>(index.used + 1) * 2 <= static_cast<uint64_t>(index.mask) + 1) return;
  FileNameIndex bigger;
  AllocateSlots(bigger, (index.mask + 1) * 2);
  for (uint32_t slot = 0; slot <= index.mask; ++slot)
    if (index.slots[slot] != 0) InsertIntoIndex(bigger, index.slots[slot] - 1, index.hashes[slot]);
  index.slots.swap(bigger.slots);
  index.hashes.swap(bigger.hashes);
  index.mask = bigger.mask;
  index.used = bigger.used;
}

// Resolves `argument` into `out` (kMaxPath + 1 bytes) or throws.
void ResolvePath(const char* argument, char* out) {
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(argument, nullptr), &std::free);
  if (!resolved) throw static_cast<Message>("realpath() failed");
  const size_t length = std::strlen(resolved.get());
  if (length > kMaxPath) {
    static char pathErrorText[4200];
    ThrowFormatted(pathErrorText, sizeof pathErrorText, "Path longer than %u characters [%s]",
                   kMaxPath, resolved.get());
  }
  std::memcpy(out, resolved.get(), length + 1);
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
  fileList.nameIndex = new (std::nothrow) FileNameIndex;
  if (fileList.nameIndex == nullptr)
    throw static_cast<Message>("Could not allocate file name index");
  AllocateSlots(*fileList.nameIndex, 1024);
}

uint32_t AddFileSpec(const char* argument) {
  if (fileList.textStore == nullptr || fileList.nameIndex == nullptr)
    throw static_cast<Message>("AddFileSpec(): File list not created!?!?!?");
  const uint32_t countBefore = fileList.count;

  char path[kMaxPath + 1];
  ResolvePath(argument, path);

  uint8_t format = 0;
  if (!fileList.scanAll) {
    char extension[1024];
    GetExtension(path, extension);
    bool matched = false;
    for (const char* const* mask = fileList.masks; mask != nullptr && *mask != nullptr; ++mask) {
      // The mask's "*" is skipped: "*.gz" is compared as ".gz".
      if ((*mask)[0] != '\0' && strcasecmp(extension, *mask + 1) == 0) {
        matched = true;
        break;
      }
    }
    if (!matched) return 0;
  } else if (!DetectFormat(path, &format)) {
    return 0;
  }

  FileNameIndex& index = *fileList.nameIndex;
  const uint32_t hash = FoldedHash(path);
  if (index.slots[FindSlot(index, path, hash)] != 0) return 0;  // listed already

  if (fileList.count >= fileList.capacity) throw static_cast<Message>("Too many files");
  GrowIndexIfNeeded(index);

  // The resolved path is stored exactly: it starts with "/", so there are no
  // quotes to drop, and trimming would turn a name that ends in a blank into
  // the name of another file.
  const char* stored = fileList.textStore->AddText(path, false, false);
  fileList.formats[fileList.count] = format;
  fileList.names[fileList.count] = stored;
  InsertIntoIndex(index, fileList.count, hash);
  fileList.count += 1;
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
  const int descriptor = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
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
  delete fileList.nameIndex;
  fileList.nameIndex = nullptr;
  fileList.count = 0;  // the names went with their store
}
