#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "debug_capture.hpp"
#include "session/report.hpp"
#include "temp_dir.hpp"

namespace {

using vttest::DebugCapture;
using vttest::ScopedEnv;
using vttest::TempDir;

TEST(ReportFailure, CodeWithAText) {
    DebugCapture cap;
    vtbox::ReportFailure("vtBoxGetBoxList", 1216);
    EXPECT_EQ(cap.text(), "\n==> vtBoxGetBoxList Failed With ERROR - 1216 : The password is not correct. \n ");
}

TEST(ReportFailure, CodeWithoutATextTakesTheSomeErrorForm) {
    DebugCapture cap;
    vtbox::ReportFailure("HttpSendRequest", 777777);
    EXPECT_EQ(cap.text(), "\n==> HttpSendRequest Failed With some ERROR n ");
}

TEST(ReportFailure, LongLinesAreCutAt512Characters) {
    DebugCapture cap;
    std::string name(600, 'x');
    name[505] = '\xc3';  // a two-byte sequence straddling the cut is dropped whole
    name[506] = '\xa9';
    vtbox::ReportFailure(name.c_str(), 2);
    std::string line = cap.text();
    // "\n==> " (5) + 505 x; the sequence at line bytes 510..511 would need the
    // 512th byte, so it is left out whole.
    EXPECT_EQ(line.size(), 510u);
    EXPECT_EQ(line.substr(0, 5), "\n==> ");
    cap.clear();
    std::string shorter(480, 'y');
    vtbox::ReportFailure(shorter.c_str(), 2);
    EXPECT_EQ(cap.text().size(), 511u);
}

// Writes a file that carries a module version record for a.b.c.d.
void WriteModule(const std::string &path, uint16_t a, uint16_t b, uint16_t c, uint16_t d, bool withTranslation) {
    std::ofstream out(path, std::ios::binary);
    out << std::string(300, '\x7f');  // something ahead of the record, as in a real image
    char magic[24] = "VTBOX_VERSION_RECORD_V1";
    out.write(magic, sizeof magic);
    uint32_t words[5] = {0xFEEF04BDu, (uint32_t(a) << 16) | b, (uint32_t(c) << 16) | d, (uint32_t(a) << 16) | b,
                         (uint32_t(c) << 16) | d};
    out.write(reinterpret_cast<const char *>(words), sizeof words);
    uint16_t tail[4] = {static_cast<uint16_t>(withTranslation ? 1 : 0), 0x0409, 1200, 0};
    out.write(reinterpret_cast<const char *>(tail), sizeof tail);
    out << std::string(100, '\0');
}

TEST(LogModuleVersion, AModuleWithARecordPrintsItsLine) {
    TempDir dir;
    ScopedEnv env("VTBOX_MODULE_PATH", dir.path());
    WriteModule(dir / "Ko1MISvr", 3, 10, 0, 127, true);
    DebugCapture cap;
    vtbox::LogModuleVersion("Ko1MISvr.exe");
    EXPECT_EQ(cap.text(), " Ko1MISvr.exe ==>  3.10. 0.127 ");
}

TEST(LogModuleVersion, MissingModuleRecordOrTranslationPrintsNothing) {
    TempDir dir;
    ScopedEnv env("VTBOX_MODULE_PATH", dir.path());
    ScopedEnv path("PATH", dir.path());
    std::ofstream(dir / "KoVaBKRT") << "no record in here";
    WriteModule(dir / "NoTable", 1, 0, 0, 0, false);
    DebugCapture cap;
    vtbox::LogModuleVersion("KoVaBKRT.exe");
    vtbox::LogModuleVersion("Missing.exe");
    vtbox::LogModuleVersion("NoTable.exe");
    vtbox::LogModuleVersion("../escape.exe");
    EXPECT_EQ(cap.text(), "");
}

TEST(LogModuleVersion, TheBuiltEngineLibraryCarriesItsVersion) {
    ScopedEnv env("VTBOX_MODULE_PATH", VTBOX_ENGINE_DIR);
    DebugCapture cap;
    vtbox::LogModuleVersion("vtBoxBRD.dll");
    EXPECT_EQ(cap.text(), " vtBoxBRD.dll ==>  1. 0. 0. 0 ");
}

}  // namespace
