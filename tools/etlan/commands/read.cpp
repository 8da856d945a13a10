// etlan read TAG: one read of a word, double word, bit or block; a range
// longer than one request is read in requests the address check allows.
#include <algorithm>
#include <cctype>
#include <cstdio>

#include "host/vocabulary.h"
#include "tools/etlan/commands/command.h"
#include "tools/etlan/commands/tags.h"
#include "tools/etlan/text.h"

namespace etl::etlan {

int CmdRead(const Options& o) {
    // The most elements one request takes for this memory code.
    const std::string& text = o.args[0];
    const char letter = text.size() > 2 ? static_cast<char>(std::toupper(static_cast<unsigned char>(text[2]))) : '\0';
    const int limit = letter == 'E' || letter == 'G' ? kMaxElementsEG : kMaxElements;
    Options first = o;
    first.count = std::min(o.count, limit);
    StationDir dir;
    DriverHost host;
    std::vector<Tag> tags;
    if (const int status = OpenTags(first, o.args, &dir, &host, &tags, true); status != kExitOk) return status;
    // Further requests for the rest of a range, each checked before the start.
    std::vector<int> counts{first.count};
    if (o.count > limit) {
        const int bits = tags[0].check.block.bitSize;
        for (int at = limit; at < o.count; at += limit) {
            Tag t;
            t.type = tags[0].type;
            if (!OffsetTag(tags[0].name, static_cast<unsigned>(at * (bits == 32 ? 2 : 1)), &t.name)) {
                return Usage("read: " + std::to_string(o.count) + " elements from " + tags[0].name +
                             " run past its address digits");
            }
            const int n = std::min(limit, o.count - at);
            if (RunCheck(&host, t.name, t.type.dataType, n, t.type.suffix, &t.check) != 0) {
                std::fprintf(stderr, "%s: invalid address (result %ld)\n", t.name.c_str(), static_cast<long>(t.check.result));
                PrintReasons(t.check, t.name, n, stderr);
                return kExitFailed;
            }
            tags.push_back(std::move(t));
            counts.push_back(n);
        }
        host.TakeLog();
    }
    Tag& t = tags[0];
    StartSummary summary;
    if (!StartDriver(o, &host, &summary)) return kExitFailed;
    std::vector<std::string> values;
    double ms = 0;
    std::vector<std::string> log;
    ReadOutcome last;
    for (std::size_t i = 0; i < tags.size(); ++i) {
        const ReadOutcome r = ReadTag(&host, tags[i], counts[i]);
        ms += r.ms;
        const auto lines = host.TakeLog();
        log.insert(log.end(), lines.begin(), lines.end());
        if (r.result != 0) {
            const std::string timing = Took(o, r.ms);
            std::FILE* out = stderr;  // results go to standard output, diagnoses here
            std::fprintf(out, "%s: read failed, result %ld: %s%s\n", tags[i].name.c_str(), static_cast<long>(r.result),
                         ResultText(r.result, kReadValue), timing.c_str());
            if (i > 0) std::fprintf(out, "  (request %lu of %lu for the range)\n", static_cast<unsigned long>(i + 1),
                                    static_cast<unsigned long>(tags.size()));
            const std::string hint = r.result == 2 ? StationHint(summary, dir, tags[i].check.block.plcNumber) : "";
            if (!hint.empty()) std::fprintf(out, "  (%s)\n", hint.c_str());
            if (o.count > 1 && tags[i].check.block.bitSize == 1) std::fprintf(out, "  (a block read of bit tags is not possible)\n");
            if (!o.quiet) PrintLog(log, stderr);
            FinishDriver(o, &host);
            return kExitFailed;
        }
        const auto part = Values(tags[i], r, counts[i], o.quiet);
        values.insert(values.end(), part.begin(), part.end());
        last = r;
    }
    const std::string timing = Took(o, ms);
    if (o.quiet) {
        for (const auto& v : values) std::printf("%s\n", v.c_str());
    } else if (o.count <= 1) {
        std::printf("%s (%s, %s): %s%s\n", t.name.c_str(), Describe(t).c_str(), Kind(t, 1).c_str(),
                    values.empty() ? "" : values[0].c_str(), timing.c_str());
    } else {
        std::printf("%s (%s), %d x %s%s:%s\n", t.name.c_str(), Describe(t).c_str(), o.count, Kind(t, o.count).c_str(),
                    tags.size() > 1 ? (" in " + std::to_string(tags.size()) + " requests").c_str() : "", timing.c_str());
        const char key = static_cast<char>(t.check.block.memoryLetter);
        for (std::size_t i = 0; i < values.size(); ++i) {
            std::printf("  [%lu] %s: %s\n", static_cast<unsigned long>(i),
                        ElementLabel(key, t.check.block.addressNumber, static_cast<int>(i), t.check.block.bitSize == 32).c_str(),
                        values[i].c_str());
        }
    }
    if (o.verbose) {
        const int n = counts.back();
        const std::size_t bytes = n > 1 ? static_cast<std::size_t>(n) * (t.check.block.bitSize == 32 ? 4 : 2) : 4;
        std::printf("  result %ld, value buffer%s: %s\n", static_cast<long>(last.result), tags.size() > 1 ? " of the last request" : "",
                    BufferHex(last.buffer, std::max<std::size_t>(bytes, 4)).c_str());
        PrintLog(log);
    }
    FinishDriver(o, &host);
    return kExitOk;
}

}  // namespace etl::etlan
