// Finding the zlib stream inside iCCP, zTXt and iTXt chunks: well-formed
// chunks give the stream's offset; malformed ones are refused without any
// search leaving the chunk (each case sits at the very end of a buffer, so a
// search past it would read outside and be caught by the sanitizers).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "containers/png_state.h"

namespace {

struct LocateCase {
  const char* type;
  std::string data;
  uint32_t expected;    // offset of the stream, or kNoChunkStream
  const char* failure;  // part of the message when refused, else null
};

TEST(LocateChunkStream, FindsTheStreamOrRefusesTheChunk) {
  using namespace std::string_literals;
  const LocateCase cases[] = {
      {"zTXt", "Comment\0\0x\x9c"s, 9, nullptr},
      {"iCCP", "ICC profile\0\0x"s, 13, nullptr},
      {"zTXt", "k\0\0"s, 3, nullptr},  // empty stream: refused later, when it is opened
      {"iTXt", "Title\0\1\0en\0Titel\0x\x9c"s, 17, nullptr},
      {"iTXt", "Title\0\1\0\0\0x"s, 10, nullptr},  // empty language tag and translation
      {"iTXt", "Title\0\0\0en\0\0plain text"s, kNoChunkStream, nullptr},
      {"iTXt", "Title\0\0"s, kNoChunkStream, nullptr},
      {"zTXt", "no terminator"s, 0, "keyword not terminated"},
      {"zTXt", ""s, 0, "keyword not terminated"},
      {"iCCP", "profile\0"s, 0, "compression method missing"},
      {"zTXt", "Comment\0\1x\x9c"s, 0, "PNG compression method must be 0"},
      {"iTXt", "Title\0"s, 0, "compression flag missing"},
      {"iTXt", "Title\0\1"s, 0, "compression method missing"},
      {"iTXt", "Title\0\1\2en\0\0x"s, 0, "PNG compression method must be 0"},
      {"iTXt", "Title\0\1\0en"s, 0, "language tag not terminated"},
      {"iTXt", "Title\0\1\0en\0Titel"s, 0, "translated keyword not terminated"},
  };
  for (const LocateCase& tc : cases) {
    SCOPED_TRACE(std::string(tc.type) + " case with " + std::to_string(tc.data.size()) + " bytes");
    // Exactly the chunk's bytes, nothing readable behind them.
    std::unique_ptr<uint8_t[]> data(new uint8_t[tc.data.size()]);
    std::memcpy(data.get(), tc.data.data(), tc.data.size());
    const uint32_t length = static_cast<uint32_t>(tc.data.size());
    const uint32_t type = ReadBigEndian32(reinterpret_cast<const uint8_t*>(tc.type));
    if (tc.failure == nullptr) {
      EXPECT_EQ(LocateChunkStream(type, data.get(), length), tc.expected);
    } else {
      try {
        LocateChunkStream(type, data.get(), length);
        ADD_FAILURE() << "accepted";
      } catch (const char* message) {
        EXPECT_NE(std::strstr(message, tc.failure), nullptr) << message;
      }
    }
  }
}

}  // namespace
