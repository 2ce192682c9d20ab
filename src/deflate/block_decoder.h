// Deflate block decoding over the live StreamState: the block header, a
// stored block's header and data, a dynamic block's tree header (kept with
// its code-length sequence exactly as read), the decoding tables, and the
// symbol loop, which hands every literal, copy and end of block to a visitor
// while it keeps the window and counts the block's symbols.
//
// The symbol loop is a template so that each user (the re-encoding passes,
// the self-check) gets its own tight loop with the reader held in locals.
#pragma once

#include <cstdint>
#include <cstring>

#include "deflate/bit_reader.h"
#include "deflate/codec_state.h"
#include "deflate/decoded_digest.h"
#include "deflate/stream_state.h"
#include "huffman/deflate_alphabet.h"
#include "support/byte_order.h"

namespace trimbit {

constexpr uint32_t kLengthsCleared = 321;  // lengthsScratch cleared before each header

// A copy, as the symbol loop hands it on: both codes exactly as read.
struct CopyEvent {
  uint32_t lengthSymbol;      // 257..287
  uint32_t lengthBits;        // its code bits as they stood in the stream
  uint32_t lengthCodeLength;  // and their number
  uint32_t lengthExtra;       // extra-bits value
  uint32_t lengthExtraCount;  // number of extra bits
  uint32_t length;            // bytes copied (0 for symbols 286 and 287)
  uint32_t distSymbol;        // 0..29
  uint32_t distBits;
  uint32_t distCodeLength;
  uint32_t distExtra;
  uint32_t distExtraCount;
  uint32_t distance;
};

// Refuses the stream with `message`; kept out of line so the loops stay small.
[[noreturn]] void FailDecoding(const char* message);

// Points the reader at a stream in memory and clears the state (window
// contents excepted, which are never read before they are written). Streams
// longer than kLongestStream bytes are handled up to that length only; a
// stream that would need more is refused with "Deflate data too large".
constexpr uint32_t kLongestStream = 0x1FFFF000;
void StartReading(CodecState& c, const uint8_t* input, uint32_t inputLength);
// The same for the `length` bytes at offset `start` of `input`, read
// through its window as decoding goes on; any length is handled.
void StartReadingWindow(CodecState& c, InputWindow& input, uint64_t start, uint64_t length);

// After the reader was set back to a position taken earlier: brings the
// input at that position into the window again, if the window has moved.
void SyncReader(StreamCursor& c);
// Asks the window to keep the input from the reader's position on (and the
// few bytes a stored block may hand back) while it has room: a block's
// later passes start there again.
void PinReader(StreamCursor& c);

// BFINAL and BTYPE into the block header; BTYPE 3 is left to CheckBlockType.
void ReadBlockHeader(CodecState& c);
// Fails with "Invalid block type" for BTYPE 3.
void CheckBlockType(const CodecState& c);

// A stored block after its 3 header bits: alignment, LEN and NLEN with
// their checks, then the data, which go into the window and are skipped in
// the input. Returns a pointer to the LEN data bytes.
const uint8_t* ReadStoredBlock(CodecState& c);

// A dynamic block's header after its 3 header bits: the counts, the
// code-length code and the code lengths, with the sequence as read.
// Refuses what zlib refuses: more than 286 literal/length or 30 distance
// codes, an incomplete or over-subscribed code-length code, no end-of-block
// code, and an over-subscribed or incomplete literal/length or distance
// code, except a single code of length 1 (and a distance code without codes).
void ReadDynamicHeader(CodecState& c);

// The decoding tables of the block: the fixed ones, or those built from
// the dynamic header's code lengths (which also leaves the block's own
// literal/length code in work.blockLitLenCodes).
void UseFixedTables(CodecState& c);
void BuildBlockTables(CodecState& c);
// Lets go of the block's tables (they live in reused storage).
void ReleaseBlockTables(CodecState& c);

// Appends `length` bytes to the window from `distance` back, as a byte by
// byte copy does (an overlapping copy repeats its pattern); writes nothing
// past the copy, since the bytes there may still be read.
inline void CopyInWindow(uint8_t* window, uint64_t windowPos, uint32_t distance, uint32_t length) {
  constexpr uint32_t kMask = kWindowSize - 1;
  const uint32_t to = static_cast<uint32_t>(windowPos) & kMask;
  const uint32_t from = static_cast<uint32_t>(windowPos - distance) & kMask;
  uint32_t i = 0;
  if (to + length <= kWindowSize && from + length <= kWindowSize) {
    auto move8 = [&](uint32_t at) {
      uint64_t piece;
      std::memcpy(&piece, window + from + at, 8);
      std::memcpy(window + to + at, &piece, 8);
    };
    if (distance >= 8 && length >= 8) {
      // Eight bytes at a time: each piece is read before any of it is
      // written, and every byte it reads is final. The last piece may
      // overlap the one before; it writes the same bytes again.
      for (; i + 8 <= length; i += 8) move8(i);
      if (i < length) move8(length - 8);
      return;
    }
    if (distance >= 8 && length >= 4) {
      uint32_t head, tail;
      std::memcpy(&head, window + from, 4);
      std::memcpy(&tail, window + from + length - 4, 4);
      std::memcpy(window + to, &head, 4);
      std::memcpy(window + to + length - 4, &tail, 4);
      return;
    }
    if (distance < 8 && from + distance == to && length >= 8) {
      // A short pattern repeated: eight bytes of it at a time, each piece
      // starting a whole number of patterns after the one before.
      uint8_t pattern[8];
      for (uint32_t t = 0; t < 8; ++t) pattern[t] = window[from + t % distance];
      const uint32_t step = 8 - 8 % distance;
      for (; i + 8 <= length; i += step) std::memcpy(window + to + i, pattern, 8);
      for (i = i - step + 8; i < length; ++i) window[to + i] = window[from + i];
      return;
    }
  }
  for (; i < length; ++i) window[(to + i) & kMask] = window[(from + i) & kMask];
}

// Decodes the symbols of a fixed or dynamic block up to its end-of-block
// symbol, with the tables in codec.work. Clears and fills litLenCounts and
// distCounts, keeps the window, and hands every symbol to the visitor:
//   v.Literal(byte, bits, codeLength)
//   v.Copy(event, window, windowPos)  after the bytes are in the window,
//                                     which ends at windowPos
//   v.EndOfBlock(bits, codeLength)
// With V::kDigest the decoded bytes are digested into *v.digest. A visitor
// that declares kCountSymbols = false leaves the counts alone. The loop
// works on a copy of the visitor and hands it back at the end, so visitors
// should be small. A pattern no code covers (possible only in a code of a
// single length-1 code, or a distance code without codes) fails with
// "Invalid literal/length code" or "Invalid distance code", as in zlib.
template <class V>
constexpr bool CountsSymbols() {
  if constexpr (requires { V::kCountSymbols; })
    return V::kCountSymbols;
  else
    return true;
}

template <class V>
inline void DecodeSymbols(CodecState& codec, V& visitor) {
  constexpr bool kCount = CountsSymbols<V>();
  // A private copy of the visitor, whose address never escapes, can live
  // in registers while the output it writes may alias anything.
  V v = visitor;
  StreamCursor& cursor = codec.cursor;
  StreamState& st = cursor.state;
  BitReaderPosition& reader = st.reader;
  CodeWorkspace& work = codec.work;
  if constexpr (kCount) {
    std::memset(work.litLenCounts, 0, sizeof work.litLenCounts);
    std::memset(work.distCounts, 0, sizeof work.distCounts);
  }
  const DecodeTable litLenTable = work.litLenDecode;
  const DecodeTable distTable = work.distDecode;
  const uint32_t litLenCodeCount = codec.header.litLenCodeCount;
  const uint32_t distLimit = codec.header.distCodeCount < 30 ? codec.header.distCodeCount : 30;
  const uint8_t* end = cursor.inEnd;  // moves when the slow paths bring more input in

  // The reader lives in locals here; the rare paths hand it back to the
  // state and take it again. The bits taken are not counted one by one:
  // they are the bits loaded (whole bytes, and the grace bits if granted
  // here) less the growth of the buffer.
  const uint8_t* in = reader.inPos;
  uint64_t buffer = reader.bitBuffer;
  uint32_t count = reader.bitCount;
  const uint8_t* const inAtStart = in;
  const uint64_t baseAtStart = reader.inBase;
  const uint32_t countAtStart = count;
  const uint32_t graceAtStart = reader.graceGiven;
  uint64_t windowPos = st.windowPos;
  auto need = [&](uint32_t n) {
    if (count < n) [[unlikely]] {
      reader.inPos = in;
      reader.bitBuffer = buffer;
      reader.bitCount = count;
      NeedBitsSlow(cursor, n);
      in = reader.inPos;
      end = cursor.inEnd;
      buffer = reader.bitBuffer;
      count = reader.bitCount;
    }
  };
  auto take = [&](uint32_t n) {
    const uint32_t value = static_cast<uint32_t>(buffer) & ((1u << n) - 1);
    buffer >>= n;
    count -= n;
    return value;
  };

  for (;;) {
    if constexpr (V::kDigest) {
      if (windowPos - v.digest->length >= kDigestChunk)
        DigestWindow(v.digest, st.window, windowPos);
    }
    // Enough bits for a whole copy (15 + 5 + 15 + 13) in one load.
    if (count < 48) {
      if (end - in >= 8) {
        buffer |= LoadLe64(in) << count;
        in += (63 - count) >> 3;
        count |= 56;
      } else {
        reader.inPos = in;
        reader.bitBuffer = buffer;
        reader.bitCount = count;
        LoadAvailableBits(cursor);
        in = reader.inPos;
        end = cursor.inEnd;
        buffer = reader.bitBuffer;
        count = reader.bitCount;
      }
    }

    need(litLenTable.maxBits);
    // Literals follow one another without a new load for as long as the
    // buffer holds a whole code (up to three after a full load). The digest
    // lags by at most a few bytes more, far less than the window's slack.
    uint32_t symbol, codeLength, bits;
    do {
      const uint32_t entry = LookUpCode(litLenTable, buffer);
      symbol = EntrySymbol(entry);
      codeLength = EntryLength(entry);
      if (codeLength == 0) [[unlikely]]
        FailDecoding("Invalid literal/length code");
      bits = take(codeLength);
      if constexpr (kCount) work.litLenCounts[symbol] += 1;
      if (symbol >= 256) break;
      st.window[windowPos & (kWindowSize - 1)] = static_cast<uint8_t>(symbol);
      windowPos += 1;
      v.Literal(symbol, bits, codeLength);
    } while (count >= litLenTable.maxBits);
    if (symbol < 256) continue;
    if (symbol == 256) {
      v.EndOfBlock(bits, codeLength);
      break;
    }
    if (symbol >= litLenCodeCount) [[unlikely]]
      FailDecoding("Invalid literal/length code");

    CopyEvent c;
    c.lengthSymbol = symbol;
    c.lengthBits = bits;
    c.lengthCodeLength = codeLength;
    c.lengthExtraCount = LengthExtraBits[symbol - 257];
    c.lengthExtra = 0;
    if (c.lengthExtraCount > 0) {
      need(c.lengthExtraCount);
      c.lengthExtra = take(c.lengthExtraCount);
    }
    c.length = LengthBase[symbol - 257] + c.lengthExtra;

    need(distTable.maxBits);
    const uint32_t distEntry = LookUpCode(distTable, buffer);
    c.distSymbol = EntrySymbol(distEntry);
    c.distCodeLength = EntryLength(distEntry);
    if (c.distCodeLength == 0 || c.distSymbol >= distLimit) [[unlikely]]
      FailDecoding("Invalid distance code");
    c.distBits = take(c.distCodeLength);
    if constexpr (kCount) work.distCounts[c.distSymbol] += 1;
    c.distExtraCount = DistanceExtraBits[c.distSymbol];
    c.distExtra = 0;
    if (c.distExtraCount > 0) {
      need(c.distExtraCount);
      c.distExtra = take(c.distExtraCount);
    }
    c.distance = DistanceBase[c.distSymbol] + c.distExtra;
    if (c.distance > windowPos) [[unlikely]]
      FailDecoding("Distance points before beginning of file");

    CopyInWindow(st.window, windowPos, c.distance, c.length);
    windowPos += c.length;
    v.Copy(c, st.window, windowPos);
  }

  reader.inPos = in;
  reader.bitBuffer = buffer;
  reader.bitCount = count;
  // Bytes loaded: the window may have moved on meanwhile, by the growth of its base.
  const uint64_t loaded =
      8 * (static_cast<uint64_t>(in - inAtStart) + (reader.inBase - baseAtStart)) +
      16 * (reader.graceGiven - graceAtStart);
  st.blockBitsRead += loaded + countAtStart - count;
  st.windowPos = windowPos;
  if constexpr (V::kDigest) DigestWindow(v.digest, st.window, windowPos);
  visitor = v;
}

// Decodes a whole stream from its first block to the end of its final one,
// handing every block's symbols to the visitor as DecodeSymbols does, and
// also calling v.StoredData(data, length) for a stored block's data and
// v.BlockEnd() after every block. Returns the bits the stream occupied.
template <class V>
inline uint64_t DecodeStarted(CodecState& codec, V& v) {
  StreamState& st = codec.cursor.state;
  const BlockHeader& h = codec.header;
  uint64_t bits = 0;
  for (;;) {
    st.blockNumber += 1;
    st.blockBitsRead = 0;
    ReadBlockHeader(codec);
    CheckBlockType(codec);
    if (h.btype == 0) {
      const uint8_t* data = ReadStoredBlock(codec);
      if constexpr (V::kDigest) DigestBytes(v.digest, data, h.storedLength);
      v.StoredData(data, h.storedLength);
    } else {
      if (h.btype == 1) {
        UseFixedTables(codec);
      } else {
        ReadDynamicHeader(codec);
        BuildBlockTables(codec);
      }
      DecodeSymbols(codec, v);
      ReleaseBlockTables(codec);
    }
    bits += st.blockBitsRead;
    v.BlockEnd();
    if (h.bfinal) return bits;
  }
}

template <class V>
inline uint32_t DecodeStream(CodecState& codec, const uint8_t* input, uint32_t inputLength, V& v) {
  StartReading(codec, input, inputLength);
  return static_cast<uint32_t>(DecodeStarted(codec, v));
}

// The same for the `length` bytes at `start` of `input`.
template <class V>
inline uint64_t DecodeStreamIn(CodecState& codec, InputWindow& input, uint64_t start,
                               uint64_t length, V& v) {
  StartReadingWindow(codec, input, start, length);
  return DecodeStarted(codec, v);
}

}  // namespace trimbit
