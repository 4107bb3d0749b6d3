// The failure detail that exports hand out: only the failure's own, gone
// once a call succeeds, safe to print.
#include <gtest/gtest.h>

#include <string>

#include "session/boundary.hpp"
#include "vtBoxBRD.h"

namespace {

TEST(FailureDetail, AnExportHandsOutTheDetailOfTheCodeItReturns) {
    EXPECT_EQ(vtbox::RunExport("vtBoxX", true, [] { vtbox::Raise(2u, "cannot read the record /w/D0000001.XML"); }), 2u);
    EXPECT_STREQ(vtBoxGetLastErrorText(), "cannot read the record /w/D0000001.XML");

    // Context in front of what the step below noted for the same code.
    EXPECT_EQ(vtbox::RunExport("vtBoxX", true,
                               [] {
                                   vtbox::NoteFailure(5, "cannot write /w/BOX.zip");
                                   vtbox::Check(5, "putting the backup in place of /t/b.zip");
                               }),
              5u);
    EXPECT_STREQ(vtBoxGetLastErrorText(), "putting the backup in place of /t/b.zip: cannot write /w/BOX.zip");

    EXPECT_EQ(vtbox::RunExport("vtBoxX", true, [] {}), 0u);
    EXPECT_STREQ(vtBoxGetLastErrorText(), "");
}

TEST(FailureDetail, ADetailOfAnotherFailureIsNotHandedOut) {
    // A failure the body got over, then a different one with no detail of its own.
    EXPECT_EQ(vtbox::RunExport("vtBoxX", true,
                               [] {
                                   vtbox::NoteFailure(12003, "FTP 552 on STOR /SHR/BOX/x");
                                   vtbox::Raise(1344u);
                               }),
              1344u);
    EXPECT_STREQ(vtBoxGetLastErrorText(), "");
    // A new call starts without the last one's detail, even one that fails at its arguments.
    vtbox::RunExport("vtBoxX", true, [] { vtbox::Raise(2u, "x"); });
    EXPECT_EQ(vtbox::RunExport("vtBoxX", false, [] {}), 87u);
    EXPECT_STREQ(vtBoxGetLastErrorText(), "");
}

TEST(FailureDetail, ControlBytesFromTheDeviceAreShownEscaped) {
    vtbox::RunExport("vtBoxX", true, [] { vtbox::Raise(123u, std::string("entry \"a\x1b[2Jb\r\n\x7f\"")); });
    EXPECT_STREQ(vtBoxGetLastErrorText(), "entry \"a\\x1B[2Jb\\x0D\\x0A\\x7F\"");
}

}  // namespace
