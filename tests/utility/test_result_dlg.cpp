// The result window of automatic runs: one at a time, the action button held
// while it is open, the log opened from it, and the refresh it owes the main
// window when automatic backup ended meanwhile.
#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QUrl>

#include "backup_page.hpp"
#include "backup_restore_dlg.hpp"
#include "box_list.hpp"
#include "error_text.hpp"
#include "language.hpp"
#include "result_dlg.hpp"
#include "status_bar.hpp"
#include "utility_fixture.hpp"

using vtutil::CResultDlg;
using vtutil::Text;

namespace {

// Takes the URLs the program asks the desktop to open.
class Opener : public QObject {
    Q_OBJECT
public:
    Opener() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "Open"); }
    ~Opener() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    QList<QUrl> opened;
public slots:
    void Open(const QUrl &url) { opened << url; }
};

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
        Opener opener;
        CResultDlg result(CResultDlg::kBoxesDeleted, 0);
        result.show();
        QCOMPARE(result.SecondLine()->text(), Text(171));
        result.ViewLogButton()->click();
        QCOMPARE(opener.opened.size(), 1);
        QCOMPARE(opener.opened[0].toLocalFile(), QString::fromStdString(dir / "state/vtbox/BKRT_Log.txt"));
        QVERIFY(result.isVisible());

        // A state folder that is not absolute does not count.
        vttest::ScopedEnv relative("XDG_STATE_HOME", "state");
        result.ViewLogButton()->click();
        QCOMPARE(opener.opened[1].toLocalFile(), QDir::homePath() + "/.local/state/vtbox/BKRT_Log.txt");
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
