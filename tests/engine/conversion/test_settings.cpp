// The settings files of a conversion: the reader's rules, where the file is
// found, and the summary export built on them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "conversion/check_settings.hpp"
#include "conversion/ini_file.hpp"
#include "debug_capture.hpp"
#include "temp_dir.hpp"
#include "vtBoxBRD.h"

namespace {

namespace fs = std::filesystem;
using vtbox::IniFile;

IniFile Parsed(const std::string &text, bool *loaded = nullptr) {
    IniFile ini("(text)");
    bool ok = ini.Parse(text);
    if (loaded) *loaded = ok;
    return ini;
}

TEST(IniFile, NamesMatchWithoutRegardToCaseAndValuesAreTakenAsWritten) {
    bool ok = false;
    IniFile ini = Parsed("[korvo-x v1.0.0.0]\r\nCOLORCHECK=1\r\nWidePaperCheck = 1\r\nnote=a=b;c\n", &ok);
    ASSERT_TRUE(ok);
    EXPECT_TRUE(ini.GetBoolean("Korvo-X V1.0.0.0", "ColorCheck", false));
    // Blanks around "=" belong to the name and the value: "WidePaperCheck "
    // is another key, and the check stays off.
    EXPECT_FALSE(ini.GetBoolean("Korvo-X V1.0.0.0", "WidePaperCheck", false));
    EXPECT_EQ(ini.GetValue("korvo-x v1.0.0.0", "WidePaperCheck ", "-"), " 1");
    EXPECT_EQ(ini.GetValue("KORVO-X V1.0.0.0", "note", "-"), "a=b;c");
    EXPECT_EQ(ini.GetValue("Korvo-Y", "ColorCheck", "none"), "none");
}

TEST(IniFile, ValuesReadAsLeadingDecimalNumbers) {
    IniFile ini = Parsed("[s]\nTwo=2\nLetters=abc\nNegative= -3\nTrailing=12kg\nEmpty=\nPlus=+7\nHuge=99999999999\n");
    EXPECT_TRUE(ini.GetBoolean("s", "Two", false));
    EXPECT_FALSE(ini.GetBoolean("s", "Letters", true));
    EXPECT_EQ(ini.GetInteger("s", "Negative", 0), -3);
    EXPECT_EQ(ini.GetInteger("s", "Trailing", 0), 12);
    EXPECT_EQ(ini.GetInteger("s", "Empty", 5), 0);  // present but empty: no digits
    EXPECT_EQ(ini.GetInteger("s", "Plus", 0), 7);
    EXPECT_EQ(ini.GetInteger("s", "Huge", 0), INT_MAX);
    EXPECT_EQ(ini.GetInteger("s", "Missing", -4), -4);
}

TEST(IniFile, WhatALineIsComesFromItsFirstMark) {
    bool ok = false;
    IniFile ini = Parsed(
        "; ColorCheck=1 is only a comment\n"
        "[A]\n"
        "# ColorCheck=1\n"
        "plain text without marks\n"
        "Key=[not a section]\n"
        "[B no end\n"
        "  [C] = ignored\n"
        "   Indented=1\n"
        "x[D]\n",
        &ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(ini.sections().size(), 3u);
    EXPECT_EQ(ini.sections()[0].name, "A");
    EXPECT_EQ(ini.sections()[0].comments.size(), 1u);
    EXPECT_EQ(ini.leadingComments().size(), 1u);
    EXPECT_EQ(ini.GetValue("A", "Key", ""), "[not a section]");
    // An indented section line works; an indented key keeps its blanks.
    EXPECT_EQ(ini.sections()[1].name, "C");
    EXPECT_EQ(ini.GetValue("C", "Indented", "-"), "-");
    EXPECT_EQ(ini.GetValue("C", "   Indented", "-"), "1");
    EXPECT_EQ(ini.sections()[2].name, "D");
    EXPECT_FALSE(ini.GetBoolean("A", "ColorCheck", false));
}

TEST(IniFile, LoadFailsWithoutSectionOrOnAnUnprintableFirstCharacter) {
    bool ok = true;
    Parsed("ColorCheck=1\nWidePaperCheck=1\n", &ok);
    EXPECT_FALSE(ok);
    Parsed("", &ok);
    EXPECT_FALSE(ok);

    testing::internal::CaptureStdout();
    IniFile tabbed = Parsed("[A]\nColorCheck=1\n\tWidePaperCheck=1\n", &ok);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Failing on char 9\n");
    EXPECT_FALSE(ok);
    EXPECT_TRUE(tabbed.sections().empty());
    EXPECT_FALSE(tabbed.GetBoolean("A", "ColorCheck", false));

    testing::internal::CaptureStdout();
    Parsed("\xEF\xBB\xBF[A]\n", &ok);  // a byte-order mark is not printable either
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Failing on char 239\n");
    EXPECT_FALSE(ok);

    vttest::TempDir dir;
    EXPECT_FALSE(IniFile(dir / "missing.ini").Load());
    std::ofstream(dir / "big.ini") << "[A]\n" << std::string(IniFile::kMaxBytes, ';') << "\n";
    EXPECT_FALSE(IniFile(dir / "big.ini").Load());
    std::ofstream(dir / "ok.ini") << "[A]\r\nColorCheck=1\r\n";
    IniFile fromFile(dir / "ok.ini");
    ASSERT_TRUE(fromFile.Load());
    EXPECT_TRUE(fromFile.GetBoolean("a", "colorcheck", false));
}

class Settings : public testing::Test {
protected:
    void Write(const std::string &folder, const std::string &name, const std::string &text) {
        fs::create_directories(folder);
        std::ofstream(folder + "/" + name, std::ios::binary) << text;
    }
    vttest::TempDir dir;
    vttest::KeepCwd keepCwd;
};

TEST_F(Settings, FileIsNamedAfterTheSourceVersionAndFoundInOrder) {
    EXPECT_EQ(vtbox::SettingsFileName("A/B V1"), "A_B V1.ini");
    Write(dir / "cwd", "T_Q V1.0.ini", "[Dest]\nColorCheck=1\n");
    Write(dir / "path1", "T_Q V1.0.ini", "[Dest]\nWidePaperCheck=1\n");
    Write(dir / "path2", "T_Q V2.0.ini", "[Dest]\nCopyCompoundCheck=1\n");
    vttest::ScopedEnv path("VTBOX_CONVERSION_PATH", dir / "path1" + ":" + dir / "path2");
    fs::current_path(dir / "cwd");
    // The current folder comes before the environment's folders.
    auto checks = vtbox::ReadCheckSettings("T/Q V1.0", "Dest");
    ASSERT_TRUE(checks);
    EXPECT_TRUE(checks->color);
    EXPECT_FALSE(checks->widePaper);
    checks = vtbox::ReadCheckSettings("T/Q V2.0", "dest");
    ASSERT_TRUE(checks);
    EXPECT_EQ(vtbox::SummaryMask(*checks), 4u);
    EXPECT_FALSE(vtbox::ReadCheckSettings("T/Q V3.0", "Dest"));
    // A version can never name a file outside the search folders.
    Write(dir.path(), "escape.ini", "[Dest]\nColorCheck=1\n");
    EXPECT_FALSE(vtbox::ReadCheckSettings("../escape", "Dest"));
}

TEST_F(Settings, SummaryGivesTheBitsOfTheChecksThatAreOn) {
    Write(dir.path(), "Sum V1.0.ini",
          "[Both]\nColorCheck=1\nCopyCompoundCheck=1\n"
          "[KOnly]\nK-SizeCheck=1\n"
          "[All]\nColorCheck=3\nWidePaperCheck=1\nCopyCompoundCheck=-1\n");
    vttest::ScopedEnv path("VTBOX_CONVERSION_PATH", dir.path());
    vttest::DebugCapture log;
    uint32_t mask = 99;
    EXPECT_EQ(vtBoxGetConvertSummary("Sum V1.0", "Both", &mask), 0u);
    EXPECT_EQ(mask, VTCONVERT_COLOUR | VTCONVERT_COPY_MIX);
    EXPECT_EQ(vtBoxGetConvertSummary("Sum V1.0", "KOnly", &mask), 0u);
    EXPECT_EQ(mask, 0u);
    EXPECT_EQ(vtBoxGetConvertSummary("Sum V1.0", "All", &mask), 0u);
    EXPECT_EQ(mask, 7u);
    EXPECT_EQ(vtBoxGetConvertSummary("Sum V1.0", "No Such Section", &mask), 0u);
    EXPECT_EQ(mask, 0u);

    mask = 99;
    EXPECT_EQ(vtBoxGetConvertSummary("Sum V1.0", "Sum V1.0", &mask), 87u);
    EXPECT_EQ(mask, 0u);
    EXPECT_EQ(vtBoxGetConvertSummary("Nothing V9", "Both", &mask), 50u);
    EXPECT_EQ(mask, 0u);
    EXPECT_NE(log.text().find("\n Could not Find the Src engine .ini File \n"), std::string::npos);
    EXPECT_NE(log.text().find("vtBoxConvertVaultraData  Failed With ERROR - 50"), std::string::npos) << log.text();
    EXPECT_EQ(vtBoxGetConvertSummary("Sum V1.0", "Both", nullptr), 87u);
}

// The settings we ship: every supported version has its file, and every
// file loads with a section for each of the other versions.
TEST_F(Settings, ShippedFilesLoadAndCoverEachOther) {
    std::vector<std::string> versions;
    for (const auto &e : fs::directory_iterator(VTBOX_SETTINGS_DIR)) versions.push_back(e.path().stem().string());
    ASSERT_GE(versions.size(), 2u);
    for (const std::string &from : versions) {
        IniFile ini((fs::path(VTBOX_SETTINGS_DIR) / (from + ".ini")).string());
        ASSERT_TRUE(ini.Load()) << from;
        for (const std::string &to : versions) {
            if (to == from) continue;
            bool found = false;
            for (const auto &s : ini.sections()) found = found || s.name == to;
            EXPECT_TRUE(found) << from << " has no section for " << to;
        }
    }
}

}  // namespace
