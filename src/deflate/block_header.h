// What the decoder read of the current block's header, kept for the later
// passes over the block and for its report.
#pragma once

#include <cstdint>

namespace trimbit {

constexpr uint32_t kMaxCodeLengths = 288 + 32;  // the most a dynamic header can declare
// The sequence as read holds at most the declared total plus one byte.
constexpr uint32_t kMaxSequenceBytes = kMaxCodeLengths + 16;

struct BlockHeader {
  uint32_t bfinal;            // 1 on the stream's last block
  uint32_t btype;             // 0 stored, 1 fixed, 2 dynamic (3 is refused)
  uint32_t litLenCodeCount;   // dynamic: HLIT + 257; fixed: 286
  uint32_t distCodeCount;     // dynamic: HDIST + 1; fixed: 30
  uint32_t clCodeCount;       // dynamic: HCLEN + 4
  uint32_t storedLength;      // stored: LEN
  uint32_t sequenceLength;    // bytes of codeLengthSequence
  uint32_t sequenceBitsRead;  // input bits the sequence occupied
  uint8_t clLengths[19];      // code-length code, by code-length symbol
  // The decoded code lengths: litLenCodeCount, then distCodeCount.
  uint8_t codeLengths[kMaxCodeLengths];
  // Code-length symbols as read; each 16, 17 and 18 is followed by its extra value.
  uint8_t codeLengthSequence[kMaxSequenceBytes];
};

}  // namespace trimbit
