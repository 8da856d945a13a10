// etlan lint [FILE]: the station file's mistakes, each with its line.
#include <cstdio>

#include "tools/etlan/commands/command.h"
#include "tools/etlan/station_lint.h"

namespace etl::etlan {

int CmdLint(const Options& o) {
    if (o.args.size() > 1) return Usage("lint takes at most one FILE");
    const std::string file = !o.args.empty() ? o.args[0] : !o.stations.empty() ? o.stations : StationFileName(o.driver);
    std::string content, why;
    if (!ReadableFile(file, "station file", &why) || !ReadWholeFile(file, &content)) {
        std::fprintf(stderr, "etlan: %s\n", !why.empty() ? why.c_str() : ("cannot read " + file).c_str());
        return kExitCannotRun;
    }
    const StationLint lint = LintStations(content);
    int errors = 0, warnings = 0;
    for (const auto& p : lint.problems) {
        std::fprintf(stderr, "%s:%d: %s: %s\n", file.c_str(), p.line, p.error ? "error" : "warning", p.text.c_str());
        ++(p.error ? errors : warnings);
    }
    if (!o.quiet) {
        std::string stations;
        for (int s : lint.defined) {
            stations += (stations.empty() ? "" : ", ") + std::to_string(s);
            // A host text that is not the address itself, with what the driver makes of it.
            if (const auto it = lint.hostText.find(s); it != lint.hostText.end()) {
                stations += " \"";
                stations += it->second;
                stations += "\" = ";
                stations += lint.address.at(s);
            }
            if (const auto it = lint.options.find(s); it != lint.options.end()) stations += " [" + it->second + "]";
        }
        std::printf("%s: PC number %s, %d station(s)%s%s%s, %d error(s), %d warning(s)\n", file.c_str(),
                    lint.pcNumber >= 0 ? std::to_string(lint.pcNumber).c_str() : "none",
                    static_cast<int>(lint.defined.size()), stations.empty() ? "" : " (", stations.c_str(),
                    stations.empty() ? "" : ")", errors, warnings);
    }
    return errors != 0 ? kExitFailed : kExitOk;
}

}  // namespace etl::etlan
