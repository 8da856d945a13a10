// The built driver library as a host sees it: loaded from disk, reached
// only through its exported VpiMain.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/blocks.h"
#include "tools/loader/library_loader.h"

namespace {

using etl::VpiRequest;

class DriverLibraryTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        library_ = new etl::plat::DriverLibrary;
        path_ = etl::plat::ExecutableDirectory() + etl::plat::DriverFileName();
        loaded_ = library_->Load(path_);
    }
    static void TearDownTestSuite() {
        delete library_;
        library_ = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(loaded_) << path_ << ": " << library_->Error();
        ASSERT_NE(library_->Entry(), nullptr);
    }

    static std::int32_t Call(std::uint32_t code, void* params = nullptr, void* context = nullptr) {
        VpiRequest r;
        std::memset(&r, 0x5A, sizeof r);  // fields the driver does not read hold garbage
        r.context = context;
        r.functionCode = code;
        r.driverNumber = 1;
        r.params = params;
        return library_->Entry()(&r);
    }

    static etl::plat::DriverLibrary* library_;
    static std::string path_;
    static bool loaded_;
};

etl::plat::DriverLibrary* DriverLibraryTest::library_ = nullptr;
std::string DriverLibraryTest::path_;
bool DriverLibraryTest::loaded_ = false;

TEST_F(DriverLibraryTest, DispatchesFixedAndEmptyCodesWithoutContextOrParams) {
    for (std::uint32_t code : {0u, 8u, 9u, 17u, 18u, 0xFFFFFFFFu}) {
        EXPECT_EQ(Call(code), etl::kFailed) << "code " << code;
    }
    EXPECT_EQ(Call(10), etl::kInvalid);
    EXPECT_EQ(Call(12), etl::kOk);
    EXPECT_EQ(Call(13), etl::kOk);
}

TEST_F(DriverLibraryTest, GetDriverInfoReportsTheIdentity) {
    etl::DriverInfoBlock info;
    std::memset(&info, 0xA5, sizeof info);
    ASSERT_EQ(Call(14, &info), etl::kOk);

    EXPECT_EQ(info.infoValueA, 82);
    ASSERT_NE(info.vendorText, nullptr);
    EXPECT_STREQ(info.vendorText, "Matsushita");
    EXPECT_EQ(info.contextSize, etl::kContextSize);
#if defined(_WIN32) && !defined(_WIN64)
    EXPECT_EQ(info.contextSize, 6808);
#endif
    EXPECT_EQ(info.infoValueB, 3);
    EXPECT_EQ(info.replyWord1, 1);
    EXPECT_EQ(info.replyWord2, 0);
    EXPECT_EQ(info.reserved, 0xA5A5A5A5u) << "the field after the reply words is never written";
    const unsigned char valueC[4] = {0x21, 0x00, 0x7F, 0x00};
    EXPECT_EQ(std::memcmp(&info.infoValueC, valueC, sizeof valueC), 0);

    ASSERT_NE(info.bannerText, nullptr);
    const std::string rule(46, '\xC4');
    const std::string pad(12, ' ');
    const std::string expected = "\r\n"
                                 "\xDA" + rule + "\xBF" + pad + "\r\n"
                                 "\xB3 TCP/IP protocol for Matsushita ET-LAN SYSTEM \xB3" + pad + "\r\n"
                                 "\xC0" + rule + "\xD9" + pad + "\r\n";
    ASSERT_EQ(expected.size(), 188u);
    EXPECT_EQ(std::string(info.bannerText), expected);
}

TEST_F(DriverLibraryTest, ChecksATagAddress) {
    char text[] = "01D00100";
    etl::TagAddressBlock tag;
    std::memset(&tag, 0, sizeof tag);
    tag.addressText = text;
    tag.dataType = 0;
    tag.elementCount = 1;
    tag.bitNumber = 0;
    ASSERT_EQ(Call(3, &tag), etl::kOk);
    EXPECT_EQ(tag.plcNumber, 1);
    EXPECT_EQ(tag.memoryLetter, 'D');
    EXPECT_EQ(tag.addressNumber, 100u);
    EXPECT_EQ(tag.bitNumber, 255u);
    EXPECT_EQ(tag.bitSize, 16);
    EXPECT_STREQ(text, "01D00100");
}

}  // namespace
