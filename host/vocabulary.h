// The host interface in numbers and words: the function codes of VpiMain,
// the result codes with what they mean, the data types and the limits of a
// tag address. Header-only constants, shared by the driver, etlan and the
// tests; the PLC's own error codes are in mewtocol/plc_errors.h, the memory
// areas in mewtocol/memory_areas.h.
#pragma once

#include <cstdint>

namespace etl {

// Function codes of VpiMain; the codes in between answer 0, 1 or 2 without
// doing anything.
enum FunctionCode : std::uint32_t {
    kColdStart = 1,
    kWarmStart = 2,
    kCheckAddress = 3,
    kCheckAddressSuffix = 4,  // the check that also accepts a "_D" suffix
    kReadValue = 5,
    kReadBlock = 6,
    kWriteValue = 7,
    kEndVpi = 11,
    kGetDriverInfo = 14,
    kUpdateConfig = 15,
    kBrowseAddress = 16,
};
constexpr std::uint32_t kMaxFunctionCode = 17;

// Result codes handed back to the host.
enum Result : std::int32_t {
    kOk = 0,
    kInvalid = 1,        // invalid address, refused command, negative answer
    kFailed = 2,         // empty slot, failed start/connection/exchange
    kNotConfirmed = 53,  // address dialog ended without OK
};

// What a result code means, in words, for the function code that gave it.
constexpr const char* ResultText(std::int32_t result, std::uint32_t code) {
    const bool check = code == kCheckAddress || code == kCheckAddressSuffix;
    const bool io = code == kReadValue || code == kReadBlock || code == kWriteValue;
    switch (result) {
        case kOk:
            return check ? "valid" : "ok";
        case kInvalid:
            if (check) return "invalid address";
            if (io) {
                return "refused: the driver refused the command (invalid address or request, "
                       "see the log) or the PLC answered negatively three times";
            }
            return "invalid address, refused command or negative answer";
        case kFailed:
            if (code == kColdStart) {
                return "start failed: the socket library did not start or a station's host "
                       "name did not resolve";
            }
            if (io) {
                return "no answer: the station is not connected, no complete answer came "
                       "within its attempts, or it rests after it stopped answering";
            }
            return "not available or failed";
        case kNotConfirmed:
            return "dialog cancelled (or it could not open)";
        default:
            return "unknown result";
    }
}

// Stations and PLC numbers: 1..64 (entry 0 of the station table stays empty).
constexpr int kMaxStation = 64;
constexpr int kStationSlots = kMaxStation + 1;

// Data types of a tag (TagAddressBlock::dataType): 3, 4 and 5 are 32 bits
// wide, 6 is a single bit, 7 is refused; every other value is a 16-bit word.
constexpr std::int32_t kDataTypeBit = 6;
constexpr std::int32_t kDataTypeUnsupported = 7;
constexpr bool IsDoubleWordType(std::int32_t dataType) {
    return dataType == 3 || dataType == 4 || dataType == 5;
}
// The bit size a data type gives: 32, 1 or 16 (0 for the refused type).
constexpr int BitSizeOfType(std::int32_t dataType) {
    return IsDoubleWordType(dataType) ? 32
           : dataType == kDataTypeBit ? 1
           : dataType == kDataTypeUnsupported ? 0
                                              : 16;
}
// A value of two PLC words: a 32-bit data type, memory letter G (data link
// registers hold double words only) or a tag of bit size 32.
constexpr bool IsDoubleWord(std::int32_t dataType, std::int32_t memoryLetter, std::int32_t bitSize) {
    return IsDoubleWordType(dataType) || memoryLetter == 'G' || bitSize == 32;
}

// A tag address text: PP M AAAA[A][B] — two PLC number digits, a memory
// code, four address digits (five for D, F and G) and, for a bit tag, a
// bit digit. The check looks at its first nine characters.
constexpr int kAddressCheckLength = 9;
constexpr int kPlcNumberDigits = 2;
constexpr int kShortAddressDigits = 4;
constexpr int kLongAddressDigits = 5;
constexpr int kMaxPlcNumber = kMaxStation;
// Elements of a block read: at most 27, and 13 for memory code G (LD, double words).
constexpr int kMaxElements = 27;
constexpr int kMaxElementsEG = 13;

}  // namespace etl
