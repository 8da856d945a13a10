#include "tools/etlan/bench.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tools/etlan/bench_platform.h"
#include "tools/etlan/text.h"

namespace etl::etlan {
namespace {

using Clock = std::chrono::steady_clock;

// Exit statuses, as for every etlan command.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitCannotRun = 3;

constexpr int kBlockWords = 27;       // the largest block of 16-bit words a read takes
constexpr int kSlowReads = 100;       // reads per client against the late station
constexpr int kWarmUp = 20;           // untimed operations per client and kind first
constexpr int kConnectMs = 3000;      // the raw client's connect ...
constexpr int kReceiveMs = 5000;      // ... and answer time limits
constexpr int kHeaderSize = 12;
constexpr int kAnswerSize = 512;      // the largest answer here is 12 + 6 + 108 + 3 bytes
constexpr std::size_t kMaxReported = 5;  // failures shown in words

// The targets.
constexpr double kMedianRatioTarget = 1.1;
constexpr double kP99RatioTarget = 1.3;
constexpr double kCpuRatioTarget = 1.3;
constexpr double kSlowCpuTarget = 0.005;  // CPU seconds per 100 reads
constexpr double kColdStartTarget = 1.2;  // seconds

// ---------------------------------------------------------------- station file

struct StationAddress {
    int number = -1;
    std::string host;
    std::string port;
};

struct StationList {
    int pcStation = 0;
    std::vector<StationAddress> stations;  // in file order

    const StationAddress* Find(int number) const {
        const StationAddress* found = nullptr;
        for (const auto& s : stations) {
            if (s.number == number) found = &s;  // a later line replaces an earlier one
        }
        return found;
    }
};

int DigitValue(char c) {
    const int code = static_cast<unsigned char>(c);
    return ((code <= '9' || code >= 128) ? code - 48 : code - 55) & 0xFF;
}

int LeadingNumber(const char* text) {
    while (*text == ' ' || *text == '\t') ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    long v = 0;
    for (; *text >= '0' && *text <= '9' && v < 100000; ++text) v = v * 10 + (*text - '0');
    return static_cast<int>(negative ? -v : v);
}

// The station file read as the driver reads it: the header's ninth
// character starts the PC's own station number; a station line holds the
// number in its first two characters, the host between its first two and
// the port between its next two double quotes.
bool ReadStationList(const std::string& path, StationList* out, std::string* why) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *why = "cannot open the station file " + path;
        return false;
    }
    std::string line;
    if (std::getline(in, line) && line.size() > 8) out->pcStation = LeadingNumber(line.c_str() + 8);
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == ' ' || line[0] == ';' || line[0] == '\r') continue;
        if (line.size() < 2) continue;
        StationAddress s;
        s.number = 10 * DigitValue(line[0]) + DigitValue(line[1]);
        const auto q1 = line.find('"');
        const auto q2 = q1 == std::string::npos ? q1 : line.find('"', q1 + 1);
        const auto q3 = q2 == std::string::npos ? q2 : line.find('"', q2 + 1);
        const auto q4 = q3 == std::string::npos ? q3 : line.find('"', q3 + 1);
        if (q4 == std::string::npos || s.number == out->pcStation) continue;
        s.host = line.substr(q1 + 1, q2 - q1 - 1);
        s.port = line.substr(q3 + 1, q4 - q3 - 1);
        out->stations.push_back(s);
    }
    return true;
}

// "HOST:PORT" of --raw.
bool SplitHostPort(const std::string& text, StationAddress* out) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
    out->host = text.substr(0, colon);
    out->port = text.substr(colon + 1);
    return true;
}

// ---------------------------------------------------------------- frames

// The frame the driver sends: the 12-byte ET-LAN header (0x10, 0, the text
// length little-endian, six zeros, the destination and source station
// bytes) and the command text with its carriage return.
std::string Frame(int plc, int pcStation, const std::string& text) {
    std::string f(kHeaderSize, '\0');
    f[0] = 0x10;
    f[2] = static_cast<char>(text.size() & 0xFF);
    f[3] = static_cast<char>((text.size() >> 8) & 0xFF);
    f[10] = static_cast<char>(plc & 0xFF);
    f[11] = static_cast<char>(pcStation & 0xFF);
    return f + text;
}

std::string ReadText(int plc, int first, int last) {
    char t[64];
    std::snprintf(t, sizeof t, "%%%02X#RDD%05d%05d**\r", static_cast<unsigned>(plc), first, last);
    return t;
}

std::string WriteText(int plc, int address, std::uint16_t value) {
    char t[64];
    std::snprintf(t, sizeof t, "%%%02X#WDD%05d%05d%02X%02X**\r", static_cast<unsigned>(plc), address, address,
                  static_cast<unsigned>(value & 0xFF), static_cast<unsigned>(value >> 8));
    return t;
}

// A frame as text: the header's bytes in hex, "|", the command text with
// its carriage return as \r.
std::string ShowFrame(const std::string& frame) {
    std::string out;
    char hex[8];
    for (std::size_t i = 0; i < frame.size(); ++i) {
        const auto c = static_cast<unsigned char>(frame[i]);
        if (i < kHeaderSize) {
            std::snprintf(hex, sizeof hex, "%02X ", c);
            out += hex;
            if (i + 1 == kHeaderSize) out += "| ";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c >= 32 && c < 127) {
            out += static_cast<char>(c);
        } else {
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A positive answer of station plc with the command code ("RD", "WD") and
// exactly words data words, decoded into values; false otherwise.
bool DecodeAnswer(const char* frame, int length, int plc, const char* code, int words, std::uint16_t* values) {
    const int end = kHeaderSize + 6 + 4 * words + 2;  // the carriage return
    if (length != end + 1 || frame[end] != '\r') return false;
    const char* t = frame + kHeaderSize;
    if (t[0] != '%' || t[3] != '$' || t[4] != code[0] || t[5] != code[1]) return false;
    if (Hex(t[1]) < 0 || Hex(t[2]) < 0 || Hex(t[1]) * 16 + Hex(t[2]) != (plc & 0xFF)) return false;
    for (int i = 0; i < words; ++i) {
        const char* d = t + 6 + 4 * i;
        const int a = Hex(d[0]), b = Hex(d[1]), c = Hex(d[2]), e = Hex(d[3]);
        if (a < 0 || b < 0 || c < 0 || e < 0) return false;
        values[i] = static_cast<std::uint16_t>((a * 16 + b) | ((c * 16 + e) << 8));
    }
    return true;
}

// ---------------------------------------------------------------- the two clients

enum Kind { kRead, kBlock, kWrite, kKinds };
enum Client { kDriver, kRaw, kClients };

const char* const kClientName[kClients] = {"driver", "raw"};

// A tag the driver has checked (code 3) and the block for codes 5, 6, 7.
struct DriverTag {
    std::string text;
    TagIoBlock io{};
    std::vector<std::uint8_t> buffer;
};

bool PrepareTag(DriverHost* host, int plc, int address, int count, DriverTag* tag, std::string* why) {
    char text[32];
    std::snprintf(text, sizeof text, "%02dD%05d", plc, address);
    tag->text = text;
    std::vector<char> copy(tag->text.begin(), tag->text.end());
    copy.resize(copy.size() + 16, '\0');
    TagAddressBlock b{};
    b.addressText = copy.data();
    b.dataType = 0;
    b.elementCount = count;
    const std::int32_t rc = host->Call(kCheckAddress, &b);
    if (rc != 0) {
        *why = "the driver refuses the address " + tag->text + " (result " + std::to_string(rc) + ")";
        return false;
    }
    tag->buffer.assign(static_cast<std::size_t>(count) * 4 + 8, 0);
    TagIoBlock& io = tag->io;
    io.addressText = tag->text.c_str();
    io.plcNumber = b.plcNumber;
    io.memoryLetter = b.memoryLetter;
    io.addressNumber = b.addressNumber;
    io.bitNumber = b.bitNumber;
    io.bitSize = b.bitSize;
    io.dataType = 0;
    io.elementCount = count;
    io.valueBuffer = tag->buffer.data();
    return true;
}

// Operations that failed or read a wrong value, the first few in words.
struct Failures {
    long count = 0;
    std::vector<std::string> shown;

    void Add(const std::string& what) {
        ++count;
        if (shown.size() < kMaxReported) shown.push_back(what);
    }
};

// One station as both clients see it: the driver's tags, the raw client's
// connection and frames, and the values every read must give.
struct Target {
    int plc = 0;
    StationAddress address;
    DriverTag read, block, write;
    RawConnection raw;
    std::string readFrame, blockFrame, writeFrame;
    std::uint16_t expected[kBlockWords] = {};
    char answer[kAnswerSize] = {};
};

bool DriverOp(DriverHost* host, Target& t, Kind kind, Failures* failures) {
    std::int32_t rc;
    if (kind == kRead) {
        std::memset(t.read.buffer.data(), 0xCC, 4);
        rc = host->Call(kReadValue, &t.read.io);
        if (rc == 0 && GetWord(t.read.buffer.data(), 2) == t.expected[0]) return true;
    } else if (kind == kBlock) {
        std::memset(t.block.buffer.data(), 0xCC, 2 * kBlockWords);
        rc = host->Call(kReadBlock, &t.block.io);
        if (rc == 0) {
            bool same = true;
            for (int i = 0; i < kBlockWords; ++i) same = same && GetWord(t.block.buffer.data(), 2u * i) == t.expected[i];
            if (same) return true;
        }
    } else {
        PutWord(t.write.buffer.data(), 0, 0);
        PutWord(t.write.buffer.data(), 2, t.expected[0]);
        rc = host->Call(kWriteValue, &t.write.io);
        if (rc == 0) return true;
    }
    static const char* const names[kKinds] = {"ReadValue", "ReadBlock", "WriteValue"};
    failures->Add(std::string("driver ") + names[kind] + " of " + t.read.text + ": " +
                  (rc == 0 ? "wrong value" : "result " + std::to_string(rc) + " (" + ResultWords(rc, Op::kRead) + ")"));
    return false;
}

// One exchange of the raw client: the frame in one send, receives until
// the answer's carriage return.
bool RawOp(Target& t, Kind kind, Failures* failures) {
    const std::string& frame = kind == kRead ? t.readFrame : kind == kBlock ? t.blockFrame : t.writeFrame;
    const char* why = nullptr;
    int received = 0;
    if (!t.raw.Send(frame.data(), static_cast<int>(frame.size()))) {
        why = "send failed";
    } else {
        for (;;) {
            const int n = t.raw.Receive(t.answer + received, kAnswerSize - received);
            if (n <= 0) {
                why = n == 0 ? "connection closed" : "no answer";
                break;
            }
            const int from = std::max(received, kHeaderSize);
            received += n;
            if (received > from && std::memchr(t.answer + from, '\r', static_cast<std::size_t>(received - from))) break;
            if (received == kAnswerSize) {
                why = "answer too long";
                break;
            }
        }
    }
    if (why == nullptr) {
        std::uint16_t values[kBlockWords];
        const int words = kind == kRead ? 1 : kind == kBlock ? kBlockWords : 0;
        if (!DecodeAnswer(t.answer, received, t.plc, kind == kWrite ? "WD" : "RD", words, values)) {
            why = "not the positive answer expected";
        } else if (std::memcmp(values, t.expected, sizeof values[0] * static_cast<std::size_t>(words)) != 0) {
            why = "wrong value";
        } else {
            return true;
        }
    }
    static const char* const names[kKinds] = {"read", "block read", "write"};
    failures->Add(std::string("raw client ") + names[kind] + " of " + t.read.text + ": " + why);
    if (std::strcmp(why, "no answer") == 0 || std::strcmp(why, "connection closed") == 0 ||
        std::strcmp(why, "send failed") == 0) {
        // The connection is out of step or gone: start a new one.
        std::string ignored;
        t.raw.Open(t.address.host, t.address.port, kConnectMs, kReceiveMs, &ignored);
    }
    return false;
}

// The values the station holds, read once by the raw client; the bench
// then expects every read to give them (the write writes the first back).
bool ReadExpected(Target& t, std::string* why) {
    if (!t.raw.Send(t.blockFrame.data(), static_cast<int>(t.blockFrame.size()))) {
        *why = "the raw client cannot send to " + t.address.host + ":" + t.address.port;
        return false;
    }
    int received = 0;
    while (received < kAnswerSize) {
        const int n = t.raw.Receive(t.answer + received, kAnswerSize - received);
        if (n <= 0) break;
        received += n;
        if (received > kHeaderSize && std::memchr(t.answer + kHeaderSize, '\r', static_cast<std::size_t>(received - kHeaderSize))) break;
    }
    if (!DecodeAnswer(t.answer, received, t.plc, "RD", kBlockWords, t.expected)) {
        *why = "station " + std::to_string(t.plc) + " at " + t.address.host + ":" + t.address.port +
               " gives no positive answer to " + ShowFrame(t.blockFrame);
        return false;
    }
    return true;
}

bool PrepareTarget(DriverHost* host, const StationList& list, int plc, const std::string& rawOverride, int address,
                   Target* t, std::string* why) {
    t->plc = plc;
    if (!rawOverride.empty()) {
        if (!SplitHostPort(rawOverride, &t->address)) {
            *why = "--raw takes HOST:PORT";
            return false;
        }
    } else if (const StationAddress* a = list.Find(plc)) {
        t->address = *a;
    } else {
        *why = "station " + std::to_string(plc) + " is not in the station file";
        return false;
    }
    if (!PrepareTag(host, plc, address, 1, &t->read, why) || !PrepareTag(host, plc, address, kBlockWords, &t->block, why) ||
        !PrepareTag(host, plc, address, 1, &t->write, why)) {
        return false;
    }
    t->readFrame = Frame(plc, list.pcStation, ReadText(plc, address, address));
    t->blockFrame = Frame(plc, list.pcStation, ReadText(plc, address, address + kBlockWords - 1));
    if (!t->raw.Open(t->address.host, t->address.port, kConnectMs, kReceiveMs, why)) return false;
    if (!ReadExpected(*t, why)) return false;
    t->writeFrame = Frame(plc, list.pcStation, WriteText(plc, address, t->expected[0]));
    return true;
}

// ---------------------------------------------------------------- measuring

struct Series {
    std::vector<double> us;  // each operation's time
    double cpu = 0;          // process CPU seconds
    double wall = 0;         // seconds of the rounds
};

struct Stats {
    double median = 0, p99 = 0, opsPerSecond = 0, cpuPerOp = 0;
    long ops = 0;
};

Stats Summarize(Series& s) {
    Stats r;
    r.ops = static_cast<long>(s.us.size());
    if (s.us.empty()) return r;
    std::sort(s.us.begin(), s.us.end());
    const std::size_t n = s.us.size();
    r.median = n % 2 ? s.us[n / 2] : (s.us[n / 2 - 1] + s.us[n / 2]) / 2;
    const std::size_t rank = (99 * n + 99) / 100;  // nearest rank
    r.p99 = s.us[std::min(n, std::max<std::size_t>(rank, 1)) - 1];
    r.opsPerSecond = s.wall > 0 ? static_cast<double>(n) / s.wall : 0;
    r.cpuPerOp = s.cpu / static_cast<double>(n);
    return r;
}

// count operations of one kind by one client, each timed; the round's
// process CPU and wall time added to the series.
void Round(DriverHost* host, Target& t, Kind kind, Client client, int count, Series* s, Failures* failures) {
    const double cpu0 = ProcessCpuSeconds();
    const auto begin = Clock::now();
    auto before = begin;
    for (int i = 0; i < count; ++i) {
        if (client == kDriver) {
            DriverOp(host, t, kind, failures);
        } else {
            RawOp(t, kind, failures);
        }
        const auto after = Clock::now();
        s->us.push_back(std::chrono::duration<double, std::micro>(after - before).count());
        before = after;
    }
    s->wall += std::chrono::duration<double>(Clock::now() - begin).count();
    s->cpu += ProcessCpuSeconds() - cpu0;
}

// ---------------------------------------------------------------- ColdStart on silent stations

struct ColdStartTiming {
    bool finished = false;
    double seconds = 0;
    std::int32_t result = 0;
    int stations = 0;
    int failed = 0;
};

// ColdStart on the silent station file on a thread of its own, waited for
// up to limit seconds. false when it is still running then: the call
// cannot be cut short, so the caller must end the process.
bool TimeColdStart(DriverHost* host, int driver, double limit, ColdStartTiming* timing) {
    struct Outcome {
        std::int32_t result = 0;
        double seconds = 0;
    };
    auto promise = std::make_shared<std::promise<Outcome>>();
    std::future<Outcome> future = promise->get_future();
    std::thread worker([host, driver, promise] {
        const auto begin = Clock::now();
        Outcome o;
        o.result = host->ColdStart(driver);
        o.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
        promise->set_value(o);
    });
    if (future.wait_for(std::chrono::duration<double>(limit)) != std::future_status::ready) {
        worker.detach();
        timing->seconds = limit;
        return false;
    }
    worker.join();
    const Outcome o = future.get();
    timing->finished = true;
    timing->result = o.result;
    timing->seconds = o.seconds;
    for (const auto& line : host->TakeLog()) {
        if (line.find("Fail on station") != std::string::npos) ++timing->failed;
    }
    host->EndVpi();
    host->TakeLog();
    return true;
}

// ---------------------------------------------------------------- the table

std::string Time(double us) {
    char b[32];
    if (us >= 10000) {
        std::snprintf(b, sizeof b, "%.2f ms", us / 1000);
    } else {
        std::snprintf(b, sizeof b, "%.1f us", us);
    }
    return b;
}

std::string Ratio(double a, double b) {
    if (b <= 0) return "-";
    char t[32];
    std::snprintf(t, sizeof t, "%.2fx", a / b);
    return t;
}

struct TargetLine {
    std::string what, measured, target;
    bool ran = false, met = false;
};

}  // namespace

int RunBench(const Options& o, DriverHost* host, StationDir* stationDir) {
    const int rounds = o.rounds;
    const int count = o.countGiven ? o.count : 500;
    const int address = o.registerNumber;
    StationList list;
    std::string why;
    if (!ReadStationList(StationFileName(o.driver), &list, &why)) {
        std::fprintf(stderr, "etlan: %s\n", why.c_str());
        return kExitCannotRun;
    }
    const int plc = o.plc > 0 ? o.plc : (list.stations.empty() ? -1 : list.stations.front().number);
    if (plc < 1 || plc > kMaxStation) {
        std::fprintf(stderr, "etlan: no station to measure (the station file names none; --plc N)\n");
        return kExitCannotRun;
    }

    // The driver's instance on the station file: both stations connected.
    const std::int32_t start = host->ColdStart(o.driver);
    host->TakeLog();
    if (start != 0) {
        std::printf("ColdStart on the station file failed: result %ld (%s)\n", static_cast<long>(start),
                    ResultWords(start, Op::kStart).c_str());
        return kExitFailed;
    }
    auto main = std::make_unique<Target>();
    if (!PrepareTarget(host, list, plc, o.raw, address, main.get(), &why)) {
        std::fprintf(stderr, "etlan: %s\n", why.c_str());
        return kExitCannotRun;
    }
    std::unique_ptr<Target> slow;
    const bool haveSlow = o.slowPlc > 0;
    if (haveSlow) {
        slow = std::make_unique<Target>();
        if (!PrepareTarget(host, list, o.slowPlc, "", address, slow.get(), &why)) {
            std::fprintf(stderr, "etlan: %s\n", why.c_str());
            return kExitCannotRun;
        }
    }
    if (o.verbose) {
        std::printf("Raw client's frames (the driver sends the same bytes):\n");
        std::printf("  ReadValue  : %s\n", ShowFrame(main->readFrame).c_str());
        std::printf("  ReadBlock  : %s\n", ShowFrame(main->blockFrame).c_str());
        std::printf("  WriteValue : %s\n", ShowFrame(main->writeFrame).c_str());
    }

    std::printf("etlan bench: the driver (VpiMain) against a raw blocking-socket client sending the same frames\n");
    std::printf("  PLC %d at %s:%s (PC station %d), D%d..D%d; %d round(s) of %d operations per client and kind,\n"
                "  driver and raw client taking turns; CPU is this process's (the simulator runs apart)\n",
                plc, main->address.host.c_str(), main->address.port.c_str(), list.pcStation, address,
                address + kBlockWords - 1, rounds, count);
    std::fflush(stdout);

    // Warm-up: every kind once through both clients, checked. A station
    // that does not answer here would only make the rounds crawl.
    Failures failures;
    for (int k = 0; k < kKinds; ++k) {
        for (int i = 0; i < kWarmUp; ++i) {
            DriverOp(host, *main, static_cast<Kind>(k), &failures);
            RawOp(*main, static_cast<Kind>(k), &failures);
        }
    }
    if (failures.count != 0) {
        std::printf("\nThe warm-up failed (%ld operation(s)):\n", failures.count);
        for (const auto& f : failures.shown) std::printf("  %s\n", f.c_str());
        return kExitFailed;
    }

    Series series[kKinds][kClients];
    for (auto& kind : series) {
        for (auto& s : kind) s.us.reserve(static_cast<std::size_t>(rounds) * static_cast<std::size_t>(count));
    }
    for (int r = 0; r < rounds; ++r) {
        for (int k = 0; k < kKinds; ++k) {
            for (int c = 0; c < kClients; ++c) {
                Round(host, *main, static_cast<Kind>(k), static_cast<Client>(c), count, &series[k][c], &failures);
            }
        }
    }

    Series slowSeries[kClients];
    if (slow) {
        DriverOp(host, *slow, kRead, &failures);  // warm: one each
        RawOp(*slow, kRead, &failures);
        const int perRound = (kSlowReads + rounds - 1) / rounds;
        for (int r = 0, done = 0; r < rounds && done < kSlowReads; ++r, done += perRound) {
            const int n = std::min(perRound, kSlowReads - done);
            for (int c = 0; c < kClients; ++c) Round(host, *slow, kRead, static_cast<Client>(c), n, &slowSeries[c], &failures);
        }
    }
    main.reset();
    slow.reset();
    host->EndVpi();
    host->TakeLog();

    // The table.
    Stats stats[kKinds][kClients];
    for (int k = 0; k < kKinds; ++k) {
        for (int c = 0; c < kClients; ++c) stats[k][c] = Summarize(series[k][c]);
    }
    char label[kKinds][48];
    std::snprintf(label[kRead], sizeof label[kRead], "ReadValue D%d (5)", address);
    std::snprintf(label[kBlock], sizeof label[kBlock], "ReadBlock D%d x%d (6)", address, kBlockWords);
    std::snprintf(label[kWrite], sizeof label[kWrite], "WriteValue D%d (7)", address);
    std::printf("\n%-26s %-7s %11s %11s %9s %14s\n", "operation (code)", "client", "median", "p99", "ops/s", "CPU s/10k ops");
    for (int k = 0; k < kKinds; ++k) {
        for (int c = 0; c < kClients; ++c) {
            const Stats& s = stats[k][c];
            std::printf("%-26s %-7s %11s %11s %9.0f %14.3f\n", c == 0 ? label[k] : "", kClientName[c], Time(s.median).c_str(),
                        Time(s.p99).c_str(), s.opsPerSecond, s.cpuPerOp * 10000);
        }
        const Stats& d = stats[k][kDriver];
        const Stats& r = stats[k][kRaw];
        std::printf("%-26s %-7s %11s %11s %9s %14s\n", "", "ratio", Ratio(d.median, r.median).c_str(),
                    Ratio(d.p99, r.p99).c_str(), Ratio(d.opsPerSecond, r.opsPerSecond).c_str(),
                    Ratio(d.cpuPerOp, r.cpuPerOp).c_str());
    }

    Stats slowStats[kClients];
    if (haveSlow) {
        for (int c = 0; c < kClients; ++c) slowStats[c] = Summarize(slowSeries[c]);
        std::printf("\n%-26s %-7s %11s %11s %9s %14s\n", "late station", "client", "median", "p99", "ops/s",
                    "CPU s/100 reads");
        char l[48];
        std::snprintf(l, sizeof l, "ReadValue PLC %d (5)", o.slowPlc);
        for (int c = 0; c < kClients; ++c) {
            const Stats& s = slowStats[c];
            std::printf("%-26s %-7s %11s %11s %9.1f %14.4f\n", c == 0 ? l : "", kClientName[c], Time(s.median).c_str(),
                        Time(s.p99).c_str(), s.opsPerSecond, s.cpuPerOp * 100);
        }
    }

    std::vector<TargetLine> targets;
    auto add = [&](const std::string& what, const std::string& measured, const std::string& target, bool ran, bool met) {
        targets.push_back({what, measured, target, ran, met});
    };
    {
        const Stats& d = stats[kRead][kDriver];
        const Stats& r = stats[kRead][kRaw];
        char t[32];
        std::snprintf(t, sizeof t, "<= %.2fx", kMedianRatioTarget);
        add("ReadValue median latency / raw", Ratio(d.median, r.median), t, true,
            r.median > 0 && d.median <= kMedianRatioTarget * r.median);
        std::snprintf(t, sizeof t, "<= %.2fx", kP99RatioTarget);
        add("ReadValue p99 latency / raw", Ratio(d.p99, r.p99), t, true, r.p99 > 0 && d.p99 <= kP99RatioTarget * r.p99);
        std::snprintf(t, sizeof t, "<= %.2fx", kCpuRatioTarget);
        add("ReadValue CPU per read / raw", Ratio(d.cpuPerOp, r.cpuPerOp), t, true,
            r.cpuPerOp > 0 && d.cpuPerOp <= kCpuRatioTarget * r.cpuPerOp);
    }
    {
        char what[96], measured[48], t[32];
        std::snprintf(t, sizeof t, "<= %.3f s", kSlowCpuTarget);
        if (haveSlow) {
            std::snprintf(what, sizeof what, "CPU per 100 reads, answers after %.1f ms", slowStats[kRaw].median / 1000);
            std::snprintf(measured, sizeof measured, "%.4f s (raw %.4f s)", slowStats[kDriver].cpuPerOp * 100,
                          slowStats[kRaw].cpuPerOp * 100);
            add(what, measured, t, true, slowStats[kDriver].cpuPerOp * 100 <= kSlowCpuTarget);
        } else {
            add("CPU per 100 reads, late station", "skipped (no --slow-plc)", t, false, false);
        }
    }

    // ColdStart on stations that never answer, last: when it outlives its
    // limit the process ends with it still running.
    ColdStartTiming cold;
    bool abandoned = false;
    std::unique_ptr<StationDir> silentDir;
    if (!o.silent.empty()) {
        StationList silentList;
        silentDir = std::make_unique<StationDir>();
        if (!ReadStationList(o.silent, &silentList, &why) || !silentDir->Prepare(o.silent, o.driver, &why)) {
            std::fprintf(stderr, "etlan: %s\n", why.c_str());
            return kExitCannotRun;
        }
        cold.stations = static_cast<int>(silentList.stations.size());
        std::printf("\nColdStart (1) on %s, %d station(s) that never answer: ", o.silent.c_str(), cold.stations);
        std::fflush(stdout);
        abandoned = !TimeColdStart(host, o.driver, o.silentLimit, &cold);
        if (abandoned) {
            std::printf("still running after %.1f s, no longer waited for\n", o.silentLimit);
        } else {
            std::printf("%.3f s, result %ld, %d did not connect\n", cold.seconds, static_cast<long>(cold.result), cold.failed);
        }
        char what[96], measured[48], t[32];
        std::snprintf(what, sizeof what, "ColdStart, %d silent stations", cold.stations);
        std::snprintf(t, sizeof t, "<= %.1f s", kColdStartTarget);
        if (abandoned) {
            std::snprintf(measured, sizeof measured, "> %.1f s", o.silentLimit);
        } else {
            std::snprintf(measured, sizeof measured, "%.3f s", cold.seconds);
        }
        add(what, measured, t, true, cold.finished && cold.seconds <= kColdStartTarget);
    } else {
        char t[32];
        std::snprintf(t, sizeof t, "<= %.1f s", kColdStartTarget);
        add("ColdStart, silent stations", "skipped (no --silent)", t, false, false);
    }

    std::printf("\n%-44s %-24s %-10s %s\n", "target", "measured", "target", "");
    int met = 0, ran = 0;
    std::string notMet;
    for (const auto& t : targets) {
        std::printf("%-44s %-24s %-10s %s\n", t.what.c_str(), t.measured.c_str(), t.target.c_str(),
                    !t.ran ? "-" : t.met ? "met" : "NOT MET");
        if (!t.ran) continue;
        ++ran;
        if (t.met) {
            ++met;
        } else {
            notMet += (notMet.empty() ? "" : "; ") + t.what;
        }
    }
    std::printf("%d of %d targets met%s%s\n", met, ran, notMet.empty() ? "" : "; not met: ", notMet.c_str());
    if (failures.count != 0) {
        std::printf("\n%ld operation(s) FAILED or read a wrong value:\n", failures.count);
        for (const auto& f : failures.shown) std::printf("  %s\n", f.c_str());
    }
    const int status = failures.count != 0 ? kExitFailed : kExitOk;
    if (abandoned) {
        // The ColdStart goes on inside the driver and cannot be stopped:
        // end the process here, after cleaning up what etlan made.
        std::fflush(stdout);
        std::fflush(stderr);
        silentDir.reset();
        stationDir->Release();
        host->Abandon();
        std::_Exit(status);
    }
    return status;
}

}  // namespace etl::etlan
