// etlan check TAG: the address check with every field it fills, or why
// the text is invalid.
#include <climits>
#include <cstdio>
#include <cstring>

#include "host/vocabulary.h"
#include "tools/etlan/commands/command.h"
#include "tools/etlan/commands/tags.h"
#include "tools/etlan/text.h"

namespace etl::etlan {
namespace {

std::string MemoryText(std::int32_t letter) {
    if (letter == INT32_MIN) return "(not set)";
    char buf[96];
    const char key = static_cast<char>(letter);
    const std::string area = MemoryAreaName(key);
    if (letter >= 0x20 && letter < 0x7F) {
        std::snprintf(buf, sizeof buf, "'%c' (%ld)%s%s", key, static_cast<long>(letter),
                      !area.empty() ? ": " : ": no memory area", area.c_str());
    } else {
        std::snprintf(buf, sizeof buf, "%ld", static_cast<long>(letter));
    }
    return buf;
}

void PrintCheckFields(const TagAddressBlock& b) {
    auto i32 = [](std::int32_t v) { return v == INT32_MIN ? std::string("(not set)") : std::to_string(v); };
    std::printf("  plcNumber     : %s\n", i32(b.plcNumber).c_str());
    std::printf("  memoryLetter  : %s\n", MemoryText(b.memoryLetter).c_str());
    std::printf("  addressNumber : %s\n",
                b.addressNumber == 0xFFFFFFFFu ? "(not set)" : std::to_string(b.addressNumber).c_str());
    std::string bit = b.bitNumber == 0xFFFFFFFFu ? "(not set)" : std::to_string(b.bitNumber);
    if (b.bitNumber == 255) bit += " (none)";
    std::printf("  bitNumber     : %s\n", bit.c_str());
    std::printf("  bitSize       : %s\n", i32(b.bitSize).c_str());
}

}  // namespace

int CmdCheck(const Options& o) {
    DriverHost host;
    if (!LoadDriver(o, &host)) return kExitCannotRun;
    const std::string& tag = o.args[0];
    // The data type and the check code are taken from the text as read,
    // write and poll take them, so that check agrees with them.
    TypeChoice type = InferType(tag);
    if (o.typeGiven) type.dataType = o.type;
    const bool suffix = o.suffix || type.suffix;
    const int dataType = type.dataType;
    CheckedTag c;
    const std::int32_t rc = RunCheck(&host, tag, dataType, o.count, suffix, &c);
    if (o.quiet) {
        std::printf("%s\n", rc == 0 ? "valid" : "invalid");
        return rc == 0 ? kExitOk : kExitFailed;
    }
    std::printf("%s (code %d) of \"%s\", data type %d, count %d: result %ld, %s\n",
                suffix ? "CheckAddressD" : "CheckAddress", suffix ? 4 : 3, tag.c_str(), dataType, o.count,
                static_cast<long>(rc), rc == 0 ? "valid" : rc == 1 ? "INVALID" : ResultText(rc, kCheckAddress));
    if (suffix && std::strcmp(c.text.data(), tag.c_str()) != 0) {
        std::printf("  address text  : \"%s\" (upper-cased by code 4)\n", c.text.data());
    }
    PrintCheckFields(c.block);
    PrintReasons(c, tag, o.count);
    if (o.timing) std::printf("  time          : %.3f ms\n", host.LastMs());
    PrintLog(host.TakeLog());
    return rc == 0 ? kExitOk : kExitFailed;
}

}  // namespace etl::etlan
