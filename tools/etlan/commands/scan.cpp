// etlan scan: every station of the station file, one line each: whether
// its host text is an address, whether it connected at the start, whether
// it answers a harmless read (D 0) and how fast.
#include <cstdio>
#include <filesystem>

#include "host/vocabulary.h"
#include "tools/etlan/commands/command.h"
#include "tools/etlan/commands/tags.h"
#include "tools/etlan/station_lint.h"

namespace etl::etlan {

int CmdScan(const Options& o) {
    if (!o.args.empty()) return Usage("scan takes no arguments");
    const std::string file = !o.stations.empty() ? o.stations : StationFileName(o.driver);
    std::string content;
    std::string why;
    if (!ReadableFile(file, "station file", &why) || !ReadWholeFile(file, &content)) {
        std::fprintf(stderr, "etlan: %s\n", why.empty() ? ("cannot read the station file " + file).c_str() : why.c_str());
        return kExitCannotRun;
    }
    const StationLint lint = LintStations(content);
    StationDir dir;
    DriverHost host;
    if (!LoadDriver(o, &host)) return kExitCannotRun;
    DriverInfoBlock info{};
    host.GetInfo(&info);
    if (!PrepareStations(o, &dir)) return kExitCannotRun;
    StartSummary summary;
    if (!StartDriver(o, &host, &summary)) return kExitFailed;
    host.TakeLog();

    int good = 0, failed = 0;
    for (int station : lint.defined) {
        const auto at = lint.address.find(station);
        const std::string where = at != lint.address.end() ? at->second : "?";
        char head[64];
        std::snprintf(head, sizeof head, "station %2d  %-21s ", station, where.c_str());
        std::string verdict;
        bool ok = false;
        if (summary.stations.count(station) == 0) {
            verdict = "FAIL  not taken by the driver: " + MissingStationReason(lint, station);
        } else if (!lint.usable.at(station)) {
            verdict = "FAIL  host text is no IPv4 address";
        } else if (summary.failed.count(station) != 0) {
            verdict = "FAIL  address ok, no connection";
        } else {
            char text[16];
            std::snprintf(text, sizeof text, "%02dD00000", station);
            Tag t;
            t.name = text;
            t.type.dataType = 0;
            RunCheck(&host, t.name, 0, 1, false, &t.check);
            const ReadOutcome r = ReadTag(&host, t, 1);
            char ms[48];
            std::snprintf(ms, sizeof ms, "%.1f ms", r.ms);
            ok = r.result == 0;
            verdict = ok ? std::string("ok    address ok, connected, answers D 0 in ") + ms
                         : "FAIL  address ok, connected, read of D 0: result " + std::to_string(r.result) + " (" +
                               (r.result == 1 ? "refused" : "no answer") + ") after " + ms;
        }
        host.TakeLog();
        std::printf("%s%s\n", head, verdict.c_str());
        ++(ok ? good : failed);
    }
    FinishDriver(o, &host);
    std::printf("%d station(s): %d answer, %d failed\n", good + failed, good, failed);
    for (const auto& p : lint.problems) {
        if (p.error && lint.defined.count(p.station) == 0) {
            std::fprintf(stderr, "%s:%d: error: %s\n", file.c_str(), p.line, p.text.c_str());
        }
    }
    return failed == 0 && good != 0 ? kExitOk : kExitFailed;
}

}  // namespace etl::etlan
