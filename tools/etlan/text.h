// What etlan shows: the banner in UTF-8, memory areas in words, values in
// decimal and hex (values.cpp), and why an address text is not valid. No
// I/O here. The numbers and words of the host interface come from
// host/vocabulary.h.
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

// How values are shown (--format): kDefault is decimal with the hex (and
// the signed reading when the top bit is set) for people, unsigned decimal
// in records. A bit is 0 or 1 whatever the format.
enum class ValueFormat { kDefault, kInt, kUint, kHex, kBcd, kFloat };
// The format of a --format text ("int", "uint", "hex", "bcd", "float";
// anything else is kDefault).
ValueFormat ValueFormatOf(const std::string& text);

// The 32-bit value of two PLC words: the word at the lower address is the
// low word, or with highFirst the high word.
std::uint32_t JoinWords(std::uint16_t lower, std::uint16_t higher, bool highFirst);

// One value of bits 1, 16 or 32 as a person reads it: "1234 (0x04D2)" by
// default, "-2", "65534", "0xFFFE", "1234" (BCD), "1.5" in a format; a value
// that is no BCD shows its hex with "(no BCD)". shortForm leaves out the
// hex of the default format.
std::string ShowValue(std::uint32_t value, int bits, ValueFormat format, bool shortForm = false);

// The same value in a record: a CSV field, or a JSON value (hex as a
// string; null for no BCD and for a float that is no number, which a CSV
// field leaves empty).
std::string RecordValue(std::uint32_t value, int bits, ValueFormat format, bool json);

// What a line of the driver's log says of a station in plain words:
// "connection refused", "no reply within 1000 ms", "closed by the PLC",
// "PLC error 61 (...)". station is -1 for a line about none; recovered is
// set for "answers again". False for a line that says nothing of either.
struct StationNews {
    int station = -1;
    std::string words;
    bool recovered = false;
};
bool ReadStationNews(const std::string& line, StationNews* out);

// A line for a terminal width columns wide, in at most width - 1 columns
// (a character in the last column makes some terminals wrap): head, the
// items and tail; the items in their long form while the line fits, else
// in their short form, else cut with "..." before the tail. width 0 or
// below: no limit.
std::string FitLine(const std::string& head, const std::vector<std::string>& items,
                    const std::vector<std::string>& shortItems, const std::string& tail, int width);

// The local time as "13:45:41.503", for the messages of a poll.
std::string ClockText();

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
