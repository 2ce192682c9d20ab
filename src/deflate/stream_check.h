// The self-check of a re-encoded stream: decode it with the program's own
// decoder and compare what it decodes to with what the original decoded to.
#pragma once

#include <cstdint>

#include "deflate/decoded_digest.h"

// Decodes the raw deflate stream at data (length bytes) and digests the
// bytes it decodes to; returns the bits the stream occupied. Decoding
// failures are thrown as they come.
uint32_t DigestStream(const uint8_t* data, uint32_t length, DecodedDigest* digest);

// Fails with "Re-encoded stream does not match the original data!?!?!?"
// unless the stream at data (length bytes) decodes, occupies exactly `bits`
// bits, and decodes to as many bytes, with the same CRC-32, as `original`.
// Overwrites the live StreamState and the decoding tables.
void VerifyReencodedStream(const uint8_t* data, uint32_t length, uint32_t bits,
                           const DecodedDigest& original);
