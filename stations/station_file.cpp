// The station file "zavUR%02d.int": a header line whose ninth character
// starts the PC's own station number, then one line per station:
//
//     05 "127.0.0.5" "9094"        station 5, host text, port or service
//     06 "127.0.0.6" "9095" timeout=500 rest=10     ... and its options
//     ; a comment                  (a line that starts with ';' or a blank)
//
// The station number is the first two characters of the line; host and
// port are the texts between the first and second, and the third and
// fourth double quotes; the station's options follow the port.
#include <atomic>
#include <cstdio>
#include <cstring>

#include "host/digits.h"
#include "host/identity.h"
#include "host/qanpro.h"
#include "platform/file_platform.h"
#include "platform/socket_platform.h"
#include "stations/station_host.h"
#include "stations/station_line.h"
#include "stations/station_options.h"
#include "stations/station_table.h"

namespace etl {
namespace {

std::atomic<std::int32_t> g_pcStationNumber{0};

constexpr int kLineBufferSize = 256;  // a longer line is read in pieces
static_assert(kHostTextMax == sizeof(StationEntry::host) - 1, "a host text fills its entry");

// Texts of the file quoted in the log are cut to this length.
constexpr int kLoggedTextMax = 64;

int LoggedLength(const char* begin, const char* end) {
    const auto length = static_cast<int>(end - begin);
    return length < kLoggedTextMax ? length : kLoggedTextMax;
}

// Copies the text between two positions into out (size > length).
void CopyText(char* out, const char* begin, const char* end) {
    const auto length = static_cast<std::size_t>(end - begin);
    std::memcpy(out, begin, length);
    out[length] = '\0';
}

// One piece of a line as fgets reads one (at most size - 1 bytes, up to
// and including a line end), NUL-terminated; NUL bytes inside are kept. The
// number of bytes taken from the file, 0 at its end.
long ReadPiece(std::FILE* file, char* buf, int size) {
    int length = 0;
    while (length < size - 1) {
        const int c = std::getc(file);
        if (c == EOF) break;
        buf[length++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    buf[length] = '\0';
    return length;
}

}  // namespace

std::int32_t PcStationNumber() { return g_pcStationNumber.load(std::memory_order_relaxed); }

void SetPcStationNumber(std::int32_t number) {
    g_pcStationNumber.store(number, std::memory_order_relaxed);
}

int SetSockectAddr(SockAddrIn* address, const char* host, const char* port,
                   const char* protocol) {
    address->family = plat::kAfInet;
    if (host[0] != '\0') {
        // A dotted text that is no address (a typo) leaves 0.0.0.0, so that
        // only its own station fails, at connect.
        std::uint32_t a = 0;
        if (ReadHostText(host, &a) == HostReading::kUnresolved) return -1;
        address->address = a;
    }
    if (port[0] != '\0') {
        std::uint16_t p = 0;
        if (plat::ServicePort(port, protocol, &p)) {
            address->port = p;
        } else {
            // The number modulo 65536; InitFile passes only texts that are
            // a service or a port number (ReadPortNumber).
            address->port = plat::HostToNet16(static_cast<std::uint16_t>(Atoi(port)));
        }
    }
    return 0;
}

namespace {

// The station lines of an open station file into the context's table;
// 1 when a host name could not be resolved, else 0.
int ReadStations(std::FILE* file, const char* fileName, DriverContext* ctx) {
    int result = 0;
    char line[kLineBufferSize];
    long bytes = ReadPiece(file, line, sizeof line);
    if (bytes > 0) {
        // The own station number starts at the ninth character; a
        // shorter header holds none.
        std::int32_t own = 0;
        if (std::strlen(line) > kHeaderNumberOffset &&
            ReadDecimal(line + kHeaderNumberOffset, &own)) {
            SetPcStationNumber(own);
        }
    }
    int n = 0;
    for (;;) {
        const long length = ReadPiece(file, line, sizeof line);
        if (length == 0) break;
        // An endless or huge file cannot hold up the start: what was read
        // before a bound stays in effect, the rest is not looked at.
        if (n == kMaxStationFileLines) {
            err(kLogLevel, "ZavUR: InitFile %s has more than %d lines, the rest is not read",
                fileName, kMaxStationFileLines);
            break;
        }
        bytes += length;
        if (bytes > kMaxStationFileBytes) {
            err(kLogLevel, "ZavUR: InitFile %s is longer than %ld bytes, the rest is not read",
                fileName, kMaxStationFileBytes);
            break;
        }
        ++n;
        if (IsStationComment(line)) continue;
        const int s = StationNumberOf(line);
        if (s == PcStationNumber()) {
            err(kLogLevel, "ZavUR: InitFile station num. use by PC in line: %d", n);
            continue;
        }
        if (s > kMaxStation) {
            err(kLogLevel, "ZavUR: InitFile station num. too big in line: %d", n);
            continue;
        }
        StationEntry& entry = ctx->stations[s];

        const char* host = nullptr;
        const char* hostEnd = nullptr;
        if (!QuotedText(line, &host, &hostEnd)) {
            err(kLogLevel, "ZavUR: InitFile Fail cmd. in line: %d", n);
            continue;
        }
        if (static_cast<std::size_t>(hostEnd - host) > kHostTextMax) {
            err(kLogLevel, "ZavUR: InitFile host name too long in line: %d", n);
            continue;
        }
        // The host text is stored before the port's quotes are looked for.
        // From here on the line's options replace the earlier ones: until
        // the line has defined its station, the defaults.
        CopyText(entry.host, host, hostEnd);
        StationOptions& options = ctx->options[s];
        options = StationOptions{};

        const char* port = nullptr;
        const char* portEnd = nullptr;
        if (!QuotedText(hostEnd + 1, &port, &portEnd)) {
            err(kLogLevel, "ZavUR: InitFile Fail cmd. in line: %d", n);
            continue;
        }
        char portText[kLineBufferSize];
        CopyText(portText, port, portEnd);
        // Neither a port number nor a service: the station is not defined
        // (an earlier line for it neither), rather than reached at a port
        // that the text does not name.
        std::uint16_t number = 0;
        std::uint16_t service = 0;
        if (!ReadPortNumber(portText, &number) && !plat::ServicePort(portText, "tcp", &service)) {
            err(kLogLevel, "ZavUR: InitFile port \"%.*s\" is no port number 1-65535 in line: %d",
                LoggedLength(port, portEnd), port, n);
            entry = StationEntry{};
            continue;
        }
        entry.port = Atoi(portText);

        const int rc = SetSockectAddr(&entry.address, entry.host, portText, "tcp");
        if (rc != 0) {
            err(kLogLevel, "ZavUR: InitFile Fail SetSockectAddr() in line: %d rc = %d", n,
                static_cast<int>(static_cast<std::uint16_t>(rc)));
            result = 1;
            continue;
        }
        // A part with a leading 0 would reach another device than the text
        // seems to name: defined, but never connected.
        const bool octalOrHex = HasOctalOrHexPart(entry.host);
        if (octalOrHex) entry.address.address = 0;
        err(kLogLevel, "Vpi%s%02d: Station num: %2d   IPAddr: %s   Port: %d", kVendorText,
            static_cast<int>(ctx->instanceNumber), s, entry.host,
            static_cast<int>(entry.port));
        // Every defined line counts; the count stops at its field's limit.
        if (ctx->stationCount < 0xFF) ++ctx->stationCount;
        if (octalOrHex) {
            err(kLogLevel,
                "ZavUR: InitFile host text \"%s\" has a part with a leading 0 (octal) or 0x (hex) "
                "in line: %d",
                entry.host, n);
        }

        OptionsReading reading;
        if (!ParseStationOptions(portEnd + 1, &options, &reading)) {
            err(kLogLevel,
                "ZavUR: InitFile option \"%.*s\" not understood in line: %d (%s); the station "
                "keeps the defaults",
                LoggedLength(reading.badBegin, reading.badEnd), reading.badBegin, n,
                kStationOptionsAllowed);
        } else if (reading.given != 0) {
            char text[160];
            FormatStationOptions(options, reading.given, text, sizeof text);
            err(kLogLevel, "ZavUR: station %d options: %s", s, text);
        }
    }
    return result;
}

}  // namespace

int InitFile(VpiRequest* request) {
    DriverContext* ctx = ContextOf(request);
    std::memset(ctx->stations, 0, sizeof ctx->stations);
    std::memset(ctx->options, 0, sizeof ctx->options);
    ctx->stationCount = 0;
    int result = 0;

    char fileName[32];
    std::snprintf(fileName, sizeof fileName, "zavUR%02d.int",
                  static_cast<int>(request->driverNumber));
    std::FILE* file = nullptr;
    switch (plat::OpenRegularFile(fileName, &file)) {
    case plat::FileOpen::kOpened:
        result = ReadStations(file, fileName, ctx);
        std::fclose(file);
        break;
    case plat::FileOpen::kNotRegular:
        err(kLogLevel, "ZavUR: InitFile %s is not a regular file", fileName);
        break;
    case plat::FileOpen::kNotOpened:
        break;
    }
    err(kLogLevel, "Vpi%s%02d: %s defines %d stations", kVendorText,
        static_cast<int>(ctx->instanceNumber), fileName, static_cast<int>(ctx->stationCount));
    return result;
}

}  // namespace etl
