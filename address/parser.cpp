// The tag address check behind function codes 3 and 4.
//
// An address text is PP M AAAA[A][B]: a two-digit PLC number, a memory code,
// four or five address digits and, for bit tags, one bit digit. Code 4 also
// accepts a "_D" suffix that makes the value 32 bits wide. Every failed rule
// sets the result to 1 but the check goes on, so the host still gets every
// field the text allows; only data type 7 ends it early.
//
// All scratch state (the upper-cased copy, the suffix mode) lives on the
// caller's stack, so instances on different threads cannot disturb each
// other.
#include "address/parser.h"

#include <cstring>

#include "host/digits.h"
#include "host/operations.h"
#include "host/qanpro.h"
#include "host/vocabulary.h"

namespace etl {

namespace {

constexpr const char kDigits[] = "0123456789";
constexpr const char kCodeChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

constexpr int kCopyLength = kAddressCheckLength;

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::int32_t CheckTagAddress(VpiRequest* request, bool suffixMode) {
    if (request == nullptr) return kInvalid;
    auto* block = ParamsOf<TagAddressBlock>(request);
    if (block == nullptr) return kInvalid;

    std::int32_t result = kOk;
    block->bitNumber = 255;

    // The work text ends at the host text's NUL or, in suffix mode, at "_D".
    char* text = block->addressText;
    std::size_t workLength = text != nullptr ? std::strlen(text) : 0;
    bool suffixFound = false;
    if (suffixMode) {
        block->bitSize = 16;
        for (std::size_t i = 0; i < workLength; ++i) text[i] = Upper(text[i]);
        if (const char* suffix = text != nullptr ? std::strstr(text, "_D") : nullptr) {
            workLength = static_cast<std::size_t>(suffix - text);
            suffixFound = true;
            block->bitSize = 32;
        }
    }

    // Upper-cased copy of at most nine characters, NUL-filled.
    char copy[kCopyLength + 1] = {};
    for (std::size_t i = 0; i < workLength && i < kCopyLength; ++i) copy[i] = Upper(text[i]);

    for (int i = 0; i < kCopyLength; ++i) {
        if (std::strchr(AddressCharClasses[i], copy[i]) == nullptr) {
            err(kLogLevel, "MA: invalid chars in address\n");
            result = kInvalid;
            break;
        }
    }

    const std::size_t length = std::strlen(copy);

    if (!suffixFound) {
        switch (block->dataType) {
            case 3:
            case 4:
            case 5:
                block->bitSize = 32;
                break;
            case kDataTypeBit:
                block->bitSize = 1;
                break;
            case kDataTypeUnsupported:
                return kInvalid;
            default:
                block->bitSize = 16;
                break;
        }
    }

    block->plcNumber = ParseDecimal(copy, 2);
    if (block->plcNumber > kMaxPlcNumber) result = kInvalid;

    const char letter = copy[2];
    block->memoryLetter = static_cast<unsigned char>(letter);

    const std::int32_t bitSize = block->bitSize;
    if (letter == 'D' || letter == 'F') {
        if (length != 8 || (bitSize != 16 && bitSize != 32)) result = kInvalid;
        block->addressNumber = ParseDecimal(copy + 3, 5);
    } else if (letter == 'G') {
        if (length != 8 || bitSize != 32) result = kInvalid;
        block->addressNumber = ParseDecimal(copy + 3, 5);
        if ((block->addressNumber & 1u) != 0) result = kInvalid;
    } else {
        if (length != (bitSize > 1 ? 7u : 8u)) result = kInvalid;
        block->addressNumber = ParseDecimal(copy + 3, 4);
    }

    if (bitSize == 1 && length == 8) block->bitNumber = ParseHex(copy + 7, 1);
    if (bitSize == 1 && length == 9) block->bitNumber = ParseHex(copy + 8, 1);

    if (block->elementCount > kMaxElements) result = kInvalid;
    if (block->elementCount > kMaxElementsEG && (letter == 'E' || letter == 'G')) result = kInvalid;

    return result;
}

}  // namespace

const char* const AddressCharClasses[9] = {
    kDigits, kDigits, kCodeChars, kDigits, kDigits, kDigits, kDigits, kCodeChars, kCodeChars,
};

std::uint16_t ParseDecimal(const char* chars, int count) { return AccumulateDigits(chars, count, 10); }

std::uint16_t ParseHex(const char* chars, int count) { return AccumulateDigits(chars, count, 16); }

std::int32_t CheckAddress(VpiRequest* request) { return CheckTagAddress(request, false); }

std::int32_t CheckAddressD(VpiRequest* request) { return CheckTagAddress(request, true); }

}  // namespace etl
