// etlan bench: the station file in place, the driver loaded, then the
// bench (tools/etlan/bench/).
#include <cstdio>
#include <filesystem>

#include "tools/etlan/bench/bench.h"
#include "tools/etlan/commands/command.h"

namespace etl::etlan {

int CmdBench(const Options& given) {
    Options o = given;
    if (!o.silent.empty()) {
        // Named from here: the bench runs in the station file's directory.
        std::error_code ec;
        const auto abs = std::filesystem::absolute(o.silent, ec);
        if (!ec) o.silent = abs.string();
    }
    StationDir dir;
    if (!PrepareStations(o, &dir)) return kExitCannotRun;
    DriverHost host;
    if (!LoadDriver(o, &host)) return kExitCannotRun;
    std::printf("Driver library : %s\n", LibraryPath(o).c_str());
    return RunBench(o, &host, &dir);
}

}  // namespace etl::etlan
