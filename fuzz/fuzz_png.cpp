// A PNG file through the library, in memory. A rewritten file has correct
// chunk CRCs (but on critical chunks of unknown type, which are kept exactly
// as they were, in their places), ends with its last chunk, keeps its chunk
// order for the chunks it keeps, and its image data decode to the same bytes.
#include <zlib.h>

#include <optional>
#include <string>
#include <vector>

#include "content_signature.h"
#include "fuzz_common.h"

namespace {

uint32_t Big32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

struct PngContent {
  fuzz::Bytes imageData;                     // the IDAT chunks' data, joined
  std::vector<std::string> types;            // chunk types in order, IDAT runs as one
  std::vector<fuzz::Bytes> unknownCritical;  // such chunks whole, in order
  bool crcsRight = true;
};

bool IsUnknownCritical(const std::string& type) {
  return type[0] >= 'A' && type[0] <= 'Z' && type != "IHDR" && type != "PLTE" && type != "IDAT" &&
         type != "IEND";
}

std::optional<PngContent> ReadChunks(const fuzz::Bytes& file) {
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 13, 10, 26, 10};
  if (file.size() < 8 || !std::equal(kSignature, kSignature + 8, file.begin())) return std::nullopt;
  PngContent content;
  size_t pos = 8;
  while (pos < file.size()) {
    if (file.size() - pos < 12) return std::nullopt;
    const uint32_t length = Big32(&file[pos]);
    if (length > file.size() - pos - 12) return std::nullopt;
    const std::string type(reinterpret_cast<const char*>(&file[pos + 4]), 4);
    const uint32_t crc = static_cast<uint32_t>(crc32(0, &file[pos + 4], length + 4));
    if (IsUnknownCritical(type))
      content.unknownCritical.emplace_back(&file[pos], &file[pos + 12 + length]);
    else if (crc != Big32(&file[pos + 8 + length]))
      content.crcsRight = false;
    if (type == "IDAT") {
      content.imageData.insert(content.imageData.end(), &file[pos + 8], &file[pos + 8 + length]);
      if (content.types.empty() || content.types.back() != "IDAT") content.types.push_back(type);
    } else {
      content.types.push_back(type);
    }
    pos += 12 + size_t{length};
  }
  return content;
}

std::optional<fuzz::Signature> ImageSignature(const fuzz::Bytes& zlibStream) {
  if (zlibStream.size() < 6) return std::nullopt;
  return fuzz::DeflateSignature(zlibStream.data() + 2, zlibStream.size() - 6);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  const fuzz::Bytes input(data, data + size);
  const fuzz::Bytes result = fuzz::Optimise(data, size, TRIMBIT_FORMAT_PNG);
  if (result == input) return 0;
  const auto before = ReadChunks(input);
  const auto after = ReadChunks(result);
  if (!before) fuzz::Fail("rewrote a file whose chunks cannot be read");
  if (!after) fuzz::Fail("the rewritten file's chunks cannot be read");
  if (!after->crcsRight) fuzz::Fail("a chunk CRC is wrong");
  // Kept chunks keep their order: the new list is a subsequence of the old.
  size_t k = 0;
  for (const auto& type : before->types)
    if (k < after->types.size() && after->types[k] == type) ++k;
  if (k != after->types.size()) fuzz::Fail("chunks were reordered or invented");
  if (after->unknownCritical != before->unknownCritical)
    fuzz::Fail("a critical chunk of unknown type was dropped or changed");
  // ...and each stays between the same chunks: the critical chunks keep their sequence.
  std::vector<std::string> criticalBefore, criticalAfter;
  for (const auto& type : before->types)
    if (type[0] < 'a') criticalBefore.push_back(type);
  for (const auto& type : after->types)
    if (type[0] < 'a') criticalAfter.push_back(type);
  if (criticalBefore != criticalAfter) fuzz::Fail("the critical chunks changed");
  const auto old = ImageSignature(before->imageData);
  const auto now = ImageSignature(after->imageData);
  if (old && (!now || *old != *now)) fuzz::Fail("the image data decode to other bytes");
  return 0;
}
