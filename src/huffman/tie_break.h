// The tie-break mode carried from block to block. Each block's header
// search leaves the code-length mode it chose; the next block that must
// rebuild its own code-length code (when normalising the header it read)
// builds it under that mode. The record also tells whether the current file
// (or stream) read the mode it inherited before any search of its own wrote
// one: only then does its output depend on what was processed before it.
#pragma once

#include <cstdint>

namespace trimbit {

struct TieBreakState {
  uint32_t mode;           // 0..3: the mode the last header search chose
  bool written;            // a header search wrote `mode` since StartTieBreakRecord
  bool readBeforeWritten;  // a tree header read the inherited mode before that
};

// Starts the record of a new file: the mode stays, the flags clear.
inline void StartTieBreakRecord(TieBreakState& s) {
  s.written = false;
  s.readBeforeWritten = false;
}

// The carried mode, for a rebuild that depends on it.
inline uint32_t ReadCarriedMode(TieBreakState& s) {
  if (!s.written) s.readBeforeWritten = true;
  return s.mode;
}

// Leaves `mode` for the blocks that follow.
inline void WriteCarriedMode(TieBreakState& s, uint32_t mode) {
  s.mode = mode;
  s.written = true;
}

}  // namespace trimbit
