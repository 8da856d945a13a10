// The simulated PLC's MEWTOCOL-COM command interpreter, its answers in
// parts, and memory words set from text (its areas are in memory.cpp).
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "host/digits.h"
#include "tools/sim/simulator.h"

namespace etl::sim {
namespace {

constexpr int kMaxText = 118;  // characters before the CR
constexpr int kMinSplit = 12;  // the shortest part limit that carries data

enum ErrorCode : int {
    kErrTooLong = 27,
    kErrBcc = 40,
    kErrFormat = 41,
    kErrUnknown = 42,
    kErrParts = 43,
    kErrRange = 61,
    kErrReadOnly = 65,
};

constexpr char kAllKeys[] = "XYRLTCDGFSVHI0123456789MNOPQU";

// Exactly count decimal digits at pos, or -1.
int Decimal(std::string_view s, std::size_t pos, std::size_t count) {
    if (pos + count > s.size()) return -1;
    int v = 0;
    for (std::size_t i = 0; i < count; ++i) {
        char c = s[pos + i];
        if (c < '0' || c > '9') return -1;
        v = v * 10 + (c - '0');
    }
    return v;
}

// One word as four hex characters, low byte's digits first.
void AppendWord(std::string& out, std::uint16_t w) {
    static const char kHex[] = "0123456789ABCDEF";
    out += kHex[(w >> 4) & 0xF];
    out += kHex[w & 0xF];
    out += kHex[(w >> 12) & 0xF];
    out += kHex[(w >> 8) & 0xF];
}

// A station and the form it writes its number in.
struct Me {
    int station;
    StationField field;
};

void AppendBcc(std::string& text) {
    char tail[3];
    std::snprintf(tail, sizeof tail, "%02X", Bcc(text));
    text += tail;
}

std::string Frame(Me me, std::string_view body) {
    std::string out(1, '%');
    out += StationText(me.station, me.field);
    out += body;
    AppendBcc(out);
    return out + "\r";
}

std::string Negative(Me me, int code) {
    char body[8];
    std::snprintf(body, sizeof body, "!%02d", (code % 100 + 100) % 100);
    return Frame(me, body);
}

// Maps the register letter of RDI?/WDI? to its memory key.
char IndexKey(char reg) {
    if (reg == 'X') return 'H';
    if (reg == 'Y') return 'I';
    if (reg >= '0' && reg <= '9') return reg;
    static const char kLetters[] = "MNOPQU";  // IA..IF
    if (reg >= 'A' && reg <= 'F') return kLetters[reg - 'A'];
    return 0;
}

char DataKey(char code) {
    switch (code) {
        case 'D': return 'D';
        case 'L': return 'G';
        case 'F': return 'F';
        default: return 0;
    }
}

bool IsContactArea(char a) {
    return a == 'X' || a == 'Y' || a == 'R' || a == 'L' || a == 'T' || a == 'C';
}
bool IsReadOnlyContact(char a) { return a == 'X' || a == 'T' || a == 'C'; }

// A word range command: fields start at pos, start field startWidth
// digits, end field one of endWidths; for a write the data follow.
struct RangeRequest {
    char key;
    bool write;
    std::string_view body;
    std::size_t pos;
    std::size_t startWidth;
    std::size_t endWidthA;
    std::size_t endWidthB;  // 0 when only one width is allowed
    const char* answerCode;
};

std::string RunRange(Memory& memory, Me station, const RangeRequest& r) {
    std::string_view b = r.body;
    int start = Decimal(b, r.pos, r.startWidth);
    if (start < 0) return Negative(station, kErrFormat);
    std::size_t rest = b.size() - r.pos - r.startWidth;
    std::size_t endWidth = r.endWidthA;
    if (r.endWidthB != 0) {
        // Data come in multiples of four characters, so the end field's
        // width follows from what remains.
        if (r.write) {
            if (rest % 4 == r.endWidthB % 4) endWidth = r.endWidthB;
        } else if (rest == r.endWidthB) {
            endWidth = r.endWidthB;
        }
    }
    if (rest < endWidth) return Negative(station, kErrFormat);
    int end = Decimal(b, r.pos + r.startWidth, endWidth);
    if (end < 0) return Negative(station, kErrFormat);
    std::size_t dataPos = r.pos + r.startWidth + endWidth;
    if (!r.write && dataPos != b.size()) return Negative(station, kErrFormat);
    if (start > end || !memory.Valid(r.key, start, end)) return Negative(station, kErrRange);
    if (!r.write && end - start >= kMaxReadWords) return Negative(station, kErrRange);
    std::size_t words = static_cast<std::size_t>(end - start + 1);
    std::string answer = "$";
    answer += r.answerCode;
    if (r.write) {
        if (b.size() - dataPos != 4 * words) return Negative(station, kErrFormat);
        // Four characters a word, low byte's digits first (read as the
        // driver reads them); nothing is written unless all are words.
        const char* data = b.data() + dataPos;
        for (std::size_t i = 0; i < words; ++i) {
            if (HexWordValue(data + 4 * i) < 0) return Negative(station, kErrFormat);
        }
        for (std::size_t i = 0; i < words; ++i) {
            memory.Set(r.key, start + static_cast<int>(i),
                       static_cast<std::uint16_t>(HexWordValue(data + 4 * i)));
        }
    } else {
        answer.reserve(answer.size() + 4 * words);
        for (std::size_t i = 0; i < words; ++i) {
            AppendWord(answer, memory.Get(r.key, start + static_cast<int>(i)));
        }
    }
    return Frame(station, answer);
}

// WCS<a><www><b><v>: one contact.
std::string RunContactWrite(Memory& memory, Me station, std::string_view b) {
    char area = b.size() > 3 ? b[3] : 0;
    if (!IsContactArea(area)) return Negative(station, kErrUnknown);
    if (IsReadOnlyContact(area)) return Negative(station, kErrReadOnly);
    if (b.size() != 9) return Negative(station, kErrFormat);
    int word = Decimal(b, 4, 3);
    int bit = HexDigitValue(b[7]);
    char v = b[8];
    if (word < 0 || bit < 0 || (v != '0' && v != '1')) return Negative(station, kErrFormat);
    if (!memory.Valid(area, word, word)) return Negative(station, kErrRange);
    auto w = memory.Get(area, word);
    auto mask = static_cast<std::uint16_t>(1u << bit);
    memory.Set(area, word, static_cast<std::uint16_t>(v == '1' ? (w | mask) : (w & ~mask)));
    return Frame(station, "$WC");
}

std::string Dispatch(Memory& memory, Me station, std::string_view b) {
    if (b.size() < 2) return Negative(station, kErrUnknown);
    std::string_view cmd = b.substr(0, 2);
    char c2 = b.size() > 2 ? b[2] : 0;
    char c3 = b.size() > 3 ? b[3] : 0;
    if (cmd == "RC" || cmd == "WC") {
        bool write = cmd[0] == 'W';
        if (write && c2 == 'S') return RunContactWrite(memory, station, b);
        if (c2 != 'C' || !IsContactArea(c3)) return Negative(station, kErrUnknown);
        if (write && IsReadOnlyContact(c3)) return Negative(station, kErrReadOnly);
        return RunRange(memory, station, {c3, write, b, 4, 4, 4, 0, write ? "WC" : "RC"});
    }
    if (cmd == "RD" || cmd == "WD") {
        bool write = cmd[0] == 'W';
        const char* code = write ? "WD" : "RD";
        if (c2 == 'I') {
            char key = IndexKey(c3);
            if (key == 0 || memory.Size(key) == 0) return Negative(station, kErrUnknown);
            return RunRange(memory, station, {key, write, b, 4, 5, 4, 5, code});
        }
        char key = DataKey(c2);
        if (key == 0) return Negative(station, kErrUnknown);
        return RunRange(memory, station, {key, write, b, 3, 5, 5, 0, code});
    }
    if (cmd == "RS" || cmd == "WS" || cmd == "RK" || cmd == "WK") {
        bool write = cmd[0] == 'W';
        char key = cmd[1] == 'S' ? 'S' : 'V';
        std::string code(cmd);
        return RunRange(memory, station, {key, write, b, 2, 4, 4, 0, code.c_str()});
    }
    return Negative(station, kErrUnknown);
}

}  // namespace

std::uint8_t Bcc(std::string_view text) {
    std::uint8_t x = 0;
    for (char c : text) x = static_cast<std::uint8_t>(x ^ static_cast<std::uint8_t>(c));
    return x;
}

std::string StationText(int station, StationField field) {
    char digits[4];
    if (field == StationField::kDecimal && station >= 0 && station <= 99) {
        std::snprintf(digits, sizeof digits, "%02d", station);
    } else {
        std::snprintf(digits, sizeof digits, "%02X", station & 0xFF);
    }
    return digits;
}

namespace {

// The station field of a text (the two characters after '%'): -1 when it
// is not two hex digits, 1 when it names the station (EE, or the number in
// either form; when strict, only in the form the station writes), 0 when
// it names another one.
int StationMatch(int station, std::string_view text, StationField field, bool strict) {
    if (text.size() < 3) return -1;
    int hi = HexDigitValue(text[1]);
    int lo = HexDigitValue(text[2]);
    if (hi < 0 || lo < 0) return -1;
    if (text[1] == 'E' && text[2] == 'E') return 1;
    const bool hex = hi * 16 + lo == station;
    const bool decimal = hi < 10 && lo < 10 && hi * 10 + lo == station;
    if (!strict) return hex || decimal ? 1 : 0;
    // The form the station writes (see StationText): decimal only up to 99.
    const bool writesDecimal = field == StationField::kDecimal && station >= 0 && station <= 99;
    return (writesDecimal ? decimal : hex) ? 1 : 0;
}

// The two characters at pos: "**" or the BCC of what precedes them.
// 1 matches, 0 wrong BCC, -1 not hex.
int CheckBcc(std::string_view text, std::size_t pos) {
    if (text.substr(pos, 2) == "**") return 1;
    int h = HexDigitValue(text[pos]);
    int l = HexDigitValue(text[pos + 1]);
    if (h < 0 || l < 0) return -1;
    return h * 16 + l == Bcc(text.substr(0, pos)) ? 1 : 0;
}

std::string_view WithoutCr(std::string_view text) {
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    return text;
}

}  // namespace

bool NamesStation(int station, std::string_view text, StationField field, bool strict) {
    return StationMatch(station, text, field, strict) == 1;
}

bool IsNextPartRequest(int station, std::string_view text, StationField field, bool strict) {
    text = WithoutCr(text);
    return text.size() == 6 && text[0] == '%' && text[5] == '&' &&
           StationMatch(station, text, field, strict) == 1 && CheckBcc(text, 3) == 1;
}

std::string Execute(Memory& memory, int station, std::string_view text, StationField field, bool strict) {
    const Me me{station, field};
    text = WithoutCr(text);
    if (text.size() < 3 || text[0] != '%') return Negative(me, kErrFormat);
    int match = StationMatch(station, text, field, strict);
    if (match < 0) return Negative(me, kErrFormat);
    if (match == 0) return {};  // another station's text, or not in the station's form
    if (text.size() > kMaxText) return Negative(me, kErrTooLong);
    if (text.back() == '&') {
        // A next-part request (parts are kept by the connection, none
        // here), or a command in parts, which this unit does not take.
        if (text.size() == 6 && CheckBcc(text, 3) == 0) return Negative(me, kErrBcc);
        return Negative(me, kErrParts);
    }
    if (text.size() < 6 || text[3] != '#') return Negative(me, kErrFormat);
    int check = CheckBcc(text, text.size() - 2);
    if (check < 0) return Negative(me, kErrFormat);
    if (check == 0) return Negative(me, kErrBcc);
    return Dispatch(memory, me, text.substr(4, text.size() - 6));
}

std::vector<std::string> SplitAnswer(std::string_view answer, int limit, Faults::PartFault fault,
                                     int faultAt) {
    using PF = Faults::PartFault;
    std::vector<std::string> parts;
    if (limit < kMinSplit || answer.size() <= static_cast<std::size_t>(limit) ||
        answer.size() < 9 || answer[3] != '$' || answer.back() != '\r') {
        parts.emplace_back(answer);
        return parts;
    }
    const std::string_view head = answer.substr(0, 3);                   // "%NN"
    std::string_view rest = answer.substr(3, answer.size() - 6);         // "$CC" + data
    // Every part but the last: "%NN" + chunk + BCC + "&" CR; the last one
    // ends in BCC CR and so holds one character more.
    const auto inner = static_cast<std::size_t>(limit - 7);
    std::vector<std::string> chunks;
    while (rest.size() > inner + 1) {
        chunks.emplace_back(rest.substr(0, inner));
        rest.remove_prefix(inner);
    }
    chunks.emplace_back(rest);
    const std::size_t n = chunks.size();
    const std::size_t at = faultAt >= 1 ? static_cast<std::size_t>(faultAt - 1) : n;
    const bool hit = fault != PF::kNone && at < n;
    bool badBcc = false;
    if (hit) {
        switch (fault) {
            case PF::kExtraPart:
                chunks.emplace_back("0000");
                break;
            case PF::kMissingPart:
                chunks.resize(at + 1);
                break;
            case PF::kTruncatedPart: {
                std::size_t keep = at == 0 ? 3 : 0;  // the first part keeps "$CC"
                std::size_t data = chunks[at].size() - keep;
                chunks[at].resize(chunks[at].size() - std::min<std::size_t>(4, data));
                break;
            }
            case PF::kBadBcc:
                badBcc = true;
                break;
            default:
                break;
        }
    }
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        if (hit && fault == PF::kPartNeverComes && i == at) {
            parts.emplace_back();  // this part's request is never answered
            break;
        }
        std::string part(head);
        part += chunks[i];
        std::uint8_t bcc = Bcc(part);
        if (badBcc && i == at) bcc = static_cast<std::uint8_t>(bcc ^ 0x5A);
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", bcc);
        part += digits;
        if (i + 1 < chunks.size()) part += '&';
        part += '\r';
        parts.push_back(std::move(part));
    }
    return parts;
}

namespace {

// Area name at the start of s to its key; *used gets the name's length.
char NameKey(std::string_view s, std::size_t* used) {
    auto two = [&](std::string_view n) { return s.size() >= 2 && s.substr(0, 2) == n; };
    *used = 2;
    if (two("LD")) return 'G';
    if (two("IX")) return 'H';
    if (two("IY")) return 'I';
    if (two("SV")) return 'S';
    if (two("EV")) return 'V';
    if (s.size() >= 2 && s[0] == 'I') {
        char k = IndexKey(s[1]);
        if (k != 0) return k;
    }
    *used = 1;
    if (s.empty()) return 0;
    for (const char* k = kAllKeys; *k != '\0'; ++k) {
        if (*k == s[0]) return *k;
    }
    return 0;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' ||
                          s.back() == '\n')) {
        s.remove_suffix(1);
    }
    return s;
}

}  // namespace

bool SetFromText(Memory& memory, std::string_view line) {
    std::string upper(Trim(line));
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    std::string_view s = upper;
    std::size_t eq = s.find('=');
    if (eq == std::string_view::npos) return false;
    std::string_view name = Trim(s.substr(0, eq));
    std::string_view value = Trim(s.substr(eq + 1));
    std::size_t used = 0;
    char key = NameKey(name, &used);
    if (key == 0) return false;
    std::string_view addr = name.substr(used);
    long address = 0;
    if (!addr.empty()) {
        if (addr.size() > 6) return false;
        address = Decimal(addr, 0, addr.size());
        if (address < 0) return false;
    }
    if (value.empty() || value.size() > 12) return false;
    std::string v(value);
    char* endp = nullptr;
    long long number = 0;
    if (v.size() > 2 && v[0] == '0' && v[1] == 'X') {
        number = std::strtoll(v.c_str() + 2, &endp, 16);
        if (v[2] == '-' || v[2] == '+') return false;
    } else {
        number = std::strtoll(v.c_str(), &endp, 10);
    }
    if (endp == nullptr || *endp != '\0' || number < -32768 || number > 0xFFFFFFFFLL) return false;
    bool two = number > 0xFFFF;
    int a = static_cast<int>(address);
    if (!memory.Valid(key, a, a + (two ? 1 : 0))) return false;
    auto u = static_cast<std::uint32_t>(number);
    memory.Set(key, a, static_cast<std::uint16_t>(u & 0xFFFF));
    if (two) memory.Set(key, a + 1, static_cast<std::uint16_t>(u >> 16));
    return true;
}

}  // namespace etl::sim
