// etlan info: the driver's identity, its banner and the context size.
#include <cstdio>
#include <cstring>

#include "host/vocabulary.h"
#include "tools/etlan/commands/command.h"
#include "tools/etlan/text.h"

namespace etl::etlan {

int CmdInfo(const Options& o) {
    DriverHost host;
    if (!LoadDriver(o, &host)) return kExitCannotRun;
    DriverInfoBlock info{};
    const std::int32_t rc = host.GetInfo(&info);
    std::printf("Driver library : %s\n", LibraryPath(o).c_str());
    std::printf("GetDriverInfo  : result %ld (%s)\n", static_cast<long>(rc), ResultText(rc, kGetDriverInfo));
    if (rc != 0) {
        PrintLog(host.TakeLog());
        return kExitFailed;
    }
    std::printf("Vendor         : %s\n", info.vendorText != nullptr ? info.vendorText : "(none)");
    const std::size_t bannerBytes = info.bannerText != nullptr ? std::strlen(info.bannerText) : 0;
    std::printf("Banner         : %lu bytes, code page 437\n", static_cast<unsigned long>(bannerBytes));
    for (const auto& line : BannerLines(info.bannerText)) std::printf("    %s\n", line.c_str());
    std::printf("Context size   : %ld bytes (0x%lX)\n", static_cast<long>(info.contextSize),
                static_cast<unsigned long>(info.contextSize));
    std::printf("infoValueA     : %ld (0x%lX)\n", static_cast<long>(info.infoValueA),
                static_cast<unsigned long>(info.infoValueA));
    std::printf("infoValueB     : %ld\n", static_cast<long>(info.infoValueB));
    std::printf("infoValueC     : %lu (0x%08lX)\n", static_cast<unsigned long>(info.infoValueC),
                static_cast<unsigned long>(info.infoValueC));
    std::printf("Reply words    : %u, %u\n", static_cast<unsigned>(info.replyWord1),
                static_cast<unsigned>(info.replyWord2));
    if (o.timing) std::printf("Time           : %.3f ms\n", host.LastMs());
    PrintLog(host.TakeLog());
    return kExitOk;
}

}  // namespace etl::etlan
