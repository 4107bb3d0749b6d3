// The utility's core without a screen or a device: error texts, the
// language lookup, the registry values, the progress window's status line
// and figures, and the names a backup file may have.
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "backup_facts.hpp"
#include "brd_registry.hpp"
#include "brlang.h"
#include "error_text.hpp"
#include "job_figures.hpp"
#include "job_thread.hpp"
#include "language.hpp"
#include "status_line.hpp"
#include "target_path.hpp"
#include "temp_dir.hpp"

namespace {

std::string Lookup(uint32_t id, int32_t bufferSize, int32_t *length) {
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    *length = brLoadString(id, bufferSize > 0 ? buffer : nullptr, bufferSize);
    return bufferSize > 0 ? std::string(buffer) : std::string();
}

}  // namespace

class CoreTest : public QObject {
    Q_OBJECT
private slots:
    // A job's work folder goes whole, unless it holds the only copy of
    // something: then that alone stays.
    void AJobsWorkFolderKeepsOnlyWhatMayBeTheOnlyCopy() {
        namespace fs = std::filesystem;
        vttest::TempDir dir;
        const std::string plain = dir / "plain", rescued = dir / "rescued", backup = dir / "backup";
        for (const auto &f : {plain, rescued, backup}) fs::create_directories(f + "/BOX/DATA");
        fs::create_directories(plain + "/" VTBOX_RESCUE_FOLDER);  // empty: nothing to keep
        fs::create_directories(rescued + "/" VTBOX_RESCUE_FOLDER "/B0000001-F0000000-D0000004/D0000004");
        std::ofstream(backup + "/" VTBOX_KEPT_BACKUP) << "PK";
        QVERIFY(!vtutil::RemoveJobTempFolder(plain));
        QVERIFY(!fs::exists(plain));
        QVERIFY(vtutil::RemoveJobTempFolder(rescued));
        QVERIFY(fs::exists(rescued + "/" VTBOX_RESCUE_FOLDER "/B0000001-F0000000-D0000004/D0000004"));
        QVERIFY(!fs::exists(rescued + "/BOX"));
        QVERIFY(vtutil::RemoveJobTempFolder(backup));
        QVERIFY(fs::is_regular_file(backup + "/" VTBOX_KEPT_BACKUP));
        QVERIFY(!fs::exists(backup + "/BOX"));
    }

    // A description's texts are shown within their field, on one line, and
    // no longer than the bound.
    void TextsOfADescriptionAreShownBounded() {
        char field[512];
        std::memset(field, 'v', sizeof field);  // no NUL at all
        QCOMPARE(vtutil::FieldText(field, sizeof field).size(), qsizetype(512));
        const QString shown = vtutil::ShownField(field, sizeof field);
        QCOMPARE(shown.size(), vtutil::kShownFieldChars);
        QVERIFY(shown.endsWith("..."));
        std::memset(field, 'v', vtutil::kShownFieldChars);
        field[vtutil::kShownFieldChars] = '\0';
        QCOMPARE(vtutil::ShownField(field, sizeof field), QString(vtutil::kShownFieldChars, 'v'));
        std::strcpy(field, "V1\n\tV2\r");
        QCOMPARE(vtutil::ShownField(field, sizeof field), QString("V1  V2 "));

        VTBACKUPINFO info{};
        info.Date = {2025, 2, 0, 30, 10, 5, 0, 0};  // 30 February
        QVERIFY(vtutil::DescribeBackup(info).made.isEmpty());
        info.Date = {2025, 3, 0, 5, 10, 5, 0, 0};
        QCOMPARE(vtutil::DescribeBackup(info).made, QString("Wednesday, March 05, 2025, 10:05"));
    }

    void ErrorTexts() {
        QVERIFY(vtutil::Language::Instance().LoadFrom(VTUTIL_PSEUDO_LIBRARY));
        QCOMPARE(vtutil::ErrorTextFor(0), QString());
        QCOMPARE(vtutil::ErrorTextFor(1216), QString("[68]"));
        QCOMPARE(vtutil::ErrorTextFor(12029), QString("[67]\n[125]"));
        QCOMPARE(vtutil::ErrorTextFor(38), QString("[114]"));
        QCOMPARE(vtutil::ShortErrorText(12029), QString("[67]"));
        QCOMPARE(vtutil::ShortErrorText(1216), QString("[68]"));
        QCOMPARE(vtutil::ShortErrorText(0), QString());

        // Error texts are shown in boxes with OK alone: none may ask anything.
        QVERIFY(vtutil::Language::Instance().LoadFrom(VTUTIL_LANGUAGE_LIBRARY));
        for (uint32_t code = 1; code < 13000; ++code)
            QVERIFY2(!vtutil::ErrorTextFor(code).contains('?'), qPrintable(QString::number(code)));
        QVERIFY(vtutil::Language::Instance().LoadFrom(VTUTIL_PSEUDO_LIBRARY));

        // Without a library every text is empty, and nothing breaks.
        vtutil::Language::Instance().Unload();
        QCOMPARE(vtutil::ErrorTextFor(12029), QString("\n"));
        QVERIFY(vtutil::Text(33).isEmpty());
    }

    // The lookup against the test table of test_strings.cpp.
    void LookupFillsTheCallersBuffer() {
        int32_t length = -1;
        QCOMPARE(Lookup(1, 64, &length), std::string("Ready"));
        QCOMPARE(length, 5);
        QCOMPARE(Lookup(1, 3, &length), std::string("Re"));
        QCOMPARE(length, 2);
        // "Zürich": a cut never splits the two bytes of the "ü".
        QCOMPARE(Lookup(2, 3, &length), std::string("Z"));
        QCOMPARE(length, 1);
        QCOMPARE(Lookup(2, 4, &length), std::string("Z\xC3\xBC"));
        QCOMPARE(Lookup(3, 64, &length), std::string());
        QCOMPARE(length, 0);
        QCOMPARE(Lookup(1, 1, &length), std::string());
        QCOMPARE(length, 0);
        Lookup(1, 0, &length);
        QCOMPARE(length, 0);
    }

    void StatusLineKeepsNearThirtyCharacters() {
        using vtutil::BuildStatusLine;
        const QString box = "Box nine!";  // 9 characters
        const QString folder22(22, 'f'), folder32(32, 'f');
        // One character over: nothing is cut for so little.
        QCOMPARE(BuildStatusLine(box, folder22, ""), box + " " + folder22);
        QCOMPARE(BuildStatusLine(box, folder32, ""), box + " " + QString(21, 'f') + "...");
        // The folder alone cannot make room: it goes, then the document is cut.
        QCOMPARE(BuildStatusLine(box, "Plans", QString(30, 'd')), box + " ...\\" + QString(21, 'd') + "...");
        // Neither can: the box name is cut to 30 characters and stands alone.
        QCOMPARE(BuildStatusLine(QString(40, 'b'), "ff", "dd"), QString(30, 'b') + "... ");
        QCOMPARE(BuildStatusLine(box, "", "Report"), box + " \\Report");
        // A cut never splits a character made of two UTF-16 units.
        const QString wide = QString::fromUtf8("\xF0\x9F\x93\x84");  // one character, two units
        const QString cut = BuildStatusLine(box, QString(20, 'f') + wide + QString(10, 'f'), "");
        QCOMPARE(cut, box + " " + QString(20, 'f') + "...");

        // Fitted to a room: cut only as far as the room needs, in the same order.
        auto within = [](qsizetype room) { return [room](const QString &line) { return line.size() <= room; }; };
        const QString folder = "Plans 2026", document = "Report of March";
        QCOMPARE(vtutil::FitStatusLine(box, folder, document, within(60)), box + " " + folder + "\\" + document);
        QCOMPARE(vtutil::FitStatusLine(box, folder, document, within(32)), box + " Pla...\\" + document);
        QCOMPARE(vtutil::FitStatusLine(box, folder, document, within(22)), box + " ...\\Repor...");
        QCOMPARE(vtutil::FitStatusLine(QString(40, 'b'), folder, document, within(20)),
                 QString(9, 'b') + "... ...\\...");
        QCOMPARE(vtutil::FitStatusLine(box, "", "", within(4)), QString("... "));
    }

    void JobFigures() {
        using vtutil::JobFigures;
        QCOMPARE(vtutil::DurationText(59.6), QString("1:00"));
        QCOMPARE(vtutil::DurationText(3725), QString("1:02:05"));
        QCOMPARE(vtutil::SpeedText(1.5 * 1024 * 1024), QString("1.5 MB/s"));
        QCOMPARE(vtutil::SpeedText(850 * 1024), QString("850 KB/s"));
        // No pace yet: nothing done, or too little time to tell.
        QCOMPARE(vtutil::SecondsLeft(JobFigures{30, 0, -1}), -1.0);
        QCOMPARE(vtutil::SecondsLeft(JobFigures{0.5, 40, -1}), -1.0);
        QCOMPARE(vtutil::SecondsLeft(JobFigures{10, 25, -1}), 30.0);
        QCOMPARE(vtutil::SecondsLeft(JobFigures{10, 100, -1}), 0.0);

        QVERIFY(vtutil::Language::Instance().LoadFrom(VTUTIL_LANGUAGE_LIBRARY));
        QCOMPARE(vtutil::FiguresLine(JobFigures{0.4, 0, -1}), QString("Elapsed: 0:00"));
        QCOMPARE(vtutil::FiguresLine(JobFigures{10, 25, 10 * 1024 * 1024}),
                 QString("Elapsed: 0:10   Time left: 0:30   Speed: 1.0 MB/s"));
        QVERIFY(vtutil::Language::Instance().LoadFrom(VTUTIL_PSEUDO_LIBRARY));
    }

    void BackupFileNames() {
        QCOMPARE(vtutil::ZipNameMessage("/home/ann/Office.ZIP"), 0u);
        QCOMPARE(vtutil::ZipNameMessage("/home/ann/office.zip.zip"), 0u);
        QCOMPARE(vtutil::ZipNameMessage("/home/ann/.zip"), 64u);
        QCOMPARE(vtutil::ZipNameMessage("/home/ann/office..zip"), 64u);
        QCOMPARE(vtutil::ZipNameMessage("/home/ann/office"), 64u);
        // A network path is refused before a relative one; "/" is no refused character.
        QCOMPARE(vtutil::TypedTargetMessage("/home/ann/Backups/office.zip"), 0u);
        QCOMPARE(vtutil::TypedTargetMessage("//server/office.zip"), 179u);
        QCOMPARE(vtutil::TypedTargetMessage("C:\\office.zip"), 180u);
        QCOMPARE(vtutil::TypedTargetMessage("//server/of|fice.zip"), 181u);
        QCOMPARE(vtutil::RestorePathMessage("//server/of|fice.zip"), 179u);
        QCOMPARE(vtutil::FolderPart("/home/ann/office.zip"), QString("/home/ann/"));
        QCOMPARE(vtutil::FolderPart("office.zip"), QString());
    }

    void FolderLevels() {
        vttest::TempDir dir;
        const QString root = QString::fromStdString(dir.path());
        QCOMPARE(vtutil::CreateFolderLevels(root + "/a/b/c/"), 0u);
        QVERIFY(QFileInfo(root + "/a/b/c").isDir());
        QCOMPARE(vtutil::CreateFolderLevels(root + "/a/b/c"), 183u);
        // A file in the way: the level below it cannot be made.
        QFile(root + "/a/file").open(QIODevice::WriteOnly);
        QCOMPARE(vtutil::CreateFolderLevels(root + "/a/file"), 267u);
        QCOMPARE(vtutil::CreateFolderLevels(root + "/a/file/d"), 3u);
        uint32_t code = 0;
        QCOMPARE(vtutil::ProbeFolder(root + "/a/file/d/", &code), vtutil::FolderState::Missing);
        QCOMPARE(vtutil::ProbeFolder(root + "/a/b/", &code), vtutil::FolderState::Exists);
        // A folder the system cannot look at: its reason comes back.
        std::filesystem::create_symlink("loop", (root + "/loop").toStdString());
        QString reason;
        QCOMPARE(vtutil::ProbeFolder(root + "/loop/", &code, &reason), vtutil::FolderState::Unusable);
        QCOMPARE(reason, QString::fromLocal8Bit(std::strerror(ELOOP)));
    }

    void RegistryValues() {
        vttest::TempDir dir;
        vttest::ScopedEnv registry("VTBOX_REGISTRY_DIR", dir / "registry");
        QVERIFY(!vtutil::ReadChosenDevice());
        QVERIFY(!vtutil::BrdKey::Open(KEY_WRITE).Write(vtutil::kLastSelectedIp, "10.0.0.1"));

        vtutil::BrdKey key = vtutil::BrdKey::Create();
        QVERIFY(key.Write(vtutil::kLastSelectedIp, "10.0.0.1"));
        QVERIFY(!vtutil::ReadChosenDevice());
        QVERIFY(key.Write(vtutil::kLastSelectedName, std::string(255, 'n')));
        QCOMPARE(vtutil::ReadChosenDevice()->name.size(), size_t(255));
        // A value that does not fit 256 bytes with its end counts as missing.
        QVERIFY(key.Write(vtutil::kLastSelectedName, std::string(256, 'n')));
        QVERIFY(!vtutil::ReadChosenDevice());

        std::vector<vtutil::DeviceRow> rows = {{0, "a0", "n0", "m0", "l0"}, {1, "a1", "n1", "m1", "l1"}};
        QVERIFY(vtutil::WriteDeviceTable(key, rows));
        QVERIFY(key.Write("Address40", "stale"));
        rows.pop_back();
        QVERIFY(vtutil::WriteDeviceTable(key, rows));
        QVERIFY(!key.Read("Address1"));
        QVERIFY(!key.Read("Address40"));
        QCOMPARE(vtutil::ReadDeviceTable(key).size(), size_t(1));
    }
};

QTEST_GUILESS_MAIN(CoreTest)
#include "test_core.moc"
