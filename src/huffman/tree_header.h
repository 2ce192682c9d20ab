// The tree header of a dynamic block: normalisation of the code-length
// sequence and its code, and writing them through the bit writer.
#pragma once

#include <cstdint>

// Normalises clLengths (19 bytes) and the sequence in place, then with
// `write` appends the code-length-code lengths and the sequence and returns
// the header size in bits (17 + 3 * clCodeCount + the sequence); without
// `write` returns the new sequence length. When `rebuilt` is given, sets it
// if the code-length code was rebuilt on the way (under TieBreakMode).
uint32_t EncodeTreeHeader(uint8_t* clLengths, uint32_t clCodeCount, uint8_t* codeLengthSequence,
                          uint32_t sequenceLength, bool write, bool* rebuilt = nullptr);
