#include "tools/etlan/text.h"

#include <cstdio>
#include <cstring>

namespace etl::etlan {
namespace {

// Code page 437, bytes 0x80 to 0xFF.
const char* const kCp437High[128] = {
    "Ç", "ü", "é", "â", "ä", "à", "å", "ç", "ê", "ë", "è", "ï", "î", "ì", "Ä", "Å",
    "É", "æ", "Æ", "ô", "ö", "ò", "û", "ù", "ÿ", "Ö", "Ü", "¢", "£", "¥", "₧", "ƒ",
    "á", "í", "ó", "ú", "ñ", "Ñ", "ª", "º", "¿", "⌐", "¬", "½", "¼", "¡", "«", "»",
    "░", "▒", "▓", "│", "┤", "╡", "╢", "╖", "╕", "╣", "║", "╗", "╝", "╜", "╛", "┐",
    "└", "┴", "┬", "├", "─", "┼", "╞", "╟", "╚", "╔", "╩", "╦", "╠", "═", "╬", "╧",
    "╨", "╤", "╥", "╙", "╘", "╒", "╓", "╫", "╪", "┘", "┌", "█", "▄", "▌", "▐", "▀",
    "α", "ß", "Γ", "π", "Σ", "σ", "µ", "τ", "Φ", "Θ", "Ω", "δ", "∞", "φ", "ε", "∩",
    "≡", "±", "≥", "≤", "⌠", "⌡", "÷", "≈", "°", "∙", "·", "√", "ⁿ", "²", "■", "\xC2\xA0",
};

struct Area {
    char key;
    const char* name;
    bool writable;
};

const Area kAreas[] = {
    {'X', "external input relay X", false}, {'Y', "external output relay Y", true},
    {'R', "internal relay R", true},        {'L', "link relay L", true},
    {'G', "data link register LD", true},   {'D', "data register D", true},
    {'T', "timer contact T", false},        {'C', "counter contact C", false},
    {'V', "elapsed value EV", true},        {'S', "set value SV", true},
    {'F', "file register F", true},         {'H', "index register IX", true},
    {'I', "index register IY", true},       {'0', "index register I0", true},
    {'1', "index register I1", true},       {'2', "index register I2", true},
    {'3', "index register I3", true},       {'4', "index register I4", true},
    {'5', "index register I5", true},       {'6', "index register I6", true},
    {'7', "index register I7", true},       {'8', "index register I8", true},
    {'9', "index register I9", true},       {'M', "index register IA", true},
    {'N', "index register IB", true},       {'O', "index register IC", true},
    {'P', "index register ID", true},       {'Q', "index register IE", true},
    {'U', "index register IF", true},
};

const Area* FindArea(char key) {
    for (const Area& a : kAreas) {
        if (a.key == key) return &a;
    }
    return nullptr;
}

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlnumUpper(char c) { return IsDigit(c) || (c >= 'A' && c <= 'Z'); }

// The check's digit rule: up to '9' the code minus 48, above it minus 55.
unsigned DigitValue(char c) {
    const auto u = static_cast<unsigned char>(c);
    const bool low = u <= '9' || u >= 128;
    return static_cast<unsigned>(static_cast<unsigned char>(low ? u - 48 : u - 55));
}

unsigned Accumulate(const char* s, int count, unsigned base) {
    unsigned v = 0;
    for (int i = 0; i < count; ++i) v = (v * base + DigitValue(s[i])) & 0xFFFFu;
    return v;
}

std::string Printable(char c) {
    const auto u = static_cast<unsigned char>(c);
    char buf[16];
    if (u >= 0x20 && u < 0x7F) {
        std::snprintf(buf, sizeof buf, "'%c'", c);
    } else {
        std::snprintf(buf, sizeof buf, "byte 0x%02X", u);
    }
    return buf;
}

std::string Num(long v) { return std::to_string(v); }

}  // namespace

std::string Cp437ToUtf8(unsigned char byte) {
    if (byte < 0x80) return std::string(1, static_cast<char>(byte));
    return kCp437High[byte - 0x80];
}

std::vector<std::string> BannerLines(const char* cp437) {
    std::vector<std::string> lines;
    if (cp437 == nullptr) return lines;
    std::string line;
    auto flush = [&] {
        while (!line.empty() && line.back() == ' ') line.pop_back();
        lines.push_back(line);
        line.clear();
    };
    for (const char* p = cp437; *p != '\0'; ++p) {
        const auto b = static_cast<unsigned char>(*p);
        if (b == '\r') continue;
        if (b == '\n') {
            flush();
            continue;
        }
        line += Cp437ToUtf8(b);
    }
    if (!line.empty()) flush();
    while (!lines.empty() && lines.front().empty()) lines.erase(lines.begin());
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

std::string ResultWords(int result, Op op) {
    switch (result) {
        case 0:
            return op == Op::kCheck ? "valid" : "ok";
        case 1:
            switch (op) {
                case Op::kCheck: return "invalid address";
                case Op::kRead:
                case Op::kWrite:
                    return "refused: the driver refused the command (invalid address or request, "
                           "see the log) or the PLC answered negatively three times";
                default: return "invalid address, refused command or negative answer";
            }
        case 2:
            switch (op) {
                case Op::kStart:
                    return "start failed: the socket library did not start or a station's host "
                           "name did not resolve";
                case Op::kRead:
                case Op::kWrite:
                    return "no answer: the station is not connected, or no complete answer came "
                           "within three attempts";
                default: return "not available or failed";
            }
        case 53: return "dialog cancelled (or it could not open)";
        default: return "unknown result";
    }
}

const char* MemoryAreaName(char key) {
    const Area* a = FindArea(key);
    return a != nullptr ? a->name : nullptr;
}

bool MemoryAreaWritable(char key) {
    const Area* a = FindArea(key);
    return a != nullptr && a->writable;
}

bool HasSuffix(const std::string& text) {
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == '_' && Upper(text[i + 1]) == 'D') return true;
    }
    return false;
}

int BitSizeOfType(int dataType) {
    if (dataType == 3 || dataType == 4 || dataType == 5) return 32;
    if (dataType == 6) return 1;
    if (dataType == 7) return 0;
    return 16;
}

bool IsDoubleWord(int dataType, int memoryLetter) {
    return dataType == 3 || dataType == 4 || dataType == 5 || memoryLetter == 'G';
}

TagReport ExplainTag(const std::string& text, int dataType, int elementCount, bool suffix) {
    TagReport r;
    std::string work = text;
    bool suffixFound = false;
    int bitSize = 16;
    if (suffix) {
        for (char& c : work) c = Upper(c);
        const auto at = work.find("_D");
        if (at != std::string::npos) {
            work.resize(at);
            suffixFound = true;
            bitSize = 32;
        }
    }
    // The first nine characters, upper case, as the check sees them.
    char copy[10] = {};
    for (std::size_t i = 0; i < 9 && i < work.size() && work[i] != '\0'; ++i) copy[i] = Upper(work[i]);
    const int length = static_cast<int>(std::strlen(copy));

    for (int pos = 0; pos < length; ++pos) {
        const char c = copy[pos];
        const bool digitsOnly = pos <= 1 || (pos >= 3 && pos <= 6);
        const bool ok = digitsOnly ? IsDigit(c) : IsAlnumUpper(c);
        if (ok) continue;
        std::string why = Printable(c) + " at position " + Num(pos) + " is not allowed: ";
        if (pos <= 1) {
            why += "the PLC number is two digits";
        } else if (pos == 2) {
            why += "the memory code is a letter or a digit";
        } else if (pos <= 6) {
            why += "the address digits are 0 to 9";
        } else {
            why += "the fifth address digit or the bit digit is a letter or a digit";
        }
        if (c == '_' && !suffix && HasSuffix(text)) {
            why += " (the _D suffix is accepted only by the check with code 4: use --suffix)";
        }
        r.reasons.push_back(why);
    }

    if (!suffixFound) {
        if (dataType == 7) {
            r.reasons.push_back("data type 7 is refused by the address check");
            return r;
        }
        bitSize = BitSizeOfType(dataType);
    }
    if (length == 0) {
        r.reasons.push_back("the text is empty");
        return r;
    }

    const unsigned plc = Accumulate(copy, 2, 10);
    if (plc > 64) r.reasons.push_back("PLC number " + Num(plc) + " is above 64");

    const char letter = copy[2];
    const std::string code = std::string("memory code ") + (letter != '\0' ? Printable(letter) : "(none)");
    const std::string has = ", this text has " + Num(length) + (length >= 9 ? " or more" : "");
    if (letter == 'D' || letter == 'F' || letter == 'G') {
        if (length != 8) {
            r.reasons.push_back(code + " takes five address digits: 8 characters in all (e.g. 01" +
                                std::string(1, letter) + "00100)" + has);
        }
        if (letter == 'G') {
            if (bitSize != 32) {
                r.reasons.push_back(code + " (LD) holds 32-bit values only: use data type 3, 4 or 5" +
                                    std::string(suffix ? " or the _D suffix" : ""));
            }
            if (length >= 8 && (Accumulate(copy + 3, 5, 10) % 2) != 0) {
                r.reasons.push_back(code + " needs an even address (" +
                                    Num(Accumulate(copy + 3, 5, 10)) + " is odd)");
            }
        } else if (bitSize == 1) {
            r.reasons.push_back(code + " holds no bit tags: data type 6 is not possible");
        }
    } else if (bitSize > 1) {
        if (length != 7) {
            std::string why = code + " takes four address digits: 7 characters in all (e.g. 02Y0010)" + has;
            if (length == 8 && MemoryAreaName(letter) != nullptr) why += "; a text with a bit digit needs data type 6";
            r.reasons.push_back(why);
        }
    } else if (length != 8) {
        r.reasons.push_back("a bit tag takes four address digits and a bit digit: 8 characters in all "
                            "(e.g. 02X0001A)" + has);
    }

    if (elementCount > 27) {
        r.reasons.push_back("element count " + Num(elementCount) + " is above 27");
    } else if (elementCount > 13 && (letter == 'E' || letter == 'G')) {
        r.reasons.push_back("element count " + Num(elementCount) + " is above 13, the limit for " + code);
    }

    // Remarks that matter for reads and writes.
    if (letter != '\0' && MemoryAreaName(letter) == nullptr && IsAlnumUpper(letter)) {
        r.notes.push_back(code + " is not a memory area of the driver: reads and writes of it are refused");
    } else if (letter != '\0' && MemoryAreaName(letter) != nullptr && !MemoryAreaWritable(letter)) {
        r.notes.push_back(code + " (" + MemoryAreaName(letter) + ") is read-only: writes are refused");
    }
    if ((letter == 'D' || letter == 'F' || letter == 'G') && length == 8) {
        unsigned long full = 0;
        for (int i = 3; i < 8; ++i) full = full * 10 + DigitValue(copy[i]);
        if (full > 65535) {
            r.notes.push_back("address " + Num(static_cast<long>(full)) +
                              " does not fit 16 bits: the check reports " + Num(static_cast<long>(full & 0xFFFF)));
        }
        if (!IsDigit(copy[7]) && IsAlnumUpper(copy[7])) {
            r.notes.push_back("the fifth address digit " + Printable(copy[7]) + " counts as " +
                              Num(DigitValue(copy[7])));
        }
    }
    if (bitSize == 1 && length == 8 && letter != 'D' && letter != 'F' && letter != 'G') {
        const unsigned bit = Accumulate(copy + 7, 1, 16);
        if (bit > 15) {
            r.notes.push_back("bit digit " + Printable(copy[7]) + " gives bit number " + Num(bit) +
                              ": a PLC word has bits 0 to F, so this bit always reads 0");
        }
    }
    return r;
}

TypeChoice InferType(const std::string& text) {
    TypeChoice t;
    std::string upper;
    for (char c : text) upper += Upper(c);
    if (HasSuffix(upper)) {
        t.dataType = 3;
        t.suffix = true;
        t.why = "the _D suffix: a 32-bit value, checked with code 4";
        return t;
    }
    const char letter = upper.size() > 2 ? upper[2] : '\0';
    if (letter == 'G') {
        t.dataType = 3;
        t.why = "memory code G (LD): a 32-bit value";
    } else if (upper.size() == 8 && letter != 'D' && letter != 'F') {
        t.dataType = 6;
        t.why = "a bit digit: a single bit";
    } else {
        t.dataType = 0;
        t.why = "a 16-bit word";
    }
    return t;
}

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

std::uint16_t GetWord(const std::uint8_t* buffer, std::size_t offset) {
    return static_cast<std::uint16_t>(buffer[offset] | (buffer[offset + 1] << 8));
}

void PutWord(std::uint8_t* buffer, std::size_t offset, std::uint16_t value) {
    buffer[offset] = static_cast<std::uint8_t>(value & 0xFF);
    buffer[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

bool ParseValue(const std::string& text, int bits, std::uint32_t* out, std::string* why) {
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
    if (i >= text.size()) {
        *why = "\"" + text + "\" is not a number";
        return false;
    }
    unsigned long long v = 0;
    for (; i < text.size(); ++i) {
        const char c = Upper(text[i]);
        unsigned d;
        if (IsDigit(c)) {
            d = static_cast<unsigned>(c - '0');
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            d = static_cast<unsigned>(c - 'A' + 10);
        } else {
            *why = "\"" + text + "\" is not a number (decimal, or hex with 0x)";
            return false;
        }
        v = v * base + d;
        if (v > 0xFFFFFFFFull) {
            *why = "\"" + text + "\" does not fit 32 bits";
            return false;
        }
    }
    if (bits == 1) {
        if (negative || v > 1) {
            *why = "a bit takes 0 or 1";
            return false;
        }
        *out = static_cast<std::uint32_t>(v);
        return true;
    }
    const unsigned long long maxUnsigned = bits == 32 ? 0xFFFFFFFFull : 0xFFFFull;
    const unsigned long long maxNegative = bits == 32 ? 0x80000000ull : 0x8000ull;
    if ((!negative && v > maxUnsigned) || (negative && v > maxNegative)) {
        *why = "\"" + text + "\" does not fit " + std::to_string(bits) + " bits (" +
               (bits == 32 ? "-2147483648 to 4294967295" : "-32768 to 65535") + ")";
        return false;
    }
    std::uint32_t value = static_cast<std::uint32_t>(v);
    if (negative) value = static_cast<std::uint32_t>(0u - value);
    if (bits == 16) value &= 0xFFFFu;
    *out = value;
    return true;
}

std::string ElementLabel(char key, unsigned address, int index, bool doubleWord) {
    std::string name;
    switch (key) {
        case 'G': name = "LD"; break;
        case 'H': name = "IX"; break;
        case 'I': name = "IY"; break;
        case 'V': name = "EV"; break;
        case 'S': name = "SV"; break;
        case 'M': case 'N': case 'O': case 'P': case 'Q':
            name = std::string("I") + static_cast<char>('A' + (key - 'M'));
            break;
        case 'U': name = "IF"; break;
        default:
            name = (key >= '0' && key <= '9') ? std::string("I") + key : std::string(1, key);
    }
    const unsigned a = address + static_cast<unsigned>(index) * (doubleWord ? 2u : 1u);
    return name + std::to_string(a);
}

}  // namespace etl::etlan
