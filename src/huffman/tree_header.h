// The tree header of a dynamic block: normalisation of the code-length
// sequence and its code, and writing them through the bit writer.
#pragma once

#include <cstdint>

#include "huffman/tie_break.h"
#include "support/bit_writer.h"

namespace trimbit {

// Room for a code-length sequence: 286 + 30 lengths, one byte each at most.
constexpr uint32_t kSequenceCapacity = 321;

// Normalises clLengths (19 bytes) and the sequence (room for
// kSequenceCapacity bytes) in place, then with a writer appends the
// code-length-code lengths and the sequence and returns the header size in
// bits (17 + 3 * clCodeCount + the sequence); without one returns the new
// sequence length. A code-length code that must be rebuilt on the way is
// built under the carried tie-break mode, which the read is recorded in;
// `rebuilt`, when given, is then set.
uint32_t EncodeTreeHeader(uint8_t* clLengths, uint32_t clCodeCount, uint8_t* codeLengthSequence,
                          uint32_t sequenceLength, TieBreakState& tieBreak, BitWriter* writer,
                          bool* rebuilt = nullptr);

}  // namespace trimbit
