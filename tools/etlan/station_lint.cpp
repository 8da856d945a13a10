#include "tools/etlan/station_lint.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <system_error>
#include <utility>

#include "host/digits.h"
#include "host/vocabulary.h"
#include "platform/socket_platform.h"
#include "stations/station_host.h"
#include "stations/station_line.h"
#include "stations/station_options.h"

namespace etl::etlan {
namespace {

std::vector<std::string> Lines(const std::string& content) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < content.size()) {
        const auto end = content.find('\n', at);
        std::string line = content.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return lines;
}

// A port text that can only be the name of a TCP service ("http"): a
// letter, then letters, digits, '-' or '_'. Whether the system knows it is
// for the driver's system to say.
bool LooksLikeServiceName(const std::string& text) {
    if (text.empty() || !std::isalpha(static_cast<unsigned char>(text[0]))) return false;
    return std::all_of(text.begin(), text.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
    });
}

// A dotted text of decimal parts with their leading zeros taken away, as
// its writer meant it ("192.168.001.010": "192.168.1.10"); empty when a
// part holds anything but digits.
std::string WithoutLeadingZeros(const std::string& text) {
    std::string out;
    std::size_t at = 0;
    for (;;) {
        const auto dot = text.find('.', at);
        std::string part = text.substr(at, dot == std::string::npos ? std::string::npos : dot - at);
        if (part.empty() || part.find_first_not_of("0123456789") != std::string::npos) return "";
        part.erase(0, std::min(part.find_first_not_of('0'), part.size() - 1));
        out += part;
        if (dot == std::string::npos) return out;
        out += '.';
        at = dot + 1;
    }
}

// A line of two digits and a quoted host, as a station line starts.
bool StationLike(const std::string& text) {
    const char* b = nullptr;
    const char* e = nullptr;
    return text.size() >= 2 && std::isdigit(static_cast<unsigned char>(text[0])) &&
           std::isdigit(static_cast<unsigned char>(text[1])) && QuotedText(text.c_str(), &b, &e);
}

// "(write \"9095\" between double quotes)": the first word after the host's
// closing quote, when there is one.
std::string PortQuotesFix(const char* afterHost) {
    std::string word;
    const char* p = afterHost;
    while (*p == ' ' || *p == '\t') ++p;
    while (*p != '\0' && *p != ' ' && *p != '\t' && *p != '\r' && *p != '"') word += *p++;
    return word.empty() ? "(write the port between double quotes, as in \"9094\")"
                        : "(write \"" + word + "\", the port between double quotes)";
}

const char* OptionFaultText(OptionFault fault) {
    switch (fault) {
    case OptionFault::kUnknown: return "is no option";
    case OptionFault::kOutOfRange: return "is out of range";
    case OptionFault::kRepeated: return "repeats an option of the line";
    default: return "is not understood";
    }
}

// A line the driver would take as a station line: a comment it is not, and
// it holds a quoted host.
bool LooksLikeStation(const std::string& line) {
    const char* b = nullptr;
    const char* e = nullptr;
    return !IsStationComment(line.c_str()) && line.size() >= 2 && QuotedText(line.c_str(), &b, &e);
}

}  // namespace

bool StationLint::HasErrors() const {
    for (const auto& p : problems) {
        if (p.error) return true;
    }
    return false;
}

StationLint LintStations(const std::string& content) {
    // Host names are looked up as the driver does, with the socket library
    // started (Winsock wants it).
    struct Sockets {
        bool started = plat::SocketsStart(0x0101) == 0;
        ~Sockets() {
            if (started) plat::SocketsCleanup();
        }
    } sockets;
    StationLint lint;
    auto add = [&](int line, bool error, int station, std::string text) {
        lint.problems.push_back({line, error, station, std::move(text)});
    };
    bool blank = true;
    for (std::size_t i = 0; i < content.size(); ++i) {
        const auto c = static_cast<unsigned char>(content[i]);
        if (c < 0x20 && c != '\t' && c != '\r' && c != '\n') {
            const long line = 1 + static_cast<long>(std::count(content.begin(), content.begin() + static_cast<long>(i), '\n'));
            char why[96];
            std::snprintf(why, sizeof why, "byte 0x%02X: a binary file, no station file", c);
            add(static_cast<int>(line), true, -1, why);
            return lint;
        }
        if (!IsSpace(static_cast<char>(c))) blank = false;
    }
    if (blank) {
        add(1, true, -1, "the file is empty: it defines no station");
        return lint;
    }
    const auto lines = Lines(content);
    const std::string& header = lines[0];
    // An editor's UTF-8 byte order mark: three bytes the driver reads as
    // the header's first characters. What follows it is the header as meant.
    const bool bom = header.rfind("\xEF\xBB\xBF", 0) == 0;
    const std::string meantHeader = bom ? header.substr(3) : header;
    const bool noHeader = LooksLikeStation(meantHeader);
    std::int32_t own = 0;
    if (header.size() > kHeaderNumberOffset && ReadDecimal(header.c_str() + kHeaderNumberOffset, &own)) {
        lint.pcNumber = own;
    }
    if (bom) {
        std::string what = "the file starts with a UTF-8 byte order mark (3 bytes that editors do not show): the driver reads "
                           "them as the first characters of the header line";
        std::int32_t meant = 0;
        const bool hasMeant = meantHeader.size() > kHeaderNumberOffset &&
                              ReadDecimal(meantHeader.c_str() + kHeaderNumberOffset, &meant);
        if (!noHeader && (lint.pcNumber != (hasMeant ? meant : -1))) {
            what += ", so the PC number it reads from the ninth character is " +
                    (lint.pcNumber >= 0 ? std::to_string(lint.pcNumber) : std::string("none")) +
                    (hasMeant ? ", not " + std::to_string(meant) : std::string());
        }
        add(1, false, -1, what + " (save the file as UTF-8 without byte order mark, or as ANSI)");
    }
    if (noHeader) {
        const int s = StationNumberOf(meantHeader.c_str());
        add(1, true, s,
            "no header line: the driver takes this first line as the header, so station " + std::to_string(s) +
                " is not defined (start the file with a line such as \"PC-stn: 65\")");
    } else if (!bom && header.size() > kHeaderNumberOffset && std::isdigit(static_cast<unsigned char>(header[kHeaderNumberOffset - 1]))) {
        // A number that starts before the ninth character ("ETLANPC10") is
        // read from the ninth on: its first digits are lost.
        std::size_t b = kHeaderNumberOffset - 1;
        while (b > 0 && std::isdigit(static_cast<unsigned char>(header[b - 1]))) --b;
        const std::size_t e = header.find_first_not_of("0123456789", b);
        const std::string written = header.substr(b, e == std::string::npos ? std::string::npos : e - b);
        std::string fixed = header.substr(0, b);
        fixed.append(kHeaderNumberOffset - b, ' ');
        fixed += header.substr(b);
        add(1, false, -1,
            "header \"" + header + "\": the driver reads the PC number from the ninth character on, so it takes " +
                (lint.pcNumber >= 0 ? std::to_string(lint.pcNumber) : std::string("none")) + ", not " + written +
                " (write \"" + fixed + "\")");
    } else if (!bom && lint.pcNumber < 0) {
        add(1, false, -1, "the header holds no PC number from its ninth character on (\"PC-stn: 65\")");
    }
    // Lines that start with a blank or a tab but hold a station line: told
    // once all lines are read, as an error when no other line defines the
    // station.
    struct Indented {
        int line;
        int station;
        bool tab;
        std::string start;
    };
    std::vector<Indented> indented;
    std::map<int, int> firstLine;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const int n = static_cast<int>(i) + 1;
        const std::string& line = lines[i];
        if (line.empty()) {
            // The driver reads the line end as the first character, so an
            // empty line is no comment to it.
            add(n, false, -1, "an empty line: the driver skips it but logs \"station num. too big in line: " +
                                 std::to_string(n - 1) + "\"; a comment line starts with ';'");
            continue;
        }
        if (line[0] == ' ' || line[0] == '\t') {
            const auto first = line.find_first_not_of(" \t");
            const std::string rest = first == std::string::npos ? "" : line.substr(first);
            if (StationLike(rest)) {
                indented.push_back({n, StationNumberOf(rest.c_str()), line[0] == '\t', rest.substr(0, 2)});
            } else if (line[0] == '\t') {
                // A blank starts a comment line, a tab does not.
                add(n, false, -1,
                    "the line starts with a tab, which does not make a comment line: the driver reads a station number "
                    "above 64 from it, skips the line and logs \"station num. too big in line: " + std::to_string(n - 1) +
                        "\" (start a comment line with ';')");
            }
            continue;
        }
        if (IsStationComment(line.c_str())) continue;
        if (line.size() < 2) {
            add(n, true, -1, "a line of one character: the driver skips it");
            continue;
        }
        const int s = StationNumberOf(line.c_str());
        const std::string st = "station " + std::to_string(s);
        if (line[0] < '0' || line[0] > '9' || line[1] < '0' || line[1] > '9') {
            // The two characters quoted by snprintf: mingw's GCC 12 reports a
            // false -Wrestrict on "\"" + line.substr(0, 2) here.
            char quoted[8];
            std::snprintf(quoted, sizeof quoted, "\"%.2s\"", line.c_str());
            add(n, false, s, std::string(quoted) + " is read as " + st + ": a station line starts with two digits");
        }
        if (s == lint.pcNumber) {
            add(n, true, s, st + " is the PC's own number (header line): the driver skips it");
            continue;
        }
        if (s > kMaxStation) {
            add(n, true, s, st + " is above " + std::to_string(kMaxStation) + ": the driver skips it");
            continue;
        }
        const char* host = nullptr;
        const char* hostEnd = nullptr;
        const char* port = nullptr;
        const char* portEnd = nullptr;
        if (!QuotedText(line.c_str(), &host, &hostEnd)) {
            add(n, true, s, st + ": missing quotes, a station line is NN \"host\" \"port\": the driver skips it");
            continue;
        }
        const std::string hostText(host, hostEnd);
        if (hostText.size() > kHostTextMax) {
            add(n, true, s, st + ": host text \"" + hostText + "\" is longer than 15 characters: the driver skips it");
            continue;
        }
        if (!QuotedText(hostEnd + 1, &port, &portEnd)) {
            // The driver has taken the host text (and set the options back
            // to the defaults) before it looks for the port's quotes.
            const std::string fix = PortQuotesFix(hostEnd + 1);
            if (lint.defined.count(s) != 0) {
                add(n, true, s,
                    st + ": the port has no double quotes: the driver keeps the address and port of line " +
                        std::to_string(lint.line.at(s)) + " (" + lint.address.at(s) + ") but none of its options, and does not use this line's host text " + fix);
                lint.options.erase(s);
            } else {
                add(n, true, s,
                    st + ": the port has no double quotes: the driver keeps the host text but no address or port, so it does not count " + st +
                        ", yet tries to connect it at the start (\"ConnectSocket() Fail on station " + std::to_string(s) +
                        "\") and fails every request to it (\"not connected\") " + fix);
            }
            continue;
        }
        // A port text that is no number is a service name to the driver;
        // one that cannot be either leaves the station undefined.
        const std::string portText(port, portEnd);
        std::uint16_t portNumber = 0;
        const bool portNamed = !ReadPortNumber(portText.c_str(), &portNumber);
        // A name is looked up as the driver looks it up, on this machine.
        std::uint16_t servicePort = 0;
        const bool serviceName = portNamed && LooksLikeServiceName(portText);
        const bool portBad = portNamed && !(serviceName && plat::ServicePort(portText.c_str(), "tcp", &servicePort));
        if (portBad) {
            add(n, true, s, st + ": port \"" + portText + "\" is no port number 1-65535" +
                                (serviceName ? " nor a TCP service that this machine knows" : "") +
                                ": the driver does not define " + st + " (write the unit's TCP port, a number such as \"9094\")");
        } else if (portNamed) {
            add(n, false, s, st + ": port \"" + portText + "\" is taken as the name of a TCP service: where the system "
                                 "knows no such service, the driver does not define " + st + " (write the port number)");
        }
        if (s == 0) add(n, true, s, "station 0 is no station (1-64): no tag can name it");
        // The driver reads no host text of a line whose port it refuses, so
        // it looks up no name there; a dotted text is still worth a word.
        const bool named = !hostText.empty() && hostText.find('.') == std::string::npos;
        std::uint32_t ip = 0;
        const HostReading address = portBad && named ? HostReading::kAddress : ReadHostText(hostText.c_str(), &ip);
        if (address == HostReading::kOctalOrHex) {
            const std::string meant = WithoutLeadingZeros(hostText);
            add(n, true, s, st + ": host text \"" + hostText + "\" has a part with a leading 0, which the driver would read " +
                                "in octal or hex (another device): it never connects " + st + " (write " +
                                (meant.empty() ? std::string("each part in decimal without a leading 0") : "\"" + meant + "\"") + ")");
        } else if (address == HostReading::kNoAddress) {
            add(n, true, s, st + ": host text \"" + hostText + "\" is no usable IPv4 address");
        } else if (address == HostReading::kUnresolved) {
            add(n, true, s, st + ": host name \"" + hostText + "\" cannot be resolved: the driver's start fails "
                                "(ColdStart result 2) and no station connects");
            lint.unresolved[s] = hostText + ":" + portText;
            continue;
        }
        if (portBad) {
            // The line wins and fails: an earlier line for the station is undone.
            lint.defined.erase(s);
            lint.address.erase(s);
            lint.usable.erase(s);
            lint.hostText.erase(s);
            lint.options.erase(s);
            lint.line.erase(s);
            continue;
        }
        StationOptions options{};
        OptionsReading reading;
        if (!ParseStationOptions(portEnd + 1, &options, &reading)) {
            add(n, true, s, "option \"" + std::string(reading.badBegin, reading.badEnd) + "\" " +
                                OptionFaultText(reading.fault) + "; the station runs with the defaults (allowed: " +
                                kStationOptionsAllowed + ")");
            lint.options.erase(s);
        } else if (reading.given != 0) {
            char text[160];
            FormatStationOptions(options, reading.given, text, sizeof text);
            lint.options[s] = text;
        } else {
            lint.options.erase(s);
        }
        // The address and port the driver connects; the texts as the file
        // gives them where it has no address or no port number.
        const bool usable = address == HostReading::kAddress;
        char dotted[16];
        FormatDottedAddress(ip, dotted, sizeof dotted);
        lint.address[s] = (usable ? std::string(dotted) : hostText) + ":" +
                          (portNamed ? portText : std::to_string(portNumber));
        lint.usable[s] = usable;
        if (usable && hostText != dotted) {
            lint.hostText[s] = hostText;
        } else {
            lint.hostText.erase(s);
        }
        if (const auto it = firstLine.find(s); it != firstLine.end()) {
            add(n, true, s, st + " is defined again (first in line " + std::to_string(it->second) + "): this line wins");
        } else {
            firstLine[s] = n;
        }
        lint.defined.insert(s);
        lint.line[s] = n;
    }
    for (const Indented& i : indented) {
        const std::string st = "station " + std::to_string(i.station);
        const bool elsewhere = lint.defined.count(i.station) != 0;
        std::string what = st + ": the line starts with a ";
        if (i.tab) {
            what += "tab, which does not make a comment line: the driver reads a station number above 64 from it and skips "
                    "the line, logging \"station num. too big in line: " + std::to_string(i.line - 1) + "\"";
        } else {
            what += "blank, so the driver takes it as a comment line";
        }
        what += elsewhere ? "; " + st + " is defined by line " + std::to_string(lint.line.at(i.station))
                          : ", and " + st + " is not defined";
        what += " (remove what stands before \"" + i.start + "\" to define it here, or start the line with ';')";
        add(i.line, !elsewhere, i.station, what);
    }
    std::stable_sort(lint.problems.begin(), lint.problems.end(),
                     [](const StationProblem& a, const StationProblem& b) { return a.line < b.line; });
    return lint;
}

std::string MissingStationReason(const StationLint& lint, int plc) {
    for (const auto& p : lint.problems) {
        if (p.error && p.station == plc && lint.defined.count(plc) == 0) {
            return "line " + std::to_string(p.line) + ": " + p.text;
        }
    }
    if (plc == lint.pcNumber) return "station " + std::to_string(plc) + " is the PC's own number (header line)";
    for (const auto& p : lint.problems) {
        if (p.error && p.station == -1) return "station " + std::to_string(plc) + " is not defined: line " + std::to_string(p.line) + ": " + p.text;
    }
    if (plc < 1 || plc > kMaxStation) {
        return "station " + std::to_string(plc) + " cannot be defined: station numbers are 1 to " + std::to_string(kMaxStation);
    }
    return "station " + std::to_string(plc) + " is not defined in the station file";
}

std::string OnlyStations(const std::string& content, const std::set<int>& keep) {
    std::string out;
    std::size_t at = 0;
    bool first = true;
    while (at < content.size()) {
        const auto end = content.find('\n', at);
        const std::size_t stop = end == std::string::npos ? content.size() : end + 1;
        const std::string line = content.substr(at, stop - at);
        if (first || IsStationComment(line.c_str()) || line.size() < 2 ||
            keep.count(StationNumberOf(line.c_str())) != 0) {
            out += line;
        } else {
            out += end == std::string::npos ? ";" : ";\n";
        }
        first = false;
        at = stop;
    }
    return out;
}

bool ReadWholeFile(const std::string& path, std::string* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool ReadableFile(const std::string& path, const std::string& what, std::string* why) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    const std::string named = what + " \"" + path + "\"";
    if (status.type() == std::filesystem::file_type::not_found) {
        *why = named + " not found";
        return false;
    }
    if (status.type() == std::filesystem::file_type::directory) {
        *why = named + " is a directory";
        return false;
    }
    if (ec || status.type() != std::filesystem::file_type::regular) {
        *why = named + " is not a regular file";
        return false;
    }
    errno = 0;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        *why = named + " cannot be read: " + std::strerror(errno);
        return false;
    }
    std::fclose(f);
    return true;
}

int CheckLineFiles(const Options& o, const std::string& library, std::string* why) {
    constexpr int kUsage = 2, kCannotRun = 3;  // etlan's exit statuses
    if (!o.stations.empty() && !ReadableFile(o.stations, "station file", why)) {
        *why = "option -s: " + *why;
        return kCannotRun;
    }
    if (!o.silent.empty() && !ReadableFile(o.silent, "station file", why)) {
        *why = "option --silent: " + *why;
        return kCannotRun;
    }
    // The log is never appended to a file of the line's own: a slip of the
    // finger would put log lines into the station file or the library.
    // The same holds for QANPRO_LOG, which the host runtime appends to
    // when --log is not given.
    const char* env = std::getenv("QANPRO_LOG");
    const std::string log = !o.log.empty() ? o.log : env != nullptr ? env : "";
    const std::string named = !o.log.empty() ? "option --log: \"" + o.log + "\"" : "QANPRO_LOG \"" + log + "\"";
    const std::pair<std::string, const char*> own[] = {
        {o.stations, "the station file of -s"}, {o.silent, "the station file of --silent"}, {library, "the driver library"}};
    for (const auto& [path, what] : own) {
        std::error_code ec;
        if (!log.empty() && !path.empty() && std::filesystem::equivalent(log, path, ec) && !ec) {
            *why = named + " is " + what;
            return !o.log.empty() ? kUsage : kCannotRun;
        }
    }
    if (o.log.empty()) return 0;
    // Appended to, as the driver's log will be; created when missing.
    errno = 0;
    std::FILE* f = std::fopen(o.log.c_str(), "ab");
    if (f == nullptr) {
        *why = "option --log: log file \"" + o.log + "\" cannot be written: " + std::strerror(errno);
        return kCannotRun;
    }
    std::fclose(f);
    return 0;
}

}  // namespace etl::etlan
