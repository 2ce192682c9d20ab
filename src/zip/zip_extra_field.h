// The extra fields of a member's headers when they are not kept whole.
#pragma once

#include <cstdint>

namespace trimbit {

constexpr uint16_t kUnicodePathTag = 0x7075;     // the member's name in UTF-8
constexpr uint16_t kUnicodeCommentTag = 0x6375;  // the member's comment in UTF-8

// Moves to the front of field, in their order and byte for byte, the
// subfields that must stay when the rest of the extra field goes: the Unicode
// Path field always (current readers take it for the member's real name),
// the Unicode Comment field when keepComment is set. Returns their total
// length. A subfield whose length runs past the field ends the scan; it and
// everything behind it are dropped, and nothing outside the field is read.
uint16_t KeepNeededExtraSubfields(uint8_t* field, uint16_t length, bool keepComment);

}  // namespace trimbit
