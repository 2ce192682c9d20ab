#include "common/images.h"

#include <zlib.h>

#include <utility>

namespace testutil {
namespace {

void Put(Bytes& out, uint32_t value, int width) {
  for (int k = 0; k < width; ++k) out.push_back(static_cast<uint8_t>(value >> (8 * k)));
}

void PutBig32(Bytes& out, uint32_t value) {
  for (int k = 3; k >= 0; --k) out.push_back(static_cast<uint8_t>(value >> (8 * k)));
}

uint32_t Crc(const Bytes& data) {
  return static_cast<uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size())));
}

}  // namespace

Bytes GzipMember(const Bytes& content, int level) {
  Bytes out = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 3};
  const Bytes stream = DeflateRaw(content, level);
  out.insert(out.end(), stream.begin(), stream.end());
  Put(out, Crc(content), 4);
  Put(out, static_cast<uint32_t>(content.size()), 4);
  return out;
}

Bytes PngChunk(const std::string& type, const Bytes& data) {
  Bytes out;
  PutBig32(out, static_cast<uint32_t>(data.size()));
  Bytes typed(type.begin(), type.end());
  typed.insert(typed.end(), data.begin(), data.end());
  out.insert(out.end(), typed.begin(), typed.end());
  PutBig32(out, Crc(typed));
  return out;
}

Bytes PngImageData(uint32_t width, uint32_t height, int level) {
  Bytes rows;
  const Bytes pixels = Mixture(size_t{width} * height, width ^ height);
  for (uint32_t y = 0; y < height; ++y) {
    rows.push_back(0);
    rows.insert(rows.end(), pixels.begin() + y * width, pixels.begin() + (y + 1) * width);
  }
  return DeflateZlib(rows, level);
}

Bytes Png(uint32_t width, uint32_t height, const std::vector<Bytes>& chunks, int level) {
  Bytes out = {0x89, 'P', 'N', 'G', 13, 10, 26, 10}, header;
  PutBig32(header, width);
  PutBig32(header, height);
  header.insert(header.end(), {8, 0, 0, 0, 0});
  std::vector<Bytes> body = {PngChunk("IHDR", header)};
  if (chunks.empty()) {
    body.push_back(PngChunk("IDAT", PngImageData(width, height, level)));
    body.push_back(PngChunk("IEND", {}));
  }
  body.insert(body.end(), chunks.begin(), chunks.end());
  for (const Bytes& chunk : body) out.insert(out.end(), chunk.begin(), chunk.end());
  return out;
}

Bytes Zip(const std::vector<ZipMember>& members, int level) {
  Bytes out, directory;
  for (const ZipMember& member : members) {
    const Bytes data = DeflateRaw(member.content, level);
    const uint32_t offset = static_cast<uint32_t>(out.size());
    const uint32_t crc = Crc(member.content), packed = static_cast<uint32_t>(data.size()),
                   size = static_cast<uint32_t>(member.content.size()),
                   nameLength = static_cast<uint32_t>(member.name.size());
    // Version needed 20, no flags, deflate, time and date 0; the central entry
    // adds "made by" before and comment, disk, attributes and offset after.
    const std::pair<uint32_t, int> common[] = {
        {20, 2}, {0, 2}, {8, 2}, {0, 4}, {crc, 4}, {packed, 4}, {size, 4}, {nameLength, 2}, {0, 2}};
    Put(out, 0x04034B50, 4);
    Put(directory, 0x02014B50, 4);
    Put(directory, 20, 2);
    for (const auto& [value, width] : common) Put(out, value, width), Put(directory, value, width);
    directory.insert(directory.end(), 10, 0);
    Put(directory, offset, 4);
    out.insert(out.end(), member.name.begin(), member.name.end());
    directory.insert(directory.end(), member.name.begin(), member.name.end());
    out.insert(out.end(), data.begin(), data.end());
  }
  const uint32_t directoryAt = static_cast<uint32_t>(out.size());
  out.insert(out.end(), directory.begin(), directory.end());
  const uint32_t count = static_cast<uint32_t>(members.size());
  Put(out, 0x06054B50, 4);
  Put(out, 0, 4);  // disks
  Put(out, count | count << 16, 4);
  Put(out, static_cast<uint32_t>(directory.size()), 4);
  Put(out, directoryAt, 4);
  Put(out, 0, 2);
  return out;
}

Bytes Patched(Bytes image, size_t at, uint32_t value, int width, bool bigEndian) {
  for (int k = 0; k < width; ++k)
    image.at(at + k) = static_cast<uint8_t>(value >> (8 * (bigEndian ? width - 1 - k : k)));
  return image;
}

}  // namespace testutil
