// Values as etlan shows them (--format, the words of a double word) and
// reads them (a value to write), and the value buffer's words.
#include "tools/etlan/text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <vector>

namespace etl::etlan {

std::string FormatWord(std::uint16_t value) {
    char buf[64];
    if ((value & 0x8000u) != 0) {
        std::snprintf(buf, sizeof buf, "%u (0x%04X, signed %d)", static_cast<unsigned>(value), static_cast<unsigned>(value),
                      static_cast<int>(static_cast<std::int16_t>(value)));
    } else {
        std::snprintf(buf, sizeof buf, "%u (0x%04X)", static_cast<unsigned>(value), static_cast<unsigned>(value));
    }
    return buf;
}

std::string FormatDword(std::uint32_t value) {
    char buf[80];
    if ((value & 0x80000000u) != 0) {
        std::snprintf(buf, sizeof buf, "%lu (0x%08lX, signed %ld)", static_cast<unsigned long>(value),
                      static_cast<unsigned long>(value), static_cast<long>(static_cast<std::int32_t>(value)));
    } else {
        std::snprintf(buf, sizeof buf, "%lu (0x%08lX)", static_cast<unsigned long>(value),
                      static_cast<unsigned long>(value));
    }
    return buf;
}

ValueFormat ValueFormatOf(const std::string& text) {
    if (text == "int") return ValueFormat::kInt;
    if (text == "uint") return ValueFormat::kUint;
    if (text == "hex") return ValueFormat::kHex;
    if (text == "bcd") return ValueFormat::kBcd;
    if (text == "float") return ValueFormat::kFloat;
    return ValueFormat::kDefault;
}

std::uint32_t JoinWords(std::uint16_t lower, std::uint16_t higher, bool highFirst) {
    return highFirst ? (static_cast<std::uint32_t>(lower) << 16) | higher
                     : (static_cast<std::uint32_t>(higher) << 16) | lower;
}

namespace {

// True when every nibble of the value's bits is a decimal digit.
bool IsBcd(std::uint32_t value, int bits) {
    for (int shift = 0; shift < bits; shift += 4) {
        if (((value >> shift) & 0xFu) > 9) return false;
    }
    return true;
}

std::string Hex(std::uint32_t value, int bits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*lX", bits == 32 ? 8 : 4, static_cast<unsigned long>(value));
    return text;
}

std::string Signed(std::uint32_t value, int bits) {
    return bits == 32 ? std::to_string(static_cast<std::int32_t>(value))
                      : std::to_string(static_cast<std::int16_t>(static_cast<std::uint16_t>(value)));
}

// The IEEE single of the bits, in the shortest text that reads back to it;
// false for NaN and the infinities, whose text is then "nan", "inf", "-inf".
bool FloatText(std::uint32_t value, std::string* text) {
    float f = 0;
    static_assert(sizeof f == sizeof value);
    std::memcpy(&f, &value, sizeof f);
    if (std::isnan(f)) {
        *text = "nan";
        return false;
    }
    if (std::isinf(f)) {
        *text = f > 0 ? "inf" : "-inf";
        return false;
    }
    char buf[48];
    const auto r = std::to_chars(buf, buf + sizeof buf, f);
    *text = std::string(buf, r.ptr);
    return true;
}

}  // namespace

std::string ShowValue(std::uint32_t value, int bits, ValueFormat format, bool shortForm) {
    if (bits == 1) return value != 0 ? "1" : "0";
    if (bits != 32) value &= 0xFFFFu;
    switch (format) {
        case ValueFormat::kDefault:
            if (shortForm) return std::to_string(value);
            return bits == 32 ? FormatDword(value) : FormatWord(static_cast<std::uint16_t>(value));
        case ValueFormat::kInt:
            return Signed(value, bits);
        case ValueFormat::kUint:
            return std::to_string(value);
        case ValueFormat::kHex:
            return Hex(value, bits);
        case ValueFormat::kBcd: {
            std::string text = Hex(value, bits);
            if (!IsBcd(value, bits)) return text + " (no BCD)";
            const auto digits = text.find_first_not_of('0', 2);
            return digits == std::string::npos ? "0" : text.substr(digits);
        }
        case ValueFormat::kFloat: {
            if (bits != 32) return Hex(value, bits) + " (no float: 16 bits)";
            std::string text;
            FloatText(value, &text);
            return text;
        }
    }
    return std::to_string(value);
}

std::string RecordValue(std::uint32_t value, int bits, ValueFormat format, bool json) {
    if (bits == 1) return value != 0 ? "1" : "0";
    if (bits != 32) value &= 0xFFFFu;
    switch (format) {
        case ValueFormat::kDefault:
        case ValueFormat::kUint:
            return std::to_string(value);
        case ValueFormat::kInt:
            return Signed(value, bits);
        case ValueFormat::kHex: {
            if (!json) return Hex(value, bits);
            // Appended: mingw's GCC 12 reports a false -Wrestrict on
            // "\"" + Hex(...) here.
            std::string text = "\"";
            text += Hex(value, bits);
            text += '"';
            return text;
        }
        case ValueFormat::kBcd:
            if (!IsBcd(value, bits)) return json ? "null" : "";
            return ShowValue(value, bits, format);
        case ValueFormat::kFloat: {
            std::string text;
            if (bits != 32 || !FloatText(value, &text)) return json ? "null" : bits != 32 ? "" : text;
            return text;
        }
    }
    return std::to_string(value);
}

std::uint16_t GetWord(const std::uint8_t* buffer, std::size_t offset) {
    return static_cast<std::uint16_t>(buffer[offset] | (buffer[offset + 1] << 8));
}

void PutWord(std::uint8_t* buffer, std::size_t offset, std::uint16_t value) {
    buffer[offset] = static_cast<std::uint8_t>(value & 0xFF);
    buffer[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

bool ParseValue(const std::string& text, int bits, std::uint32_t* out, std::string* why) {
    return ParseValue(text, bits, std::string(), out, why);
}

bool ParseValue(const std::string& text, int bits, const std::string& tag, std::uint32_t* out, std::string* why) {
    // Every refusal names the text and what the tag takes. (Put together
    // by snprintf: mingw's GCC 12 reports a false -Wrestrict on the
    // appends of std::string here.)
    const char* kind = bits == 1 ? "bit" : bits == 32 ? "32-bit" : "16-bit";
    const char* range = bits == 1    ? "0 or 1"
                        : bits == 32 ? "-2147483648 to 4294967295, or 0x00000000 to 0xFFFFFFFF"
                                     : "-32768 to 65535, or 0x0000 to 0xFFFF";
    std::vector<char> message(text.size() + tag.size() + 128);
    std::snprintf(message.data(), message.size(), "\"%s\" is not a %s value%s%s (%s)", text.c_str(), kind,
                  tag.empty() ? "" : " for ", tag.c_str(), range);
    *why = message.data();
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    unsigned base = 10;
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size()) return false;
    // The digits must be all of the text, and what they give must fit.
    unsigned long long v = 0;
    const char* first = text.data() + i;
    const char* last = text.data() + text.size();
    const auto [stop, error] = std::from_chars(first, last, v, static_cast<int>(base));
    if (error != std::errc() || stop != last) return false;
    if (bits == 1) {
        if (negative || v > 1) return false;
        *out = static_cast<std::uint32_t>(v);
        return true;
    }
    const unsigned long long maxUnsigned = bits == 32 ? 0xFFFFFFFFull : 0xFFFFull;
    const unsigned long long maxNegative = bits == 32 ? 0x80000000ull : 0x8000ull;
    if ((!negative && v > maxUnsigned) || (negative && v > maxNegative)) return false;
    std::uint32_t value = static_cast<std::uint32_t>(v);
    if (negative) value = static_cast<std::uint32_t>(0u - value);
    if (bits == 16) value &= 0xFFFFu;
    *out = value;
    why->clear();
    return true;
}
}  // namespace etl::etlan
