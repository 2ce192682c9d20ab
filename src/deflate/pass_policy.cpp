// The decision after each pass, as pass_policy.h states it: a pure function
// of the block's facts, so that every rule of the choice stands in one place.
#include "deflate/pass_policy.h"

#include "deflate/block_cost.h"

namespace trimbit {

PassDecision DecideAfterPass(const BlockFacts& f) {
  PassDecision d = {false, kNoPass, false, false};
  if (f.blockBytes == 0) {
    // A dropped block is finished, however it was written.
    d.drop = true;
    d.streamDone = f.final;
    return d;
  }
  if (f.wroteDynamic && f.dynamicCost < f.fixedCost && f.dynamicCost < f.blockBits) d.next = kRedo;

  // A stored block must carry exactly the bytes since its header, so it is
  // no choice for a block merged into its predecessor; nor when nothing has
  // been decoded since the header.
  if (d.next == kNoPass && f.bytesSinceHeader > 0) {
    uint64_t best = f.blockBits;
    if (f.btype == 2 && f.fixedCost < best) {
      best = f.fixedCost;
      d.next = kFixed;
    }
    if (!f.merged) {
      const uint64_t storedCost = StoredBlockBits(f.bytesSinceHeader, f.blockStart);
      if (storedCost <= 65535 && storedCost < best) {
        d.next = kStored;
        return d;
      }
    }
  }
  if (d.next == kNoPass && f.btype == 2 && f.blockBitsRead > 0 && f.blockBits > f.blockBitsRead)
    d.copyBack = true;
  d.streamDone = f.final && d.next == kNoPass;
  return d;
}

}  // namespace trimbit
