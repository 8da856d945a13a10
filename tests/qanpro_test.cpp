// The host runtime stand-in: one line per err call, version and client.
#include <gtest/gtest.h>

#include <cstdlib>

#include "host/qanpro.h"
#include "tests/support/test_support.h"

namespace {

void SetEnv(const char* name, const char* value) {
#if defined(_WIN32)
    _putenv_s(name, value);
#else
    setenv(name, value, 1);
#endif
}

TEST(Qanpro, ErrWritesOneLinePerCallWithTheTextVerbatim) {
    etl::test::LogCapture log;
    err(32, "ZavUR: InitFile station num. too big in line: %d", 7);
    err(32, "MA: invalid chars in address\n");
    err(32, "%s %02d : EndVpi()", "VPIMatsushita", 3);
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "ZavUR: InitFile station num. too big in line: 7");
    EXPECT_EQ(lines[1], "MA: invalid chars in address");
    EXPECT_EQ(lines[2], "VPIMatsushita 03 : EndVpi()");
}

TEST(Qanpro, VersionComesFromTheEnvironmentAndClientCanBeMadeToFail) {
    std::uint8_t handle = 255;
    SetEnv("QANPRO_CLIENT_FAIL", "0");
    ASSERT_EQ(QanMkClient("ZavurBr01", 1, 0, &handle), 0);
    EXPECT_NE(handle, 255);

    std::uint16_t version = 0;
    char text[100];
    SetEnv("QANPRO_VERSION", "819");
    QanGetQanproVer(handle, &version, text);
    EXPECT_EQ(version, 819);
    SetEnv("QANPRO_VERSION", "");
    QanGetQanproVer(handle, &version, text);
    EXPECT_EQ(version, 820);
    QanRmClient(handle);

    SetEnv("QANPRO_CLIENT_FAIL", "1");
    EXPECT_NE(QanMkClient("ZavurBr01", 1, 0, &handle), 0);
    SetEnv("QANPRO_CLIENT_FAIL", "0");
}

}  // namespace
