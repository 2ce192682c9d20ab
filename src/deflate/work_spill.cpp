#include "deflate/work_spill.h"

#include <cstring>

#include "support/error.h"

namespace trimbit {

uint8_t* SpillWork(Reencoder& r, uint8_t* keepFrom, uint8_t* outPos) {
  uint8_t* const work = r.workStart;
  const size_t gone = static_cast<size_t>(keepFrom - work);
  if (gone == 0) return outPos;
  r.sink->Append(work, gone);
  const size_t kept = static_cast<size_t>(outPos - keepFrom) + 8;
  std::memmove(work, keepFrom, kept);
  std::memset(work + kept, 0, gone);
  r.workBase += gone;
  return outPos - gone;
}

uint8_t* SpillBehind(Reencoder& r, uint8_t* outPos) {
  // Eight bytes stay behind the writer: the next block, should the writer
  // stop here, finds the byte before its start in hand.
  uint8_t* const keepFrom = outPos - r.workStart > 8 ? outPos - 8 : r.workStart;
  return SpillWork(r, keepFrom, outPos);
}

void EnsureWorkRoom(Reencoder& r, BitWriter& w, uint64_t bytes) {
  if (static_cast<uint64_t>(r.spillAt - w.outPos) >= bytes) return;
  w.outPos = SpillBehind(r, w.outPos);
  if (static_cast<uint64_t>(r.spillAt - w.outPos) < bytes) Fault("Working buffer too small!?!?!?");
}

}  // namespace trimbit
