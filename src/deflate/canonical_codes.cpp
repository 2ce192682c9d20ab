#include "deflate/canonical_codes.h"

#include "deflate/tables.h"
#include "support/message.h"

void BuildCanonicalCodes(const uint8_t* lengths, uint32_t n, uint32_t* sendCountOut) {
  uint32_t count[16] = {};
  for (uint32_t i = 0; i < n; ++i) {
    if (lengths[i] > 15) throw static_cast<Message>("Code length above 15!?!?!?");
    count[lengths[i]] += 1;
    codeWork.codeTable[i] = {lengths[i], 0, i};
  }
  count[0] = 0;

  // A prefix code never has more codes than its lengths allow; past that the
  // canonical codes would outgrow the 15-bit reversal table.
  int64_t left = 1;
  for (uint32_t b = 1; b < 16; ++b) {
    left = left * 2 - count[b];
    if (left < 0) throw static_cast<Message>("Over-subscribed set of code lengths");
  }

  uint32_t next[16] = {};
  for (uint32_t b = 2; b < 16; ++b) next[b] = (next[b - 1] + count[b - 1]) * 2;

  uint32_t lastUsed = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t len = lengths[i];
    if (len == 0) continue;
    codeWork.codeTable[i].code = tables.bitReverse15[next[len]++] >> (15 - len);
    lastUsed = i + 1;
  }
  if (sendCountOut != nullptr) *sendCountOut = lastUsed == 0 ? 1 : lastUsed;
}

CodeSpace MeasureCodeSpace(const uint8_t* lengths, uint32_t n) {
  CodeSpace space = {1 << 15, 0, 0};
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t len = lengths[i];
    if (len == 0) continue;
    space.left -= 1 << (15 - len);
    space.codes += 1;
    if (len > space.longest) space.longest = len;
  }
  return space;
}
