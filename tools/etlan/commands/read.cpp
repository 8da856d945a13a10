// etlan read TAG: one read of a word, double word, bit or block.
#include <algorithm>
#include <cstdio>

#include "host/vocabulary.h"
#include "tools/etlan/commands/command.h"
#include "tools/etlan/commands/tags.h"
#include "tools/etlan/text.h"

namespace etl::etlan {

int CmdRead(const Options& o) {
    if (o.args.size() != 1) return Usage("read takes one TAG");
    StationDir dir;
    DriverHost host;
    std::vector<Tag> tags;
    if (const int status = OpenTags(o, o.args, &dir, &host, &tags, true); status != kExitOk) return status;
    Tag& t = tags[0];
    StartSummary summary;
    if (!StartDriver(o, &host, &summary)) return kExitFailed;
    const ReadOutcome r = ReadTag(&host, t, o.count);
    const auto log = host.TakeLog();
    const std::string timing = Took(o, r.ms);
    if (r.result != 0) {
        std::FILE* out = stderr;  // results go to standard output, diagnoses here
        std::fprintf(out, "%s: read failed, result %ld: %s%s\n", t.name.c_str(), static_cast<long>(r.result),
                    ResultText(r.result, kReadValue), timing.c_str());
        const std::string hint = r.result == 2 ? StationHint(summary, dir, t.check.block.plcNumber) : "";
        if (!hint.empty()) std::fprintf(out, "  (%s)\n", hint.c_str());
        if (o.count > 1 && t.check.block.bitSize == 1) std::fprintf(out, "  (a block read of bit tags is not possible)\n");
        if (!o.quiet) PrintLog(log, stderr);
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

}  // namespace etl::etlan
