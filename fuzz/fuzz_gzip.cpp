// A GZIP file through the library, in memory. A file the program rewrites
// must hold the same members, each decoding to the same bytes, and the same
// bytes after the last member; every member of it passes zlib's own check
// (header, CRC-32 and size), since a damaged member is refused and never
// polished; it never grows, and a refusal says why (see fuzz_common.h).
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "content_signature.h"
#include "fuzz_common.h"

namespace {

struct GzipContent {
  std::vector<fuzz::Signature> members;
  std::vector<std::pair<size_t, size_t>> spans;  // each member's first byte and length
  fuzz::Bytes trailing;
};

// Walks the members the way the format defines them; stops at the first
// bytes that do not form a readable member and keeps them as trailing data.
std::optional<GzipContent> ReadMembers(const fuzz::Bytes& file) {
  GzipContent content;
  size_t pos = 0;
  while (pos + 18 <= file.size() && file[pos] == 0x1F && file[pos + 1] == 0x8B &&
         file[pos + 2] == 8) {
    const uint8_t flags = file[pos + 3];
    size_t p = pos + 10;
    if (flags & 4) {
      if (p + 2 > file.size()) break;
      p += 2 + (file[p] | (file[p + 1] << 8));
    }
    for (uint8_t bit : {uint8_t{8}, uint8_t{16}}) {
      if (!(flags & bit)) continue;
      while (p < file.size() && file[p] != 0) ++p;
      ++p;
    }
    if (flags & 2) p += 2;
    if (p >= file.size()) break;
    size_t used = 0;
    auto signature = fuzz::DeflateSignature(file.data() + p, file.size() - p, &used);
    if (!signature || p + used + 8 > file.size()) break;
    content.members.push_back(*signature);
    content.spans.push_back({pos, p + used + 8 - pos});
    pos = p + used + 8;
  }
  if (content.members.empty()) return std::nullopt;
  content.trailing.assign(file.begin() + static_cast<long>(pos), file.end());
  return content;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  const fuzz::Bytes input(data, data + size);
  const fuzz::Bytes result = fuzz::Optimise(data, size, TRIMBIT_FORMAT_GZIP);
  if (result == input) return 0;
  const auto before = ReadMembers(input);
  const auto after = ReadMembers(result);
  if (!before) fuzz::Fail("rewrote a file whose members cannot be read");
  if (!after) fuzz::Fail("the rewritten file's members cannot be read");
  if (before->members != after->members) fuzz::Fail("the members decode to other bytes");
  if (before->trailing != after->trailing) fuzz::Fail("the bytes after the members changed");
  fuzz::Bytes inflated;
  for (const auto& [start, length] : after->spans)
    if (!fuzz::Inflate(result.data() + start, length, &inflated, nullptr, 31))
      fuzz::Fail("zlib finds a rewritten member damaged");
  return 0;
}
