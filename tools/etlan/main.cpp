// etlan: a command-line host for the ETLANdr driver. It loads the driver
// library, calls its one entry point exactly as the SCADA host does, and
// shows what the driver did in words: identity, address checks, station
// file start, reads, writes, polling and the address dialog.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host/blocks.h"
#include "tools/etlan/bench.h"
#include "tools/etlan/console.h"
#include "tools/etlan/driver.h"
#include "tools/etlan/options.h"
#include "tools/etlan/text.h"

#ifndef ETLAN_VERSION
#define ETLAN_VERSION "dev"
#endif

namespace etl::etlan {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCannotRun = 3;

volatile std::sig_atomic_t g_stop = 0;
extern "C" void OnInterrupt(int) { g_stop = 1; }

// "  [12.3 ms]" when -o asks for the time a request blocked, else "".
std::string Took(const Options& o, double ms) {
    if (!o.timing) return "";
    char buf[32];
    std::snprintf(buf, sizeof buf, "  [%.1f ms]", ms);
    return buf;
}

void PrintLog(const std::vector<std::string>& lines) {
    for (const auto& l : lines) std::printf("  log | %s\n", l.c_str());
}

int Usage(const std::string& why) {
    std::fprintf(stderr, "etlan: %s (etlan --help for usage)\n", why.c_str());
    return kExitUsage;
}

std::string LibraryPath(const Options& o) {
    std::string path = o.library.empty() ? plat::ExecutableDirectory() + plat::DriverFileName() : o.library;
    std::error_code ec;
    const auto abs = std::filesystem::absolute(path, ec);  // the current directory may change
    return ec ? path : abs.string();
}

bool LoadDriver(const Options& o, DriverHost* host) {
    const std::string path = LibraryPath(o);
    if (!host->Load(path)) {
        std::fprintf(stderr, "etlan: cannot load the driver library %s: %s\n", path.c_str(),
                     host->Error().c_str());
        return false;
    }
    return true;
}

std::string MemoryText(std::int32_t letter) {
    if (letter == INT32_MIN) return "(not set)";
    char buf[96];
    const char key = static_cast<char>(letter);
    const char* area = MemoryAreaName(key);
    if (letter >= 0x20 && letter < 0x7F) {
        std::snprintf(buf, sizeof buf, "'%c' (%ld)%s%s", key, static_cast<long>(letter), area ? ": " : ": no memory area",
                      area ? area : "");
    } else {
        std::snprintf(buf, sizeof buf, "%ld", static_cast<long>(letter));
    }
    return buf;
}

// ---------------------------------------------------------------- info

int CmdInfo(const Options& o) {
    if (!o.args.empty()) return Usage("info takes no arguments");
    DriverHost host;
    if (!LoadDriver(o, &host)) return kExitCannotRun;
    DriverInfoBlock info{};
    const std::int32_t rc = host.GetInfo(&info);
    std::printf("Driver library : %s\n", LibraryPath(o).c_str());
    std::printf("GetDriverInfo  : result %ld (%s)\n", static_cast<long>(rc), ResultWords(rc, Op::kOther).c_str());
    if (rc != 0) {
        PrintLog(host.TakeLog());
        return kExitFailed;
    }
    std::printf("Vendor         : %s\n", info.vendorText != nullptr ? info.vendorText : "(none)");
    const std::size_t bannerBytes = info.bannerText != nullptr ? std::strlen(info.bannerText) : 0;
    std::printf("Banner         : %lu bytes, code page 437\n", static_cast<unsigned long>(bannerBytes));
    for (const auto& line : BannerLines(info.bannerText)) std::printf("    %s\n", line.c_str());
    std::printf("Context size   : %ld bytes (0x%lX)\n", static_cast<long>(info.contextSize),
                static_cast<unsigned long>(info.contextSize));
    std::printf("infoValueA     : %ld (0x%lX)\n", static_cast<long>(info.infoValueA),
                static_cast<unsigned long>(info.infoValueA));
    std::printf("infoValueB     : %ld\n", static_cast<long>(info.infoValueB));
    std::printf("infoValueC     : %lu (0x%08lX)\n", static_cast<unsigned long>(info.infoValueC),
                static_cast<unsigned long>(info.infoValueC));
    std::printf("Reply words    : %u, %u\n", static_cast<unsigned>(info.replyWord1),
                static_cast<unsigned>(info.replyWord2));
    if (o.timing) std::printf("Time           : %.3f ms\n", host.LastMs());
    PrintLog(host.TakeLog());
    return kExitOk;
}

// ---------------------------------------------------------------- check

struct CheckedTag {
    std::vector<char> text;  // the host's copy; code 4 upper-cases it
    TagAddressBlock block{};
    int dataType = 0;
    bool suffix = false;
    std::string typeWhy;
    std::int32_t result = kFailed;
};

std::int32_t RunCheck(DriverHost* host, const std::string& tag, int dataType, int count, bool suffix,
                      CheckedTag* out) {
    out->text.assign(tag.begin(), tag.end());
    out->text.resize(tag.size() + 16, '\0');
    out->dataType = dataType;
    out->suffix = suffix;
    TagAddressBlock& b = out->block;
    b = TagAddressBlock{};
    b.addressText = out->text.data();
    b.dataType = dataType;
    b.elementCount = count;
    b.plcNumber = INT32_MIN;
    b.memoryLetter = INT32_MIN;
    b.addressNumber = 0xFFFFFFFFu;
    b.bitNumber = 0xFFFFFFFFu;
    b.bitSize = INT32_MIN;
    out->result = host->Call(suffix ? kCheckAddressD : kCheckAddress, &b);
    return out->result;
}

void PrintCheckFields(const TagAddressBlock& b) {
    auto i32 = [](std::int32_t v) { return v == INT32_MIN ? std::string("(not set)") : std::to_string(v); };
    std::printf("  plcNumber     : %s\n", i32(b.plcNumber).c_str());
    std::printf("  memoryLetter  : %s\n", MemoryText(b.memoryLetter).c_str());
    std::printf("  addressNumber : %s\n",
                b.addressNumber == 0xFFFFFFFFu ? "(not set)" : std::to_string(b.addressNumber).c_str());
    std::string bit = b.bitNumber == 0xFFFFFFFFu ? "(not set)" : std::to_string(b.bitNumber);
    if (b.bitNumber == 255) bit += " (none)";
    std::printf("  bitNumber     : %s\n", bit.c_str());
    std::printf("  bitSize       : %s\n", i32(b.bitSize).c_str());
}

void PrintReasons(const CheckedTag& c, const std::string& tag, int count) {
    const TagReport report = ExplainTag(tag, c.dataType, count, c.suffix);
    if (c.result != 0) {
        std::printf("  Why it is invalid:\n");
        for (const auto& r : report.reasons) std::printf("    - %s\n", r.c_str());
        if (report.reasons.empty()) std::printf("    - (etlan finds no reason of its own; the driver refused it)\n");
    } else if (!report.reasons.empty()) {
        std::printf("  The driver accepted it, although etlan's rules say:\n");
        for (const auto& r : report.reasons) std::printf("    - %s\n", r.c_str());
    }
    for (const auto& n : report.notes) std::printf("  Note: %s\n", n.c_str());
}

int CmdCheck(const Options& o) {
    if (o.args.size() != 1) return Usage("check takes one TAG");
    DriverHost host;
    if (!LoadDriver(o, &host)) return kExitCannotRun;
    const std::string& tag = o.args[0];
    const int dataType = o.type >= 0 || o.type < -1 ? o.type : 0;
    CheckedTag c;
    const std::int32_t rc = RunCheck(&host, tag, dataType, o.count, o.suffix, &c);
    if (o.quiet) {
        std::printf("%s\n", rc == 0 ? "valid" : "invalid");
        return rc == 0 ? kExitOk : kExitFailed;
    }
    std::printf("%s (code %d) of \"%s\", data type %d, count %d: result %ld, %s\n",
                o.suffix ? "CheckAddressD" : "CheckAddress", o.suffix ? 4 : 3, tag.c_str(), dataType, o.count,
                static_cast<long>(rc), rc == 0 ? "valid" : rc == 1 ? "INVALID" : ResultWords(rc, Op::kCheck).c_str());
    if (o.suffix && std::strcmp(c.text.data(), tag.c_str()) != 0) {
        std::printf("  address text  : \"%s\" (upper-cased by code 4)\n", c.text.data());
    }
    PrintCheckFields(c.block);
    PrintReasons(c, tag, o.count);
    if (o.timing) std::printf("  time          : %.3f ms\n", host.LastMs());
    PrintLog(host.TakeLog());
    return rc == 0 ? kExitOk : kExitFailed;
}

// ---------------------------------------------------------------- start

// What the start's log lines say about the stations.
struct StartSummary {
    int defined = -1;
    std::set<int> stations;  // lines accepted
    std::set<int> failed;    // connections that failed
    int connected = 0;
};

StartSummary Summarize(const std::vector<std::string>& lines) {
    StartSummary s;
    for (const auto& l : lines) {
        int n = 0;
        const char* p = nullptr;
        if ((p = std::strstr(l.c_str(), "Station num:")) != nullptr && std::sscanf(p, "Station num: %d", &n) == 1) {
            s.stations.insert(n);
        } else if ((p = std::strstr(l.c_str(), "Fail on station ")) != nullptr &&
                   std::sscanf(p, "Fail on station %d", &n) == 1) {
            s.failed.insert(n);
        } else if (std::strstr(l.c_str(), "InitConnections(): client: addr") != nullptr) {
            ++s.connected;
        } else if ((p = std::strstr(l.c_str(), " defines ")) != nullptr && std::sscanf(p, " defines %d", &n) == 1) {
            s.defined = n;
        }
    }
    return s;
}

std::string JoinNumbers(const std::set<int>& s) {
    std::string out;
    for (int n : s) out += (out.empty() ? "" : ", ") + std::to_string(n);
    return out;
}

// Prepares the station file; false (and a message) when it cannot be used.
bool PrepareStations(const Options& o, StationDir* dir) {
    if (!o.stations.empty()) {
        std::string why;
        if (!dir->Prepare(o.stations, o.driver, &why)) {
            std::fprintf(stderr, "etlan: %s\n", why.c_str());
            return false;
        }
        return true;
    }
    std::error_code ec;
    if (!std::filesystem::exists(StationFileName(o.driver), ec) && !o.quiet) {
        std::fprintf(stderr, "etlan: warning: no %s in the current directory and no -s FILE: the driver defines no station\n",
                     StationFileName(o.driver).c_str());
    }
    return true;
}

int CmdStart(const Options& o) {
    if (!o.args.empty()) return Usage("start takes no arguments");
    StationDir dir;
    if (!PrepareStations(o, &dir)) return kExitCannotRun;
    DriverHost host;
    if (!LoadDriver(o, &host)) return kExitCannotRun;
    const std::string file = StationFileName(o.driver);
    if (!o.stations.empty()) {
        std::printf("Station file   : %s (as %s)\n", o.stations.c_str(), file.c_str());
    } else {
        std::printf("Station file   : %s in the current directory\n", file.c_str());
    }
    const std::int32_t rc = host.ColdStart(o.driver);
    const double startMs = host.LastMs();
    std::printf("ColdStart      : result %ld (%s)%s\n", static_cast<long>(rc), ResultWords(rc, Op::kStart).c_str(),
                Took(o, startMs).c_str());
    const auto lines = host.TakeLog();
    PrintLog(lines);
    const StartSummary s = Summarize(lines);
    std::printf("Stations       : %d defined", s.defined >= 0 ? s.defined : static_cast<int>(s.stations.size()));
    if (!s.stations.empty()) std::printf(" (%s)", JoinNumbers(s.stations).c_str());
    std::printf(", %d connected, %d failed", s.connected, static_cast<int>(s.failed.size()));
    if (!s.failed.empty()) std::printf(" (%s)", JoinNumbers(s.failed).c_str());
    std::printf("\n");
    const std::int32_t end = host.EndVpi();
    std::printf("EndVpi         : result %ld (%s)\n", static_cast<long>(end), ResultWords(end, Op::kOther).c_str());
    PrintLog(host.TakeLog());
    return rc == 0 && s.failed.empty() ? kExitOk : kExitFailed;
}

// ---------------------------------------------------------------- read, write, poll

struct Tag {
    std::string name;  // as given, upper-cased
    CheckedTag check;
    TypeChoice type;
};

// Checks every tag; prints why when one is invalid.
bool CheckTags(const Options& o, DriverHost* host, const std::vector<std::string>& names, std::vector<Tag>* tags) {
    tags->resize(names.size());
    bool ok = true;
    for (std::size_t i = 0; i < names.size(); ++i) {
        Tag& t = (*tags)[i];
        t.name = names[i];
        std::transform(t.name.begin(), t.name.end(), t.name.begin(),
                       [](unsigned char ch) { return static_cast<char>(std::toupper(ch)); });
        t.type = InferType(t.name);
        if (o.type != -1) {
            t.type.dataType = o.type;
            t.type.why = "given with --type";
        }
        if (o.suffix) t.type.suffix = true;
        const std::int32_t rc = RunCheck(host, t.name, t.type.dataType, o.count, t.type.suffix, &t.check);
        if (o.verbose) {
            std::printf("%s: data type %d (%s), %s: result %ld\n", t.name.c_str(), t.type.dataType, t.type.why.c_str(),
                        t.type.suffix ? "CheckAddressD" : "CheckAddress", static_cast<long>(rc));
            PrintLog(host->TakeLog());
        }
        if (rc != 0) {
            ok = false;
            std::printf("%s: invalid address (result %ld, data type %d: %s)\n", t.name.c_str(), static_cast<long>(rc),
                        t.type.dataType, t.type.why.c_str());
            PrintReasons(t.check, t.name, o.count);
        }
    }
    host->TakeLog();
    return ok;
}

// Starts the instance; prints the log lines when verbose or failed.
bool StartDriver(const Options& o, DriverHost* host, StartSummary* summary) {
    const std::int32_t rc = host->ColdStart(o.driver);
    const auto lines = host->TakeLog();
    *summary = Summarize(lines);
    if (o.verbose) {
        std::printf("ColdStart: result %ld (%s)\n", static_cast<long>(rc), ResultWords(rc, Op::kStart).c_str());
        PrintLog(lines);
    }
    if (rc != 0) {
        if (!o.verbose) {
            std::printf("ColdStart failed: result %ld (%s)\n", static_cast<long>(rc), ResultWords(rc, Op::kStart).c_str());
            PrintLog(lines);
        }
        return false;
    }
    return true;
}

void FinishDriver(const Options& o, DriverHost* host) {
    const std::int32_t rc = host->EndVpi();
    if (o.verbose) {
        std::printf("EndVpi: result %ld\n", static_cast<long>(rc));
        PrintLog(host->TakeLog());
    }
}

// Why a station gives no answer, from what the start reported.
std::string StationHint(const StartSummary& s, int plc) {
    if (s.stations.count(plc) == 0) return "station " + std::to_string(plc) + " is not defined in the station file";
    if (s.failed.count(plc) != 0) return "station " + std::to_string(plc) + " did not connect at the start";
    return "";
}

std::string Describe(const Tag& t) {
    const TagAddressBlock& b = t.check.block;
    const char key = static_cast<char>(b.memoryLetter);
    const char* area = MemoryAreaName(key);
    std::string what = "PLC " + std::to_string(b.plcNumber) + ", " + (area ? area : std::string("code ") + key) + " " +
                       std::to_string(b.addressNumber);
    if (b.bitSize == 1) {
        char bit[16];
        std::snprintf(bit, sizeof bit, " bit %X", static_cast<unsigned>(b.bitNumber));
        what += bit;
    }
    return what;
}

struct ReadOutcome {
    std::int32_t result = kFailed;
    double ms = 0;
    std::vector<std::uint8_t> buffer;
};

ReadOutcome ReadTag(DriverHost* host, Tag& t, int count) {
    ReadOutcome r;
    r.buffer.assign(static_cast<std::size_t>(std::max(count, 1)) * 4 + 8, 0xCC);
    TagIoBlock io{};
    io.addressText = t.check.text.data();
    io.plcNumber = t.check.block.plcNumber;
    io.memoryLetter = t.check.block.memoryLetter;
    io.addressNumber = t.check.block.addressNumber;
    io.bitNumber = t.check.block.bitNumber;
    io.bitSize = t.check.block.bitSize;
    io.dataType = t.type.dataType;
    io.elementCount = count;
    io.valueBuffer = r.buffer.data();
    r.result = host->Call(count > 1 ? kReadBlock : kReadValue, &io);
    r.ms = host->LastMs();
    return r;
}

// The values of a successful read, one text per element.
std::vector<std::string> Values(const Tag& t, const ReadOutcome& r, int count, bool decimalOnly) {
    std::vector<std::string> out;
    const TagAddressBlock& b = t.check.block;
    if (count <= 1) {
        if (b.bitSize == 1) {
            out.push_back(std::to_string(GetWord(r.buffer.data(), 2)));
        } else if (IsDoubleWord(t.type.dataType, b.memoryLetter) || b.bitSize == 32) {
            const std::uint32_t v = GetWord(r.buffer.data(), 0) | (static_cast<std::uint32_t>(GetWord(r.buffer.data(), 2)) << 16);
            out.push_back(decimalOnly ? std::to_string(v) : FormatDword(v));
        } else {
            const std::uint16_t v = GetWord(r.buffer.data(), 2);
            out.push_back(decimalOnly ? std::to_string(v) : FormatWord(v));
        }
        return out;
    }
    for (int i = 0; i < count; ++i) {
        if (b.bitSize == 32) {
            const auto at = static_cast<std::size_t>(4 * i);
            const std::uint32_t v =
                GetWord(r.buffer.data(), at) | (static_cast<std::uint32_t>(GetWord(r.buffer.data(), at + 2)) << 16);
            out.push_back(decimalOnly ? std::to_string(v) : FormatDword(v));
        } else if (b.bitSize == 16) {
            const std::uint16_t v = GetWord(r.buffer.data(), static_cast<std::size_t>(2 * i));
            out.push_back(decimalOnly ? std::to_string(v) : FormatWord(v));
        }
    }
    return out;
}

std::string BufferHex(const std::vector<std::uint8_t>& buf, std::size_t bytes) {
    std::string s;
    char b[4];
    for (std::size_t i = 0; i < bytes && i < buf.size(); ++i) {
        std::snprintf(b, sizeof b, "%02X", buf[i]);
        if (i != 0) s += ' ';
        s += b;
    }
    return s;
}

std::string Kind(const Tag& t, int count) {
    const TagAddressBlock& b = t.check.block;
    if (b.bitSize == 1) return count > 1 ? "bits" : "bit";
    const bool dw = b.bitSize == 32 || (count <= 1 && IsDoubleWord(t.type.dataType, b.memoryLetter));
    return dw ? "32-bit" : "16-bit";
}

int CmdRead(const Options& o) {
    if (o.args.size() != 1) return Usage("read takes one TAG");
    StationDir dir;
    if (!PrepareStations(o, &dir)) return kExitCannotRun;
    DriverHost host;
    if (!LoadDriver(o, &host)) return kExitCannotRun;
    DriverInfoBlock info{};
    host.GetInfo(&info);
    std::vector<Tag> tags;
    if (!CheckTags(o, &host, o.args, &tags)) return kExitFailed;
    Tag& t = tags[0];
    StartSummary summary;
    if (!StartDriver(o, &host, &summary)) return kExitFailed;
    const ReadOutcome r = ReadTag(&host, t, o.count);
    const auto log = host.TakeLog();
    const std::string timing = Took(o, r.ms);
    if (r.result != 0) {
        // With -q the values alone go to standard output, failures elsewhere.
        std::FILE* out = o.quiet ? stderr : stdout;
        std::fprintf(out, "%s: read failed, result %ld: %s%s\n", t.name.c_str(), static_cast<long>(r.result),
                    ResultWords(r.result, Op::kRead).c_str(), timing.c_str());
        const std::string hint = r.result == 2 ? StationHint(summary, t.check.block.plcNumber) : "";
        if (!hint.empty()) std::fprintf(out, "  (%s)\n", hint.c_str());
        if (o.count > 1 && t.check.block.bitSize == 1) std::fprintf(out, "  (a block read of bit tags is not possible)\n");
        if (!o.quiet) PrintLog(log);
        FinishDriver(o, &host);
        return kExitFailed;
    }
    const auto values = Values(t, r, o.count, o.quiet);
    if (o.quiet) {
        for (const auto& v : values) std::printf("%s\n", v.c_str());
    } else if (o.count <= 1) {
        std::printf("%s (%s, %s): %s%s\n", t.name.c_str(), Describe(t).c_str(), Kind(t, 1).c_str(),
                    values.empty() ? "" : values[0].c_str(), timing.c_str());
    } else {
        std::printf("%s (%s), %d x %s:%s\n", t.name.c_str(), Describe(t).c_str(), o.count, Kind(t, o.count).c_str(),
                    timing.c_str());
        const char key = static_cast<char>(t.check.block.memoryLetter);
        for (std::size_t i = 0; i < values.size(); ++i) {
            std::printf("  [%lu] %s: %s\n", static_cast<unsigned long>(i),
                        ElementLabel(key, t.check.block.addressNumber, static_cast<int>(i), t.check.block.bitSize == 32).c_str(),
                        values[i].c_str());
        }
    }
    if (o.verbose) {
        const std::size_t bytes = o.count > 1 ? static_cast<std::size_t>(o.count) * (t.check.block.bitSize == 32 ? 4 : 2) : 4;
        std::printf("  result %ld, value buffer: %s\n", static_cast<long>(r.result), BufferHex(r.buffer, std::max<std::size_t>(bytes, 4)).c_str());
        PrintLog(log);
    }
    FinishDriver(o, &host);
    return kExitOk;
}

int CmdWrite(const Options& o) {
    if (o.args.size() != 2) return Usage("write takes a TAG and a VALUE");
    if (o.countGiven && o.count != 1) return Usage("write takes one value: no --count");
    StationDir dir;
    if (!PrepareStations(o, &dir)) return kExitCannotRun;
    DriverHost host;
    if (!LoadDriver(o, &host)) return kExitCannotRun;
    DriverInfoBlock info{};
    host.GetInfo(&info);
    std::vector<Tag> tags;
    if (!CheckTags(o, &host, {o.args[0]}, &tags)) return kExitFailed;
    Tag& t = tags[0];
    const int bits = t.check.block.bitSize;
    std::uint32_t value = 0;
    std::string why;
    if (!ParseValue(o.args[1], bits == 1 ? 1 : bits == 32 ? 32 : 16, &value, &why)) {
        std::fprintf(stderr, "etlan: %s: %s\n", t.name.c_str(), why.c_str());
        return kExitUsage;
    }
    StartSummary summary;
    if (!StartDriver(o, &host, &summary)) return kExitFailed;
    std::uint8_t buffer[8] = {};
    if (bits == 32) {
        PutWord(buffer, 0, static_cast<std::uint16_t>(value & 0xFFFF));
        PutWord(buffer, 2, static_cast<std::uint16_t>(value >> 16));
    } else {
        PutWord(buffer, 2, static_cast<std::uint16_t>(value));
    }
    TagIoBlock io{};
    io.addressText = t.check.text.data();
    io.plcNumber = t.check.block.plcNumber;
    io.memoryLetter = t.check.block.memoryLetter;
    io.addressNumber = t.check.block.addressNumber;
    io.bitNumber = t.check.block.bitNumber;
    io.bitSize = bits;
    io.dataType = t.type.dataType;
    io.elementCount = 1;
    io.valueBuffer = buffer;
    const std::int32_t rc = host.Call(kWriteValue, &io);
    const double ms = host.LastMs();
    const auto log = host.TakeLog();
    const std::string timing = Took(o, ms);
    const std::string shown = bits == 1 ? std::to_string(value) : bits == 32 ? FormatDword(value)
                                                                            : FormatWord(static_cast<std::uint16_t>(value));
    if (rc != 0) {
        std::FILE* out = o.quiet ? stderr : stdout;
        std::fprintf(out, "%s: write of %s failed, result %ld: %s%s\n", t.name.c_str(), shown.c_str(),
                     static_cast<long>(rc), ResultWords(rc, Op::kWrite).c_str(), timing.c_str());
        const std::string hint = rc == 2 ? StationHint(summary, t.check.block.plcNumber) : "";
        if (!hint.empty()) std::fprintf(out, "  (%s)\n", hint.c_str());
        if (!o.quiet) PrintLog(log);
        FinishDriver(o, &host);
        return kExitFailed;
    }
    if (!o.quiet) {
        std::printf("%s (%s, %s): wrote %s%s\n", t.name.c_str(), Describe(t).c_str(), Kind(t, 1).c_str(), shown.c_str(),
                    timing.c_str());
    }
    if (o.verbose) {
        std::printf("  result %ld, value buffer: %s\n", static_cast<long>(rc),
                    BufferHex(std::vector<std::uint8_t>(buffer, buffer + 4), 4).c_str());
        PrintLog(log);
    }
    FinishDriver(o, &host);
    return kExitOk;
}

int CmdPoll(const Options& o) {
    if (o.args.empty()) return Usage("poll takes one or more TAGs");
    StationDir dir;
    if (!PrepareStations(o, &dir)) return kExitCannotRun;
    DriverHost host;
    if (!LoadDriver(o, &host)) return kExitCannotRun;
    DriverInfoBlock info{};
    host.GetInfo(&info);
    std::vector<Tag> tags;
    if (!CheckTags(o, &host, o.args, &tags)) return kExitFailed;
    StartSummary summary;
    if (!StartDriver(o, &host, &summary)) return kExitFailed;

    g_stop = 0;
    std::signal(SIGINT, OnInterrupt);
    const bool live = OutputIsTerminal() && !o.verbose && !o.quiet;
    unsigned long sent = 0, good = 0, refused = 0, noAnswer = 0;
    double minMs = 0, maxMs = 0, sumMs = 0;
    long round = 0;
    const long rounds = o.once ? 1 : o.polls;
    if (!o.quiet && !live) {
        std::printf("Polling %lu tag(s) every %d ms%s\n", static_cast<unsigned long>(tags.size()), o.intervalMs,
                    rounds > 0 ? "" : ", Ctrl-C to stop");
    }
    while (g_stop == 0 && (rounds == 0 || round < rounds)) {
        const auto begin = std::chrono::steady_clock::now();
        ++round;
        std::string line = "#" + std::to_string(round);
        for (Tag& t : tags) {
            const ReadOutcome r = ReadTag(&host, t, o.count);
            ++sent;
            sumMs += r.ms;
            minMs = sent == 1 ? r.ms : std::min(minMs, r.ms);
            maxMs = std::max(maxMs, r.ms);
            std::string value;
            if (r.result == 0) {
                ++good;
                const auto values = Values(t, r, o.count, o.quiet);
                for (std::size_t i = 0; i < values.size(); ++i) value += (i ? ", " : "") + values[i];
                if (values.size() > 1) value = "[" + value + "]";
            } else {
                r.result == 1 ? ++refused : ++noAnswer;
                value = "-- (" + std::to_string(r.result) + (r.result == 1 ? ": refused" : r.result == 2 ? ": no answer" : "") + ")";
            }
            if (o.timing) {
                char ms[24];
                std::snprintf(ms, sizeof ms, " [%.1f ms]", r.ms);
                value += ms;
            }
            line += "  " + (o.quiet ? value : t.name + "=" + value);
            if (o.verbose) {
                line += " rc=" + std::to_string(r.result);
            }
        }
        if (o.quiet) {
            std::printf("%s\n", line.substr(line.find("  ") + 2).c_str());
        } else {
            line += "   | good " + std::to_string(good) + ", failed " + std::to_string(refused + noAnswer);
            if (live) {
                std::printf("\r\033[K%s", line.c_str());
            } else {
                std::printf("%s\n", line.c_str());
            }
        }
        if (o.verbose) PrintLog(host.TakeLog());
        std::fflush(stdout);
        if (rounds != 0 && round >= rounds) break;
        const auto until = begin + std::chrono::milliseconds(o.intervalMs);
        while (g_stop == 0 && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    std::signal(SIGINT, SIG_DFL);
    if (live) std::printf("\n");
    host.TakeLog();
    FinishDriver(o, &host);
    const unsigned long errors = refused + noAnswer;
    if (!o.quiet) {
        std::printf("--- etlan poll statistics ---\n");
        std::printf("%lu requests transmitted, %lu received, %lu errors, %.1f%% request loss\n", sent, good, errors,
                    sent ? 100.0 * static_cast<double>(errors) / static_cast<double>(sent) : 0.0);
        if (errors != 0) std::printf("(%lu refused or negative, %lu without answer)\n", refused, noAnswer);
        if (sent != 0) {
            std::printf("request time min/avg/max = %.1f/%.1f/%.1f ms\n", minMs, sumMs / static_cast<double>(sent), maxMs);
        }
    }
    return errors == 0 && sent != 0 ? kExitOk : kExitFailed;
}

// ---------------------------------------------------------------- browse

int CmdBrowse(const Options& o) {
    if (!o.args.empty()) return Usage("browse takes no arguments");
    DriverHost host;
    if (!LoadDriver(o, &host)) return kExitCannotRun;
    char text[32] = {};
    DialogBlock block{};
    block.outputText = text;
    block.parentWindow = nullptr;
    const std::int32_t rc = host.Call(kBrowseAddress, &block);
    text[sizeof text - 1] = '\0';
    if (rc == 0) {
        if (o.quiet) {
            std::printf("%s\n", text);
        } else {
            std::printf("Address text: %s\n", text);
        }
    } else if (rc == kNotConfirmed) {
        std::printf("cancelled (result 53)\n");
    } else {
        std::printf("result %ld (%s)\n", static_cast<long>(rc), ResultWords(rc, Op::kBrowse).c_str());
    }
    if (!o.quiet) PrintLog(host.TakeLog());
    return rc == 0 ? kExitOk : kExitFailed;
}

// ---------------------------------------------------------------- bench

int CmdBench(Options o) {
    if (!o.args.empty()) return Usage("bench takes no arguments (options only)");
    if (!o.silent.empty()) {
        // Named from here: the bench runs in the station file's directory.
        std::error_code ec;
        const auto abs = std::filesystem::absolute(o.silent, ec);
        if (!ec) o.silent = abs.string();
    }
    StationDir dir;
    if (!PrepareStations(o, &dir)) return kExitCannotRun;
    DriverHost host;
    if (!LoadDriver(o, &host)) return kExitCannotRun;
    std::printf("Driver library : %s\n", LibraryPath(o).c_str());
    return RunBench(o, &host, &dir);
}

}  // namespace

int Main(int argc, char** argv) {
    PrepareConsole();
    Options o;
    std::string why;
    if (!ParseOptions(argc, argv, &o, &why)) return Usage(why);
    if (o.version) {
        std::printf("etlan %s\n", ETLAN_VERSION);
        return kExitOk;
    }
    if (o.command.empty() || o.command == "help") {
        const char* text = o.args.empty() ? OverviewHelp() : CommandHelp(o.args[0]);
        if (text == nullptr) return Usage("no command " + o.args[0]);
        std::fputs(text, stdout);
        return o.command.empty() && !o.help ? kExitUsage : kExitOk;
    }
    const char* help = CommandHelp(o.command);
    if (help == nullptr) return Usage("unknown command " + o.command);
    if (o.help) {
        std::fputs(help, stdout);
        return kExitOk;
    }
    if (o.command == "info") return CmdInfo(o);
    if (o.command == "check") return CmdCheck(o);
    if (o.command == "start") return CmdStart(o);
    if (o.command == "read") return CmdRead(o);
    if (o.command == "write") return CmdWrite(o);
    if (o.command == "poll") return CmdPoll(o);
    if (o.command == "browse") return CmdBrowse(o);
    if (o.command == "bench") return CmdBench(o);
    return Usage("unknown command " + o.command);
}

}  // namespace etl::etlan

int main(int argc, char** argv) {
    const int rc = etl::etlan::Main(argc, argv);
    std::fflush(stdout);
    return rc;
}
