// The small parsers of the host's texts: the digit rule of the address
// check and the station file, leading decimal numbers as atoi reads them,
// and hex digits as MEWTOCOL-COM writes them. Header-only and pure, shared
// by the driver and the tools.
#pragma once

#include <cstdint>

namespace etl {

// The digit value of the address check and the station file: a character
// up to '9' (bytes 128..255 included, as they compare below it) counts as
// its code minus 48, any later one as its code minus 55, modulo 256, so
// that 'A' is 10 and "0A" is station 10.
constexpr std::uint8_t DigitValue(char c) {
    const auto code = static_cast<std::uint8_t>(c);
    return static_cast<signed char>(c) <= '9' ? static_cast<std::uint8_t>(code - 48)
                                              : static_cast<std::uint8_t>(code - 55);
}

// count characters by DigitValue in base: neither stops at NUL nor reports
// an error; the result wraps at 16 bits.
constexpr std::uint16_t AccumulateDigits(const char* chars, int count, unsigned base) {
    unsigned value = 0;
    for (int i = 0; i < count; ++i) value = (value * base + DigitValue(chars[i])) & 0xFFFFu;
    return static_cast<std::uint16_t>(value);
}

constexpr bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A decimal integer as atoi and sscanf("%d") read one: leading white space,
// an optional sign, digits up to the first non-digit. Values beyond 32 bits
// stay at the nearest limit. False when no digit stands there.
constexpr bool ReadDecimal(const char* text, std::int32_t* value) {
    while (IsSpace(*text)) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    if (*text < '0' || *text > '9') return false;
    std::int64_t v = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        v = v * 10 + (*text - '0');
        if (v > 0x80000000LL) v = 0x80000000LL;
    }
    if (negative) v = -v;
    if (v > 0x7FFFFFFFLL) v = 0x7FFFFFFFLL;
    *value = static_cast<std::int32_t>(v);
    return true;
}

// atoi: the leading number of a text, 0 when there is none.
constexpr std::int32_t Atoi(const char* text) {
    std::int32_t v = 0;
    return ReadDecimal(text, &v) ? v : 0;
}

// An upper-case hex digit as MEWTOCOL-COM writes it: 0..15, or -1.
constexpr int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A 16-bit word as MEWTOCOL-COM writes it, four hex digits with the low
// byte's two first ("3412" is 0x1234): 0..0xFFFF, or -1 when one of the
// four is not a hex digit.
constexpr std::int32_t HexWordValue(const char* chars) {
    constexpr int kOrder[4] = {2, 3, 0, 1};
    std::int32_t value = 0;
    for (int i : kOrder) {
        const int d = HexDigitValue(chars[i]);
        if (d < 0) return -1;
        value = value * 16 + d;
    }
    return value;
}

}  // namespace etl
