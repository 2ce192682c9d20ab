// The data of an IDAT run cut into thousands of chunks (many empty or of a
// byte or two), read back as one stream through small windows: every
// offset in any order, and re-encoded into the very stream the joined bytes
// give, which zlib inflates to what the original did. A chunk that is no
// longer where the run found it ends the read.
#include "containers/png_idat_run.h"

#include <gtest/gtest.h>

#include <random>

#include "deflate/reencode.h"
#include "deflate/stream_builder.h"
#include "support/byte_order.h"
#include "support/error.h"

namespace {

using testutil::Bytes;

int ReadFile(void* file, uint64_t offset, void* buffer, size_t n) {
  const Bytes& bytes = *static_cast<const Bytes*>(file);
  std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), n,
              static_cast<uint8_t*>(buffer));
  return 0;
}

struct Reencoded {
  Bytes stream;
  uint64_t saved;
};

Reencoded Reencode(trimbit::InputWindow& input) {
  const auto codec = trimbit::NewCodecState();
  trimbit::SetWorkWindow(*codec, 1 << 16);
  trimbit::OutputBuffer buffer;
  trimbit::BufferSink sink(buffer);
  uint64_t newLength = 0, used = 0;
  const uint64_t saved =
      trimbit::ReencodeStreamIn(*codec, {}, input, 0, input.size(), sink, &newLength, &used);
  return {Bytes(buffer.data(), buffer.data() + buffer.size()), saved};
}

TEST(PngIdatRun, ReadsChunksAsOneStreamThroughSmallWindows) {
  std::mt19937 random(7);
  std::vector<handmade::Token> tokens;
  for (int i = 0; i < 300000; ++i) tokens.push_back(handmade::Lit(random() % 40 + 'a'));
  const Bytes stream = handmade::BitSink().Dynamic(true, tokens).bytes;

  Bytes file(8, 0);  // stands for the signature
  trimbit::InputWindow fileWindow(ReadFile, &file, 0, 1);
  const uint32_t sizes[] = {0, 1, 2, 0, 3, 50, 200, 7};
  std::vector<std::pair<uint32_t, uint32_t>> pieces;
  for (size_t at = 0, k = 0; at < stream.size(); ++k) {
    const uint32_t length = std::min<uint32_t>(sizes[k % 8], stream.size() - at);
    uint8_t head[8];
    trimbit::StoreBe32(head, length);
    trimbit::StoreBe32(head + 4, 0x49444154);
    file.insert(file.end(), head, head + 8);
    pieces.push_back({static_cast<uint32_t>(file.size()), length});
    file.insert(file.end(), stream.begin() + at, stream.begin() + at + length);
    file.insert(file.end(), 4, 0);
    at += length;
  }
  ASSERT_GT(pieces.size(), 3 * trimbit::kIdatMarkSpacing);
  trimbit::InputWindow input(ReadFile, &file, file.size(), 70000);
  trimbit::IdatRun run(input);
  for (const auto& [at, length] : pieces) run.Add(at, length);
  ASSERT_EQ(run.size(), stream.size());

  for (uint64_t offset = stream.size(); offset-- > 0; offset -= offset / 5) {
    Bytes part(std::min<uint64_t>(stream.size() - offset, random() % 5000));
    run.Read(offset, part.data(), part.size());
    ASSERT_TRUE(std::equal(part.begin(), part.end(), stream.begin() + offset)) << offset;
  }

  // The block is far longer than the joined window: its later passes read
  // it again from the chunks.
  trimbit::InputWindow joined(trimbit::IdatRun::ReadJoined, &run, run.size(), 66000);
  trimbit::InputWindow whole(stream.data(), stream.size());
  const Reencoded fromChunks = Reencode(joined), fromMemory = Reencode(whole);
  EXPECT_EQ(fromChunks.stream, fromMemory.stream);
  EXPECT_EQ(fromChunks.saved, fromMemory.saved);
  EXPECT_GT(fromChunks.saved, 0u);
  Bytes before, after;
  ASSERT_TRUE(testutil::InflateRaw(stream, &before));
  ASSERT_TRUE(testutil::InflateRaw(fromChunks.stream, &after));
  EXPECT_EQ(before, after);

  // Another program rewrote the file since the run was read.
  for (const size_t damage : {pieces[2000].first - 4, pieces[2000].first - 8}) {
    Bytes changed = file;
    changed[damage] ^= 0x40;
    trimbit::InputWindow changedInput(ReadFile, &changed, changed.size(), 70000);
    trimbit::IdatRun changedRun(changedInput);
    for (const auto& [at, length] : pieces) changedRun.Add(at, length);
    Bytes all(stream.size());
    try {
      changedRun.Read(0, all.data(), all.size());
      ADD_FAILURE() << "read a changed file";
    } catch (const trimbit::Error& error) {
      EXPECT_STREQ(error.what(), "The file changed while it was read");
    }
  }
}

}  // namespace
