// The restore page and its job against the simulated device: what a backup
// file's boxes look like, files that cannot be restored, a restore that keeps
// both documents, a restore refused by the device's limits, the backup
// page's list after a restore, and the chooser of documents: one document
// restored alone, the filter, a listing that does not hang together, a file
// damaged where the documents are; the recent jobs, and a restore started
// from them.
#include <QDateTime>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>
#include <fstream>
#include <map>
#include <set>

#include "backup_page.hpp"
#include "backup_restore_dlg.hpp"
#include "box_list.hpp"
#include "choose_documents_dlg.hpp"
#include "devicesim/seeding.hpp"
#include "job_files.hpp"
#include "job_history.hpp"
#include "job_report.hpp"
#include "language.hpp"
#include "modal_answerer.hpp"
#include "progress_dlg.hpp"
#include "read_only_folder.hpp"
#include "recent_jobs_dlg.hpp"
#include "restore_mode_dlg.hpp"
#include "restore_pg.hpp"
#include "size_texts.hpp"
#include "status_bar.hpp"
#include "text_format.hpp"
#include "utility_fixture.hpp"
#include "va_property_sheet.hpp"

using vtutil::Text;

namespace {

namespace fs = std::filesystem;

const std::string kDeviceVersion = "Korvo-B V1.3.0.0";

struct RestoreWindow {
    explicit RestoreWindow(vttest::UtilityDevice &device) : window(device.app, device.session) {
        window.show();
        window.Sheet()->setCurrentWidget(window.RestorePage());
    }
    vtutil::CRestorePg *Page() { return window.RestorePage(); }
    vtutil::BoxList *List() { return Page()->List(); }
    QString Total() { return Page()->TotalLabel()->text(); }
    QString SizeOf(int row) { return List()->topLevelItem(row)->text(1); }
    void Choose(const std::string &path) { Page()->PathEdit()->setText(QString::fromStdString(path)); }
    bool CanStart() { return window.ActionButton()->isEnabled(); }
    vtutil::CBackupRestoreDlg window;
};

// Backs boxes up with the utility's own job, without a window. The name's
// capitals stay, and a restore takes the file as it is.
std::string Backup(vttest::UtilityDevice &device, std::vector<uint32_t> boxes) {
    vttest::KeepCwd keep;
    vtutil::JobRequest request;
    request.target = device.sim.dir / "Backup.ZIP";
    request.boxes = std::move(boxes);
    const vtutil::JobOutcome outcome = vttest::RunJobWithoutWindow(device.session, request);
    if (outcome.state != vtutil::kJobFinished) throw std::runtime_error("backup failed");
    device.sim.device->ClearRecords();
    return request.target;
}

void RemoveBox(vttest::UtilityDevice &device, uint32_t box) {
    char name[16];
    std::snprintf(name, sizeof name, "B0000%03u", box);
    fs::remove_all(fs::path(device.sim.storeRoot) / "SHR/BOX/DATA" / name);
    fs::remove(fs::path(device.sim.storeRoot) / "SHR/BOX/DATABASE" / (std::string(name) + ".XML"));
}

// Starts a restore from the page in the given mode; the report is answered.
void StartRestore(vttest::ModalAnswerer &answerer, RestoreWindow &w, bool keepBoth) {
    answerer.LetStay<vtutil::CProgressDlg>();
    answerer.OnDialog<vtutil::CRestoreModeDlg>([keepBoth](vtutil::CRestoreModeDlg *mode) {
        // Replacing is the choice when it opens.
        QVERIFY(mode->ReplaceButton()->isChecked());
        if (keepBoth) mode->KeepBothButton()->setChecked(true);
        vttest::Later([mode] { mode->accept(); });
    });
    answerer.AnswerMessage(QMessageBox::Ok);
    w.window.ActionButton()->click();
}

// Every file under a level, by its path there, with its bytes.
std::map<std::string, std::string> FilesUnder(const fs::path &level) {
    std::map<std::string, std::string> files;
    for (const auto &entry : fs::recursive_directory_iterator(level)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        files[entry.path().lexically_relative(level).string()] = {std::istreambuf_iterator<char>(in), {}};
    }
    return files;
}

// The rows a chooser shows now, by name.
QStringList ShownRows(QTreeWidget *tree) {
    QStringList shown;
    for (QTreeWidgetItemIterator it(tree, QTreeWidgetItemIterator::NotHidden); *it; ++it) shown << (*it)->text(0);
    return shown;
}

}  // namespace

class RestoreTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(vtutil::Language::Instance().LoadFrom(VTUTIL_LANGUAGE_LIBRARY)); }

    void TheBoxesOfAFileWithTheirSizes() {
        vttest::UtilityDevice device;
        device.Login();
        RestoreWindow w(device);
        const std::string file = device.sim.dir / "Sizes.ZIP";
        vttest::WriteBackupDescription(file, kDeviceVersion,
                                       {{3, "Empty", 0}, {1, "Office", 1500}, {2, "Plans", 2048, true}});
        vttest::ModalAnswerer answerer;
        w.Choose(file);
        QVERIFY(answerer.Messages().empty());

        QCOMPARE(w.List()->topLevelItemCount(), 3);
        QCOMPARE(w.List()->topLevelItem(0)->text(0), QString("001 Office"));
        // What the file says of itself, as its description records it.
        QCOMPARE(w.Page()->MadeLabel()->text(), QString("Tuesday, March 04, 2025, 05:06"));
        QCOMPARE(w.Page()->EngineVersionLabel()->text(), QString::fromStdString(kDeviceVersion));
        QCOMPARE(w.Page()->MacAddressLabel()->text(), QString("02:00:5E:10:20:30"));
        // The names take the width that the sizes leave.
        w.window.resize(900, 600);
        QTest::qWait(50);
        QHeaderView *header = w.List()->header();
        QVERIFY(w.List()->columnWidth(0) > 500);
        QCOMPARE(w.List()->columnWidth(0) + w.List()->columnWidth(1), header->width());
        QCOMPARE(w.SizeOf(0), QString("1500 KB"));
        QCOMPARE(w.SizeOf(1), QString("2 MB"));
        QCOMPARE(w.SizeOf(2), QString("1 KB"));
        QCOMPARE(w.Total(), Text(107) + "3 MB");
        QVERIFY(w.Page()->TargetValid());
        QVERIFY(w.CanStart());

        w.window.Action(vtutil::CBackupRestoreDlg::Command::ClearAll)->trigger();
        QCOMPARE(w.Total(), Text(107) + "0 KB");
        QVERIFY(!w.CanStart());
        w.List()->topLevelItem(0)->setCheckState(0, Qt::Checked);
        QCOMPARE(w.Total(), Text(107) + "1500 KB");
        QVERIFY(w.CanStart());
        w.List()->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
        w.List()->topLevelItem(2)->setCheckState(0, Qt::Checked);
        QCOMPARE(w.Total(), Text(107) + "1 KB");
        QVERIFY(answerer.Unexpected().isEmpty());
    }

    void FilesThatCannotBeRestored() {
        vttest::UtilityDevice device;
        device.Login();
        RestoreWindow w(device);
        const vttest::TempDir &dir = device.sim.dir;
        vttest::WriteBackupDescription(dir / "other.zip", "Korvo-C V1.4.2.0", {{1, "Office", 10}, {2, "Plans", 20}});
        vttest::WriteBackupDescription(dir / "newer.zip", "Korvo-B V2.0.0.0", {{1, "Office", 10}});
        vttest::WriteBackupDescription(dir / "good.zip", kDeviceVersion, {{1, "Office", 10}});
        vttest::WriteArchiveDescription(dir / "archive.zip", kDeviceVersion);
        std::ofstream(dir / "text.zip") << "not a zip file";

        struct Refused {
            std::string path;
            int message;
            int rowsListed;
        };
        const Refused refused[] = {
            // Another engine version is listed, but cannot be restored.
            {dir / "other.zip", 138, 2}, {dir / "newer.zip", 140, 0}, {dir / "archive.zip", 102, 0},
            {dir / "text.zip", 102, 0},  {"backup.zip", 180, 0},      {"//server/backup.zip", 179, 0},
            {dir / "what?.zip", 181, 0},
        };
        vttest::ModalAnswerer answerer;
        for (const Refused &r : refused) {
            // A good file first, so that every refusal undoes a valid choice.
            w.Choose(dir / "good.zip");
            QVERIFY(w.CanStart());
            answerer.AnswerMessage(QMessageBox::Ok);
            w.Choose(r.path);
            QVERIFY(answerer.Done());
            QVERIFY(answerer.Messages().back().text.startsWith(Text(r.message)));
            QCOMPARE(answerer.Messages().back().caption, Text(88));
            QCOMPARE(w.List()->topLevelItemCount(), r.rowsListed);
            QVERIFY2(!w.CanStart(), r.path.c_str());
            QVERIFY(!w.Page()->TargetValid());
        }
        // Another engine version names both.
        answerer.AnswerMessage(QMessageBox::Ok);
        w.Choose(dir / "other.zip");
        QCOMPARE(answerer.Messages().back().text,
                 Text(138) + "\n" +
                     vtutil::FormatText(vtutil::FormatText(Text(511), "Korvo-C V1.4.2.0"),
                                        QString::fromStdString(kDeviceVersion)));
        QCOMPARE(w.Page()->EngineVersionLabel()->text(), QString("Korvo-C V1.4.2.0"));
        answerer.AnswerMessage(QMessageBox::Ok);
        w.Choose(dir / "text.zip");
        QVERIFY(w.Page()->EngineVersionLabel()->text().isEmpty());
        // A path that does not end in .zip yet is not read.
        w.Choose(dir / "good.zip.txt");
        QVERIFY(!w.CanStart());
        QCOMPARE(answerer.Messages().size(), std::size(refused) + 2);
        QVERIFY(answerer.Unexpected().isEmpty());
    }

    void ARestoreThatKeepsBothDocuments() {
        vttest::SimOptions options;
        options.seed.boxes = 2;
        options.seed.folders = 0;
        options.seed.docs = 2;
        vttest::UtilityDevice device(options);
        const fs::path top = vttest::BoxLevel(device.sim, 1);
        vttest::RenameEntry(top / "D0000001.XML", "Report");
        vttest::RenameEntry(top / "D0000002.XML", "Report-001");
        device.Login();
        const std::string backup = Backup(device, {1, 2});
        // Box 2 leaves the device; the backup page still lists what it knew.
        RemoveBox(device, 2);
        RestoreWindow w(device);
        QCOMPARE(w.window.BackupPage()->List()->topLevelItemCount(), 2);
        device.session.ConnectDevice(vtutil::ConnectReason::Refresh);
        w.window.BackupPage()->LoadList();
        QCOMPARE(w.window.BackupPage()->List()->topLevelItemCount(), 1);

        w.Choose(backup);
        QVERIFY(w.CanStart());
        vttest::ModalAnswerer answerer;
        {
            vttest::KeepCwd keep;
            StartRestore(answerer, w, true);
        }
        QVERIFY(answerer.Done());
        QVERIFY2(answerer.Unexpected().isEmpty(), qPrintable(answerer.Unexpected().join('\n')));
        QCOMPARE(answerer.Messages()[0].caption, Text(47));
        // Every restored document was added under a name of its own.
        QVERIFY2(answerer.Messages()[0].text.startsWith(
                     Text(54) + "\n" + vtutil::FormatValues(Text(413), {QString::fromStdString(backup)}) + "\n" +
                     vtutil::FormatValues(Text(415), {"2", "4"}) + "\n" + vtutil::FormatValues(Text(416), {"0", "4"}) +
                     "\n"),
                 qPrintable(answerer.Messages()[0].text));
        QCOMPARE(answerer.Messages()[0].icon, QMessageBox::Information);
        QCOMPARE(device.app.restoreMode, uint32_t(2));

        // The restored "Report" clashes with "Report" and "Report-001".
        const std::vector<std::string> names = vttest::DocumentNames(top);
        QCOMPARE(names.size(), size_t(4));
        QCOMPARE(names[0], std::string("Report"));
        QCOMPARE(names[1], std::string("Report-001"));
        QVERIFY(std::count(names.begin(), names.end(), "Report-002") == 1);
        // The device's box list is read again: box 2 is back.
        QCOMPARE(w.window.BackupPage()->List()->topLevelItemCount(), 2);
        QVERIFY(device.session.Connected());
        // Locked as a restore locks (mode 1), and given back.
        QCOMPARE(device.CountRequests("boxnwBoxExModeIn?", "&MOD=1"), size_t(1));
        QCOMPARE(device.CountRequests("boxnwBoxExModeOut?", "&MOD=1"), size_t(1));
        QCOMPARE(device.CountRequests("boxnwBoxExModeIn?"), size_t(1));
        QCOMPARE(device.CountRequests("boxnwDeleteFTPAccount?"), size_t(1));
        QVERIFY(vttest::WorkFoldersIn(device.sim.dir.path()).empty());
    }

    // In replace mode the report tells the documents that took the place of
    // their namesakes from those that were added: here one document was
    // deleted on the device after the backup.
    void AReplacingRestoreSaysWhatItReplacedAndAdded() {
        vttest::SimOptions options;
        options.seed.boxes = 1;
        options.seed.folders = 0;
        options.seed.docs = 3;
        vttest::UtilityDevice device(options);
        device.Login();
        const std::string backup = Backup(device, {1});
        const fs::path top = vttest::BoxLevel(device.sim, 1);
        fs::remove_all(top / "D0000002");
        fs::remove(top / "D0000002.XML");
        RestoreWindow w(device);
        w.Choose(backup);
        vttest::ModalAnswerer answerer;
        {
            vttest::KeepCwd keep;
            StartRestore(answerer, w, false);
        }
        QVERIFY(answerer.Done());
        const QString text = answerer.Messages()[0].text;
        QVERIFY2(text.contains(vtutil::FormatValues(Text(415), {"1", "3"}) + "\n" +
                               vtutil::FormatValues(Text(416), {"2", "1"}) + "\n"),
                 qPrintable(text));
        QVERIFY2(text.section('\n', -1).startsWith(vtutil::FormatValues(Text(417), {""})), qPrintable(text));
        QCOMPARE(vttest::DocumentNames(top).size(), size_t(3));
    }

    // A replace-mode restore counts the device's documents before it starts,
    // with the device locked: on a device that froze then, a confirmed cancel
    // ends the count and the job, which says the device was not released.
    void CancelEndsTheCountOfAFrozenDevice() {
        vttest::UtilityDevice device;
        vttest::ScopedEnv releaseBound("VTBOX_RELEASE_SECONDS", "3");
        device.Login();
        const std::string backup = Backup(device, {1});
        RestoreWindow w(device);
        w.Choose(backup);
        // The next request after the account is the first count's.
        device.sim.faults().FreezeAfter("boxnwCreateFTPAccount", devicesim::FreezeScope::Web, 0);
        vttest::ModalAnswerer answerer;
        answerer.LetStay<vtutil::CProgressDlg>();
        answerer.OnDialog<vtutil::CRestoreModeDlg>(
            [](vtutil::CRestoreModeDlg *mode) { vttest::Later([mode] { mode->accept(); }); });
        answerer.Then([](QWidget *modal) {
            auto *progress = qobject_cast<vtutil::CProgressDlg *>(modal);
            if (!progress || progress->PhaseLine()->text() != Text(652)) return false;
            vttest::Later([progress] { progress->CancelButton()->click(); });
            return true;
        });
        answerer.AnswerMessage(QMessageBox::Yes);
        answerer.AnswerMessage(QMessageBox::Ok);
        {
            vttest::KeepCwd keep;
            w.window.ActionButton()->click();
        }
        device.sim.faults().Thaw();
        QVERIFY(answerer.Done());
        QVERIFY2(answerer.Unexpected().isEmpty(), qPrintable(answerer.Unexpected().join('\n')));
        const QString text = answerer.Messages().back().text;
        QVERIFY2(text == Text(56) + "\n\n" + Text(404) + "\n" + Text(405), qPrintable(text));
        // Nothing was written.
        QCOMPARE(device.CountRequests("boxnwCreateBox"), size_t(0));
    }

    // The device goes off the network part-way through a restore, or only
    // its FTP connection breaks: the report says how many documents it holds
    // now and what completes the restore, and the window counts the device
    // as gone.
    void ARestoreCutShortSaysWhatItWrote_data() {
        QTest::addColumn<bool>("offTheNetwork");
        QTest::newRow("off the network") << true;
        QTest::newRow("FTP connection dropped") << false;
    }

    void ARestoreCutShortSaysWhatItWrote() {
        QFETCH(bool, offTheNetwork);
        vttest::SimOptions options;
        options.seed.boxes = 1;
        options.seed.folders = 0;
        options.seed.docs = 30;
        vttest::UtilityDevice device(options);
        vttest::ScopedEnv releaseBound("VTBOX_RELEASE_SECONDS", "1");
        device.Login();
        const std::string backup = Backup(device, {1});
        const fs::path top = vttest::BoxLevel(device.sim, 1);
        RestoreWindow w(device);
        w.Choose(backup);
        vttest::ModalAnswerer answerer;
        answerer.LetStay<vtutil::CProgressDlg>();
        answerer.OnDialog<vtutil::CRestoreModeDlg>([](vtutil::CRestoreModeDlg *mode) {
            mode->KeepBothButton()->setChecked(true);
            vttest::Later([mode] { mode->accept(); });
        });
        if (offTheNetwork) {
            // The restore holds a few documents in until the device is gone,
            // however fast the machine runs it.
            device.sim.faults().FreezeInTransfer(devicesim::FreezeScope::Ftp, 12, 0, 60);
            answerer.Then([&](QWidget *modal) {
                auto *progress = qobject_cast<vtutil::CProgressDlg *>(modal);
                if (!progress || progress->DocumentsLine()->text().section(' ', 1, 1).toInt() < 1) return false;
                device.sim.device->Stop();
                return true;
            });
        } else {
            // A few documents in (each is a few transfers: status files, its
            // record, its pages).
            device.sim.faults().DropDataConnection(12, 2);
        }
        answerer.AnswerMessage(QMessageBox::Ok);
        {
            vttest::KeepCwd keep;
            w.window.ActionButton()->click();
        }
        QVERIFY2(answerer.Done(), qPrintable(answerer.Messages().empty() ? QString() : answerer.Messages()[0].text));
        QVERIFY2(answerer.Unexpected().isEmpty(), qPrintable(answerer.Unexpected().join('\n')));
        const QString text = answerer.Messages()[0].text;
        const QStringList parts = Text(408).split("%d");
        const qsizetype at = text.indexOf(parts[0]);
        QVERIFY2(text.startsWith(Text(55) + "\n") && at > 0, qPrintable(text));
        const int written = text.mid(at + parts[0].size()).section(parts[1], 0, 0).toInt();
        // Each written document was added beside the device's own; one more
        // may have been half made when the device went.
        const int added = static_cast<int>(vttest::DocumentNames(top).size()) - 30;
        QVERIFY2(written >= 1 && (added == written || added == written + 1),
                 qPrintable(QString("%1 written, %2 added").arg(written).arg(added)));
        QVERIFY(text.contains(parts[1] + "\n" + Text(409)));
        QVERIFY(!device.session.Connected());
        QVERIFY(!w.window.Status()->ShowsConnected());
        QCOMPARE(w.List()->topLevelItemCount(), 0);
    }

    // A backup in a folder nobody can write to is listed and restored: the
    // description is read and the job works in the temp folder.
    void ABackupInAReadOnlyFolder() {
        vttest::UtilityDevice device;
        device.Login();
        const std::string made = Backup(device, {1, 2});
        const fs::path shelf = device.sim.dir / "shelf";
        fs::create_directory(shelf);
        fs::rename(made, shelf / "Backup.ZIP");
        const fs::path temp = device.sim.dir / "tmp";
        fs::create_directory(temp);
        vttest::ScopedEnv tmpdir("TMPDIR", temp.string());
        vttest::ReadOnlyFolder readOnly(shelf.string());
        if (!readOnly.Ok()) QSKIP("no way to make a folder read-only here");
        RemoveBox(device, 2);

        RestoreWindow w(device);
        vttest::ModalAnswerer answerer;
        w.Choose(shelf / "Backup.ZIP");
        QVERIFY(answerer.Messages().empty());
        QCOMPARE(w.List()->topLevelItemCount(), 2);
        QVERIFY(w.CanStart());
        {
            vttest::KeepCwd keep;
            StartRestore(answerer, w, false);
        }
        QVERIFY(answerer.Done());
        QVERIFY2(answerer.Unexpected().isEmpty(), qPrintable(answerer.Unexpected().join('\n')));
        QCOMPARE(answerer.Messages()[0].text.section('\n', 0, 0), Text(54));
        QCOMPARE(w.window.BackupPage()->List()->topLevelItemCount(), 3);  // box 2 is back
        QVERIFY(fs::is_empty(temp));
        QCOMPARE(fs::directory_iterator(shelf)->path().filename().string(), std::string("Backup.ZIP"));
    }

    void TooManyDocumentsInAFolderNamesTheBoxAndFolder() {
        vttest::SimOptions options;
        options.seed.boxes = 1;
        options.seed.folders = 1;
        options.seed.docs = 2;
        vttest::UtilityDevice device(options);
        device.Login();
        const std::string backup = Backup(device, {1});
        // The device's folder fills up: 399, and the backup brings 2 more.
        const fs::path folder = vttest::BoxLevel(device.sim, 1) / "F0000001";
        for (uint32_t n = 3; n <= 399; ++n) vttest::AddDocument(folder, n, "device " + std::to_string(n));

        RestoreWindow w(device);
        w.Choose(backup);
        vttest::ModalAnswerer answerer;
        {
            vttest::KeepCwd keep;
            StartRestore(answerer, w, true);
        }
        QVERIFY(answerer.Done());
        QVERIFY2(answerer.Unexpected().isEmpty(), qPrintable(answerer.Unexpected().join('\n')));
        const QString where = QString::fromStdString(devicesim::SeededBoxName(1)) + "\\" +
                              QString::fromStdString(devicesim::SeededFolderName(1, 1));
        QCOMPARE(answerer.Messages()[0].text, Text(55) + "\n" + vtutil::FormatText(Text(175), where));
        QCOMPARE(answerer.Messages()[0].icon, QMessageBox::Critical);
        QCOMPARE(vttest::DocumentNames(folder).size(), size_t(399));
        QCOMPARE(device.CountRequests("boxnwBoxExModeOut?"), size_t(1));
        QVERIFY(device.session.Connected());
    }

    // A document deleted on the device after the backup is chosen alone and
    // comes back, keeping both: every other document of the box stays as it
    // was (same numbers, same bytes, no second copy). On the way, the
    // chooser's ticks and its filter.
    void TheChooserRestoresOneTickedDocument() {
        vttest::SimOptions options;
        options.seed.boxes = 2;
        options.seed.folders = 2;
        options.seed.docs = 3;
        vttest::UtilityDevice device(options);
        device.Login();
        const std::string backup = Backup(device, {1, 2});
        const fs::path top = vttest::BoxLevel(device.sim, 1);
        fs::remove_all(top / "D0000002");
        fs::remove(top / "D0000002.XML");
        const std::map<std::string, std::string> before = FilesUnder(top);
        const std::map<std::string, std::string> otherBox = FilesUnder(vttest::BoxLevel(device.sim, 2));
        const QString lost = QString::fromStdString(devicesim::SeededDocumentName(1, 0, 2));

        RestoreWindow w(device);
        w.Choose(backup);
        QVERIFY(w.Page()->ChooseButton()->isEnabled());
        vttest::ModalAnswerer answerer;
        answerer.OnDialog<vtutil::CChooseDocumentsDlg>([&lost](vtutil::CChooseDocumentsDlg *chooser) {
            QTreeWidget *tree = chooser->Tree();
            // The folders, each with its documents, then the top level's.
            QCOMPARE(tree->topLevelItemCount(), 5);
            QTreeWidgetItem *folder = tree->topLevelItem(0);
            QCOMPARE(folder->childCount(), 3);
            QCOMPARE(tree->topLevelItem(3)->text(0), lost);
            QCOMPARE(tree->topLevelItem(3)->text(vtutil::CChooseDocumentsDlg::kPagesColumn), QString("2"));
            QVERIFY(!tree->topLevelItem(3)->text(vtutil::CChooseDocumentsDlg::kDateColumn).isEmpty());
            // Nothing is ticked at first; a folder ticks its documents, and
            // shows partly ticked once one of them is not.
            QVERIFY(!chooser->OkButton()->isEnabled());
            folder->setCheckState(0, Qt::Checked);
            QCOMPARE(folder->child(2)->checkState(0), Qt::Checked);
            folder->child(1)->setCheckState(0, Qt::Unchecked);
            QCOMPARE(folder->checkState(0), Qt::PartiallyChecked);
            QCOMPARE(chooser->Choice().documents, 2);
            QCOMPARE(chooser->Choice().ofDocuments, 9);
            chooser->ClearAllButton()->click();
            QCOMPARE(folder->checkState(0), Qt::Unchecked);

            // Any case: the lost document alone shows, and Select All ticks
            // only what shows. A folder's name shows the folder whole.
            QTest::keyClicks(chooser->FilterEdit(), lost.left(9).toUpper());
            QCOMPARE(ShownRows(tree), QStringList{lost});
            chooser->SelectAllButton()->click();
            chooser->FilterEdit()->setText(QString::fromStdString(devicesim::SeededFolderName(1, 2)).toLower());
            QCOMPARE(ShownRows(tree).size(), 4);
            chooser->FilterEdit()->setText("no such name");
            QVERIFY(ShownRows(tree).isEmpty());
            chooser->FilterEdit()->clear();
            QCOMPARE(ShownRows(tree).size(), 11);
            QCoreApplication::processEvents();
            const vtutil::DocumentChoice choice = chooser->Choice();
            QVERIFY(!choice.wholeBox);
            QCOMPARE(choice.documents, 1);
            QCOMPARE(choice.items.size(), size_t(1));
            QVERIFY(chooser->OkButton()->isEnabled());
            vttest::Later([chooser] { chooser->OkButton()->click(); });
        });
        const fs::path cwd = fs::current_path();
        w.Page()->ChooseButton()->click();
        QVERIFY(answerer.Done());
        // The engine read the box in a folder that is gone now: the program
        // is not left in it.
        QCOMPARE(fs::current_path(), cwd);
        // The box's row says what was chosen of it.
        QVERIFY2(w.List()->topLevelItem(0)->text(0).endsWith(vtutil::FormatValues(Text(608), {"1", "9"})),
                 qPrintable(w.List()->topLevelItem(0)->text(0)));
        QCOMPARE(w.List()->CheckedNumbers(), std::vector<uint32_t>{1});
        QVERIFY(w.CanStart());

        {
            vttest::KeepCwd keep;
            StartRestore(answerer, w, true);
        }
        QVERIFY(answerer.Done());
        QVERIFY2(answerer.Unexpected().isEmpty(), qPrintable(answerer.Unexpected().join('\n')));
        QVERIFY2(answerer.Messages()[0].text.startsWith(Text(54) + "\n"), qPrintable(answerer.Messages()[0].text));

        const std::map<std::string, std::string> after = FilesUnder(top);
        std::set<std::string> added;
        for (const auto &[path, bytes] : after) {
            const auto was = before.find(path);
            if (was == before.end())
                added.insert(fs::path(path).begin()->stem().string());
            else
                QVERIFY2(was->second == bytes, path.c_str());
        }
        for (const auto &[path, bytes] : before) QVERIFY2(after.count(path), path.c_str());
        // One new document, with the lost one's name and the box's others.
        QCOMPARE(added.size(), size_t(1));
        const std::vector<std::string> names = vttest::DocumentNames(top);
        QCOMPARE(names.size(), size_t(3));
        QCOMPARE(std::count(names.begin(), names.end(), lost.toStdString()), 1);
        // The first choice cleared box 2's tick: it is as it was.
        QVERIFY(FilesUnder(vttest::BoxLevel(device.sim, 2)) == otherBox);
        QCOMPARE(device.CountRequests("boxnwBoxExModeOut?"), size_t(1));
        QCOMPARE(device.CountRequests("boxnwDeleteFTPAccount?"), size_t(1));
    }

    // A listing that does not hang together is not shown in part: a
    // document of a folder it does not list, an entry of another box, no box
    // first, a document without a number.
    void AListingThatDoesNotHangTogetherIsNotShown() {
        auto entry = [](uint32_t kind, uint32_t box, uint32_t folder, uint32_t doc) {
            VTBACKUPENTRY e{};
            e.Kind = kind;
            e.BoxNo = box;
            e.FolderNo = folder;
            e.DocNo = doc;
            return e;
        };
        const VTBACKUPENTRY box = entry(VTENTRY_BOX, 1, 0, 0);
        const VTBACKUPENTRY folder = entry(VTENTRY_FOLDER, 1, 1, 0);
        const std::vector<std::vector<VTBACKUPENTRY>> broken = {
            {box, folder, entry(VTENTRY_DOCUMENT, 1, 2, 1)},
            {box, folder, entry(VTENTRY_DOCUMENT, 2, 1, 1)},
            {folder, entry(VTENTRY_DOCUMENT, 1, 1, 1)},
            {box, entry(VTENTRY_DOCUMENT, 1, 0, 0)},
            {},
        };
        for (const auto &listing : broken) {
            vtutil::CChooseDocumentsDlg chooser(listing, "001", {}, nullptr);
            QVERIFY(!chooser.Listed());
            QCOMPARE(chooser.Tree()->topLevelItemCount(), 0);
        }
        vtutil::CChooseDocumentsDlg whole({box, folder, entry(VTENTRY_DOCUMENT, 1, 1, 1)}, "001", {{1, 0, 0}});
        QVERIFY(whole.Listed());
        QVERIFY(whole.Choice().wholeBox);
    }

    // A file damaged where a box's documents are: its boxes are listed, but
    // the chooser is refused with the engine's detail behind Show Details,
    // and nothing is left in the temp folder.
    void AChooserOnADamagedFileIsRefused() {
        vttest::SimOptions options;
        options.seed.boxes = 1;
        options.seed.folders = 0;
        options.seed.docs = 2;
        vttest::UtilityDevice device(options);
        device.Login();
        const std::string backup = Backup(device, {1});
        const std::string damaged = device.sim.dir / "damaged.zip";
        QCOMPARE(QProcess::execute("python3", {VTUTIL_DAMAGE_SCRIPT, QString::fromStdString(backup),
                                               QString::fromStdString(damaged), "box:1"}),
                 0);
        const fs::path temp = device.sim.dir / "tmp";
        fs::create_directory(temp);
        vttest::ScopedEnv tmpdir("TMPDIR", temp.string());

        RestoreWindow w(device);
        vttest::ModalAnswerer answerer;
        w.Choose(damaged);
        QVERIFY(answerer.Messages().empty());
        QVERIFY(w.Page()->ChooseButton()->isEnabled());
        QString details;
        answerer.AnswerMessage(QMessageBox::Ok, [&details](QMessageBox *box) { details = box->detailedText(); });
        w.Page()->ChooseButton()->click();
        QVERIFY(answerer.Done());
        QCOMPARE(answerer.Messages()[0].text, Text(610));
        QCOMPARE(answerer.Messages()[0].caption, Text(88));
        QVERIFY2(details.contains(QString::number(VTBOX_E_DAMAGED_FILE)), qPrintable(details));
        QVERIFY(w.Page()->Choices().empty());
        QVERIFY(fs::is_empty(temp));
        QVERIFY(answerer.Unexpected().isEmpty());
    }

    // Every job lands in the one history that vtbox writes too. Recent Jobs
    // lists them newest first with what they did, takes a backup back to
    // the restore page, and Browse offers the recent backups first.
    void RecentJobsListsTheJobsAndRestoresFromThem() {
        vttest::KeepCwd keep;
        vttest::UtilityDevice device;
        device.Login();
        RestoreWindow w(device);
        w.window.Sheet()->setCurrentWidget(w.window.BackupPage());
        const std::string target = device.sim.dir / "office.zip";
        w.window.BackupPage()->List()->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
        w.window.BackupPage()->TargetEdit()->setText(QString::fromStdString(target));
        vttest::ModalAnswerer answerer;
        answerer.LetStay<vtutil::CProgressDlg>();
        answerer.AnswerMessage(QMessageBox::Ok);
        w.window.ActionButton()->click();
        QVERIFY(answerer.Done());
        // A restore of vtbox's that stopped half way, written as vtbox does.
        vtjobs::HistoryEntry vtbox;
        vtbox.started = QDateTime::currentSecsSinceEpoch();
        vtbox.operation = vtjobs::HistoryOperation::Restore;
        vtbox.outcome = vtjobs::HistoryOutcome::Partial;
        vtbox.device = "192.0.2.7";
        vtbox.file = device.sim.dir / "gone.zip";
        vtbox.reason = "The device refused the file (451)";
        QVERIFY(vtjobs::AppendJobHistory(vtbox));

        QTreeWidget *list = nullptr;
        answerer.OnDialog<vtutil::CRecentJobsDlg>([&](vtutil::CRecentJobsDlg *recent) {
            list = recent->List();
            QCOMPARE(list->topLevelItemCount(), 2);
            QTreeWidgetItem *failed = list->topLevelItem(0);
            QCOMPARE(failed->text(vtutil::CRecentJobsDlg::Job), vtutil::FormatText(Text(713), Text(716)));
            QCOMPARE(failed->text(vtutil::CRecentJobsDlg::Outcome), Text(720));
            QCOMPARE(failed->text(vtutil::CRecentJobsDlg::Reason), QString::fromStdString(vtbox.reason));
            QVERIFY(failed->isSelected());
            QVERIFY(!recent->RestoreButton()->isEnabled());
            QVERIFY(!recent->OpenFolderButton()->isEnabled());
            QTreeWidgetItem *made = list->topLevelItem(1);
            QCOMPARE(made->text(vtutil::CRecentJobsDlg::Job), vtutil::FormatText(Text(712), Text(714)));
            QCOMPARE(made->text(vtutil::CRecentJobsDlg::Device), w.window.DeviceText());
            QCOMPARE(made->text(vtutil::CRecentJobsDlg::Boxes), QString("001, 003"));
            QCOMPARE(made->text(vtutil::CRecentJobsDlg::File), QString::fromStdString(target));
            QCOMPARE(made->text(vtutil::CRecentJobsDlg::Size), vtutil::FileSizeText(fs::file_size(target)));
            QCOMPARE(made->text(vtutil::CRecentJobsDlg::Outcome), Text(717));
            QVERIFY(made->text(vtutil::CRecentJobsDlg::Reason).isEmpty());
            list->setCurrentItem(made);
            QVERIFY(recent->OpenFolderButton()->isEnabled());
            QVERIFY(recent->RestoreButton()->isEnabled());
            vttest::Later([recent] { recent->RestoreButton()->click(); });
        });
        w.window.Action(vtutil::CBackupRestoreDlg::Command::RecentJobs)->trigger();
        QVERIFY(answerer.Done());
        QVERIFY(list);
        QCOMPARE(w.window.Sheet()->currentWidget(), w.Page());
        QCOMPARE(w.Page()->PathEdit()->text(), QString::fromStdString(target));
        QVERIFY(w.Page()->TargetValid());
        QCOMPARE(w.List()->topLevelItemCount(), 2);

        // The restore is recorded too; Browse then offers the backup first,
        // once, and the file dialog after it.
        StartRestore(answerer, w, true);
        QVERIFY(answerer.Done());
        QCOMPARE(vtjobs::ReadJobHistory().front().operation, vtjobs::HistoryOperation::Restore);
        QCOMPARE(vtjobs::ReadJobHistory().front().outcome, vtjobs::HistoryOutcome::Done);
        w.Page()->PathEdit()->clear();
        QStringList offered;
        answerer.Then([&](QWidget *) {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            if (!menu || !menu->isVisible()) return false;
            for (QAction *action : menu->actions())
                if (!action->isSeparator()) offered << action->text();
            vttest::Later([menu] {
                QTest::keyClick(menu, Qt::Key_Down);
                QTest::keyClick(menu, Qt::Key_Return);
            });
            return true;
        });
        w.Page()->BrowseButton()->click();
        QVERIFY(answerer.Done());
        QCOMPARE(offered, (QStringList{QString::fromStdString(target), Text(728)}));
        QCOMPARE(w.Page()->PathEdit()->text(), QString::fromStdString(target));
        QVERIFY(answerer.Unexpected().isEmpty());
    }
};

QTEST_MAIN(RestoreTest)
#include "test_restore.moc"
