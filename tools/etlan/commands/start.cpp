// etlan start: ColdStart on the station file, what it reports of each
// station, and EndVpi.
#include <cstdio>
#include <set>

#include "host/vocabulary.h"
#include "tools/etlan/commands/command.h"
#include "tools/etlan/commands/tags.h"
#include "tools/etlan/station_lint.h"

namespace etl::etlan {
namespace {

std::string JoinNumbers(const std::set<int>& s) {
    std::string out;
    for (int n : s) out += (out.empty() ? "" : ", ") + std::to_string(n);
    return out;
}

}  // namespace

int CmdStart(const Options& o) {
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
    if (host.LogLost()) return kExitCannotRun;  // said why; no count from that log
    const double startMs = host.LastMs();
    std::printf("ColdStart      : result %ld (%s)%s\n", static_cast<long>(rc), ResultText(rc, kColdStart),
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
    std::printf("EndVpi         : result %ld (%s)\n", static_cast<long>(end), ResultText(end, kEndVpi));
    PrintLog(host.TakeLog());
    // What the driver passed over with a log line at most, in the editor's
    // line numbers (etlan lint tells the same).
    std::string content;
    const std::string source = !dir.Source().empty() ? dir.Source() : file;
    bool fileErrors = false;
    if (ReadWholeFile(source, &content)) {
        const StationLint lint = LintStations(content);
        for (const auto& p : lint.problems) {
            std::fprintf(stderr, "%s:%d: %s: %s\n", o.stations.empty() ? file.c_str() : o.stations.c_str(), p.line,
                         p.error ? "error" : "warning", p.text.c_str());
        }
        fileErrors = lint.HasErrors();
    }
    return rc == 0 && s.failed.empty() && !fileErrors ? kExitOk : kExitFailed;
}

}  // namespace etl::etlan
