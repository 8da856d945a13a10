#include "tools/etlan/commands/tags.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>

#include "host/vocabulary.h"
#include "tools/etlan/commands/command.h"
#include "tools/etlan/station_lint.h"

namespace etl::etlan {

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
    out->result = host->Call(suffix ? kCheckAddressSuffix : kCheckAddress, &b);
    return out->result;
}

void PrintReasons(const CheckedTag& c, const std::string& tag, int count, std::FILE* to) {
    const TagReport report = ExplainTag(tag, c.dataType, count, c.suffix);
    if (c.result != 0) {
        std::fprintf(to, "  Why it is invalid:\n");
        for (const auto& r : report.reasons) std::fprintf(to, "    - %s\n", r.c_str());
        if (report.reasons.empty()) std::fprintf(to, "    - (etlan finds no reason of its own; the driver refused it)\n");
    } else if (!report.reasons.empty()) {
        std::fprintf(to, "  The driver accepted it, although etlan's rules say:\n");
        for (const auto& r : report.reasons) std::fprintf(to, "    - %s\n", r.c_str());
    }
    for (const auto& n : report.notes) std::fprintf(to, "  Note: %s\n", n.c_str());
}

int RequestLimit(const std::string& name) {
    const char letter = name.size() > 2 ? static_cast<char>(std::toupper(static_cast<unsigned char>(name[2]))) : '\0';
    return letter == 'E' || letter == 'G' ? kMaxElementsEG : kMaxElements;
}

namespace {

// The further requests of the tag's range of o.count elements, each
// checked; kExitOk or the exit status to end with.
int SplitRange(const Options& o, DriverHost* host, Tag* t) {
    const int limit = t->count;
    const int bits = t->check.block.bitSize;
    for (int at = limit; at < o.count; at += limit) {
        Tag part;
        part.type = t->type;
        part.count = std::min(limit, o.count - at);
        if (!OffsetTag(t->name, static_cast<unsigned>(at * (bits == 32 ? 2 : 1)), &part.name)) {
            return Usage(o.command + ": " + std::to_string(o.count) + " elements from " + t->name +
                         " run past its address digits");
        }
        if (RunCheck(host, part.name, part.type.dataType, part.count, part.type.suffix, &part.check) != 0) {
            std::fprintf(stderr, "%s: invalid address (result %ld)\n", part.name.c_str(), static_cast<long>(part.check.result));
            PrintReasons(part.check, part.name, part.count, stderr);
            return kExitFailed;
        }
        t->more.push_back(std::move(part));
    }
    host->TakeLog();
    return kExitOk;
}

}  // namespace

int OpenTags(const Options& o, const std::vector<std::string>& names, StationDir* dir, DriverHost* host,
             std::vector<Tag>* tags, bool oneShot) {
    std::string why;
    if (!o.stations.empty() && !ReadableFile(o.stations, "station file", &why)) {
        std::fprintf(stderr, "etlan: %s\n", why.c_str());
        return kExitCannotRun;
    }
    if (!LoadDriver(o, host)) return kExitCannotRun;
    DriverInfoBlock info{};
    host->GetInfo(&info);
    if (!CheckTags(o, host, names, tags)) return kExitFailed;
    // The address check takes a count with a bit tag, the read does not:
    // refused here, before any station is started.
    const bool toFloat = ValueFormatOf(o.format) == ValueFormat::kFloat;
    for (Tag& t : *tags) {
        if (o.count > 1 && t.check.block.bitSize == 1) {
            return Usage("option -c is for word and double-word tags: " + t.name + " is a bit (" +
                         t.name.substr(0, t.name.size() - 1) + " is its word of 16 bits)");
        }
        if (toFloat && ValueBits(t, o.count) != 32) {
            return Usage("--format float takes 32 bits over two words: " + t.name +
                         (t.check.block.bitSize == 1 ? std::string(" is a bit") : " is one 16-bit word with -t " + std::to_string(o.type)));
        }
        if (const int status = SplitRange(o, host, &t); status != kExitOk) return status;
    }
    std::set<int> named;
    for (const Tag& t : *tags) named.insert(t.check.block.plcNumber);
    return PrepareStations(o, dir, oneShot ? &named : nullptr) ? kExitOk : kExitCannotRun;
}

bool CheckTags(const Options& o, DriverHost* host, const std::vector<std::string>& names, std::vector<Tag>* tags) {
    tags->resize(names.size());
    bool ok = true;
    for (std::size_t i = 0; i < names.size(); ++i) {
        Tag& t = (*tags)[i];
        t.name = names[i];
        std::transform(t.name.begin(), t.name.end(), t.name.begin(),
                       [](unsigned char ch) { return static_cast<char>(std::toupper(ch)); });
        t.type = InferType(t.name);
        if (o.typeGiven) {
            t.type.dataType = o.type;
            t.type.why = "given with --type";
        }
        if (o.suffix) t.type.suffix = true;
        if (ValueFormatOf(o.format) == ValueFormat::kFloat && !o.typeGiven && t.type.dataType == 0) {
            t.type.dataType = 3;
            t.type.why = "--format float: 32 bits over two words";
        }
        t.count = std::min(o.count, RequestLimit(t.name));
        const std::int32_t rc = RunCheck(host, t.name, t.type.dataType, t.count, t.type.suffix, &t.check);
        if (o.verbose) {
            std::printf("%s: data type %d (%s), %s: result %ld\n", t.name.c_str(), t.type.dataType, t.type.why.c_str(),
                        t.type.suffix ? "CheckAddressD" : "CheckAddress", static_cast<long>(rc));
            PrintLog(host->TakeLog());
        }
        if (rc != 0) {
            ok = false;
            std::fprintf(stderr, "%s: invalid address (result %ld, data type %d: %s)\n", t.name.c_str(),
                         static_cast<long>(rc), t.type.dataType, t.type.why.c_str());
            PrintReasons(t.check, t.name, t.count, stderr);
        }
    }
    host->TakeLog();
    return ok;
}

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
            StationNews news;
            if (ReadStationNews(l, &news) && news.station == n) s.why[n] = news.words;
        } else if (std::strstr(l.c_str(), "InitConnections(): client: addr") != nullptr) {
            ++s.connected;
        } else if ((p = std::strstr(l.c_str(), " defines ")) != nullptr && std::sscanf(p, " defines %d", &n) == 1) {
            s.defined = n;
        }
    }
    return s;
}

bool StartDriver(const Options& o, DriverHost* host, StartSummary* summary) {
    const std::int32_t rc = host->ColdStart(o.driver);
    if (host->LogLost()) return false;  // said why; nothing is drawn from that log
    const auto lines = host->TakeLog();
    *summary = Summarize(lines);
    if (o.verbose) {
        std::printf("ColdStart: result %ld (%s)\n", static_cast<long>(rc), ResultText(rc, kColdStart));
        PrintLog(lines);
    }
    if (rc != 0) {
        if (!o.verbose) {
            std::fprintf(stderr, "ColdStart failed: result %ld (%s)\n", static_cast<long>(rc), ResultText(rc, kColdStart));
            PrintLog(lines, stderr);
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

std::string StationHint(const StartSummary& s, const StationDir& dir, int plc) {
    if (s.stations.count(plc) == 0) {
        std::string content;
        if (dir.Source().empty() || !ReadWholeFile(dir.Source(), &content)) {
            return "station " + std::to_string(plc) + " is not defined in the station file";
        }
        return MissingStationReason(LintStations(content), plc);
    }
    if (s.failed.count(plc) != 0) {
        std::string hint = "station " + std::to_string(plc) + " did not connect at the start";
        const auto why = s.why.find(plc);
        if (why != s.why.end()) hint += ": " + why->second;
        return hint;
    }
    return "";
}

std::string Describe(const Tag& t) {
    const TagAddressBlock& b = t.check.block;
    const char key = static_cast<char>(b.memoryLetter);
    const std::string area = MemoryAreaName(key);
    std::string what = "PLC " + std::to_string(b.plcNumber) + ", " + (!area.empty() ? area : std::string("code ") + key) + " " +
                       std::to_string(b.addressNumber);
    if (b.bitSize == 1) {
        char bit[16];
        std::snprintf(bit, sizeof bit, " bit %X", static_cast<unsigned>(b.bitNumber));
        what += bit;
    }
    return what;
}

TagIoBlock IoBlockOf(const Tag& t, int count, void* buffer) {
    TagIoBlock io{};
    io.addressText = t.check.text.data();
    io.plcNumber = t.check.block.plcNumber;
    io.memoryLetter = t.check.block.memoryLetter;
    io.addressNumber = t.check.block.addressNumber;
    io.bitNumber = t.check.block.bitNumber;
    io.bitSize = t.check.block.bitSize;
    io.dataType = t.type.dataType;
    io.elementCount = count;
    io.valueBuffer = buffer;
    return io;
}

ReadOutcome ReadTag(DriverHost* host, Tag& t, int count) {
    ReadOutcome r;
    r.buffer.assign(static_cast<std::size_t>(std::max(count, 1)) * 4 + 8, 0xCC);
    TagIoBlock io = IoBlockOf(t, count, r.buffer.data());
    r.result = host->Call(count > 1 ? kReadBlock : kReadValue, &io);
    r.ms = host->LastMs();
    return r;
}

int ValueBits(const Tag& t, int count) {
    const TagAddressBlock& b = t.check.block;
    if (count <= 1) {
        if (b.bitSize == 1) return 1;
        return IsDoubleWord(t.type.dataType, b.memoryLetter, b.bitSize) ? 32 : 16;
    }
    return b.bitSize == 32 ? 32 : b.bitSize == 16 ? 16 : 1;
}

std::vector<std::uint32_t> RawValues(const Tag& t, const ReadOutcome& r, int count, bool highWordFirst) {
    std::vector<std::uint32_t> out;
    const std::uint8_t* buffer = r.buffer.data();
    const int bits = ValueBits(t, count);
    if (count <= 1) {
        out.push_back(bits == 32 ? JoinWords(GetWord(buffer, 0), GetWord(buffer, 2), highWordFirst) : GetWord(buffer, 2));
        return out;
    }
    for (int i = 0; i < count && bits != 1; ++i) {
        const auto at = static_cast<std::size_t>((bits == 32 ? 4 : 2) * i);
        out.push_back(bits == 32 ? JoinWords(GetWord(buffer, at), GetWord(buffer, at + 2), highWordFirst) : GetWord(buffer, at));
    }
    return out;
}

std::vector<std::string> Values(const Tag& t, const ReadOutcome& r, int count, bool decimalOnly) {
    std::vector<std::string> out;
    const int bits = ValueBits(t, count);
    for (std::uint32_t v : RawValues(t, r, count, false)) out.push_back(ShowValue(v, bits, ValueFormat::kDefault, decimalOnly));
    return out;
}

RangeOutcome ReadRange(DriverHost* host, Tag& t, bool highWordFirst) {
    RangeOutcome out;
    out.bits = ValueBits(t, t.count);
    for (std::size_t i = 0; i <= t.more.size(); ++i) {
        Tag& part = i == 0 ? t : t.more[i - 1];
        ReadOutcome r = ReadTag(host, part, part.count);
        const auto lines = host->TakeLog();
        out.log.insert(out.log.end(), lines.begin(), lines.end());
        out.ms += r.ms;
        out.result = r.result;
        if (r.result == 0) {
            const auto values = RawValues(part, r, part.count, highWordFirst);
            out.values.insert(out.values.end(), values.begin(), values.end());
        }
        out.requests.push_back(std::move(r));
        if (out.result != 0) {
            out.values.clear();
            break;
        }
    }
    return out;
}

// The text of the tag offset addresses after the given one ("01D00100" + 2
// is "01D00102"), with the same number of address digits and the same
// suffix; false when it does not fit them.
bool OffsetTag(const std::string& name, unsigned offset, std::string* out) {
    const std::string suffix = HasSuffix(name) ? name.substr(name.size() - 2) : "";
    const std::string core = name.substr(0, name.size() - suffix.size());
    if (core.size() < 4) return false;
    const std::string digits = core.substr(3);
    unsigned long address = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        address = address * 10 + static_cast<unsigned long>(c - '0');
    }
    address += offset;
    char text[32];
    std::snprintf(text, sizeof text, "%0*lu", static_cast<int>(digits.size()), address);
    if (std::string(text).size() != digits.size()) return false;
    *out = core.substr(0, 3) + text + suffix;
    return true;
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
    const bool dw = count <= 1 ? IsDoubleWord(t.type.dataType, b.memoryLetter, b.bitSize) : b.bitSize == 32;
    return dw ? "32-bit" : "16-bit";
}

}  // namespace etl::etlan
