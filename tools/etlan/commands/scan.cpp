// etlan scan: every station of the station file, one line each: the
// address the driver connects, whether its host text gives one, whether it
// connected at the start, whether it answers a harmless read (D 0) and how
// fast.
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
    // The file's errors of the stations that fail on them (line numbers
    // the editor's), last.
    const auto explain = [&] {
        for (const auto& p : lint.problems) {
            if (p.error && (lint.defined.count(p.station) == 0 || !lint.usable.at(p.station))) {
                std::fprintf(stderr, "%s:%d: error: %s\n", file.c_str(), p.line, p.text.c_str());
            }
        }
    };
    StartSummary summary;
    if (!StartDriver(o, &host, &summary)) {
        explain();
        return kExitFailed;
    }
    host.TakeLog();

    int good = 0, failed = 0;
    for (int station : lint.defined) {
        const auto at = lint.address.find(station);
        const std::string where = at != lint.address.end() ? at->second : "?";
        char head[64];
        std::snprintf(head, sizeof head, "station %2d  %-21s ", station, where.c_str());
        std::string verdict;
        bool answers = false;
        // "address ok", with the host text where it is a name or a short form.
        const auto named = lint.hostText.find(station);
        const std::string ok = named == lint.hostText.end() ? "address ok" : "address ok (\"" + named->second + "\")";
        if (summary.stations.count(station) == 0) {
            verdict = "FAIL  not taken by the driver: " + MissingStationReason(lint, station);
        } else if (!lint.usable.at(station)) {
            verdict = "FAIL  host text gives no usable address";
        } else if (summary.failed.count(station) != 0) {
            verdict = "FAIL  " + ok + ", no connection";
        } else {
            char text[16];
            std::snprintf(text, sizeof text, "%02dD00000", station);
            Tag t;
            t.name = text;
            t.type.dataType = 0;
            RunCheck(&host, t.name, 0, 1, false, &t.check);
            const ReadOutcome r = ReadTag(&host, t, 1);
            answers = r.result == 0;
            char line[160];
            if (answers) {
                std::snprintf(line, sizeof line, "ok    %s, connected, answers D 0 in %.1f ms", ok.c_str(), r.ms);
            } else {
                std::snprintf(line, sizeof line, "FAIL  %s, connected, read of D 0: result %ld (%s) after %.1f ms", ok.c_str(),
                              static_cast<long>(r.result), r.result == 1 ? "refused" : "no answer", r.ms);
            }
            verdict = line;
        }
        host.TakeLog();
        std::printf("%s%s\n", head, verdict.c_str());
        ++(answers ? good : failed);
    }
    FinishDriver(o, &host);
    std::printf("%d station(s): %d answer, %d failed\n", good + failed, good, failed);
    explain();
    return failed == 0 && good != 0 ? kExitOk : kExitFailed;
}

}  // namespace etl::etlan
