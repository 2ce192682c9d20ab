// The -x way of writing a stream: the same literals and copies, cut into
// new blocks where their statistics change (block_split.h), each block in
// the cheapest of a new dynamic code, the fixed codes and stored blocks.
// The re-encoder makes it after the default stream and keeps whichever is
// shorter.
#pragma once

#include <cstdint>

#include "deflate/codec_state.h"
#include "support/input_window.h"
#include "support/output_sink.h"
#include "support/report.h"

namespace trimbit {

// Decodes the stream of `length` bytes at `start` of `input` again and
// appends it to `sink`, written with new block boundaries. The tie-break
// mode it leaves for later blocks goes to *tieBreak, which holds the mode
// carried into the stream on entry; it never reads that mode. Returns the
// new stream's length in bits, or 0 for a stream of no symbols. Overwrites
// the stream cursor, block header and decoding tables, as decoding does.
// With listBlocks the blocks written are kept for ReportSplitBlocks.
uint64_t AppendSplitStream(CodecState& codec, InputWindow& input, uint64_t start, uint64_t length,
                           OutputSink& sink, TieBreakState* tieBreak, bool listBlocks);

// The symbols searched at once (at least 1; tests lower it): a window ends
// with the first original block that reaches this many, or inside a block
// at twice as many. Returns the number that was in force.
uint32_t SetSplitWindow(CodecState& codec, uint32_t symbols);

// The -v report of the blocks the last AppendSplitStream call wrote, when
// it kept them.
void ReportSplitBlocks(const CodecState& codec, const Reporter& reporter);

}  // namespace trimbit
