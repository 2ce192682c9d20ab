// A ZIP archive through the command-line path. A rewritten archive lists the
// same members (directory entries aside), each decoding to the same bytes
// (an encrypted or non-deflate member: the same stored bytes), judged by a
// reader written here from the format, not the program's own.
#include <algorithm>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "content_signature.h"
#include "fuzz_common.h"

namespace {

uint32_t Little16(const uint8_t* p) { return p[0] | (p[1] << 8); }
uint32_t Little32(const uint8_t* p) { return Little16(p) | (Little16(p + 2) << 16); }

using Member = std::tuple<std::string, uint32_t, fuzz::Signature>;  // name, kind, content

std::optional<std::vector<Member>> ReadArchive(const fuzz::Bytes& file) {
  if (file.size() < 22) return std::nullopt;
  size_t end = file.size() - 22;
  for (;;) {
    if (Little32(&file[end]) == 0x06054B50) break;
    if (end == 0) return std::nullopt;
    --end;
  }
  const uint32_t entries = Little16(&file[end + 10]);
  const uint32_t dirSize = Little32(&file[end + 12]);
  const uint32_t dirOffset = Little32(&file[end + 16]);
  if (dirOffset > file.size() || dirSize > file.size() - dirOffset) return std::nullopt;
  std::vector<Member> members;
  size_t p = dirOffset;
  for (uint32_t i = 0; i < entries; ++i) {
    if (p + 46 > size_t{dirOffset} + dirSize || Little32(&file[p]) != 0x02014B50) return std::nullopt;
    const uint32_t flags = Little16(&file[p + 8]), method = Little16(&file[p + 10]);
    const uint32_t compressed = Little32(&file[p + 20]), uncompressed = Little32(&file[p + 24]);
    const uint32_t n = Little16(&file[p + 28]), m = Little16(&file[p + 30]), k = Little16(&file[p + 32]);
    const uint32_t local = Little32(&file[p + 42]);
    if (p + 46 + n + m + k > size_t{dirOffset} + dirSize) return std::nullopt;
    std::string name(reinterpret_cast<const char*>(&file[p + 46]), n);
    std::replace(name.begin(), name.end(), '\\', '/');
    p += 46 + n + m + k;
    if (local > file.size() || file.size() - local < 30 || Little32(&file[local]) != 0x04034B50)
      return std::nullopt;
    const size_t data = size_t{local} + 30 + Little16(&file[local + 26]) + Little16(&file[local + 28]);
    if (data > file.size() || compressed > file.size() - data) return std::nullopt;
    // An unencrypted entry that reads as nothing under a folder's name is a
    // folder, whatever bytes it claims to store: the rewrite leaves it out.
    if (!(flags & 1) && uncompressed == 0 && (name.empty() || name.back() == '/')) continue;
    const uint8_t* bytes = &file[data];
    if (flags & 1) {
      members.emplace_back(name, 1 + method, fuzz::RawSignature(bytes, compressed));
    } else if (uncompressed == 0) {
      // Whatever an empty member's data hold, it reads back as nothing.
      members.emplace_back(name, 0, fuzz::RawSignature(bytes, 0));
    } else if (method == 8) {
      auto content = fuzz::DeflateSignature(bytes, compressed);
      if (!content) return std::nullopt;
      members.emplace_back(name, 0, *content);
    } else {
      members.emplace_back(name, method == 0 ? 0 : 1 + method, fuzz::RawSignature(bytes, compressed));
    }
  }
  std::sort(members.begin(), members.end());
  return members;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  const fuzz::Bytes input(data, data + size);
  const fuzz::Bytes result = fuzz::RunOnScratchFile(data, size, ".zip");
  if (result == input) return 0;
  // An archive this reader cannot follow (a local header that contradicts
  // its central entry, say) may stay just as unreadable: nothing to compare.
  const auto before = ReadArchive(input);
  if (!before) return 0;
  const auto after = ReadArchive(result);
  if (!after) fuzz::Fail("the rewritten archive cannot be read");
  if (*before != *after) fuzz::Fail("the members decode to other bytes");
  return 0;
}
