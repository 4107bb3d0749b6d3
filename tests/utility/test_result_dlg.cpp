// The result window of automatic runs: one at a time, the action button held
// while it is open, the log opened from it, and the refresh it owes the main
// window when automatic backup ended meanwhile.
#include <sys/stat.h>

#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <QUrl>
#include <filesystem>
#include <fstream>

#include "backup_page.hpp"
#include "backup_restore_dlg.hpp"
#include "box_list.hpp"
#include "error_text.hpp"
#include "file_viewer.hpp"
#include "language.hpp"
#include "program_files.hpp"
#include "result_dlg.hpp"
#include "status_bar.hpp"
#include "utility_fixture.hpp"

using vtutil::CResultDlg;
using vtutil::Text;

namespace {

// A stand-in for the desktop's opener: notes each file it is given on a
// line of `opened`, then exits with the given code (xdg-open's 3: no tool
// for the file).
QString FakeOpener(const vttest::TempDir &dir, int exitCode) {
    const std::string path = dir / ("opener-" + std::to_string(exitCode));
    std::ofstream(path) << "#!/bin/sh\necho \"$1\" >> '" << (dir / "opened") << "'\nexit " << exitCode << "\n";
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return QString::fromStdString(path);
}

QStringList Opened(const vttest::TempDir &dir) {
    QFile file(QString::fromStdString(dir / "opened"));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

vtutil::CFileViewerDlg *Viewer() {
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *viewer = qobject_cast<vtutil::CFileViewerDlg *>(w); viewer && viewer->isVisible()) return viewer;
    return nullptr;
}

int VisibleResultWindows() {
    int n = 0;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (qobject_cast<CResultDlg *>(w) && w->isVisible()) ++n;
    return n;
}

}  // namespace

class ResultDlgTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(vtutil::Language::Instance().LoadFrom(VTUTIL_LANGUAGE_LIBRARY)); }

    void OneAtATimeHoldingTheActionButton() {
        vttest::UtilityDevice device;
        device.Login();
        vtutil::CBackupRestoreDlg window(device.app, device.session);
        window.show();

        CResultDlg *failed = window.ShowResult(CResultDlg::kFailed, 12029);
        QCOMPARE(failed->windowTitle(), Text(88));
        QCOMPARE(failed->FirstLine()->text(), Text(52));
        QCOMPARE(failed->SecondLine()->text(), vtutil::ErrorTextFor(12029));
        QVERIFY(!window.ActionButton()->isEnabled());

        // A new run's window takes the place of the last one.
        CResultDlg *retry = window.ShowResult(CResultDlg::kRetryPlanned, 12029);
        QCOMPARE(VisibleResultWindows(), 1);
        QCOMPARE(window.ResultWindow(), retry);
        QCOMPARE(retry->SecondLine()->text(), Text(67) + "\n" + Text(172));
        QVERIFY(!window.ActionButton()->isEnabled());
        retry->OkButton()->click();
        QCOMPARE(window.ResultWindow(), nullptr);
        QVERIFY(window.ActionButton()->isEnabled());

        CResultDlg *folder = window.ShowResult(CResultDlg::kRetryPlanned, 3);
        QCOMPARE(folder->SecondLine()->text(), Text(66) + "\n" + Text(172));
        CResultDlg *finished = window.ShowResult(CResultDlg::kFinished, 0);
        QCOMPARE(finished->windowTitle(), Text(43));
        QVERIFY(finished->SecondLine()->text().isEmpty());
        finished->close();
        QCOMPARE(window.ResultWindow(), nullptr);
        QVERIFY(window.ActionButton()->isEnabled());
    }

    void ViewLogFileOpensTheLogAndStaysOpen() {
        vttest::TempDir dir;
        vttest::ScopedEnv state("XDG_STATE_HOME", dir / "state");
        const QString log = QString::fromStdString(dir / "state/vtbox/BKRT_Log.txt");
        vtutil::SetDesktopOpener(FakeOpener(dir, 0));
        CResultDlg result(CResultDlg::kBoxesDeleted, 0);
        result.show();
        QCOMPARE(result.SecondLine()->text(), Text(171));
        result.ViewLogButton()->click();
        QTRY_COMPARE(Opened(dir), QStringList{log});
        QVERIFY(result.isVisible());
        QTest::qWait(100);
        QVERIFY(!Viewer());

        // A state folder that is not absolute does not count.
        {
            vttest::ScopedEnv relative("XDG_STATE_HOME", "state");
            result.ViewLogButton()->click();
            QTRY_COMPARE(Opened(dir).size(), qsizetype(2));
            QCOMPARE(Opened(dir)[1], QDir::homePath() + "/.local/state/vtbox/BKRT_Log.txt");
        }

        // An opener that cannot open it, or none at all: the program's own
        // viewer shows the log, read-only, with its path.
        QDir().mkpath(QFileInfo(log).absolutePath());
        QFile file(log);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("Run 1\nFinished.\n");
        file.close();
        vtutil::SetDesktopOpener(FakeOpener(dir, 3));
        result.ViewLogButton()->click();
        QTRY_VERIFY(Viewer());
        QCOMPARE(Viewer()->Path(), log);
        QVERIFY(Viewer()->PathLabel()->text().endsWith(log));
        QCOMPARE(Viewer()->Browser()->toPlainText(), QString("Run 1\nFinished.\n"));
        QVERIFY(Viewer()->Browser()->isReadOnly());
        Viewer()->close();
        vtutil::SetDesktopOpener(QString::fromStdString(dir / "no-such-opener"));
        result.ViewLogButton()->click();
        QTRY_VERIFY(Viewer());
        Viewer()->close();
        vtutil::SetDesktopOpener(QString());
    }

    // The viewer reads a long log's last part only, from a whole line on.
    void ALongLogIsReadFromItsEnd() {
        vttest::TempDir dir;
        const QString path = QString::fromStdString(dir / "log.txt");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        for (int i = 0; i < 100; ++i) file.write(QByteArray::number(1000 + i) + "\n");
        file.close();
        QCOMPARE(vtutil::ReadLogTail(path, 500).size(), qsizetype(500));
        QCOMPARE(vtutil::ReadLogTail(path, 499), "...\n" + vtutil::ReadLogTail(path, 500).mid(5));
        QCOMPARE(vtutil::ReadLogTail(path, 12), QString("...\n1098\n1099\n"));
        QCOMPARE(vtutil::ReadLogTail(path, 10), QString("...\n1098\n1099\n"));
        QCOMPARE(vtutil::ReadLogTail(path, 9), QString("...\n1099\n"));
        // A FIFO planted at the log's name shows as no log, and never holds the window.
        const std::string fifo = dir / "fifo.txt";
        QCOMPARE(::mkfifo(fifo.c_str(), 0600), 0);
        QCOMPARE(vtutil::ReadLogTail(QString::fromStdString(fifo)), QString());
    }

    void ClosedAfterAutomaticBackupEndedItRefreshes() {
        vttest::UtilityDevice device;
        device.Login();
        vtutil::CBackupRestoreDlg window(device.app, device.session);
        window.show();
        CResultDlg *result = window.ShowResult(CResultDlg::kCancelled, 0);
        QCOMPARE(result->FirstLine()->text(), Text(53));
        // Automatic backup ended while the window was up, with the device
        // session closed between runs.
        window.SetRefreshAfterAutomatic(true);
        device.session.Close();
        const size_t connects = device.CountRequests("boxnwConnect");

        result->OkButton()->click();
        QVERIFY(!window.RefreshAfterAutomatic());
        QCOMPARE(window.ResultWindow(), nullptr);
        QVERIFY(device.session.Connected());
        QCOMPARE(device.CountRequests("boxnwConnect"), connects + 1);
        QVERIFY(window.Status()->ShowsConnected());
        QCOMPARE(window.BackupPage()->List()->topLevelItemCount(), 3);
    }
};

QTEST_MAIN(ResultDlgTest)
#include "test_result_dlg.moc"
