// The self-check of a re-encoded stream: decode it with the program's own
// decoder and compare what it decodes to with what the original decoded to.
#pragma once

#include <cstdint>

#include "deflate/codec_state.h"
#include "deflate/decoded_digest.h"

namespace trimbit {

// Decodes the raw deflate stream at data (length bytes) and digests the
// bytes it decodes to; returns the bits the stream occupied. Decoding
// failures are thrown as they come. Overwrites the state's stream cursor,
// block header and decoding tables.
uint32_t DigestStream(CodecState& codec, const uint8_t* data, uint32_t length,
                      DecodedDigest* digest);
// The same for the stream of `length` bytes at `start` of `input`.
uint64_t DigestStreamIn(CodecState& codec, InputWindow& input, uint64_t start, uint64_t length,
                        DecodedDigest* digest);

// Fails (an internal fault: "Re-encoded stream does not match the original
// data!?!?!?") unless the stream at data (length bytes) decodes, occupies
// exactly `bits` bits, and decodes to as many bytes, with the same CRC-32,
// as `original`. Overwrites what DigestStream overwrites.
void VerifyReencodedStream(CodecState& codec, const uint8_t* data, uint32_t length, uint32_t bits,
                           const DecodedDigest& original);
// The same for the stream of `length` bytes at `start` of `input`.
void VerifyReencodedStreamIn(CodecState& codec, InputWindow& input, uint64_t start, uint64_t length,
                             uint64_t bits, const DecodedDigest& original);

}  // namespace trimbit
