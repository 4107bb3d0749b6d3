#include <gtest/gtest.h>

#include <cstring>

#include "debug_capture.hpp"
#include "transport/box_transport.hpp"

namespace {

VTMFPSESSION Session() {
    VTMFPSESSION s{};
    std::strcpy(s.Host, "10.1.2.3");
    s.Port = 8080;
    return s;
}

TEST(RequestLog, PasswordsNeverShow) {
    VTMFPSESSION s = Session();
    EXPECT_EQ(vtbox::RequestLogLine(&s, "/VaultraBox/Admin/boxnwDeleteAllBox?SID=00000007&PWD=secret"),
              "http://10.1.2.3:8080/VaultraBox/Admin/boxnwDeleteAllBox?SID=00000007&PWD=XXXXXX\n");
    // Longer than six characters: nothing of it leaks.
    EXPECT_EQ(vtbox::RequestLogLine(&s, "/p?SID=00000007&PWD=averylongpassword&MOD=1"),
              "http://10.1.2.3:8080/p?SID=00000007&PWD=XXXXXX&MOD=1\n");
    EXPECT_EQ(vtbox::RequestLogLine(&s, "/p?SID=00000007&PWD=ab"), "http://10.1.2.3:8080/p?SID=00000007&PWD=XXXXXX\n");
    // Empty followed by another parameter: nothing to hide.
    EXPECT_EQ(vtbox::RequestLogLine(&s, "/p?SID=00000007&BNO=001&PWD=&FID="),
              "http://10.1.2.3:8080/p?SID=00000007&BNO=001&PWD=&FID=\n");
    // Empty at the end: replaced by the mask.
    EXPECT_EQ(vtbox::RequestLogLine(&s, "/VaultraBox/Admin/boxnwGetEngineVersion?SID=00000007&PWD="),
              "http://10.1.2.3:8080/VaultraBox/Admin/boxnwGetEngineVersion?SID=00000007&PWD=XXXXXX\n");
    EXPECT_EQ(vtbox::RequestLogLine(&s, "/VaultraBox/Admin/boxnwGetBoxList?SID=00000007"),
              "http://10.1.2.3:8080/VaultraBox/Admin/boxnwGetBoxList?SID=00000007\n");
}

TEST(RequestLog, SerialClusterChangeIsNeverLoggedAndLongLinesAreCut) {
    VTMFPSESSION s = Session();
    EXPECT_EQ(vtbox::RequestLogLine(&s, "/VaultraBox/Admin/boxnwDirSerialClusterChange?SID=1&PWD=x"), "");
    std::string longPath = "/VaultraBox/" + std::string(700, 'a');
    EXPECT_EQ(vtbox::RequestLogLine(&s, longPath).size(), 511u);
}

TEST(PageTimeouts, ChosenBySubstringInOrder) {
    EXPECT_EQ(vtbox::PageTimeoutMs("/VaultraBox/Admin/boxnwGetBoxList?SID=00000001"), 7500000u);
    EXPECT_EQ(vtbox::PageTimeoutMs("/VaultraBox/Admin/boxnwGetFolderDocList?SID=1"), 7500000u);
    EXPECT_EQ(vtbox::PageTimeoutMs("/VaultraBox/Admin/boxnwGetBoxProperty?SID=1"), 7500000u);
    EXPECT_EQ(vtbox::PageTimeoutMs("/VaultraBox/boxnwConnect"), 60000u);
    EXPECT_EQ(vtbox::PageTimeoutMs("/VaultraBox/boxnwDisconnect?SID=1"), 250000u);
    EXPECT_EQ(vtbox::PageTimeoutMs("/VaultraBox/Admin/boxnwGetBoxDiskSpace?SID=1"), 250000u);
}

}  // namespace
