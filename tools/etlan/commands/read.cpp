// etlan read TAG: one read of a word, double word, bit or block; a range
// longer than one request is read in requests the address check allows.
#include <algorithm>
#include <cstdio>

#include "host/vocabulary.h"
#include "tools/etlan/commands/command.h"
#include "tools/etlan/commands/tags.h"
#include "tools/etlan/text.h"

namespace etl::etlan {

int CmdRead(const Options& o) {
    StationDir dir;
    DriverHost host;
    std::vector<Tag> tags;
    if (const int status = OpenTags(o, o.args, &dir, &host, &tags, true); status != kExitOk) return status;
    Tag& t = tags[0];
    const std::size_t requests = t.more.size() + 1;
    StartSummary summary;
    if (!StartDriver(o, &host, &summary)) return kExitFailed;
    const RangeOutcome r = ReadRange(&host, t, o.highWordFirst);
    if (r.result != 0) {
        const std::size_t failed = r.requests.size() - 1;
        const Tag& part = failed == 0 ? t : t.more[failed - 1];
        const double ms = r.requests.back().ms;
        std::FILE* out = stderr;  // results go to standard output, diagnoses here
        std::fprintf(out, "%s: read failed, result %ld: %s%s\n", part.name.c_str(), static_cast<long>(r.result),
                     ResultText(r.result, kReadValue), Took(o, ms).c_str());
        if (failed > 0) std::fprintf(out, "  (request %lu of %lu for the range)\n", static_cast<unsigned long>(failed + 1),
                                     static_cast<unsigned long>(requests));
        const std::string hint = r.result == 2 ? StationHint(summary, dir, part.check.block.plcNumber) : "";
        if (!hint.empty()) std::fprintf(out, "  (%s)\n", hint.c_str());
        if (!o.quiet) PrintLog(r.log, stderr);
        FinishDriver(o, &host);
        return kExitFailed;
    }
    const ValueFormat format = ValueFormatOf(o.format);
    std::vector<std::string> values;
    for (std::uint32_t v : r.values) values.push_back(ShowValue(v, r.bits, format, o.quiet));
    const std::string timing = Took(o, r.ms);
    // "32-bit float" where the two words are read as one.
    const std::string kind = Kind(t, o.count) + (format == ValueFormat::kFloat ? " float" : "");
    if (o.quiet) {
        for (const auto& v : values) std::printf("%s\n", v.c_str());
    } else if (o.count <= 1) {
        std::printf("%s (%s, %s): %s%s\n", t.name.c_str(), Describe(t).c_str(), kind.c_str(),
                    values.empty() ? "" : values[0].c_str(), timing.c_str());
    } else {
        std::printf("%s (%s), %d x %s%s:%s\n", t.name.c_str(), Describe(t).c_str(), o.count, kind.c_str(),
                    requests > 1 ? (" in " + std::to_string(requests) + " requests").c_str() : "", timing.c_str());
        const char key = static_cast<char>(t.check.block.memoryLetter);
        for (std::size_t i = 0; i < values.size(); ++i) {
            std::printf("  [%lu] %s: %s\n", static_cast<unsigned long>(i),
                        ElementLabel(key, t.check.block.addressNumber, static_cast<int>(i), r.bits == 32).c_str(),
                        values[i].c_str());
        }
    }
    if (o.verbose) {
        const Tag& last = requests > 1 ? t.more.back() : t;
        const std::size_t bytes = last.count > 1 ? static_cast<std::size_t>(last.count) * (r.bits == 32 ? 4 : 2) : 4;
        std::printf("  result %ld, value buffer%s: %s\n", static_cast<long>(r.result), requests > 1 ? " of the last request" : "",
                    BufferHex(r.requests.back().buffer, std::max<std::size_t>(bytes, 4)).c_str());
        PrintLog(r.log);
    }
    FinishDriver(o, &host);
    return kExitOk;
}

}  // namespace etl::etlan
