// The minimum-version gate and the permission table, row by row.
#include <gtest/gtest.h>

#include "platform/posix/host_controls.h"
#include "startup/install_config.h"
#include "startup/startup.h"

namespace {

bool SupportedWith(DWORD getVersion) {
    host::SetVersion(getVersion, 0, 0, 0);
    return IsWindowsSupported();
}

TEST(VersionGate, WindowsNinetyFiveFamilyNeedsMajorFour) {
    EXPECT_TRUE(SupportedWith(0xC0000004));   // 95
    EXPECT_TRUE(SupportedWith(0xC0005A04));   // Me
    EXPECT_FALSE(SupportedWith(0x80000A03));  // Win32s on 3.1
    EXPECT_FALSE(SupportedWith(0x80003303));  // top bit set, 3.51: still refused
}

TEST(VersionGate, NtFamilyFromThreeFiftyOne) {
    EXPECT_FALSE(SupportedWith(0x00003203));  // 3.50
    EXPECT_FALSE(SupportedWith(0x00000A03));  // 3.10
    EXPECT_FALSE(SupportedWith(0x00006302));  // 2.99
    EXPECT_TRUE(SupportedWith(0x04213303));   // 3.51
    EXPECT_TRUE(SupportedWith(0x00006303));   // 3.99
    EXPECT_TRUE(SupportedWith(0x05650004));   // 4.0
    EXPECT_TRUE(SupportedWith(0x0000000A));   // 10.0
}

TEST(PermissionTable, EachWindowsVersionNeedsItsBit) {
    struct Row {
        DWORD platform, major, minor, bit;
    };
    const Row rows[] = {
        {1, 4, 0, CFG_OS_WIN95},   {1, 4, 10, CFG_OS_WIN98}, {1, 4, 90, CFG_OS_WINME},
        {1, 4, 1, 0},              {1, 4, 91, 0},            {1, 3, 0, 0},
        {1, 5, 0, 0},              {2, 3, 51, CFG_OS_NT351}, {2, 3, 50, 0},
        {2, 3, 52, 0},             {2, 4, 0, CFG_OS_NT4},    {2, 4, 10, 0},
        {2, 5, 0, CFG_OS_WIN2000}, {2, 5, 1, CFG_OS_WINXP},  {2, 5, 2, CFG_OS_WINXP},
        {2, 6, 0, CFG_OS_WINXP},   {2, 6, 1, CFG_OS_WINXP},  {2, 10, 0, CFG_OS_WINXP},
        {2, 0, 0, 0},              {2, 1, 0, 0},             {2, 2, 99, 0},
        {0, 3, 10, 0},             {3, 4, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.platform << " " << row.major << "." << row.minor);
        EXPECT_EQ(RequiredPermissionBit(row.platform, row.major, row.minor), row.bit);
        host::SetVersion(0, row.platform, row.major, row.minor);
        EXPECT_EQ(IsWindowsPermitted(CFG_OS_ALL), row.bit != 0);
        EXPECT_FALSE(IsWindowsPermitted(CFG_OS_ALL & ~row.bit));
        if (row.bit != 0) {
            EXPECT_TRUE(IsWindowsPermitted(row.bit));
        }
    }
    host::Reset();
}

TEST(PermissionTable, NamedWindowsAgainstTheirBits) {
    const std::pair<const char*, DWORD> named[] = {
        {"win95", CFG_OS_WIN95}, {"win98", CFG_OS_WIN98},  {"winme", CFG_OS_WINME},
        {"nt351", CFG_OS_NT351}, {"nt40", CFG_OS_NT4},     {"win2k", CFG_OS_WIN2000},
        {"winxp", CFG_OS_WINXP}, {"win7", CFG_OS_WINXP},   {"win10", CFG_OS_WINXP},
    };
    for (const auto& [name, bit] : named) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(host::SetWindows(name));
        EXPECT_TRUE(IsWindowsSupported());
        EXPECT_TRUE(IsWindowsPermitted(bit));
        EXPECT_FALSE(IsWindowsPermitted(CFG_OS_ALL & ~bit));
    }
    host::Reset();
}

}  // namespace
