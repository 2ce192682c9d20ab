// The library's version and the one place that knows the formats' signatures.
#include <cstring>

#include "trimbit.h"

extern "C" {

const char* trimbit_version(void) {
  return TRIMBIT_VERSION_TEXT;
}

trimbit_format trimbit_detect_format(const uint8_t* data, size_t size) {
  static const uint8_t kGzip[] = {0x1F, 0x8B, 0x08};
  static const uint8_t kPng[] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
  static const uint8_t kZip[] = {0x50, 0x4B, 0x03, 0x04};
  if (data == nullptr || size < 8) return TRIMBIT_FORMAT_UNKNOWN;
  if (std::memcmp(data, kGzip, sizeof kGzip) == 0) return TRIMBIT_FORMAT_GZIP;
  if (std::memcmp(data, kPng, sizeof kPng) == 0) return TRIMBIT_FORMAT_PNG;
  if (std::memcmp(data, kZip, sizeof kZip) == 0) return TRIMBIT_FORMAT_ZIP;
  return TRIMBIT_FORMAT_UNKNOWN;
}

}  // extern "C"
