// The entry point's table of function codes and the driver's identity.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/blocks.h"
#include "host/operations.h"
#include "host/vpi.h"

namespace {

using etl::VpiRequest;

std::int32_t Call(std::uint32_t code, void* context = nullptr, void* params = nullptr) {
    VpiRequest r{};
    r.context = context;
    r.functionCode = code;
    r.params = params;
    return VpiMain(&r);
}

TEST(Dispatcher, EmptySlotsAndCodesAbove17Answer2) {
    for (std::uint32_t code : {0u, 8u, 9u, 17u, 18u, 100u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
        EXPECT_EQ(Call(code), 2) << "code " << code;
    }
}

TEST(Dispatcher, FixedCodesTouchNothing) {
    // Null context and null parameters: these codes read neither.
    EXPECT_EQ(Call(10), 1);
    EXPECT_EQ(Call(12), 0);
    EXPECT_EQ(Call(13), 0);
}

TEST(DriverInfo, FillsEveryValueAndLeavesTheUnwrittenFieldAlone) {
    etl::DriverInfoBlock info;
    std::memset(&info, 0xA5, sizeof info);
    ASSERT_EQ(Call(14, nullptr, &info), 0);
    EXPECT_EQ(info.infoValueA, 82);
    EXPECT_STREQ(info.vendorText, "Matsushita");
    EXPECT_EQ(info.contextSize, static_cast<std::int32_t>(sizeof(etl::DriverContext)));
    EXPECT_EQ(info.infoValueB, 3);
    EXPECT_EQ(info.replyWord1, 1);
    EXPECT_EQ(info.replyWord2, 0);
    EXPECT_EQ(info.reserved, 0xA5A5A5A5u);
    const unsigned char c[4] = {0x21, 0x00, 0x7F, 0x00};
    EXPECT_EQ(std::memcmp(&info.infoValueC, c, 4), 0);
}

TEST(DriverInfo, BannerIsA188ByteBoxInCodePage437) {
    etl::DriverInfoBlock info{};
    Call(14, nullptr, &info);
    const std::string b(info.bannerText);
    ASSERT_EQ(b.size(), 188u);
    EXPECT_EQ(b.substr(0, 2), "\r\n");
    const std::string top = b.substr(2, 62);
    const std::string mid = b.substr(64, 62);
    const std::string bottom = b.substr(126, 62);
    EXPECT_EQ(top, "\xDA" + std::string(46, '\xC4') + "\xBF" + std::string(12, ' ') + "\r\n");
    EXPECT_EQ(mid, "\xB3 TCP/IP protocol for Matsushita ET-LAN SYSTEM \xB3" + std::string(12, ' ') +
                       "\r\n");
    EXPECT_EQ(bottom, "\xC0" + std::string(46, '\xC4') + "\xD9" + std::string(12, ' ') + "\r\n");
}

// The host's blocks keep their fields in the host's order on every build;
// the 32-bit build also checks every offset at compile time.
TEST(Layout, FieldsStayInTheHostsOrder) {
    using etl::DriverContext;
    using etl::TagAddressBlock;
    using etl::TagIoBlock;
    EXPECT_LT(offsetof(TagIoBlock, plcNumber), offsetof(TagIoBlock, memoryLetter));
    EXPECT_LT(offsetof(TagIoBlock, bitSize), offsetof(TagIoBlock, dataType));
    EXPECT_LT(offsetof(TagIoBlock, reserved2), offsetof(TagIoBlock, valueBuffer));
    // The five shared fields stand in the same order and widths in both tag blocks.
    EXPECT_EQ(offsetof(TagAddressBlock, bitSize) - offsetof(TagAddressBlock, plcNumber),
              offsetof(TagIoBlock, bitSize) - offsetof(TagIoBlock, plcNumber));
    EXPECT_EQ(sizeof(etl::StationEntry), 40u);
    EXPECT_EQ(offsetof(DriverContext, sendCommand),
              offsetof(DriverContext, sendHeader) + etl::kEtlanHeaderSize);
#if defined(_WIN32) && !defined(_WIN64)
    EXPECT_EQ(sizeof(DriverContext), 6808u);
#endif
}

}  // namespace
