// ReencodeStream: rewrites one raw deflate stream block by block in its
// cheapest form, never longer than the input, and returns the bits saved.
#pragma once

#include <cstdint>

#include "deflate/codec_state.h"
#include "deflate/decoded_digest.h"
#include "support/input_window.h"
#include "support/output_sink.h"
#include "support/report.h"

namespace trimbit {

// input: a raw deflate stream (no container header) of inputLength bytes;
// destination: room for inputLength bytes, which may be the input itself
// (the new stream is put there only once the input has been read in full).
// Works in `codec` and reports the verbose block report through `reporter`.
// Stores the new length in bytes in *newLengthOut and, when inputUsedOut is
// given, the number of input bytes the stream occupied (the byte after its
// final block's last bit, at most inputLength); the new length never exceeds
// the bytes occupied (when nothing shorter was found, the stream is copied as
// it was and 0 bits are saved). Returns the bits saved. A stream that decodes
// to nothing becomes 03 00, the shortest such stream. Throws trimbit::Error:
// bad input when the stream cannot be decoded, an internal fault when the new
// stream fails its self-check.
uint32_t ReencodeStream(CodecState& codec, const Reporter& reporter, const uint8_t* input,
                        uint32_t inputLength, uint8_t* destination, uint32_t* newLengthOut,
                        uint32_t* inputUsedOut = nullptr);

// The same for the stream of `length` bytes at `start` of `input`, read
// through its window: the new stream (or the old one, when nothing shorter
// was found) is appended to `sink` as it is made, and read back from it for
// the self-check. Any length is handled. Returns the bits saved.
uint64_t ReencodeStreamIn(CodecState& codec, const Reporter& reporter, InputWindow& input,
                          uint64_t start, uint64_t length, OutputSink& sink, uint64_t* newLengthOut,
                          uint64_t* inputUsedOut);

// What the stream of the last ReencodeStream call on `codec` that returned
// decodes to (its length and CRC-32), as the first pass digested it for the
// self-check; a container checks its own trailer against it without
// decoding again.
const DecodedDigest& LastDecodedDigest(const CodecState& codec);

// The most symbols of one block that the re-encoder keeps, so that the later
// passes over the block replay them instead of decoding the block again; a
// block with more is decoded again in every pass. The output is the same
// either way. Returns the limit that was in force.
uint32_t SetSymbolRecordLimit(CodecState& codec, uint32_t symbols);

// The size of the working buffer a long stream is built in (at least 64
// KiB); the output is the same whatever it is. Returns the size that was in
// force.
uint32_t SetWorkWindow(CodecState& codec, uint32_t bytes);

}  // namespace trimbit
