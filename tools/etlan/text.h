// What etlan shows: the banner in UTF-8, memory areas in words, values in
// decimal and hex, and why an address text is not valid. No I/O here. The
// numbers and words of the host interface come from host/vocabulary.h.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace etl::etlan {

// The driver's banner (code page 437, CR LF line ends) as UTF-8 lines,
// trailing blanks removed; empty lines at the start and end dropped.
std::vector<std::string> BannerLines(const char* cp437);

// One code page 437 byte as UTF-8.
std::string Cp437ToUtf8(unsigned char byte);

// The memory area of a memory code in words, e.g. "data register D"
// (from the driver's memory-area table); empty when the driver has no
// such area.
std::string MemoryAreaName(char key);

// Why an address text fails the address check (empty when nothing is
// wrong) and remarks that hold even for a valid text. The rules are those
// of the check with codes 3 and 4 (suffix = code 4).
struct TagReport {
    std::vector<std::string> reasons;
    std::vector<std::string> notes;
};
TagReport ExplainTag(const std::string& text, int dataType, int elementCount, bool suffix);

// The data type etlan uses when none is given, taken from the text.
struct TypeChoice {
    int dataType = 0;
    bool suffix = false;  // check with code 4 (the text carries "_D")
    std::string why;
};
TypeChoice InferType(const std::string& text);
// True when the text carries the "_D" suffix (any case).
bool HasSuffix(const std::string& text);

// The wall clock now, broken down in UTC or in local time, and its
// milliseconds: for the time stamps of poll records and of the trace.
struct ClockReading {
    std::tm time{};
    int ms = 0;
};
ClockReading WallClock(bool utc);

// "4660 (0x1234)", with the signed reading when the top bit is set.
std::string FormatWord(std::uint16_t value);
std::string FormatDword(std::uint32_t value);

// Value buffer access, little-endian.
std::uint16_t GetWord(const std::uint8_t* buffer, std::size_t offset);
void PutWord(std::uint8_t* buffer, std::size_t offset, std::uint16_t value);

// Parses a value to write: decimal with an optional sign, or hex with 0x.
// bits is 1, 16 or 32; false with a reason when it does not fit, naming
// the text, the tag when given, and what the tag takes:
// "70000" is not a 16-bit value for 01D00100 (-32768 to 65535, or 0x0000 to 0xFFFF)
bool ParseValue(const std::string& text, int bits, std::uint32_t* out, std::string* why);
bool ParseValue(const std::string& text, int bits, const std::string& tag, std::uint32_t* out, std::string* why);

// "D00100" style label of element i of a tag (memory code and address).
std::string ElementLabel(char key, unsigned address, int index, bool doubleWord);

}  // namespace etl::etlan
