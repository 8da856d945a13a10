// The request block, the host's parameter blocks and the per-instance
// context. The host is a 32-bit little-endian process: on that build every
// offset and size below is checked at compile time. Other builds keep the
// same fields in the same order in their natural layout.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/vocabulary.h"

namespace etl {

// Window handle as the host passes it: 32 bits in the 32-bit host.
using HostWindow = void*;

struct ScanTable;  // mewtocol/scan.cpp

struct VpiRequest {
    void* context;              // DriverContext of the instance
    std::uint32_t functionCode;  // 0..17
    std::int32_t driverNumber;   // names the station file, zavUR%02d.int
    std::uint32_t reserved;      // not read
    void* params;               // parameter block of the function code
};

struct StartBlock {  // codes 1 and 15
    char name[12];
    std::int32_t enable;
    std::uint32_t hostValue;
    std::uint16_t replyWord1;
    std::uint16_t replyWord2;
};

struct WarmStartBlock {  // code 2
    std::int32_t stationNumber;
};

struct DriverInfoBlock {  // code 14
    std::int32_t infoValueA;
    const char* vendorText;
    const char* bannerText;
    std::int32_t contextSize;
    std::int32_t infoValueB;
    std::uint16_t replyWord1;
    std::uint16_t replyWord2;
    std::uint32_t reserved;  // never written
    std::uint32_t infoValueC;
};

struct TagAddressBlock {  // codes 3 and 4
    char* addressText;
    std::uint32_t reserved;
    std::int32_t dataType;
    std::int32_t elementCount;
    std::int32_t plcNumber;       // out
    std::int32_t memoryLetter;    // out
    std::uint32_t addressNumber;  // out
    std::uint32_t bitNumber;      // out, 255 = no bit
    std::int32_t bitSize;         // out: 1, 16 or 32
};

struct TagIoBlock {  // codes 5, 6 and 7
    const char* addressText;
    std::uint32_t reserved;
    std::int32_t plcNumber;
    std::int32_t memoryLetter;
    std::uint32_t addressNumber;
    std::uint32_t bitNumber;
    std::int32_t bitSize;
    std::int32_t dataType;
    std::int32_t elementCount;
    std::uint32_t reserved2;
    void* valueBuffer;
};

struct DialogBlock {  // code 16
    char* outputText;  // at least 10 bytes
    HostWindow parentWindow;
};

// IPv4 socket address as the socket interface lays it out: family in host
// order, port and address in network order.
struct SockAddrIn {
    std::uint16_t family;
    std::uint16_t port;
    std::uint32_t address;
    std::uint8_t zero[8];
};

// 0 and -1 both mean "no socket": a cleared entry holds 0.
using SocketHandle = std::int32_t;
constexpr SocketHandle kNoSocket = -1;

struct StationEntry {
    char host[16];  // dotted address or host name, empty = not configured
    std::int32_t port;  // as read from the file, for the log only
    SocketHandle socket;
    SockAddrIn address;
};

// How a station's exchanges have gone lately: whether it fails and why, its
// rest (a station that stopped answering is not asked again until its rest
// period has passed) and what its log lines may still say. Bytes only, the
// wider fields little-endian (LoadU16/StoreU16 and the like): the record
// sits at an odd offset of the context.
struct StationHealth {
    std::uint8_t flags;           // kHealth... below, and the log's tokens in the top bits
    std::uint8_t failures[2];     // failed exchanges since it began failing (saturating)
    std::uint8_t refusedText[4];  // hash of the command text that the PLC refused
    std::uint8_t restUntil[4];    // tick count at which its rest ends
    std::uint8_t restSeconds[2];  // the rest period it is in, or had last
    std::uint8_t logRefill[4];    // tick count of the last refill of the log's tokens
    std::uint8_t suppressed[2];   // lines not logged since the last one that was
    std::uint8_t rested[2];       // requests refused at once while it rested (saturating)
};
constexpr std::uint8_t kHealthFailing = 0x01;    // its exchanges fail
constexpr std::uint8_t kHealthRefused = 0x02;    // ... because the PLC refused or garbled one command
constexpr std::uint8_t kHealthResting = 0x04;    // requests fail at once until restUntil
constexpr std::uint8_t kHealthSurplus = 0x08;    // bytes behind an answer were logged once
constexpr std::uint8_t kHealthLogStarted = 0x10; // the log's tokens and logRefill are set
constexpr int kHealthTokenShift = 5;             // the lines it may still log at once (0..7)

// A station's options, from the text after the port of its station line:
// zero in every byte is the defaults (hexadecimal station field, the
// default time-out, the default rest).
struct StationOptions {
    std::uint8_t flags;           // kOption... below
    std::uint8_t reserved;
    std::uint8_t timeoutMs[2];    // one attempt's answer time-out; 0: the default
    std::uint8_t restSeconds[2];  // first rest period, with kOptionRestSet; 0 there: never rest
    std::uint8_t scanMs[2];       // serve reads from values at most this old; 0: no scan
};
constexpr std::uint8_t kOptionDecimal = 0x01;  // requests write the station field in decimal
constexpr std::uint8_t kOptionRestSet = 0x02;  // restSeconds holds the line's rest=

// The record fields wider than a byte, little-endian in any build.
inline std::uint16_t LoadU16(const std::uint8_t* b) {
    return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}
inline void StoreU16(std::uint8_t* b, std::uint32_t v) {
    b[0] = static_cast<std::uint8_t>(v & 0xFF);
    b[1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
}
inline std::uint32_t LoadU32(const std::uint8_t* b) {
    return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
           (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}
inline void StoreU32(std::uint8_t* b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[i] = static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF);
}

// The command area of the frame: the longest command text is 132 bytes, so
// the rest of the 2048 bytes that the host reserves for it holds the
// stations' health records and options.
constexpr std::size_t kSendAreaSize = 2048;
constexpr std::size_t kSendCommandSize =
    kSendAreaSize - (sizeof(StationHealth) + sizeof(StationOptions)) * kStationSlots;
constexpr std::size_t kReceiveFrameSize = 2060;
constexpr std::size_t kEtlanHeaderSize = 12;

struct DriverContext {
    std::uint32_t hostValue;
    std::int32_t enable;
    char name[12];
    std::uint32_t renameValue;
    std::int32_t instanceNumber;
    std::uint8_t driverNumberByte;
    std::uint16_t* valueWord;  // value buffer + 2 bytes, during a request
    std::uint16_t* valueBase;  // value buffer, during a request
    StationEntry stations[kStationSlots];
    std::uint8_t stationCount;
    std::uint8_t sendHeader[kEtlanHeaderSize];
    char sendCommand[kSendCommandSize];
    StationHealth health[kStationSlots];
    StationOptions options[kStationSlots];
    std::uint8_t receiveFrame[kReceiveFrameSize];
    std::int32_t sendLength;
    std::int32_t receiveLength;
    // Bookkeeping of the driver's own, outside the fields above.
    std::uint32_t ownerMark;      // marks a context this driver started
    std::uint32_t socketsStarted; // socket library starts this context holds
    ScanTable* scan;              // the scan of its stations (scan=MS), or none
    std::uint8_t reserved[28 - sizeof(void*)];
};

// The size that GetDriverInfo reports.
constexpr std::int32_t kContextSize = static_cast<std::int32_t>(sizeof(DriverContext));

#if defined(_WIN32) && !defined(_WIN64)
#define ETL_CHECK(type, field, off) static_assert(offsetof(type, field) == (off), #type "::" #field)
ETL_CHECK(VpiRequest, context, 0);
ETL_CHECK(VpiRequest, functionCode, 4);
ETL_CHECK(VpiRequest, driverNumber, 8);
ETL_CHECK(VpiRequest, reserved, 12);
ETL_CHECK(VpiRequest, params, 16);
static_assert(sizeof(VpiRequest) == 20);

ETL_CHECK(StartBlock, name, 0);
ETL_CHECK(StartBlock, enable, 12);
ETL_CHECK(StartBlock, hostValue, 16);
ETL_CHECK(StartBlock, replyWord1, 20);
ETL_CHECK(StartBlock, replyWord2, 22);
static_assert(sizeof(StartBlock) == 24);

static_assert(sizeof(WarmStartBlock) == 4);

ETL_CHECK(DriverInfoBlock, infoValueA, 0);
ETL_CHECK(DriverInfoBlock, vendorText, 4);
ETL_CHECK(DriverInfoBlock, bannerText, 8);
ETL_CHECK(DriverInfoBlock, contextSize, 12);
ETL_CHECK(DriverInfoBlock, infoValueB, 16);
ETL_CHECK(DriverInfoBlock, replyWord1, 20);
ETL_CHECK(DriverInfoBlock, replyWord2, 22);
ETL_CHECK(DriverInfoBlock, reserved, 24);
ETL_CHECK(DriverInfoBlock, infoValueC, 28);
static_assert(sizeof(DriverInfoBlock) == 32);

ETL_CHECK(TagAddressBlock, addressText, 0);
ETL_CHECK(TagAddressBlock, reserved, 4);
ETL_CHECK(TagAddressBlock, dataType, 8);
ETL_CHECK(TagAddressBlock, elementCount, 12);
ETL_CHECK(TagAddressBlock, plcNumber, 16);
ETL_CHECK(TagAddressBlock, memoryLetter, 20);
ETL_CHECK(TagAddressBlock, addressNumber, 24);
ETL_CHECK(TagAddressBlock, bitNumber, 28);
ETL_CHECK(TagAddressBlock, bitSize, 32);
static_assert(sizeof(TagAddressBlock) == 36);

ETL_CHECK(TagIoBlock, addressText, 0);
ETL_CHECK(TagIoBlock, reserved, 4);
ETL_CHECK(TagIoBlock, plcNumber, 8);
ETL_CHECK(TagIoBlock, memoryLetter, 12);
ETL_CHECK(TagIoBlock, addressNumber, 16);
ETL_CHECK(TagIoBlock, bitNumber, 20);
ETL_CHECK(TagIoBlock, bitSize, 24);
ETL_CHECK(TagIoBlock, dataType, 28);
ETL_CHECK(TagIoBlock, elementCount, 32);
ETL_CHECK(TagIoBlock, reserved2, 36);
ETL_CHECK(TagIoBlock, valueBuffer, 40);
static_assert(sizeof(TagIoBlock) == 44);

ETL_CHECK(DialogBlock, outputText, 0);
ETL_CHECK(DialogBlock, parentWindow, 4);
static_assert(sizeof(DialogBlock) == 8);

static_assert(sizeof(StationHealth) == 21 && alignof(StationHealth) == 1);
static_assert(sizeof(StationOptions) == 8 && alignof(StationOptions) == 1);

ETL_CHECK(SockAddrIn, family, 0);
ETL_CHECK(SockAddrIn, port, 2);
ETL_CHECK(SockAddrIn, address, 4);
static_assert(sizeof(SockAddrIn) == 16);

ETL_CHECK(StationEntry, host, 0);
ETL_CHECK(StationEntry, port, 16);
ETL_CHECK(StationEntry, socket, 20);
ETL_CHECK(StationEntry, address, 24);
static_assert(sizeof(StationEntry) == 40);

ETL_CHECK(DriverContext, hostValue, 0);
ETL_CHECK(DriverContext, enable, 4);
ETL_CHECK(DriverContext, name, 8);
ETL_CHECK(DriverContext, renameValue, 20);
ETL_CHECK(DriverContext, instanceNumber, 24);
ETL_CHECK(DriverContext, driverNumberByte, 28);
ETL_CHECK(DriverContext, valueWord, 32);
ETL_CHECK(DriverContext, valueBase, 36);
ETL_CHECK(DriverContext, stations, 40);
ETL_CHECK(DriverContext, stationCount, 2640);
ETL_CHECK(DriverContext, sendHeader, 2641);
ETL_CHECK(DriverContext, sendCommand, 2653);
ETL_CHECK(DriverContext, health, 2653 + 163);
ETL_CHECK(DriverContext, options, 2653 + 163 + 21 * 65);
ETL_CHECK(DriverContext, receiveFrame, 4701);
ETL_CHECK(DriverContext, sendLength, 6764);
ETL_CHECK(DriverContext, receiveLength, 6768);
static_assert(sizeof(DriverContext) == 6808);
#undef ETL_CHECK
#endif

// The longest command text with its NUL fits the command area.
static_assert(kSendCommandSize >= 132);

// The header and the command text form one contiguous frame.
static_assert(offsetof(DriverContext, sendCommand) ==
              offsetof(DriverContext, sendHeader) + kEtlanHeaderSize);

inline DriverContext* ContextOf(VpiRequest* r) { return static_cast<DriverContext*>(r->context); }

template <typename Block>
inline Block* ParamsOf(VpiRequest* r) { return static_cast<Block*>(r->params); }

}  // namespace etl
