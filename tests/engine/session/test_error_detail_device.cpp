// The failure detail against the simulated device: a failing HTTP page and a
// failing FTP transfer say where they failed, and never the password.
#include <gtest/gtest.h>

#include <string>

#include "backup_job.hpp"

namespace {

constexpr const char *kPassword = "Pw-s3cret!";

vttest::SimOptions WithPassword() {
    vttest::SimOptions o;
    o.password = kPassword;
    return o;
}

bool Has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

TEST(FailureDetail, AFailingPageNamesItsStatusPageAndBoxButNotThePassword) {
    vttest::SimDevice sim(WithPassword());
    VTMFPSESSION s = sim.Session();
    ASSERT_EQ(vtBoxOpenConnection(&s), 0u);
    sim.faults().ForceHttpStatus("boxnwGetBoxProperty", 500, 1);
    VTBOXEX box{};
    EXPECT_NE(vtBoxGetBoxProperty(&s, 2, kPassword, &box, nullptr), 0u);
    std::string detail = vtBoxGetLastErrorText();
    EXPECT_TRUE(Has(detail, "HTTP 500")) << detail;
    EXPECT_TRUE(Has(detail, "/VaultraBox/Admin/boxnwGetBoxProperty?")) << detail;
    EXPECT_TRUE(Has(detail, "BNO=002")) << detail;
    EXPECT_FALSE(Has(detail, "Pw")) << detail;
    EXPECT_FALSE(Has(detail, "PWD")) << detail;

    // The next call that works leaves no detail behind.
    EXPECT_EQ(vtBoxGetBoxProperty(&s, 2, kPassword, &box, nullptr), 0u);
    EXPECT_STREQ(vtBoxGetLastErrorText(), "");
    vtBoxCloseConnection(&s);
}

TEST(FailureDetail, AFailingTransferNamesItsReplyAndFileButNotThePassword) {
    vttest::SimDevice sim(WithPassword());
    // Transfers: the box record, the listings of the box folder and of its
    // inner folder, then the inner folder's files.
    sim.faults().DropDataConnection(4);
    vttest::BackupRun run = vttest::RunBackup(sim, sim.dir / "b.zip", {1}, {}, kPassword);
    EXPECT_EQ(run.rc, 12030u);
    EXPECT_TRUE(Has(run.detail, "FTP 426 on RETR /SHR/BOX/DATA/B0000001/")) << run.detail;
    EXPECT_FALSE(Has(run.detail, "Pw")) << run.detail;

    // The login itself, refused: the server is named, the password is not.
    sim.faults().Clear();
    sim.faults().RefuseLogin(1);
    run = vttest::RunBackup(sim, sim.dir / "b.zip", {1}, {}, kPassword);
    EXPECT_EQ(run.rc, 12014u);
    EXPECT_TRUE(Has(run.detail, "FTP 530")) << run.detail;
    EXPECT_TRUE(Has(run.detail, "127.0.0.1:")) << run.detail;
    EXPECT_FALSE(Has(run.detail, "Pw")) << run.detail;
}

}  // namespace
