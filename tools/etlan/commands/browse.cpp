// etlan browse: the address dialog (on Linux, without a user interface,
// it reports "cancelled").
#include <cstdio>

#include "host/vocabulary.h"
#include "tools/etlan/commands/command.h"

namespace etl::etlan {

int CmdBrowse(const Options& o) {
    DriverHost host;
    if (!LoadDriver(o, &host)) return kExitCannotRun;
    char text[32] = {};
    DialogBlock block{};
    block.outputText = text;
    block.parentWindow = nullptr;
    const std::int32_t rc = host.Call(kBrowseAddress, &block);
    text[sizeof text - 1] = '\0';
    if (rc == 0) {
        if (o.quiet) {
            std::printf("%s\n", text);
        } else {
            std::printf("Address text: %s\n", text);
        }
    } else if (rc == kNotConfirmed) {
        std::printf("cancelled (result 53)\n");
    } else {
        std::printf("result %ld (%s)\n", static_cast<long>(rc), ResultText(rc, kBrowseAddress));
    }
    if (!o.quiet) PrintLog(host.TakeLog());
    return rc == 0 ? kExitOk : kExitFailed;
}

}  // namespace etl::etlan
