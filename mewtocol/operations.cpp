// ReadValue, ReadBlock and WriteValue: the word address comes from the tag's
// address text, one exchange runs, and a read's answer is decoded into the
// host's value buffer.
#include "mewtocol/operations.h"

#include <cstring>

#include "host/digits.h"
#include "host/operations.h"
#include "host/qanpro.h"
#include "mewtocol/command_builder.h"
#include "mewtocol/exchange.h"

namespace etl {
namespace {

constexpr int kDataOffset = 18;

// Per-request scratch: the address digits and the bit number of a bit tag.
struct AddressParts {
    char digits[kAddressDigitsSize];
    int bit = -1;
};

// Takes the bit digit off the end of the digits. The address check accepts
// the digit in either case, so a-f count like A-F.
void SplitBitDigit(AddressParts* parts) {
    const std::size_t n = std::strlen(parts->digits);
    if (n == 0) return;
    char c = parts->digits[n - 1];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    parts->bit = c < 'A' ? c - 48 : c - 55;
    parts->digits[n - 1] = '\0';
}

void PointAtBuffer(VpiRequest* request) {
    auto* ctx = ContextOf(request);
    auto* base = static_cast<std::uint16_t*>(ParamsOf<TagIoBlock>(request)->valueBuffer);
    ctx->valueBase = base;
    ctx->valueWord = base + 1;
}

void ClearFirstWords(VpiRequest* request) {
    std::memset(ParamsOf<TagIoBlock>(request)->valueBuffer, 0, 4);
}

// Bytes of one element of a block in the host's buffer: a bit takes a
// 16-bit slot; any other size as many bytes as its bits need.
long long ElementBytes(int bitSize) {
    if (bitSize == 1 || bitSize == 16) return 2;
    if (bitSize <= 0) return 0;
    return bitSize >= 32 ? 4 : (bitSize + 7) / 8;
}

// A block clears its first two words as well, but never more than the
// elements the host's buffer holds: one 16-bit element is two bytes only.
void ClearBlockStart(VpiRequest* request) {
    const auto* tag = ParamsOf<TagIoBlock>(request);
    if (tag->elementCount < 1) return;
    const long long bytes = static_cast<long long>(tag->elementCount) * ElementBytes(tag->bitSize);
    std::memset(tag->valueBuffer, 0, bytes < 4 ? static_cast<std::size_t>(bytes) : 4);
}

const char* Field(const DriverContext* ctx, int k) {
    return reinterpret_cast<const char*>(ctx->receiveFrame) + kDataOffset + 4 * k;
}

void Store16(void* buffer, std::size_t offset, std::uint16_t v) {
    std::memcpy(static_cast<std::uint8_t*>(buffer) + offset, &v, 2);
}

void Store32(void* buffer, std::size_t offset, std::uint32_t v) {
    std::memcpy(static_cast<std::uint8_t*>(buffer) + offset, &v, 4);
}

// A request for one value: its command covers that one value whatever the
// element count says. The host's block is left as it is.
struct SingleValueRequest {
    TagIoBlock tag;
    VpiRequest request;
    explicit SingleValueRequest(const VpiRequest* original)
        : tag(*static_cast<const TagIoBlock*>(original->params)), request(*original) {
        tag.elementCount = 1;
        request.params = &tag;
    }
};

}  // namespace

std::uint16_t HexToWord(const char* chars) {
    const char order[4] = {chars[2], chars[3], chars[0], chars[1]};
    std::uint16_t value = 0;
    for (char c : order) {
        if (c == '\0') break;
        const int d = HexDigitValue(c) < 0 ? 0 : HexDigitValue(c);  // not hex: 0
        value = static_cast<std::uint16_t>(value * 16 + d);
    }
    return value;
}

int BitTest(std::uint16_t value, int bit) {
    if (bit < 0 || bit > 15) return 0;
    return (value >> bit) & 1;
}

void AddressDigits(const char* addressText, char* out, std::size_t size) {
    const char* p = addressText;
    for (int i = 0; i < 3 && *p != '\0'; ++i) ++p;
    while (*p >= 'A' && *p <= 'Y') ++p;
    std::size_t n = 0;
    while (p[n] != '\0' && n + 1 < size) {
        out[n] = p[n];
        ++n;
    }
    out[n] = '\0';
}

std::int32_t ReadValue(VpiRequest* request) {
    const auto* tag = ParamsOf<TagIoBlock>(request);
    PointAtBuffer(request);
    ClearFirstWords(request);

    AddressParts parts;
    AddressDigits(tag->addressText, parts.digits, sizeof parts.digits);
    if (tag->dataType == kDataTypeBit) {
        SplitBitDigit(&parts);
        // A word has bits 0 to F: the digits G to Z name none, and reading
        // one would report a bit that does not exist as 0.
        if (parts.bit < 0 || parts.bit > 15) {
            err(kLogLevel, "ZOVUZ: SetMewtocolCmd() Bit number %u out of range",
                static_cast<unsigned>(parts.bit));
            return kInvalid;
        }
    }

    const int words = IsDoubleWord(*tag) ? 2 : 1;
    SingleValueRequest one(request);
    const int rc = ReadExchange(&one.request, words, parts.digits);
    if (rc != 0) return rc;

    const DriverContext* ctx = ContextOf(request);
    void* buffer = tag->valueBuffer;
    const std::uint16_t first = HexToWord(Field(ctx, 0));
    if (words == 2) {
        Store16(buffer, 0, first);
        Store16(buffer, 2, HexToWord(Field(ctx, 1)));
    } else if (tag->dataType == kDataTypeBit) {
        Store16(buffer, 2, static_cast<std::uint16_t>(BitTest(first, parts.bit)));
    } else {
        Store16(buffer, 2, first);
    }
    return kOk;
}

std::int32_t ReadBlock(VpiRequest* request) {
    const auto* tag = ParamsOf<TagIoBlock>(request);
    AddressParts parts;
    AddressDigits(tag->addressText, parts.digits, sizeof parts.digits);
    PointAtBuffer(request);
    ClearBlockStart(request);

    // Only 16- and 32-bit elements are decoded (the host sized its buffer
    // for elements of its own bit size; bits are not decoded from a block),
    // and a block holds at least one value and fits one answer.
    if (tag->bitSize != 16 && tag->bitSize != 32) {
        err(kLogLevel, "ZOVUZ: SetMewtocolCmd() Bit size %d not allowed", tag->bitSize);
        return kInvalid;
    }
    if (tag->elementCount < 1) {
        err(kLogLevel, "ZOVUZ: SetMewtocolCmd() Element count %d not allowed", tag->elementCount);
        return kInvalid;
    }
    const long long words =
        tag->bitSize == 32 ? 2LL * tag->elementCount : static_cast<long long>(tag->elementCount);
    if (words > kMaxAnswerWords) {
        err(kLogLevel, "ZOVUZ: SetMewtocolCmd() Word count %lld not allowed", words);
        return kInvalid;
    }

    const int rc = ReadExchange(request, static_cast<int>(words), parts.digits);
    if (rc != 0) return rc;
    const DriverContext* ctx = ContextOf(request);
    void* buffer = tag->valueBuffer;
    for (int i = 0; i < tag->elementCount; ++i) {
        const auto offset = static_cast<std::size_t>(i);
        if (tag->bitSize == 32) {
            const std::uint32_t low = HexToWord(Field(ctx, 2 * i));
            const std::uint32_t high = HexToWord(Field(ctx, 2 * i + 1));
            Store32(buffer, 4 * offset, low | (high << 16));
        } else {
            Store16(buffer, 2 * offset, HexToWord(Field(ctx, i)));
        }
    }
    return kOk;
}

std::int32_t WriteValue(VpiRequest* request) {
    const auto* tag = ParamsOf<TagIoBlock>(request);
    PointAtBuffer(request);

    AddressParts parts;
    AddressDigits(tag->addressText, parts.digits, sizeof parts.digits);
    if (tag->dataType == kDataTypeBit) SplitBitDigit(&parts);

    const int words = tag->bitSize == 32 ? 2 : 1;
    SingleValueRequest one(request);
    return WriteExchange(&one.request, words, parts.digits);
}

}  // namespace etl
