// What happens after each pass over a block. The first pass writes the
// block with its own codes (a normalised tree header, copies that cost more
// than their bytes turned into literals). Then:
//   - a block that decodes to nothing is dropped;
//   - a dynamic block whose new code (the tree header search's plan) beats
//     both the fixed codes and what was just written is written again with
//     it (Redo), and the decision is taken again after that pass;
//   - otherwise the cheapest of what was written, the fixed codes (for a
//     block read as dynamic) and a stored block (unless the block was merged
//     into the preceding one, which leaves it no header of its own) wins; a
//     pass that would write the fixed or the stored form follows;
//   - a block read as dynamic that still comes out longer than its bits as
//     read is copied back bit for bit.
// Ties keep what was written.
#pragma once

#include <cstdint>

#include "deflate/codec_state.h"

namespace trimbit {

// The facts of a block after a pass, as the decision needs them.
struct BlockFacts {
  uint32_t btype;             // the block's type as read
  bool wroteDynamic;          // the pass wrote the block as a dynamic block
  bool merged;                // the pass merged the block into the preceding fixed block
  bool final;                 // the stream's last block
  uint64_t blockBytes;        // bytes the block decodes to
  uint64_t blockBits;         // bits the pass wrote for the block
  uint64_t blockBitsRead;     // input bits the block occupied
  uint64_t bytesSinceHeader;  // decoded bytes since the last block header, the block's included
  uint64_t blockStart;        // output bit position of the header the block went under
  uint64_t fixedCost;         // the block with the fixed codes, as the last dynamic pass counted
  uint32_t dynamicCost;       // the block with the plan's new code; read when wroteDynamic
};

struct PassDecision {
  bool drop;        // the block decodes to nothing: it leaves no trace in the output
  uint32_t next;    // the next pass over the block (kRedo, kFixed, kStored), or kNoPass
  bool copyBack;    // finished, and its input bits go out unchanged
  bool streamDone;  // finished, and it was the stream's final block
};

PassDecision DecideAfterPass(const BlockFacts& facts);

}  // namespace trimbit
