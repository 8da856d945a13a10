// MEWTOCOL-COM command texts: a read ("%01#RDD0010000100**\r"), a word write
// ("%01#WDD00100001003412**\r") and a single-contact write with its block
// check code ("%01#WCSR0105127\r").
//
// A request that has no well-formed command (a field that does not fit, an
// unknown size, a value that is not a contact state) is refused with 1 and a
// log line; nothing malformed ever reaches a PLC. The builder keeps no state
// of its own: every buffer lives on the caller's stack.
#include "mewtocol/command_builder.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "host/qanpro.h"

namespace etl {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

constexpr unsigned kMaxContactWord = 999;
constexpr unsigned kMaxContactBit = 15;
constexpr int kMaxStationField = 0xFF;  // two hexadecimal digits

// Appends to the caller's command buffer and never writes past its end.
class CommandText {
public:
    explicit CommandText(char* buffer) : buffer_(buffer) { buffer_[0] = '\0'; }

    void Append(const char* s) {
        while (*s != '\0') Put(*s++);
    }

    void Format(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
    {
        char piece[kCommandBufferSize];
        va_list args;
        va_start(args, format);
        const int n = std::vsnprintf(piece, sizeof piece, format, args);
        va_end(args);
        if (n < 0 || static_cast<std::size_t>(n) >= sizeof piece) {
            overflow_ = true;
            return;
        }
        Append(piece);
    }

    std::size_t Length() const { return length_; }
    bool Overflow() const { return overflow_; }

private:
    void Put(char c) {
        if (length_ + 1 >= kCommandBufferSize) {
            overflow_ = true;
            return;
        }
        buffer_[length_++] = c;
        buffer_[length_] = '\0';
    }

    char* buffer_;
    std::size_t length_ = 0;
    bool overflow_ = false;
};

// The start address as atoi would read it (leading blanks, a sign, digits up
// to the first other character), but held in 64 bits and kept from
// overflowing: anything above the widest field is simply "too big".
long long LeadingNumber(const char* s) {
    while (*s == ' ' || (*s >= '\t' && *s <= '\r')) ++s;
    bool negative = false;
    if (*s == '+' || *s == '-') negative = *s++ == '-';
    long long value = 0;
    for (; *s >= '0' && *s <= '9'; ++s) {
        if (value < 1000000000LL) value = value * 10 + (*s - '0');
    }
    return negative ? -value : value;
}

// The address digits up to the "_D" suffix (which marks a 32-bit tag and is
// no part of the address), at most kAddressDigitsSize - 1 of them.
void CutSuffix(const char* digits, char (&out)[kAddressDigitsSize]) {
    std::size_t n = 0;
    if (digits != nullptr) {
        while (n + 1 < kAddressDigitsSize && digits[n] != '\0' &&
               !(digits[n] == '_' && digits[n + 1] == 'D')) {
            out[n] = digits[n];
            ++n;
        }
    }
    out[n] = '\0';
}

// A one-word end field is the address digits as the tag names them: four
// digits for a four-digit area, and four or five for a five-digit one (the
// index registers take a five-digit start and a four-digit end).
bool IsWordEndField(const char* digits, int width) {
    const std::size_t n = std::strlen(digits);
    if (n < 4 || n > static_cast<std::size_t>(width)) return false;
    for (std::size_t i = 0; i < n; ++i) {
        if (digits[i] < '0' || digits[i] > '9') return false;
    }
    return true;
}

std::uint16_t LoadWord(const std::uint16_t* p) {
    std::uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

int Refuse(char* text) {
    text[0] = '\0';
    return 1;
}

// The caller has checked the context's value pointers.
int BuildContactWrite(const TagIoBlock& tag, const DriverContext& ctx, char letter, char* text,
                      bool decimalStation) {
    if (tag.addressNumber > kMaxContactWord) {
        err(kLogLevel, "ZOVUZ: SetMewtocolCmd() Address out of range for memory type %c", letter);
        return Refuse(text);
    }
    if (tag.bitNumber > kMaxContactBit) {
        err(kLogLevel, "ZOVUZ: SetMewtocolCmd() Bit number %u out of range",
            static_cast<unsigned>(tag.bitNumber));
        return Refuse(text);
    }
    const unsigned state = *reinterpret_cast<const unsigned char*>(ctx.valueWord);
    if (state > 1) {
        err(kLogLevel, "ZOVUZ: SetMewtocolCmd() Contact value %u not allowed", state);
        return Refuse(text);
    }

    char station[3];
    StationField(tag.plcNumber, decimalStation, station);
    CommandText out(text);
    out.Format("%%%s#WCS%c%03u%X%u", station, letter,
               static_cast<unsigned>(tag.addressNumber), static_cast<unsigned>(tag.bitNumber),
               state);
    out.Format("%02X\r", ComputeBcc(text, out.Length()));
    return out.Overflow() ? Refuse(text) : 0;
}

}  // namespace

std::uint8_t ComputeBcc(const char* text, std::size_t length) {
    std::uint8_t bcc = 0;
    for (std::size_t i = 0; i < length; ++i) bcc ^= static_cast<std::uint8_t>(text[i]);
    return bcc;
}

void WordToHex(std::uint16_t value, char out[5]) {
    // Low byte first, each byte's high nibble first.
    out[0] = kHexDigits[(value >> 4) & 0xF];
    out[1] = kHexDigits[value & 0xF];
    out[2] = kHexDigits[(value >> 12) & 0xF];
    out[3] = kHexDigits[(value >> 8) & 0xF];
    out[4] = '\0';
}

bool IsDoubleWord(const TagIoBlock& tag) {
    // A tag that the address check made 32 bits wide with the "_D" suffix is
    // a double word whatever its data type says.
    return IsDoubleWord(tag.dataType, tag.memoryLetter, tag.bitSize);
}

void StationField(int plcNumber, bool decimal, char out[3]) {
    const unsigned n = static_cast<unsigned>(plcNumber) & 0xFF;
    if (decimal && n <= 99) {
        out[0] = static_cast<char>('0' + n / 10);
        out[1] = static_cast<char>('0' + n % 10);
    } else {
        out[0] = kHexDigits[n >> 4];
        out[1] = kHexDigits[n & 0xF];
    }
    out[2] = '\0';
}

long long WordAddressOf(const char* addressDigits) {
    char digits[kAddressDigitsSize];
    CutSuffix(addressDigits, digits);
    return LeadingNumber(digits);
}

int SetMewtocolCmd(VpiRequest* request, int kind, int dataWords, const char* addressDigits,
                   char* text, bool decimalStation) {
    if (text == nullptr) return 1;
    text[0] = '\0';
    if (request == nullptr || request->params == nullptr) return 1;
    if (kind != kCommandRead && kind != kCommandWrite) return 1;
    const TagIoBlock& tag = *ParamsOf<TagIoBlock>(request);
    const bool write = kind == kCommandWrite;

    // The key is the low byte of the memory letter.
    const char letter = static_cast<char>(tag.memoryLetter & 0xFF);
    const int index = FindMemoryArea(static_cast<unsigned char>(letter));
    if (index < 0) {
        err(kLogLevel, "ZOVUZ: SetMewtocolCmd() Cmd not found %c", letter);
        return 1;
    }
    const MemoryArea& area = MemoryAreaTable[index];
    if (write && area.write[0] == '\0') {
        err(kLogLevel, "ZOVUZ: SetMewtocolCmd() Write to memory type %c not allowed", letter);
        return 1;
    }

    if (tag.plcNumber < 0 || tag.plcNumber > kMaxStationField) {
        err(kLogLevel, "ZOVUZ: SetMewtocolCmd() PLC number %d out of range", tag.plcNumber);
        return 1;
    }
    if (tag.elementCount <= 0) {
        err(kLogLevel, "ZOVUZ: SetMewtocolCmd() Element count %d not allowed", tag.elementCount);
        return 1;
    }

    const DriverContext* ctx = write ? ContextOf(request) : nullptr;
    if (write && (ctx == nullptr || ctx->valueWord == nullptr || ctx->valueBase == nullptr)) return 1;

    if (write && tag.bitSize == 1) return BuildContactWrite(tag, *ctx, letter, text, decimalStation);

    // The command covers exactly the words the caller decodes or sends. A
    // write carries one value: one word for 16 bits, two for 32.
    if (write) {
        if (tag.bitSize != 16 && tag.bitSize != 32) {
            err(kLogLevel, "ZOVUZ: SetMewtocolCmd() Bit size %d not allowed", tag.bitSize);
            return 1;
        }
        if (dataWords != tag.bitSize / 16) {
            err(kLogLevel, "ZOVUZ: SetMewtocolCmd() Word count %d not allowed", dataWords);
            return 1;
        }
    } else if (dataWords < 1) {
        err(kLogLevel, "ZOVUZ: SetMewtocolCmd() Word count %d not allowed", dataWords);
        return 1;
    }

    char digits[kAddressDigitsSize];
    CutSuffix(addressDigits, digits);
    const long long fieldLimit = area.width == 5 ? 100000 : 10000;
    const long long start = LeadingNumber(digits);
    const long long end = start + dataWords - 1;
    const bool wordEnd = dataWords == 1;
    if (start < 0 || start >= fieldLimit || end >= fieldLimit ||
        (wordEnd && !IsWordEndField(digits, area.width))) {
        err(kLogLevel, "ZOVUZ: SetMewtocolCmd() Address out of range for memory type %c", letter);
        return Refuse(text);
    }

    char station[3];
    StationField(tag.plcNumber, decimalStation, station);
    CommandText out(text);
    out.Format("%%%s#", station);
    out.Append(write ? area.write : area.read);
    out.Format("%0*lld", area.width, start);
    if (wordEnd) {
        out.Append(digits);
    } else {
        out.Format("%0*lld", area.width, end);
    }

    if (write) {
        char hex[5];
        if (tag.bitSize == 32) {
            WordToHex(LoadWord(ctx->valueBase), hex);
            out.Append(hex);
        }
        WordToHex(LoadWord(ctx->valueWord), hex);
        out.Append(hex);
    }
    out.Append("**\r");

    if (out.Overflow()) return Refuse(text);
    return out.Length() > kMaxCommandLength ? 1 : 0;
}

}  // namespace etl
