// The first pass over a block keeps the block's symbols in a compact
// record; the later passes replay that record instead of decoding the block
// again. The replay hands the pass writer exactly what the symbol loop would
// have handed it (the code bits as read excepted, which only the first pass
// writes), counts the symbols as decoding does, and moves the window along.
#pragma once

#include <cstdint>

#include "deflate/block_decoder.h"
#include "deflate/codec_state.h"
#include "huffman/canonical_codes.h"

namespace trimbit {

// A block's symbols as recorded for replay, one word each: a literal is its
// byte value; a copy has bit 31 set, the length symbol less 257 in bits
// 23-27, the length extra value in bits 18-22, the distance symbol in bits
// 13-17 and the distance extra value in bits 0-12. The end of the block is
// the end of the record.
constexpr uint32_t kCopyFlag = 0x80000000u;

inline uint32_t PackCopy(const CopyEvent& c) {
  return kCopyFlag | (c.lengthSymbol - 257) << 23 | c.lengthExtra << 18 | c.distSymbol << 13 |
         c.distExtra;
}

// Writes the recorded block again in pass `pass` (kFixed, kRedo or kStored)
// with the codes given (none for kStored), from the writer position of the
// live state, and leaves the writer, the window position and the counts as
// decoding the block would. When the block fits in the window
// (reencoder.windowKept) its bytes are read where the first pass left
// them; otherwise the window is rebuilt as decoding does. The reader is
// left alone: the caller puts it where the first pass left it.
void ReplaySymbols(CodecState& codec, uint32_t pass, const CodeEntry* encLitLen,
                   const CodeEntry* encDist);

}  // namespace trimbit
