// The simulated PLC's memory and its MEWTOCOL-COM command interpreter.
#include <cstdio>
#include <cstdlib>

#include "tools/sim/simulator.h"

namespace etl::sim {
namespace {

constexpr int kMaxText = 118;  // characters before the CR

enum ErrorCode : int {
    kErrTooLong = 27,
    kErrBcc = 40,
    kErrFormat = 41,
    kErrUnknown = 42,
    kErrRange = 61,
    kErrReadOnly = 65,
};

struct AreaSize {
    char key;
    int words;
};

constexpr AreaSize kAreaSizes[] = {
    {'X', 1000}, {'Y', 1000}, {'R', 1000}, {'L', 1000}, {'T', 256},  {'C', 256},
    {'D', 32768}, {'G', 8448}, {'F', 32768}, {'S', 3072}, {'V', 3072},
    {'H', 16},   {'I', 16},   {'0', 16},   {'1', 16},   {'2', 16},  {'3', 16},
    {'4', 16},   {'5', 16},   {'6', 16},   {'7', 16},   {'8', 16},  {'9', 16},
    {'M', 16},   {'N', 16},   {'O', 16},   {'P', 16},   {'Q', 16},  {'U', 16},
};

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

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

// Four characters, low byte's digits first, to a word; -1 when not hex.
int ParseWord(std::string_view s, std::size_t pos) {
    int d[4];
    for (int i = 0; i < 4; ++i) {
        d[i] = HexDigit(s[pos + static_cast<std::size_t>(i)]);
        if (d[i] < 0) return -1;
    }
    return (d[2] << 12) | (d[3] << 8) | (d[0] << 4) | d[1];
}

std::string Frame(int station, std::string body) {
    char head[4];
    std::snprintf(head, sizeof head, "%%%02X", station & 0xFF);
    std::string out = head + body;
    char tail[4];
    std::snprintf(tail, sizeof tail, "%02X\r", Bcc(out));
    return out + tail;
}

std::string Negative(int station, int code) {
    char body[8];
    std::snprintf(body, sizeof body, "!%02d", (code % 100 + 100) % 100);
    return Frame(station, body);
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

std::string RunRange(Memory& memory, int station, const RangeRequest& r) {
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
    if (start > end || end >= memory.Size(r.key)) return Negative(station, kErrRange);
    std::size_t words = static_cast<std::size_t>(end - start + 1);
    std::string answer = "$";
    answer += r.answerCode;
    if (r.write) {
        if (b.size() - dataPos != 4 * words) return Negative(station, kErrFormat);
        for (std::size_t i = 0; i < words; ++i) {
            if (ParseWord(b, dataPos + 4 * i) < 0) return Negative(station, kErrFormat);
        }
        for (std::size_t i = 0; i < words; ++i) {
            memory.Set(r.key, start + static_cast<int>(i),
                       static_cast<std::uint16_t>(ParseWord(b, dataPos + 4 * i)));
        }
    } else {
        // The longest text of 118 characters cannot ask for more than the
        // largest area holds, but keep the answer bounded anyway.
        for (std::size_t i = 0; i < words; ++i) {
            AppendWord(answer, memory.Get(r.key, start + static_cast<int>(i)));
        }
    }
    return Frame(station, answer);
}

// WCS<a><www><b><v>: one contact.
std::string RunContactWrite(Memory& memory, int station, std::string_view b) {
    char area = b.size() > 3 ? b[3] : 0;
    if (!IsContactArea(area)) return Negative(station, kErrUnknown);
    if (IsReadOnlyContact(area)) return Negative(station, kErrReadOnly);
    if (b.size() != 9) return Negative(station, kErrFormat);
    int word = Decimal(b, 4, 3);
    int bit = HexDigit(b[7]);
    char v = b[8];
    if (word < 0 || bit < 0 || (v != '0' && v != '1')) return Negative(station, kErrFormat);
    if (word >= memory.Size(area)) return Negative(station, kErrRange);
    auto w = memory.Get(area, word);
    auto mask = static_cast<std::uint16_t>(1u << bit);
    memory.Set(area, word, static_cast<std::uint16_t>(v == '1' ? (w | mask) : (w & ~mask)));
    return Frame(station, "$WC");
}

std::string Dispatch(Memory& memory, int station, std::string_view b) {
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
            if (key == 0) return Negative(station, kErrUnknown);
            return RunRange(memory, station, {key, write, b, 4, 5, 4, 5, code});
        }
        char key = DataKey(c2);
        if (key == 0) return Negative(station, kErrUnknown);
        return RunRange(memory, station, {key, write, b, 3, 5, 5, 0, code});
    }
    if (cmd == "WR" && c2 == 'L') {
        // Link data written with W, R, L: served like WDL.
        return RunRange(memory, station, {'G', true, b, 3, 5, 5, 0, "WR"});
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

Memory::Memory() {
    for (const auto& a : kAreaSizes) {
        words_[static_cast<unsigned char>(a.key)].assign(static_cast<std::size_t>(a.words), 0);
    }
}

int Memory::Size(char key) const {
    auto k = static_cast<unsigned char>(key);
    return k < 128 ? static_cast<int>(words_[k].size()) : 0;
}

std::uint16_t Memory::Get(char key, int address) const {
    if (address < 0 || address >= Size(key)) return 0;
    return words_[static_cast<unsigned char>(key)][static_cast<std::size_t>(address)];
}

void Memory::Set(char key, int address, std::uint16_t value) {
    if (address < 0 || address >= Size(key)) return;
    words_[static_cast<unsigned char>(key)][static_cast<std::size_t>(address)] = value;
}

std::uint8_t Bcc(std::string_view text) {
    std::uint8_t x = 0;
    for (char c : text) x = static_cast<std::uint8_t>(x ^ static_cast<std::uint8_t>(c));
    return x;
}

std::string Execute(Memory& memory, int station, std::string_view text) {
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    if (text.size() < 3 || text[0] != '%') return Negative(station, kErrFormat);
    int hi = HexDigit(text[1]);
    int lo = HexDigit(text[2]);
    if (hi < 0 || lo < 0) return Negative(station, kErrFormat);
    bool global = text[1] == 'E' && text[2] == 'E';
    if (!global && hi * 16 + lo != station) return {};  // another station's text
    if (text.size() > kMaxText) return Negative(station, kErrTooLong);
    if (text.size() < 6 || text[3] != '#') return Negative(station, kErrFormat);
    std::string_view check = text.substr(text.size() - 2);
    if (check != "**") {
        int h = HexDigit(check[0]);
        int l = HexDigit(check[1]);
        if (h < 0 || l < 0) return Negative(station, kErrFormat);
        if (h * 16 + l != Bcc(text.substr(0, text.size() - 2))) return Negative(station, kErrBcc);
    }
    return Dispatch(memory, station, text.substr(4, text.size() - 6));
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
    for (const auto& a : kAreaSizes) {
        if (a.key == s[0]) return a.key;
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
    if (a + (two ? 1 : 0) >= memory.Size(key)) return false;
    auto u = static_cast<std::uint32_t>(number);
    memory.Set(key, a, static_cast<std::uint16_t>(u & 0xFFFF));
    if (two) memory.Set(key, a + 1, static_cast<std::uint16_t>(u >> 16));
    return true;
}

}  // namespace etl::sim
