// The station file "zavUR%02d.int": a header line whose ninth character
// starts the PC's own station number, then one line per station:
//
//     05 "127.0.0.5" "9094"        station 5, host text, port or service
//     ; a comment                  (a line that starts with ';' or a blank)
//
// The station number is the first two characters of the line; host and
// port are the texts between the first and second, and the third and
// fourth double quotes.
#include <atomic>
#include <cstdio>
#include <cstring>

#include "host/identity.h"
#include "host/qanpro.h"
#include "platform/socket_platform.h"
#include "stations/station_table.h"

namespace etl {
namespace {

std::atomic<std::int32_t> g_pcStationNumber{0};

constexpr int kLineBufferSize = 256;  // a longer line is read in pieces
constexpr std::size_t kHostTextMax = sizeof(StationEntry::host) - 1;
constexpr int kHeaderNumberOffset = 8;
constexpr std::uint32_t kInaddrNone = 0xFFFFFFFFu;

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A decimal integer as atoi and sscanf("%d") read one: leading white space,
// an optional sign, digits up to the first non-digit. Values beyond 32 bits
// stay at the nearest limit. False when no digit stands there.
bool ReadDecimal(const char* text, std::int32_t* value) {
    while (IsSpace(*text)) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    if (*text < '0' || *text > '9') return false;
    std::int64_t v = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        v = v * 10 + (*text - '0');
        if (v > 0x80000000LL) v = 0x80000000LL;
    }
    if (negative) v = -v;
    if (v > 0x7FFFFFFFLL) v = 0x7FFFFFFFLL;
    *value = static_cast<std::int32_t>(v);
    return true;
}

std::int32_t Atoi(const char* text) {
    std::int32_t v = 0;
    return ReadDecimal(text, &v) ? v : 0;
}

// The station file's digit rule: a character's code minus 48 up to the
// digit 9 (and for codes 128 to 255), minus 55 above it, modulo 256, so
// that "0A" is station 10.
int DigitValue(char c) {
    const int code = static_cast<unsigned char>(c);
    return ((code <= '9' || code >= 128) ? code - 48 : code - 55) & 0xFF;
}

// Copies the text between two positions into out (size > length).
void CopyText(char* out, const char* begin, const char* end) {
    const auto length = static_cast<std::size_t>(end - begin);
    std::memcpy(out, begin, length);
    out[length] = '\0';
}

// One part of a dotted address: decimal, octal after a 0, hexadecimal
// after 0x. Returns the position after it, or nullptr when malformed.
const char* ReadAddressPart(const char* p, std::uint64_t* value) {
    int base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    } else if (p[0] == '0') {
        base = 8;
    }
    std::uint64_t v = 0;
    const char* start = p;
    for (;; ++p) {
        int d;
        if (*p >= '0' && *p <= '9') {
            d = *p - '0';
        } else if (base == 16 && *p >= 'a' && *p <= 'f') {
            d = *p - 'a' + 10;
        } else if (base == 16 && *p >= 'A' && *p <= 'F') {
            d = *p - 'A' + 10;
        } else {
            break;
        }
        if (d >= base) return nullptr;
        v = v * static_cast<unsigned>(base) + static_cast<unsigned>(d);
        if (v > 0xFFFFFFFFull) return nullptr;
    }
    if (p == start) return nullptr;  // "0x" alone, or no digit
    *value = v;
    return p;
}

}  // namespace

std::int32_t PcStationNumber() { return g_pcStationNumber.load(std::memory_order_relaxed); }

void SetPcStationNumber(std::int32_t number) {
    g_pcStationNumber.store(number, std::memory_order_relaxed);
}

bool ParseDottedAddress(const char* text, std::uint32_t* address) {
    std::uint64_t parts[4];
    int count = 0;
    const char* p = text;
    for (;;) {
        if (count == 4) return false;
        p = ReadAddressPart(p, &parts[count]);
        if (p == nullptr) return false;
        ++count;
        if (*p == '\0') break;
        if (*p != '.') return false;
        ++p;
    }
    // Every part but the last is one byte; the last fills what is left.
    std::uint64_t value = 0;
    for (int i = 0; i < count - 1; ++i) {
        if (parts[i] > 0xFF) return false;
        value |= parts[i] << (8 * (3 - i));
    }
    const std::uint64_t lastLimit = 0xFFFFFFFFull >> (8 * (count - 1));
    if (parts[count - 1] > lastLimit) return false;
    value |= parts[count - 1];
    const std::uint8_t bytes[4] = {
        static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
        static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
    std::memcpy(address, bytes, 4);
    return true;
}

int SetSockectAddr(SockAddrIn* address, const char* host, const char* port,
                   const char* protocol) {
    address->family = plat::kAfInet;
    if (host[0] != '\0') {
        // A dotted address is taken as it stands; anything else, a name
        // with a domain part included, is looked up. A text that is neither
        // never becomes 255.255.255.255.
        std::uint32_t a = kInaddrNone;
        if (std::strchr(host, '.') == nullptr || !ParseDottedAddress(host, &a)) {
            if (!plat::ResolveHost(host, &a)) return -1;
        }
        address->address = a;
    }
    if (port[0] != '\0') {
        std::uint16_t p = 0;
        if (plat::ServicePort(port, protocol, &p)) {
            address->port = p;
        } else {
            // The number modulo 65536: port 70000 is 4464.
            address->port = plat::HostToNet16(static_cast<std::uint16_t>(Atoi(port)));
        }
    }
    return 0;
}

int InitFile(VpiRequest* request) {
    DriverContext* ctx = ContextOf(request);
    std::memset(ctx->stations, 0, sizeof ctx->stations);
    ctx->stationCount = 0;
    int result = 0;

    char fileName[32];
    std::snprintf(fileName, sizeof fileName, "zavUR%02d.int",
                  static_cast<int>(request->driverNumber));
    if (FILE* file = std::fopen(fileName, "r"); file != nullptr) {
        char line[kLineBufferSize];
        if (std::fgets(line, sizeof line, file) != nullptr) {
            // The own station number starts at the ninth character; a
            // shorter header holds none.
            std::int32_t own = 0;
            if (std::strlen(line) > static_cast<std::size_t>(kHeaderNumberOffset) &&
                ReadDecimal(line + kHeaderNumberOffset, &own)) {
                SetPcStationNumber(own);
            }
        }
        int n = 0;
        while (std::fgets(line, sizeof line, file) != nullptr) {
            ++n;
            if (line[0] == ' ' || line[0] == ';' || line[0] == '\0') continue;
            const int s = 10 * DigitValue(line[0]) + DigitValue(line[1]);
            if (s == PcStationNumber()) {
                err(kLogLevel, "ZavUR: InitFile station num. use by PC in line: %d", n);
                continue;
            }
            if (s > kMaxStation) {
                err(kLogLevel, "ZavUR: InitFile station num. too big in line: %d", n);
                continue;
            }
            StationEntry& entry = ctx->stations[s];

            const char* q1 = std::strchr(line, '"');
            const char* q2 = q1 != nullptr ? std::strchr(q1 + 1, '"') : nullptr;
            if (q2 == nullptr) {
                err(kLogLevel, "ZavUR: InitFile Fail cmd. in line: %d", n);
                continue;
            }
            if (static_cast<std::size_t>(q2 - q1 - 1) > kHostTextMax) {
                err(kLogLevel, "ZavUR: InitFile host name too long in line: %d", n);
                continue;
            }
            // The host text is stored before the port's quotes are looked for.
            CopyText(entry.host, q1 + 1, q2);

            const char* q3 = std::strchr(q2 + 1, '"');
            const char* q4 = q3 != nullptr ? std::strchr(q3 + 1, '"') : nullptr;
            if (q4 == nullptr) {
                err(kLogLevel, "ZavUR: InitFile Fail cmd. in line: %d", n);
                continue;
            }
            char portText[kLineBufferSize];
            CopyText(portText, q3 + 1, q4);
            entry.port = Atoi(portText);

            const int rc = SetSockectAddr(&entry.address, entry.host, portText, "tcp");
            if (rc != 0) {
                err(kLogLevel, "ZavUR: InitFile Fail SetSockectAddr() in line: %d rc = %d", n,
                    static_cast<int>(static_cast<std::uint16_t>(rc)));
                result = 1;
                continue;
            }
            err(kLogLevel, "Vpi%s%02d: Station num: %2d   IPAddr: %s   Port: %d", kVendorText,
                static_cast<int>(ctx->instanceNumber), s, entry.host,
                static_cast<int>(entry.port));
            ++ctx->stationCount;
        }
        std::fclose(file);
    }
    err(kLogLevel, "Vpi%s%02d: %s defines %d stations", kVendorText,
        static_cast<int>(ctx->instanceNumber), fileName, static_cast<int>(ctx->stationCount));
    return result;
}

}  // namespace etl
