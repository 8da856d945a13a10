// Tag address text: syntax check and numeric fields.
#pragma once

#include <cstdint>

namespace etl {

// Fixed-count digit accumulators: a character up to '9' counts as its code
// minus 48, any later one as its code minus 55 (modulo 256); the result
// wraps at 16 bits. They neither stop at NUL nor report errors.
std::uint16_t ParseDecimal(const char* chars, int count);
std::uint16_t ParseHex(const char* chars, int count);

// Allowed characters per position 0..8 of an address text.
extern const char* const AddressCharClasses[9];

}  // namespace etl
