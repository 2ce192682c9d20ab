#include "fuzz_common.h"

#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/run.h"

namespace fuzz {

namespace {

std::string ScratchFolder() {
  static std::string folder;
  if (folder.empty()) {
    char pattern[] = "/tmp/trimbit-fuzz-XXXXXX";
    if (mkdtemp(pattern) == nullptr) Fail("cannot create a scratch folder");
    folder = pattern;
    // The program reports refusals on standard output; keep the fuzzer's log readable.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) Fail("cannot silence stdout");
  }
  return folder;
}

Bytes ReadAll(const std::string& path) {
  Bytes out;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) Fail("the file vanished");
  uint8_t buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
    out.insert(out.end(), buffer, buffer + n);
  std::fclose(f);
  return out;
}

}  // namespace

void Fail(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

Bytes RunOnScratchFile(const uint8_t* data, size_t size, const char* extension,
                       const char* option) {
  const std::string path = ScratchFolder() + "/input" + extension;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr || (size > 0 && std::fwrite(data, 1, size, f) != size))
    Fail("cannot write input");
  std::fclose(f);

  std::vector<char*> argv;
  char name[] = "trimbit", silent[] = "-s";
  std::string extra = option ? option : "";
  argv.push_back(name);
  argv.push_back(silent);
  if (option) argv.push_back(extra.data());
  std::string pathArg = path;
  argv.push_back(pathArg.data());
  const int status = trimbit::RunTrimbit(static_cast<int>(argv.size()), argv.data());

  Bytes result = ReadAll(path);
  if (access((path + "trbQLX").c_str(), F_OK) == 0) Fail("temporary file left behind");
  if (status != 0 && (result.size() != size || (size && std::memcmp(result.data(), data, size))))
    Fail("a refused file was changed");
  if (result.size() > size) Fail("the file grew");
  std::remove(path.c_str());
  return result;
}

Verdict InflateVerdict(const uint8_t* data, size_t size, Bytes* out, size_t* used, int windowBits) {
  z_stream zs{};
  if (inflateInit2(&zs, windowBits) != Z_OK) Fail("inflateInit2 failed");
  out->clear();
  uint8_t chunk[65536];
  zs.next_in = const_cast<Bytef*>(data);
  zs.avail_in = static_cast<uInt>(size);
  int rc;
  bool tooLarge = false;
  do {
    zs.next_out = chunk;
    zs.avail_out = sizeof chunk;
    rc = inflate(&zs, Z_NO_FLUSH);
    out->insert(out->end(), chunk, chunk + (sizeof chunk - zs.avail_out));
    // Inputs are small, but a tiny stream can still inflate to a lot.
    tooLarge = out->size() > (64u << 20);
  } while (rc == Z_OK && !tooLarge && (zs.avail_in > 0 || zs.avail_out == 0));
  if (used) *used = size - zs.avail_in;
  inflateEnd(&zs);
  if (rc == Z_STREAM_END) return Verdict::kRead;
  if (tooLarge) return Verdict::kTooLarge;
  // Z_OK or Z_BUF_ERROR: all input taken and the stream not ended.
  return rc == Z_OK || rc == Z_BUF_ERROR ? Verdict::kCut : Verdict::kRefused;
}

}  // namespace fuzz
