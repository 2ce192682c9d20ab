// A ZIP archive through the library, in memory. The library either refuses
// it untouched or writes an archive with the same members (central and local
// names byte for byte, each decoding to the same bytes; an encrypted or
// non-deflate member: the same stored bytes) and making the same folders on
// extraction. An archive holding bytes outside its members and records must
// come out untouched. All judged by a reader written here from the format,
// not the program's own.
#include <algorithm>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "content_signature.h"
#include "fuzz_common.h"

namespace {

uint32_t Little16(const uint8_t* p) {
  return p[0] | (p[1] << 8);
}
uint32_t Little32(const uint8_t* p) {
  return Little16(p) | (Little16(p + 2) << 16);
}

// central name, local name, kind (0: plain data; 1 + method: stored bytes), content
using Member = std::tuple<std::string, std::string, uint32_t, fuzz::Signature>;

struct Archive {
  std::vector<Member> members;    // every entry that is not an empty folder, sorted
  std::set<std::string> folders;  // the folders extraction makes
  bool outside = false;           // bytes that belong to no member or record
};

bool NamesSomething(const std::string& component) {
  return !component.empty() && component != "." && component != "..";
}

// Every folder above name that extraction makes: a prefix ending in '/'
// followed by at least one component that names something.
void AddFoldersAbove(const std::string& name, std::set<std::string>* folders) {
  for (size_t slash = name.find('/'); slash != std::string::npos;
       slash = name.find('/', slash + 1)) {
    bool below = false;
    size_t start = slash + 1;
    while (!below && start <= name.size()) {
      size_t end = name.find('/', start);
      if (end == std::string::npos) end = name.size();
      below = NamesSomething(name.substr(start, end - start));
      start = end + 1;
    }
    if (below) folders->insert(name.substr(0, slash + 1));
  }
}

std::optional<Archive> ReadArchive(const fuzz::Bytes& file) {
  if (file.size() < 22) return std::nullopt;
  size_t end = file.size() - 22;
  for (;;) {
    if (Little32(&file[end]) == 0x06054B50) break;
    if (end == 0) return std::nullopt;
    --end;
  }
  const uint32_t dirSize = Little32(&file[end + 12]);
  const uint32_t dirOffset = Little32(&file[end + 16]);
  if (dirOffset > end || dirSize > end - dirOffset) return std::nullopt;
  Archive archive;
  // Behind the directory: the end record, or a digital signature and then it.
  size_t behind = size_t{dirOffset} + dirSize;
  if (behind + 6 <= end && Little32(&file[behind]) == 0x05054B50)
    behind += 6 + Little16(&file[behind + 4]);
  archive.outside = behind != end || end + 22 + Little16(&file[end + 20]) != file.size();

  // Every entry the directory's size holds, whatever the end record counts.
  // local header offset, end of member (with a 12-byte descriptor), whether it has one
  std::vector<std::tuple<size_t, size_t, bool>> spans;
  size_t p = dirOffset;
  const size_t dirEnd = size_t{dirOffset} + dirSize;
  while (p < dirEnd) {
    if (p + 46 > dirEnd || Little32(&file[p]) != 0x02014B50) return std::nullopt;
    const uint32_t flags = Little16(&file[p + 8]), method = Little16(&file[p + 10]);
    const uint32_t compressed = Little32(&file[p + 20]);
    const uint32_t n = Little16(&file[p + 28]), m = Little16(&file[p + 30]),
                   k = Little16(&file[p + 32]);
    const uint32_t local = Little32(&file[p + 42]);
    if (p + 46 + n + m + k > dirEnd) return std::nullopt;
    const std::string name(reinterpret_cast<const char*>(&file[p + 46]), n);
    p += 46 + n + m + k;
    if (local > file.size() || file.size() - local < 30 || Little32(&file[local]) != 0x04034B50)
      return std::nullopt;
    const uint32_t localFlags = Little16(&file[local + 6]), localN = Little16(&file[local + 26]);
    const size_t data = size_t{local} + 30 + localN + Little16(&file[local + 28]);
    if (data > file.size() || compressed > file.size() - data) return std::nullopt;
    const std::string localName(reinterpret_cast<const char*>(&file[local + 30]), localN);
    const bool descriptor = (localFlags & 8) != 0;
    spans.emplace_back(local, data + compressed + (descriptor ? 12 : 0), descriptor);

    const uint8_t* bytes = &file[data];
    Member member;
    if (flags & 1) {
      member = {name, localName, 1 + method, fuzz::RawSignature(bytes, compressed)};
    } else if (compressed == 0 || method == 0) {
      member = {name, localName, 0, fuzz::RawSignature(bytes, compressed)};
    } else if (method == 8) {
      auto content = fuzz::DeflateSignature(bytes, compressed);
      if (!content) return std::nullopt;
      member = {name, localName, 0, *content};
    } else {
      member = {name, localName, 1 + method, fuzz::RawSignature(bytes, compressed)};
    }
    AddFoldersAbove(name, &archive.folders);
    if (!(flags & 1) && !name.empty() && name.back() == '/' && std::get<3>(member).first == 0)
      archive.folders.insert(name);
    else
      archive.members.push_back(member);
  }
  std::sort(archive.members.begin(), archive.members.end());

  // Members follow one another from the start of the file to the directory;
  // a data descriptor may take 12 bytes, or 16 with its signature.
  std::sort(spans.begin(), spans.end());
  size_t expected = 0;
  bool signedDescriptor = false;  // a descriptor may have 4 bytes more
  for (const auto& [start, stop, descriptor] : spans) {
    if (start != expected && !(signedDescriptor && start == expected + 4)) archive.outside = true;
    expected = stop;
    signedDescriptor = descriptor;
  }
  if (dirOffset != expected && !(signedDescriptor && dirOffset == expected + 4))
    archive.outside = true;
  return archive;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  const fuzz::Bytes input(data, data + size);
  const fuzz::Bytes result = fuzz::Optimise(data, size, TRIMBIT_FORMAT_ZIP);
  if (result == input) return 0;
  // An archive this reader cannot follow (a local header that contradicts
  // its central entry, say) may stay just as unreadable: nothing to compare.
  const auto before = ReadArchive(input);
  if (!before) return 0;
  if (before->outside) fuzz::Fail("an archive with data outside its members was rewritten");
  const auto after = ReadArchive(result);
  if (!after) fuzz::Fail("the rewritten archive cannot be read");
  if (before->members != after->members) fuzz::Fail("the members differ in name or content");
  if (before->folders != after->folders) fuzz::Fail("the folders differ");
  return 0;
}
