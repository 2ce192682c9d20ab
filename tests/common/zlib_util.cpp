#include "zlib_util.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace testutil {

namespace {

uint32_t NextRandom(uint32_t& state) {
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return state;
}

Bytes RunDeflate(z_stream& zs, const Bytes& data, const std::vector<MidFlush>& flushes) {
  Bytes out;
  size_t pos = 0;
  size_t nextFlush = 0;
  Bytes chunk(1 << 16);
  for (;;) {
    size_t end = data.size();
    int flush = Z_FINISH;
    if (nextFlush < flushes.size() && flushes[nextFlush].at < data.size()) {
      end = flushes[nextFlush].at;
      flush = flushes[nextFlush].flush;
    }
    zs.next_in = const_cast<Bytef*>(data.data() + pos);
    zs.avail_in = static_cast<uInt>(end - pos);
    int rc;
    do {
      zs.next_out = chunk.data();
      zs.avail_out = static_cast<uInt>(chunk.size());
      rc = deflate(&zs, flush);
      if (rc == Z_STREAM_ERROR) throw std::runtime_error("deflate failed");
      out.insert(out.end(), chunk.data(), chunk.data() + (chunk.size() - zs.avail_out));
    } while (zs.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
    pos = end;
    if (flush == Z_FINISH) break;
    ++nextFlush;
  }
  deflateEnd(&zs);
  return out;
}

// Negative window bits: raw deflate; positive: a zlib stream.
Bytes Deflate(const Bytes& data, int level, int strategy, int windowBits, int memLevel,
              const std::vector<MidFlush>& flushes) {
  z_stream zs{};
  if (deflateInit2(&zs, level, Z_DEFLATED, windowBits, memLevel, strategy) != Z_OK)
    throw std::runtime_error("deflateInit2 failed");
  return RunDeflate(zs, data, flushes);
}

}  // namespace

Bytes DeflateRaw(const Bytes& data, int level, int strategy, int windowBits, int memLevel,
                 const std::vector<MidFlush>& flushes) {
  return Deflate(data, level, strategy, -windowBits, memLevel, flushes);
}

Bytes DeflateZlib(const Bytes& data, int level) {
  return Deflate(data, level, Z_DEFAULT_STRATEGY, 15, 8, {});
}

bool InflateRaw(const uint8_t* data, size_t size, Bytes* out, size_t* used) {
  z_stream zs{};
  if (inflateInit2(&zs, -15) != Z_OK) return false;
  out->clear();
  Bytes chunk(1 << 16);
  zs.next_in = const_cast<Bytef*>(data);
  zs.avail_in = static_cast<uInt>(size);
  int rc;
  do {
    zs.next_out = chunk.data();
    zs.avail_out = static_cast<uInt>(chunk.size());
    rc = inflate(&zs, Z_NO_FLUSH);
    out->insert(out->end(), chunk.data(), chunk.data() + (chunk.size() - zs.avail_out));
  } while (rc == Z_OK && (zs.avail_in > 0 || zs.avail_out == 0));
  if (used) *used = size - zs.avail_in;
  inflateEnd(&zs);
  return rc == Z_STREAM_END;
}

Bytes SampleText(size_t size, uint32_t seed) {
  static const char* const kWords[] = {
      "the",     "of",     "and",     "stream",   "block",  "bits",    "a",      "to",
      "in",      "code",   "length",  "distance", "window", "file",    "header", "is",
      "that",    "for",    "it",      "with",     "as",     "was",     "on",     "data",
      "Huffman", "symbol", "literal", "copy",     "table",  "trimbit", "zip",    "png"};
  Bytes out;
  uint32_t state = seed * 2654435761u + 1;
  while (out.size() < size) {
    const char* w = kWords[NextRandom(state) % 32];
    while (*w && out.size() < size) out.push_back(static_cast<uint8_t>(*w++));
    uint32_t r = NextRandom(state) % 16;
    if (out.size() < size) out.push_back(r == 0 ? '\n' : (r == 1 ? ',' : ' '));
  }
  return out;
}

Bytes RandomBytes(size_t size, uint32_t seed) {
  Bytes out(size);
  uint32_t state = seed * 2246822519u + 7;
  for (auto& b : out) b = static_cast<uint8_t>(NextRandom(state) >> 11);
  return out;
}

Bytes LongRuns(size_t size, uint32_t seed) {
  Bytes out;
  uint32_t state = seed * 3266489917u + 3;
  while (out.size() < size) {
    uint8_t value = static_cast<uint8_t>(NextRandom(state));
    size_t run = 1 + NextRandom(state) % 600;
    for (size_t i = 0; i < run && out.size() < size; ++i) out.push_back(value);
  }
  return out;
}

Bytes Mixture(size_t size, uint32_t seed) {
  Bytes out;
  uint32_t state = seed * 668265263u + 5;
  while (out.size() < size) {
    size_t piece = 200 + NextRandom(state) % 5000;
    const uint32_t kind = NextRandom(state) % 3, partSeed = NextRandom(state);
    const Bytes part = kind == 0   ? SampleText(piece, partSeed)
                       : kind == 1 ? RandomBytes(piece, partSeed)
                                   : LongRuns(piece, partSeed);
    out.insert(out.end(), part.begin(), part.begin() + std::min(part.size(), size - out.size()));
  }
  return out;
}

Bytes ReadFile(const std::string& path) {
  Bytes out;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) throw std::runtime_error("cannot open " + path);
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  std::fclose(f);
  return out;
}

void WriteFile(const std::string& path, const Bytes& data) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot create " + path);
  if (!data.empty() && std::fwrite(data.data(), 1, data.size(), f) != data.size()) {
    std::fclose(f);
    throw std::runtime_error("cannot write " + path);
  }
  std::fclose(f);
}

}  // namespace testutil
