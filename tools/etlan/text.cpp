#include "tools/etlan/text.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "host/digits.h"
#include "host/vocabulary.h"
#include "mewtocol/memory_areas.h"

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

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlnumUpper(char c) { return IsDigit(c) || (c >= 'A' && c <= 'Z'); }

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

std::string MemoryAreaName(char key) {
    const MemoryArea* a = MemoryAreaOf(static_cast<unsigned char>(key));
    return a != nullptr ? std::string(a->kind) + " " + a->name : std::string();
}

bool HasSuffix(const std::string& text) {
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == '_' && Upper(text[i + 1]) == 'D') return true;
    }
    return false;
}

namespace {

// The check's rules in the order it applies them: the text up to a "_D"
// suffix (code 4 only), its first nine characters upper-cased, the bit
// size from the suffix or the data type.
struct CheckedText {
    char copy[kAddressCheckLength + 1] = {};
    int length = 0;
    bool suffixFound = false;
    int bitSize = 16;
};

CheckedText AsTheCheckSeesIt(const std::string& text, bool suffix) {
    CheckedText t;
    std::string work = text;
    if (suffix) {
        for (char& c : work) c = Upper(c);
        const auto at = work.find("_D");
        if (at != std::string::npos) {
            work.resize(at);
            t.suffixFound = true;
            t.bitSize = 32;
        }
    }
    for (std::size_t i = 0; i < static_cast<std::size_t>(kAddressCheckLength) && i < work.size() && work[i] != '\0'; ++i) {
        t.copy[i] = Upper(work[i]);
    }
    t.length = static_cast<int>(std::strlen(t.copy));
    return t;
}

// D, F and G take five address digits, every other memory code four.
bool LongAddress(char letter) { return letter == 'D' || letter == 'F' || letter == 'G'; }

// Positions 0-1 (PLC number) and 3-6 (address digits) take digits only,
// the memory code and the last two positions letters too.
void ExplainCharacters(const CheckedText& t, const std::string& text, bool suffix, TagReport* r) {
    constexpr int kAddressEnd = kPlcNumberDigits + 1 + kShortAddressDigits;  // first position after them
    for (int pos = 0; pos < t.length; ++pos) {
        const char c = t.copy[pos];
        const bool digitsOnly = pos < kPlcNumberDigits || (pos > kPlcNumberDigits && pos < kAddressEnd);
        if (digitsOnly ? IsDigit(c) : IsAlnumUpper(c)) continue;
        std::string why = Printable(c) + " at position " + Num(pos) + " is not allowed: ";
        if (pos < kPlcNumberDigits) {
            why += "the PLC number is two digits";
        } else if (pos == kPlcNumberDigits) {
            why += "the memory code is a letter or a digit";
        } else if (pos < kAddressEnd) {
            why += "the address digits are 0 to 9";
        } else {
            why += "the fifth address digit or the bit digit is a letter or a digit";
        }
        if (c == '_' && !suffix && HasSuffix(text)) {
            why += " (the _D suffix is accepted only by the check with code 4: use --suffix)";
        }
        r->reasons.push_back(why);
    }
}

// The length the memory code and the bit size ask for, and G's own rules.
void ExplainLength(const CheckedText& t, bool suffix, const std::string& code, TagReport* r) {
    const char letter = t.copy[2];
    const std::string has = ", this text has " + Num(t.length) + (t.length >= kAddressCheckLength ? " or more" : "");
    if (LongAddress(letter)) {
        if (t.length != 8) {
            r->reasons.push_back(code + " takes five address digits: 8 characters in all (e.g. 01" +
                                 std::string(1, letter) + "00100)" + has);
        }
        if (letter == 'G') {
            if (t.bitSize != 32) {
                r->reasons.push_back(code + " (LD) holds 32-bit values only: use data type 3, 4 or 5" +
                                     std::string(suffix ? " or the _D suffix" : ""));
            }
            const unsigned address = AccumulateDigits(t.copy + 3, kLongAddressDigits, 10);
            if (t.length >= 8 && address % 2 != 0) {
                r->reasons.push_back(code + " needs an even address (" + Num(address) + " is odd)");
            }
        } else if (t.bitSize == 1) {
            r->reasons.push_back(code + " holds no bit tags: data type 6 is not possible");
        }
    } else if (t.bitSize > 1) {
        if (t.length != 7) {
            std::string why = code + " takes four address digits: 7 characters in all (e.g. 02Y0010)" + has;
            if (t.length == 8 && !MemoryAreaName(letter).empty()) why += "; a text with a bit digit needs data type 6";
            r->reasons.push_back(why);
        }
    } else if (t.length != 8) {
        r->reasons.push_back("a bit tag takes four address digits and a bit digit: 8 characters in all "
                             "(e.g. 02X0001A)" + has);
    }
}

// Remarks that matter for reads and writes of a text the check may accept.
void AddNotes(const CheckedText& t, const std::string& code, TagReport* r) {
    const char letter = t.copy[2];
    const MemoryArea* area = MemoryAreaOf(static_cast<unsigned char>(letter));
    if (letter != '\0' && area == nullptr && IsAlnumUpper(letter)) {
        r->notes.push_back(code + " is not a memory area of the driver: reads and writes of it are refused");
    } else if (letter != '\0' && area != nullptr && area->write[0] == '\0') {
        r->notes.push_back(code + " (" + MemoryAreaName(letter) + ") is read-only: writes are refused");
    }
    if (LongAddress(letter) && t.length == 8) {
        unsigned long full = 0;
        for (int i = 3; i < 8; ++i) full = full * 10 + DigitValue(t.copy[i]);
        if (full > 65535) {
            r->notes.push_back("address " + Num(static_cast<long>(full)) +
                               " does not fit 16 bits: the check reports " + Num(static_cast<long>(full & 0xFFFF)));
        }
        if (!IsDigit(t.copy[7]) && IsAlnumUpper(t.copy[7])) {
            r->notes.push_back("the fifth address digit " + Printable(t.copy[7]) + " counts as " +
                               Num(DigitValue(t.copy[7])));
        }
    }
    if (t.bitSize == 1 && t.length == 8 && !LongAddress(letter)) {
        const unsigned bit = AccumulateDigits(t.copy + 7, 1, 16);
        if (bit > 15) {
            r->notes.push_back("bit digit " + Printable(t.copy[7]) + " gives bit number " + Num(bit) +
                               ": a PLC word has bits 0 to F, so this bit always reads 0");
        }
    }
}

}  // namespace

TagReport ExplainTag(const std::string& text, int dataType, int elementCount, bool suffix) {
    TagReport r;
    CheckedText t = AsTheCheckSeesIt(text, suffix);
    ExplainCharacters(t, text, suffix, &r);
    if (!t.suffixFound) {
        if (dataType == kDataTypeUnsupported) {
            r.reasons.push_back("data type " + Num(kDataTypeUnsupported) + " is refused by the address check");
            return r;
        }
        t.bitSize = BitSizeOfType(dataType);
    }
    if (t.length == 0) {
        r.reasons.push_back("the text is empty");
        return r;
    }
    const unsigned plc = AccumulateDigits(t.copy, kPlcNumberDigits, 10);
    if (plc > kMaxPlcNumber) r.reasons.push_back("PLC number " + Num(plc) + " is above " + Num(kMaxPlcNumber));
    if (plc == 0 && t.length >= kPlcNumberDigits && IsDigit(t.copy[0]) && IsDigit(t.copy[1])) {
        r.notes.push_back("PLC number 00 is no station (a station file defines 1 to " + Num(kMaxPlcNumber) +
                          "): reads and writes of it get no answer");
    }

    const char letter = t.copy[2];
    const std::string code = std::string("memory code ") + (letter != '\0' ? Printable(letter) : "(none)");
    ExplainLength(t, suffix, code, &r);
    if (elementCount > kMaxElements) {
        r.reasons.push_back("element count " + Num(elementCount) + " is above " + Num(kMaxElements));
    } else if (elementCount > kMaxElementsEG && (letter == 'E' || letter == 'G')) {
        r.reasons.push_back("element count " + Num(elementCount) + " is above " + Num(kMaxElementsEG) +
                            ", the limit for " + code);
    }
    AddNotes(t, code, &r);
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

namespace {

// The reason in the brackets after a connection's rc ("rc = 257 (connection
// refused)"), in plain words.
std::string ConnectWords(int rc, const char* tail) {
    const char* open = std::strchr(tail, '(');
    const char* close = open != nullptr ? std::strchr(open, ')') : nullptr;
    if (open == nullptr || close == nullptr) return "cannot connect (error " + std::to_string(rc) + ")";
    const std::string why(open + 1, close);
    const auto colon = why.find(": ");
    if (why.rfind("connected to itself", 0) == 0 && colon != std::string::npos) return why.substr(colon + 2);
    unsigned error = 0;
    if (std::sscanf(why.c_str(), "connection failed, error %u", &error) == 1) {
        return "connection failed (error " + std::to_string(error) + ")";
    }
    return why;
}

// The words of a "station N fails: ..." line's reason.
std::string FailureWords(const char* reason) {
    int rc = 0;
    unsigned ms = 0;
    int n = -1;
    if (std::sscanf(reason, "reconnect failed rc = %d%n", &rc, &n) == 1 && n >= 0) return ConnectWords(rc, reason + n);
    if (std::sscanf(reason, "no answer within %u ms", &ms) == 1) return "no reply within " + std::to_string(ms) + " ms";
    if (std::strncmp(reason, "connection closed by the PLC", 28) == 0) return "closed by the PLC";
    if (std::strncmp(reason, "connection reset by the PLC", 27) == 0) return "reset by the PLC";
    if (std::sscanf(reason, "connection lost rc = %d", &rc) == 1) return "connection lost (error " + std::to_string(rc) + ")";
    const std::string text = reason;
    if (text.rfind("PLC error ", 0) == 0) {
        const auto end = text.find(") to ");
        return end == std::string::npos ? text : text.substr(0, end + 1);
    }
    const auto answer = text.find(" in the answer to ");
    if (answer != std::string::npos) return text.substr(0, answer) + " in the answer";
    return text.substr(0, text.find("; "));
}

}  // namespace

bool ReadStationNews(const std::string& line, StationNews* out) {
    *out = StationNews{};
    // The log budget's note at the end says nothing of the station's state.
    std::string text = line;
    const auto note = text.find(" earlier line(s) about station ");
    if (note != std::string::npos) text = text.substr(0, text.rfind(" [", note));
    const char* p = text.c_str();
    int station = -1, rc = 0, n = -1;
    if (std::sscanf(p, "ZavUR: station %d fails: %n", &station, &n) == 1 && n >= 0) {
        out->words = FailureWords(p + n);
    } else if (n = -1; std::sscanf(p, "ZavUR: station %d answers again%n", &station, &n) == 1 && n >= 0) {
        out->recovered = true;
    } else if (n = -1; std::sscanf(p, "ZavUR: WarmStart() Fail station %d ConnectSocket() rc = %d%n", &station, &rc, &n) == 2 &&
                       n >= 0) {
        out->words = ConnectWords(rc, p + n);
    } else if (n = -1;
               std::sscanf(p, "ZavUR: InitConnections(): ConnectSocket() Fail on station %d rc = %d%n", &station, &rc, &n) == 2 &&
               n >= 0) {
        out->words = ConnectWords(rc, p + n);
    } else if (n = -1; std::sscanf(p, "ZavUR: station %d host text %n", &station, &n) == 1 && n >= 0 &&
                       text.find(" is no usable IPv4 address") != std::string::npos) {
        out->words = text.substr(static_cast<std::size_t>(n) - std::strlen("host text "));
    } else {
        return false;
    }
    out->station = station;
    return true;
}

std::string FitLine(const std::string& head, const std::vector<std::string>& items,
                    const std::vector<std::string>& shortItems, const std::string& tail, int width) {
    const auto join = [](const std::vector<std::string>& parts) {
        std::string text;
        for (const auto& p : parts) text += p;
        return text;
    };
    std::string middle = join(items);
    if (width <= 0) return head + middle + tail;
    const auto room = static_cast<std::size_t>(width - 1);
    if (head.size() + middle.size() + tail.size() <= room) return head + middle + tail;
    middle = join(shortItems);
    if (head.size() + middle.size() + tail.size() <= room) return head + middle + tail;
    const std::size_t fixed = head.size() + tail.size() + 3;
    if (fixed >= room) return (head + middle + tail).substr(0, room);
    return head + middle.substr(0, room - fixed) + "..." + tail;
}

std::string ClockText() {
    const ClockReading now = WallClock(false);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", now.time.tm_hour, now.time.tm_min, now.time.tm_sec, now.ms);
    return text;
}

std::string ElementLabel(char key, unsigned address, int index, bool doubleWord) {
    const MemoryArea* area = MemoryAreaOf(static_cast<unsigned char>(key));
    const std::string name = area != nullptr ? area->name : std::string(1, key);
    const unsigned a = address + static_cast<unsigned>(index) * (doubleWord ? 2u : 1u);
    return name + std::to_string(a);
}

ClockReading WallClock(bool utc) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    ClockReading r;
    r.ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
#if defined(_WIN32)
    if (utc) {
        gmtime_s(&r.time, &seconds);
    } else {
        localtime_s(&r.time, &seconds);
    }
#else
    if (utc) {
        gmtime_r(&seconds, &r.time);
    } else {
        localtime_r(&seconds, &r.time);
    }
#endif
    return r;
}

}  // namespace etl::etlan
