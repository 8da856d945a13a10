// GetDriverInfo: the driver's identity, readable before any instance exists.
#include "host/operations.h"

namespace etl {

// CR LF, then a three-line box in code page 437, each line 60 bytes + CR LF.
#define ETL_RULE46                                                                            \
    "\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4" \
    "\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4"
#define ETL_PAD12 "            "
const char kBannerText[] =
    "\r\n"
    "\xDA" ETL_RULE46 "\xBF" ETL_PAD12 "\r\n"
    "\xB3" " TCP/IP protocol for Matsushita ET-LAN SYSTEM " "\xB3" ETL_PAD12 "\r\n"
    "\xC0" ETL_RULE46 "\xD9" ETL_PAD12 "\r\n";
#undef ETL_RULE46
#undef ETL_PAD12

static_assert(sizeof(kBannerText) == kBannerLength + 1);

std::int32_t GetDriverInfo(VpiRequest* request) {
    auto* info = ParamsOf<DriverInfoBlock>(request);
    info->infoValueA = 82;
    info->vendorText = kVendorText;
    info->bannerText = kBannerText;
    info->contextSize = kContextSize;
    info->infoValueB = 3;
    info->replyWord1 = 1;
    info->replyWord2 = 0;
    info->infoValueC = 0x007F0021u;
    return kOk;
}

}  // namespace etl
