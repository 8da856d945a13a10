// The tag address check through VpiMain codes 3 and 4, with any text, data
// type and element count. The text lives in a heap buffer of exactly its
// size, so any read or write past it is caught; the result and every field
// are compared with an independent reading of the address syntax.
//
// Input: flags (bit 0: code 4; bit 1: the buffer also holds the bytes after
// a NUL in the input, ending in a NUL of its own; bit 2: a 32-bit element
// count follows instead of one signed byte; bit 3: no text, a null
// pointer), the data type (one signed byte), the element count, then the
// text.
#include <cstring>
#include <memory>
#include <string>

#include "host/blocks.h"
#include "host/vpi.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using etl::fuzz::ByteReader;

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsCode(char c) { return IsDigit(c) || (c >= 'A' && c <= 'Z'); }

// A character's digit value: its code minus 48 up to '9' (bytes 128 to 255
// count as below it), minus 55 above, modulo 256.
unsigned Digit(char c) {
    const auto code = static_cast<unsigned char>(c);
    return ((code <= '9' || code >= 128) ? code - 48u : code - 55u) & 0xFFu;
}

unsigned Number(const char* p, int count, unsigned base) {
    unsigned v = 0;
    for (int i = 0; i < count; ++i) v = (v * base + Digit(p[i])) & 0xFFFFu;
    return v;
}

constexpr std::int32_t kUnwritten = -7;

struct Expected {
    std::int32_t result = 0;
    bool early = false;  // data type 7 ended the check
    std::int32_t plcNumber = 0;
    std::int32_t memoryLetter = 0;
    std::uint32_t addressNumber = 0;
    std::uint32_t bitNumber = 255;
    std::int32_t bitSize = 16;
};

Expected Check(const std::string& text, bool suffixMode, std::int32_t dataType,
               std::int32_t elementCount) {
    Expected e;
    std::string work = text;
    bool suffix = false;
    if (suffixMode) {
        for (char& c : work) c = Upper(c);
        const std::size_t at = work.find("_D");
        if (at != std::string::npos) {
            work.resize(at);
            suffix = true;
        }
    }
    char copy[10] = {};
    for (std::size_t i = 0; i < work.size() && i < 9; ++i) copy[i] = Upper(work[i]);
    const std::size_t length = std::strlen(copy);
    for (std::size_t i = 0; i < length; ++i) {
        const bool code = i == 2 || i >= 7;
        if (!(code ? IsCode(copy[i]) : IsDigit(copy[i]))) e.result = 1;
    }
    if (suffix) {
        e.bitSize = 32;
    } else if (dataType == 3 || dataType == 4 || dataType == 5) {
        e.bitSize = 32;
    } else if (dataType == 6) {
        e.bitSize = 1;
    } else if (dataType == 7) {
        // The check ends before any field but the bit number is written;
        // code 4 has already set the bit size to 16.
        e.result = 1;
        e.early = true;
        e.bitSize = suffixMode ? 16 : kUnwritten;
        return e;
    }
    e.plcNumber = static_cast<std::int32_t>(Number(copy, 2, 10));
    if (e.plcNumber > 64) e.result = 1;
    const char letter = copy[2];
    e.memoryLetter = static_cast<unsigned char>(letter);
    if (letter == 'D' || letter == 'F' || letter == 'G') {
        if (length != 8) e.result = 1;
        if (letter == 'G' ? e.bitSize != 32 : e.bitSize == 1) e.result = 1;
        e.addressNumber = Number(copy + 3, 5, 10);
        if (letter == 'G' && (e.addressNumber & 1u) != 0) e.result = 1;
    } else {
        if (length != (e.bitSize > 1 ? 7u : 8u)) e.result = 1;
        e.addressNumber = Number(copy + 3, 4, 10);
    }
    if (e.bitSize == 1 && length == 8) e.bitNumber = Number(copy + 7, 1, 16);
    if (e.bitSize == 1 && length == 9) e.bitNumber = Number(copy + 8, 1, 16);
    if (elementCount > 27) e.result = 1;
    if (elementCount > 13 && (letter == 'E' || letter == 'G')) e.result = 1;
    return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ByteReader in(data, size);
    const std::uint8_t flags = in.U8();
    const bool suffixMode = (flags & 1) != 0;
    const auto dataType = static_cast<std::int32_t>(static_cast<std::int8_t>(in.U8()));
    const std::int32_t elementCount = (flags & 4) != 0
                                          ? static_cast<std::int32_t>(in.U32())
                                          : static_cast<std::int8_t>(in.U8());
    std::string bytes = in.Rest();
    const std::string text(bytes.c_str());  // up to the first NUL
    if ((flags & 2) == 0) bytes = text;

    // Exactly the bytes and one NUL, nothing after them.
    const std::size_t bufferSize = bytes.size() + 1;
    std::unique_ptr<char[]> buffer(new char[bufferSize]);
    std::memcpy(buffer.get(), bytes.c_str(), bufferSize);

    etl::TagAddressBlock block{};
    const bool nullText = (flags & 8) != 0;  // a host that passes no text at all
    block.addressText = nullText ? nullptr : buffer.get();
    block.dataType = dataType;
    block.elementCount = elementCount;
    block.plcNumber = kUnwritten;
    block.memoryLetter = kUnwritten;
    block.addressNumber = 0xDEADu;
    block.bitSize = kUnwritten;
    etl::VpiRequest request{};
    request.functionCode = suffixMode ? 4 : 3;
    request.params = &block;
    const std::int32_t result = VpiMain(&request);

    const Expected e = Check(nullText ? std::string() : text, suffixMode, dataType, elementCount);
    ETL_FUZZ_CHECK(result == e.result);
    ETL_FUZZ_CHECK(block.bitNumber == e.bitNumber);
    ETL_FUZZ_CHECK(block.bitSize == e.bitSize);
    if (e.early) {
        ETL_FUZZ_CHECK(block.plcNumber == kUnwritten && block.memoryLetter == kUnwritten &&
                       block.addressNumber == 0xDEADu);
    } else {
        ETL_FUZZ_CHECK(block.plcNumber == e.plcNumber);
        ETL_FUZZ_CHECK(block.memoryLetter == e.memoryLetter);
        ETL_FUZZ_CHECK(block.addressNumber == e.addressNumber);
    }
    if (result == 0) {
        ETL_FUZZ_CHECK(block.plcNumber >= 0 && block.plcNumber <= 64);
        ETL_FUZZ_CHECK(block.bitSize == 1 || block.bitSize == 16 || block.bitSize == 32);
    }
    // The text is upper-cased in place by code 4 only, and only up to its
    // NUL; what follows the NUL is never touched.
    for (std::size_t i = 0; i < bufferSize; ++i) {
        const char original = bytes.c_str()[i];
        const char want = suffixMode && !nullText && i < text.size() ? Upper(original) : original;
        ETL_FUZZ_CHECK(buffer[i] == want);
    }
    return 0;
}
