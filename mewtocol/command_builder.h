// The memory-area table and the MEWTOCOL-COM command texts built from a
// tag's fields.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/blocks.h"
#include "mewtocol/memory_areas.h"

namespace etl {

enum CommandKind : int { kCommandRead = 0, kCommandWrite = 1 };

constexpr std::size_t kCommandBufferSize = 132;
constexpr std::size_t kMaxCommandLength = 119;  // carriage return included
constexpr std::size_t kAddressDigitsSize = 256;

// XOR of the first length characters of text.
std::uint8_t ComputeBcc(const char* text, std::size_t length);

// The value as four hex digits, low byte's two digits first: 0x1234 -> "3412".
void WordToHex(std::uint16_t value, char out[5]);

// Builds the command text for the request's TagIoBlock into text (at least
// kCommandBufferSize bytes, always NUL-terminated). addressDigits holds the
// digits after the memory key of the tag's address text; a "_D" suffix and
// whatever follows it are ignored. dataWords is the number of 16-bit PLC
// words the command covers: for a read the words the caller decodes, for a
// word write the words of its one value (1 for bitSize 16, 2 for 32; any
// other count is refused). A single-contact write (bitSize 1) ignores it.
// Values to write are read through the context's valueWord/valueBase; reads
// do not touch the context. Returns 0, or 1 when refused (logged) or too
// long; a refused request leaves an empty text. decimalStation writes the
// station field in decimal ("10" for PLC 10) instead of hexadecimal ("0A"),
// for a unit that takes only that form.
int SetMewtocolCmd(VpiRequest* request, int kind, int dataWords, const char* addressDigits,
                   char* text, bool decimalStation = false);

// The two characters of the station field of a request: hexadecimal, or
// decimal for numbers up to 99 when decimal is asked for.
void StationField(int plcNumber, bool decimal, char out[3]);

// The first word address that a command for these address digits names
// (the "_D" suffix cut off, read as atoi reads it).
long long WordAddressOf(const char* addressDigits);

// True for a value of two PLC words: data type 3, 4, 5, memory letter G,
// or a tag of bit size 32.
bool IsDoubleWord(const TagIoBlock& tag);

}  // namespace etl
