// Helpers of the read and write operations, visible for the tests.
#pragma once

#include <cstdint>

namespace etl {

// Four answer characters, low byte's digits first, as a 16-bit value:
// "3412" -> 0x1234. Characters other than 0-9 and A-F count as 0; a NUL
// ends the number.
std::uint16_t HexToWord(const char* chars);

// 1 when bit number bit is set in value; bit numbers from 16 on give 0.
int BitTest(std::uint16_t value, int bit);

// The characters of an address text after the PLC number and the memory
// key: "01D00100" -> "00100". Copies at most size - 1 characters.
void AddressDigits(const char* addressText, char* out, std::size_t size);

}  // namespace etl
