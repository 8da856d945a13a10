// etlan warmstart N...: ColdStart on the named stations' lines, then
// WarmStart of each, as the host makes a lost connection again.
#include <charconv>
#include <cstdio>
#include <set>

#include "host/vocabulary.h"
#include "tools/etlan/commands/command.h"
#include "tools/etlan/commands/tags.h"

namespace etl::etlan {

int CmdWarmStart(const Options& o) {
    std::set<int> stations;
    std::vector<int> order;
    for (const std::string& arg : o.args) {
        int n = 0;
        const auto r = std::from_chars(arg.data(), arg.data() + arg.size(), n);
        if (r.ec != std::errc() || r.ptr != arg.data() + arg.size() || n < 1 || n > kMaxStation) {
            return Usage("warmstart: \"" + arg + "\" is no station number from 1 to " + std::to_string(kMaxStation));
        }
        if (stations.insert(n).second) order.push_back(n);
    }
    StationDir dir;
    DriverHost host;
    if (!LoadDriver(o, &host)) return kExitCannotRun;
    if (!PrepareStations(o, &dir, &stations)) return kExitCannotRun;
    StartSummary summary;
    if (!StartDriver(o, &host, &summary)) return kExitFailed;
    host.TakeLog();
    bool ok = true;
    for (int n : order) {
        const std::int32_t rc = host.WarmStart(n);
        const double ms = host.LastMs();
        const auto log = host.TakeLog();
        if (rc == 0) {
            std::printf("WarmStart station %d: result 0 (%s)%s\n", n, ResultText(rc, kWarmStart), Took(o, ms).c_str());
        } else {
            ok = false;
            std::fprintf(stderr, "WarmStart station %d: result %ld (%s)%s\n", n, static_cast<long>(rc),
                         ResultText(rc, kWarmStart), Took(o, ms).c_str());
            const std::string hint = StationHint(summary, dir, n);
            if (!hint.empty() && summary.stations.count(n) == 0) std::fprintf(stderr, "  (%s)\n", hint.c_str());
        }
        if (o.verbose || rc != 0) PrintLog(log, rc == 0 ? stdout : stderr);
    }
    FinishDriver(o, &host);
    return ok ? kExitOk : kExitFailed;
}

}  // namespace etl::etlan
