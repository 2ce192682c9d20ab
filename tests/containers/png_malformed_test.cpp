// Hostile PNG images in memory: each is refused with the message the
// command line prints (without its "ERROR: " and final full stop).
#include <gtest/gtest.h>

#include "common/images.h"
#include "common/refusal.h"

namespace {

using testutil::Bytes;
using testutil::Patched;
using testutil::PngChunk;

Bytes Join(std::vector<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes Cut(const Bytes& image, size_t from, size_t to) {
  return Bytes(image.begin() + from, image.begin() + to);
}

Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

TEST(PngMalformed, IsRefusedWithTheCommandLinesMessage) {
  const Bytes stream = testutil::PngImageData(16, 16);
  const Bytes idat = PngChunk("IDAT", stream), iend = PngChunk("IEND", {});
  const Bytes good = testutil::Png(16, 16);
  const auto png = [&](std::vector<Bytes> chunks) {
    chunks.push_back(iend);
    return testutil::Png(16, 16, chunks);
  };
  const Bytes head = Cut(good, 0, 33);  // signature and IHDR
  const Bytes text = PngChunk("tEXt", Text("a")), zlibHeader = Cut(stream, 0, 2);
  const Bytes cgbi =
      Join({Cut(good, 0, 8), PngChunk("CgBI", {0x50, 0, 0x20, 6}), Cut(good, 8, 33), idat, iend});
  const struct {
    const char* damage;
    Bytes image;
    const char* message;
    int keepAll = 0;
  } cases[] = {
      {"signature", Patched(good, 7, 0, 1), "Invalid PNG signature"},
      {"no IDAT", png({}), "No IDAT chunk found"},
      {"no IEND either", Join({head, text}), "No IDAT chunk found"},
      {"colour type 1", Patched(good, 25, 1, 1), "Unknown colour type"},
      {"colour type 7", Patched(good, 25, 7, 1), "Unknown colour type"},
      {"compression method", Patched(good, 26, 1, 1), "PNG compression method must be 0"},
      {"IHDR of 12 bytes", Join({Cut(good, 0, 8), PngChunk("IHDR", Bytes(12)), idat, iend}),
       "IHDR too small"},
      {"IDAT, text, IDAT", png({idat, text, idat}), "Non-consecutive IDAT chunk"},
      {"4 bytes after IEND", Join({good, Bytes(4)}), "Unexpected end of file (1)"},
      {"IEND cut short", Cut(good, 0, good.size() - 3), "Unexpected end of file (2)"},
      // 0xFFFFFFF4 + 12 wraps to 0 in 32 bits.
      {"length that wraps", Patched(good, 33, 0xFFFFFFF4, 4, true), "Unexpected end of file (2)"},
      {"length 2^32 - 1", Patched(good, 33, 0xFFFFFFFF, 4, true), "Unexpected end of file (2)"},
      {"IDAT length one past IEND", Patched(good, 33, stream.size() + 13, 4, true),
       "Unexpected end of file (2)"},
      {"chunk type with a digit", png({PngChunk("t3Xt", Text("x")), idat}),
       "Invalid PNG chunk type (0x74335874)"},
      {"empty IDAT, then 1 byte", png({PngChunk("IDAT", {}), PngChunk("IDAT", Cut(stream, 0, 1))}),
       "IDAT chunk too short for a zlib header"},
      {"zlib header and 4 bytes", png({PngChunk("IDAT", zlibHeader), PngChunk("IDAT", Bytes(4))}),
       "zlib stream in IDAT chunk too short"},
      {"CgBI before IHDR", cgbi,
       "Apple CgBI PNG (CgBI chunk before IHDR): its image data are raw deflate without a zlib "
       "header, not a PNG zlib stream"},
      {"preset dictionary", png({PngChunk("IDAT", Patched(stream, 1, 0xBB, 1))}),
       "zlib stream in IDAT chunk asks for a preset dictionary"},
      {"deflate block type 3", png({PngChunk("IDAT", Patched(stream, 2, 0x07, 1))}),
       "Invalid block type"},
      // With -k the text chunks are parsed, each search inside its own chunk.
      {"zTXt keyword", png({PngChunk("zTXt", Text("Comment")), idat}),
       "Malformed zTXt chunk: keyword not terminated", 1},
      {"zTXt method", png({PngChunk("zTXt", Join({Text("Comment"), {0, 1}, zlibHeader})), idat}),
       "PNG compression method must be 0", 1},
      {"zTXt without a method", png({PngChunk("zTXt", Join({Text("Comment"), {0}})), idat}),
       "Malformed zTXt chunk: compression method missing", 1},
      {"iTXt without a flag", png({PngChunk("iTXt", Join({Text("Title"), {0}})), idat}),
       "Malformed iTXt chunk: compression flag missing", 1},
      {"iTXt language", png({PngChunk("iTXt", Join({Text("Title"), {0, 1, 0}, Text("en")})), idat}),
       "Malformed iTXt chunk: language tag not terminated", 1},
      {"iTXt translation",
       png({PngChunk("iTXt", Join({Text("Title"), {0, 1, 0}, Text("en"), {0}, Text("T")})), idat}),
       "Malformed iTXt chunk: translated keyword not terminated", 1},
      {"iCCP stream", png({PngChunk("iCCP", Join({Text("icc"), {0, 0, 0x78, 0x9C, 3}})), idat}),
       "zlib stream in iCCP chunk too short", 1},
  };
  for (const auto& c : cases) {
    const trimbit_options options = {0, 0, 0, c.keepAll, 1};
    EXPECT_EQ(testutil::Refusal(TRIMBIT_FORMAT_PNG, c.image, &options), c.message) << c.damage;
  }
  EXPECT_EQ(testutil::Refusal(TRIMBIT_FORMAT_PNG, good), "accepted");
}

}  // namespace
