// etlan-sim: simulated PLC stations behind ET-LAN units on 127.0.0.1.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "etl_version.h"
#include "tools/common/std_streams.h"
#include "tools/sim/pcap_writer.h"
#include "tools/sim/simulator.h"

namespace {

const char kUsage[] =
    "usage: etlan-sim [options]\n"
    "Simulated PLC stations, each an ET-LAN unit on its own 127.0.0.1 port,\n"
    "answering MEWTOCOL-COM behind the 12-byte ET-LAN header. All stations\n"
    "share one memory image. Prints \"ready station N port P\" per station once\n"
    "it listens, then runs until SIGINT or SIGTERM.\n"
    "\n"
    "Stations and memory:\n"
    "  --station N[:PORT]    add station N (1-255) on PORT (0 or none: any free port)\n"
    "  --model NAME          memory sizes of generous (default), fp2, fp3 or fp5;\n"
    "                        addresses past an area's end are refused with 61\n"
    "  --set AREA=VALUE      initial value, e.g. D100=1234, R10=0x0020, LD5=-1,\n"
    "                        D200=0x12345678 (two words, low word first); areas are\n"
    "                        the memory letters or LD, IX, IY, I0-IF, SV, EV\n"
    "  --file PATH           lines of AREA=VALUE (blank lines and # comments allowed)\n"
    "\n"
    "Answers (every station, or after --for N station N only):\n"
    "  --for N|all           scope of the answer and fault options that follow\n"
    "  --split N             answers longer than N characters (CR included) go in\n"
    "                        parts, each asked for with %NN**& (PLCs: 118; 0: whole)\n"
    "  --station-field F     hex (default: station 10 is 0A) or decimal (10)\n"
    "\n"
    "Faults (every station, or after --for N station N only):\n"
    "  --delay-ms MS         delay each answer\n"
    "  --pieces N            send answers in pieces of N bytes ...\n"
    "  --piece-pause-ms MS   ... with this pause between them\n"
    "  --drop N              drop the next N answers (-1: all)\n"
    "  --negative N[:CODE]   answer the next N requests negatively (-1: all; code 42)\n"
    "  --close-after-request close the connection after each request, unanswered\n"
    "  --refuse              no listener: connects are refused, open connections dropped\n"
    "  --refuse-new          no listener: connects are refused, open connections stay\n"
    "  --never-accept        full accept queue: connects hang\n"
    "  --stray TEXT          bytes sent before each answer (\\r \\n \\xHH \\\\ escapes)\n"
    "  --oversized           positive answers of 3000 bytes\n"
    "  --wrong-station N     answers carry station number N\n"
    "  --garbage             answers that are not MEWTOCOL at all\n"
    "  --part-fault KIND[:P] a fault of part P (default 2) of an answer in parts:\n"
    "                        bad-bcc, extra-part, missing-part, never-comes, truncated\n"
    "\n"
    "Other:\n"
    "  --verbose             log every request and answer to stderr\n"
    "  --trace               print every frame received and sent to stderr: time,\n"
    "                        station, direction, header in hex, text\n"
    "  --record FILE.pcap    write every connection's packets to a capture file\n"
    "                        (pcap, Ethernet, TCP on 127.0.0.1, no privileges)\n"
    "  --stdin-stop          also stop when standard input reaches its end\n"
    "  --version, -V         etlan-sim's version\n"
    "  --help                this text\n";

volatile std::sig_atomic_t g_signalled = 0;
std::atomic<bool> g_stdinClosed{false};

void OnSignal(int) { g_signalled = 1; }

bool ParseInt(const char* text, long min, long max, long* out) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (*end != '\0' || v < min || v > max) return false;
    *out = v;
    return true;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string Unescape(const std::string& in) {
    std::string out;
    for (std::size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (c != '\\' || i + 1 >= in.size()) {
            out += c;
            continue;
        }
        char e = in[++i];
        if (e == 'r') {
            out += '\r';
        } else if (e == 'n') {
            out += '\n';
        } else if (e == 'x' && i + 2 < in.size() && HexValue(in[i + 1]) >= 0 &&
                   HexValue(in[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(in[i + 1]) * 16 + HexValue(in[i + 2]));
            i += 2;
        } else {
            out += e;
        }
    }
    return out;
}

int Usage(const char* problem) {
    std::fprintf(stderr, "etlan-sim: %s (--help lists the options)\n", problem);
    return 2;
}

// What the options set per station.
struct Settings {
    etl::sim::Faults faults;
    int split = 0;
    etl::sim::StationField field = etl::sim::StationField::kHex;
};

bool ParsePartFault(const std::string& v, etl::sim::Faults* f) {
    using PF = etl::sim::Faults::PartFault;
    static const std::pair<const char*, PF> kKinds[] = {
        {"bad-bcc", PF::kBadBcc},         {"extra-part", PF::kExtraPart},
        {"missing-part", PF::kMissingPart}, {"never-comes", PF::kPartNeverComes},
        {"truncated", PF::kTruncatedPart}, {"none", PF::kNone},
    };
    std::size_t colon = v.find(':');
    std::string kind = v.substr(0, colon);
    long at = 2;
    if (colon != std::string::npos && !ParseInt(v.substr(colon + 1).c_str(), 1, 1000, &at)) {
        return false;
    }
    for (const auto& [name, value] : kKinds) {
        if (kind == name) {
            f->partFault = value;
            f->partFaultAt = static_cast<int>(at);
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    etl::tools::OpenStandardStreams();  // before any socket or file is opened
    using etl::sim::Faults;
    struct StationArg {
        int number;
        long port;
    };
    std::vector<StationArg> stations;
    std::vector<std::string> sets;
    std::vector<std::pair<int, std::function<void(Settings&)>>> settingEdits;  // scope 0: all
    int scope = 0;
    bool verbose = false;
    bool trace = false;
    bool stdinStop = false;
    std::string recordPath;
    etl::sim::Model model = etl::sim::Model::kGenerous;

    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        long n = 0;
        auto needValue = [&](long min, long max) {
            if (!ParseInt(next, min, max, &n)) return false;
            ++i;
            return true;
        };
        auto edit = [&](std::function<void(Faults&)> f) {
            settingEdits.emplace_back(scope, [f](Settings& s) { f(s.faults); });
        };
        if (a == "--version" || a == "-V") {
            std::printf("etlan-sim %s\n", ETL_VERSION);
            return 0;
        } else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--station") {
            if (next == nullptr) return Usage("--station needs N[:PORT]");
            std::string v = next;
            ++i;
            std::size_t colon = v.find(':');
            long number = 0;
            long port = 0;
            if (!ParseInt(v.substr(0, colon).c_str(), 1, 255, &number) ||
                (colon != std::string::npos &&
                 !ParseInt(v.substr(colon + 1).c_str(), 0, 65535, &port))) {
                return Usage("bad --station value");
            }
            stations.push_back({static_cast<int>(number), port});
        } else if (a == "--model") {
            if (next == nullptr || !etl::sim::ParseModel(next, &model)) {
                return Usage("--model needs generous, fp2, fp3 or fp5");
            }
            ++i;
        } else if (a == "--split") {
            if (!needValue(0, 65535) || (n != 0 && n < 12)) return Usage("bad --split (0 or 12 and more)");
            settingEdits.emplace_back(scope, [v = n](Settings& s) { s.split = static_cast<int>(v); });
        } else if (a == "--station-field") {
            etl::sim::StationField field;
            if (next != nullptr && std::strcmp(next, "hex") == 0) {
                field = etl::sim::StationField::kHex;
            } else if (next != nullptr && std::strcmp(next, "decimal") == 0) {
                field = etl::sim::StationField::kDecimal;
            } else {
                return Usage("--station-field needs hex or decimal");
            }
            ++i;
            settingEdits.emplace_back(scope, [field](Settings& s) { s.field = field; });
        } else if (a == "--part-fault") {
            Faults parsed;
            if (next == nullptr || !ParsePartFault(next, &parsed)) {
                return Usage("--part-fault needs bad-bcc, extra-part, missing-part, never-comes or truncated, then :PART");
            }
            ++i;
            edit([parsed](Faults& f) {
                f.partFault = parsed.partFault;
                f.partFaultAt = parsed.partFaultAt;
            });
        } else if (a == "--refuse-new") {
            edit([](Faults& f) { f.refuseNewConnections = true; });
        } else if (a == "--trace") {
            trace = true;
        } else if (a == "--set") {
            if (next == nullptr) return Usage("--set needs AREA=VALUE");
            sets.emplace_back(next);
            ++i;
        } else if (a == "--file") {
            if (next == nullptr) return Usage("--file needs a path");
            std::FILE* f = std::fopen(next, "r");
            if (f == nullptr) return Usage("cannot open the --file");
            char line[256];
            while (std::fgets(line, sizeof line, f) != nullptr) {
                std::string s = line;
                std::size_t start = s.find_first_not_of(" \t\r\n");
                if (start == std::string::npos || s[start] == '#') continue;
                sets.push_back(s);
            }
            std::fclose(f);
            ++i;
        } else if (a == "--for") {
            if (next != nullptr && std::strcmp(next, "all") == 0) {
                scope = 0;
                ++i;
            } else if (needValue(1, 255)) {
                scope = static_cast<int>(n);
            } else {
                return Usage("--for needs a station number or all");
            }
        } else if (a == "--delay-ms") {
            if (!needValue(0, 600000)) return Usage("bad --delay-ms");
            edit([v = n](Faults& f) { f.delayMs = static_cast<int>(v); });
        } else if (a == "--pieces") {
            if (!needValue(0, 65535)) return Usage("bad --pieces");
            edit([v = n](Faults& f) { f.pieceBytes = static_cast<int>(v); });
        } else if (a == "--piece-pause-ms") {
            if (!needValue(0, 600000)) return Usage("bad --piece-pause-ms");
            edit([v = n](Faults& f) { f.piecePauseMs = static_cast<int>(v); });
        } else if (a == "--drop") {
            if (!needValue(-1, 1000000000)) return Usage("bad --drop");
            edit([v = n](Faults& f) { f.dropAnswers = static_cast<int>(v); });
        } else if (a == "--negative") {
            if (next == nullptr) return Usage("--negative needs N[:CODE]");
            std::string v = next;
            ++i;
            std::size_t colon = v.find(':');
            long count = 0;
            long code = 42;
            if (!ParseInt(v.substr(0, colon).c_str(), -1, 1000000000, &count) ||
                (colon != std::string::npos &&
                 !ParseInt(v.substr(colon + 1).c_str(), 0, 99, &code))) {
                return Usage("bad --negative value");
            }
            edit([count, code](Faults& f) {
                f.negativeAnswers = static_cast<int>(count);
                f.negativeCode = static_cast<int>(code);
            });
        } else if (a == "--close-after-request") {
            edit([](Faults& f) { f.closeAfterRequest = true; });
        } else if (a == "--refuse") {
            edit([](Faults& f) { f.refuseConnections = true; });
        } else if (a == "--never-accept") {
            edit([](Faults& f) { f.neverAccept = true; });
        } else if (a == "--stray") {
            if (next == nullptr) return Usage("--stray needs a text");
            edit([v = Unescape(next)](Faults& f) { f.strayBytes = v; });
            ++i;
        } else if (a == "--oversized") {
            edit([](Faults& f) { f.oversizedAnswer = true; });
        } else if (a == "--wrong-station") {
            if (!needValue(0, 255)) return Usage("bad --wrong-station");
            edit([v = n](Faults& f) { f.wrongStation = static_cast<int>(v); });
        } else if (a == "--garbage") {
            edit([](Faults& f) { f.garbage = true; });
        } else if (a == "--verbose" || a == "-v") {
            verbose = true;
        } else if (a == "--record") {
            if (next == nullptr || *next == '\0') return Usage("--record needs a file name");
            recordPath = next;
            ++i;
        } else if (a == "--stdin-stop") {
            stdinStop = true;
        } else {
            return Usage(("unknown option " + a).c_str());
        }
    }
    if (stations.empty()) return Usage("no --station given");

    etl::sim::PcapWriter capture;  // outlives the simulator that reports to it
    if (!recordPath.empty() && !capture.Open(recordPath)) {
        std::fprintf(stderr, "etlan-sim: cannot write the capture file %s\n", recordPath.c_str());
        return 1;
    }
    etl::sim::Simulator sim(model);
    if (!recordPath.empty()) sim.SetRecorder(&capture);
    sim.SetVerbose(verbose);
    sim.SetTrace(trace);
    for (const auto& s : sets) {
        if (!sim.SetFromText(s)) {
            std::string trimmed = s.substr(0, s.find_last_not_of("\r\n") + 1);
            return Usage(("bad value \"" + trimmed + "\"").c_str());
        }
    }
    for (const auto& st : stations) {
        if (sim.AddStation(st.number, static_cast<std::uint16_t>(st.port)) < 0) {
            std::fprintf(stderr, "etlan-sim: cannot add station %d on port %ld\n", st.number,
                         st.port);
            return 1;
        }
        Settings settings;
        for (const auto& [where, change] : settingEdits) {
            if (where == 0 || where == st.number) change(settings);
        }
        sim.SetFaults(st.number, settings.faults);
        sim.SetSplit(st.number, settings.split);
        sim.SetStationField(st.number, settings.field);
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    if (!sim.Start()) {
        std::fprintf(stderr, "etlan-sim: a station could not listen\n");
        return 1;
    }
    for (const auto& st : stations) {
        std::printf("ready station %d port %u\n", st.number, sim.Port(st.number));
    }
    std::fflush(stdout);
    if (stdinStop) {
        std::thread([] {
            while (std::fgetc(stdin) != EOF) {
            }
            g_stdinClosed = true;
        }).detach();
    }
    while (g_signalled == 0 && !g_stdinClosed) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    sim.Stop();
    if (!recordPath.empty() && !capture.Close()) {
        std::fprintf(stderr, "etlan-sim: writing the capture file %s failed\n", recordPath.c_str());
        return 1;
    }
    return 0;
}
