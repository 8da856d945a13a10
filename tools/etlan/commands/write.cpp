// etlan write TAG VALUE: one write of a word, double word or bit.
#include <cstdio>

#include "host/vocabulary.h"
#include "tools/etlan/commands/command.h"
#include "tools/etlan/commands/tags.h"
#include "tools/etlan/text.h"

namespace etl::etlan {

int CmdWrite(const Options& o) {
    if (o.args.size() != 2) return Usage("write takes a TAG and a VALUE");
    if (o.countGiven && o.count != 1) return Usage("write takes one value: no --count");
    StationDir dir;
    DriverHost host;
    std::vector<Tag> tags;
    if (const int status = OpenTags(o, {o.args[0]}, &dir, &host, &tags, true); status != kExitOk) return status;
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
    TagIoBlock io = IoBlockOf(t, 1, buffer);
    const std::int32_t rc = host.Call(kWriteValue, &io);
    const double ms = host.LastMs();
    const auto log = host.TakeLog();
    const std::string timing = Took(o, ms);
    const std::string shown = bits == 1 ? std::to_string(value) : bits == 32 ? FormatDword(value)
                                                                            : FormatWord(static_cast<std::uint16_t>(value));
    if (rc != 0) {
        std::FILE* out = stderr;  // results go to standard output, diagnoses here
        std::fprintf(out, "%s: write of %s failed, result %ld: %s%s\n", t.name.c_str(), shown.c_str(),
                     static_cast<long>(rc), ResultText(rc, kWriteValue), timing.c_str());
        const std::string hint = rc == 2 ? StationHint(summary, dir, t.check.block.plcNumber) : "";
        if (!hint.empty()) std::fprintf(out, "  (%s)\n", hint.c_str());
        if (!o.quiet) PrintLog(log, stderr);
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

}  // namespace etl::etlan
