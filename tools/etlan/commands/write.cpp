// etlan write TAG VALUE...: one write of a word, double word or bit, or
// several values to consecutive addresses; --verify reads each back.
#include <cstdio>

#include "host/vocabulary.h"
#include "tools/etlan/commands/command.h"
#include "tools/etlan/commands/tags.h"
#include "tools/etlan/console.h"
#include "tools/etlan/text.h"

namespace etl::etlan {
int CmdWrite(const Options& o) {
    StationDir dir;
    DriverHost host;
    std::vector<Tag> tags;
    if (const int status = OpenTags(o, {o.args[0]}, &dir, &host, &tags, true); status != kExitOk) return status;
    const int bits = tags[0].check.block.bitSize;
    const std::size_t n = o.args.size() - 1;
    if (n > 1) {
        // Every address is checked and every value parsed before the first
        // write: nothing is half written for a mistake on the line.
        if (bits == 1) return Usage("several values are for word and double-word tags, not bits");
        std::vector<std::string> names;
        for (std::size_t i = 1; i < n; ++i) {
            std::string name;
            if (!OffsetTag(tags[0].name, static_cast<unsigned>(i) * (bits == 32 ? 2 : 1), &name)) {
                return Usage("write: " + std::to_string(n) + " values from " + tags[0].name + " run past its address digits");
            }
            names.push_back(name);
        }
        std::vector<Tag> more;
        if (!CheckTags(o, &host, names, &more)) return kExitFailed;
        for (Tag& t : more) tags.push_back(std::move(t));
    }
    std::vector<std::uint32_t> values(n);
    for (std::size_t i = 0; i < n; ++i) {
        std::string why;
        if (!ParseValue(o.args[i + 1], bits == 1 ? 1 : bits == 32 ? 32 : 16, tags[i].name, &values[i], &why)) {
            return Usage("write: " + why);
        }
    }
    StartSummary summary;
    if (!StartDriver(o, &host, &summary)) return kExitFailed;
    // A signal lets the write under way end and be reported, and stops the
    // rest; a second one ends etlan at once with the stop note, which tells
    // what was written and which write was left unfinished.
    struct Watch {
        Watch() { WatchStop(true); }
        ~Watch() {
            SetStopNote("");
            WatchStop(false);
        }
    } watch;
    const auto note = [n](std::size_t written, const std::string& unfinished) {
        char text[160];
        std::snprintf(text, sizeof text, "etlan: stopped: %lu of %lu values written%s%s%s\n",
                      static_cast<unsigned long>(written), static_cast<unsigned long>(n),
                      unfinished.empty() ? "" : ", the write of ", unfinished.c_str(),
                      unfinished.empty() ? "" : " unfinished (the PLC may have taken it)");
        return std::string(text);
    };
    std::size_t written = 0;
    for (std::size_t i = 0; i < n && !StopRequested(); ++i) {
        Tag& t = tags[i];
        const std::uint32_t value = values[i];
        std::uint8_t buffer[8] = {};
        if (bits == 32) {
            PutWord(buffer, 0, static_cast<std::uint16_t>(value & 0xFFFF));
            PutWord(buffer, 2, static_cast<std::uint16_t>(value >> 16));
        } else {
            PutWord(buffer, 2, static_cast<std::uint16_t>(value));
        }
        TagIoBlock io = IoBlockOf(t, 1, buffer);
        SetStopNote(note(written, t.name));
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
            if (n > 1) std::fprintf(out, "  (%lu of %lu values written before it)\n", static_cast<unsigned long>(i),
                                    static_cast<unsigned long>(n));
            const std::string hint = rc == 2 ? StationHint(summary, dir, t.check.block.plcNumber) : "";
            if (!hint.empty()) std::fprintf(out, "  (%s)\n", hint.c_str());
            if (!o.quiet) PrintLog(log, stderr);
            FinishDriver(o, &host);
            return kExitFailed;
        }
        SetStopNote(note(++written, ""));
        if (!o.quiet) {
            std::printf("%s (%s, %s): wrote %s%s\n", t.name.c_str(), Describe(t).c_str(), Kind(t, 1).c_str(),
                        shown.c_str(), timing.c_str());
        }
        if (o.verbose) {
            std::printf("  result %ld, value buffer: %s\n", static_cast<long>(rc),
                        BufferHex(std::vector<std::uint8_t>(buffer, buffer + 4), 4).c_str());
            PrintLog(log);
        }
        std::fflush(stdout);
        if (o.verify) {
            const ReadOutcome r = ReadTag(&host, t, 1);
            host.TakeLog();
            const auto back = r.result == 0 ? Values(t, r, 1, true) : std::vector<std::string>{};
            const std::string expected = bits == 1 || bits == 32 ? std::to_string(value) : std::to_string(value & 0xFFFFu);
            if (back.empty() || back[0] != expected) {
                std::fprintf(stderr, "%s: verify failed: wrote %s, read back %s\n", t.name.c_str(), expected.c_str(),
                             back.empty() ? ("nothing (result " + std::to_string(r.result) + ")").c_str() : back[0].c_str());
                FinishDriver(o, &host);
                return kExitFailed;
            }
            if (!o.quiet) std::printf("  verified: read back %s\n", back[0].c_str());
            std::fflush(stdout);
        }
    }
    if (StopRequested()) {
        if (n > 1) std::fputs(note(written, "").c_str(), stderr);
        FinishDriver(o, &host);
        return kExitInterrupted;
    }
    FinishDriver(o, &host);
    return kExitOk;
}

}  // namespace etl::etlan
