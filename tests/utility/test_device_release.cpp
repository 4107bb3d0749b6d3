// The device around the utility's jobs, against the simulated device: a job
// gives the device back within a bound however the device behaves, the user
// may stop waiting for it, and the report says when it may stay locked.
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include "backup_page.hpp"
#include "backup_restore_dlg.hpp"
#include "language.hpp"
#include "modal_answerer.hpp"
#include "progress_dlg.hpp"
#include "status_bar.hpp"
#include "utility_fixture.hpp"

using vtutil::CProgressDlg;
using vtutil::Text;

namespace {

namespace fs = std::filesystem;

struct Window {
    explicit Window(vttest::UtilityDevice &device) : window(device.app, device.session) { window.show(); }
    void Target(const std::string &path) {
        window.BackupPage()->TargetEdit()->setText(QString::fromStdString(path));
    }
    vtutil::CBackupRestoreDlg window;
};

// The lock is still held: another session cannot take it.
bool DeviceLocked(vttest::UtilityDevice &device) {
    VTMFPSESSION s = device.sim.Session();
    if (vtBoxOpenConnection(&s) != 0) return false;
    uint32_t time = 0;
    const uint32_t rc = vtBoxLockUiJob(&s, "admin", 0, &time);
    if (rc == 0) vtBoxUnlockUiJob(&s, "admin", 0);
    vtBoxCloseConnection(&s);
    return rc == VTBOX_E_DEVICE_IN_USE;
}

// The seconds the progress window says it still waits for the device.
int SecondsLeft(CProgressDlg *progress) {
    const QStringList around = Text(402).split(QStringLiteral("%d"));
    const QString pattern = QRegularExpression::escape(around.value(0)) + QStringLiteral("(\\d+)") +
                            QRegularExpression::escape(around.value(1));
    const QRegularExpressionMatch match = QRegularExpression(pattern).match(progress->StatusLine()->text());
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

}  // namespace

class DeviceReleaseTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(vtutil::Language::Instance().LoadFrom(VTUTIL_LANGUAGE_LIBRARY)); }

    // The device freezes mid-backup; the user cancels. The job stops, gives
    // the release its bound and no more, and says the device may stay locked.
    void AFrozenDeviceEndsTheDialogWithinTheBound() {
        vttest::KeepCwd keep;
        vttest::UtilityDevice device;
        vttest::ScopedEnv bound("VTBOX_RELEASE_SECONDS", "3");
        device.Login();
        Window w(device);
        w.Target(device.sim.dir / "office.zip");
        // Frozen as soon as the job has its FTP account: the backup's first
        // request stays unanswered.
        device.sim.faults().FreezeAfter("boxnwCreateFTPAccount", devicesim::FreezeScope::Device, 0);

        vttest::ModalAnswerer answerer;
        answerer.LetStay<CProgressDlg>();
        answerer.OnDialog<CProgressDlg>([](CProgressDlg *progress) {
            vttest::Later([progress] { progress->CancelButton()->click(); });
        });
        QElapsedTimer sinceCancel;
        answerer.AnswerMessage(QMessageBox::Yes, [&](QMessageBox *) { sinceCancel.start(); });
        answerer.AnswerMessage(QMessageBox::Ok);
        w.window.ActionButton()->click();

        QVERIFY(answerer.Done());
        QVERIFY2(answerer.Unexpected().isEmpty(), qPrintable(answerer.Unexpected().join('\n')));
        // The job sees the cancel at its next look (5 s at most), the request
        // in flight ends within a second, then the release's 3 s.
        QVERIFY2(sinceCancel.elapsed() < 15000, qPrintable(QString::number(sinceCancel.elapsed())));
        const vttest::SeenMessage &report = answerer.Messages()[1];
        QCOMPARE(report.icon, QMessageBox::Warning);
        QCOMPARE(report.text, Text(53) + "\n" + Text(404) + "\n" + Text(405));
        QVERIFY(!fs::exists(device.sim.dir / "office.zip"));
        QVERIFY(!w.window.Status()->ShowsConnected());
        device.sim.faults().Thaw();
        QVERIFY2(DeviceLocked(device), "the report said the device may stay locked");
    }

    // A backup is written, but the device does not answer its release: the
    // window says for what and how long it waits, and Stop Waiting ends it.
    void StopWaitingEndsTheRelease() {
        vttest::KeepCwd keep;
        vttest::UtilityDevice device;
        vttest::ScopedEnv bound("VTBOX_RELEASE_SECONDS", "600");
        device.Login();
        Window w(device);
        const std::string target = device.sim.dir / "office.zip";
        w.Target(target);
        device.sim.faults().FreezeOn("boxnwDeleteFTPAccount", devicesim::FreezeScope::Device, 0);

        vttest::ModalAnswerer answerer;
        answerer.LetStay<CProgressDlg>();
        QElapsedTimer sinceStop;
        bool stopEnabled = false;
        QString waitingFor;
        int secondsLeft = -1;
        // Once the count has gone down a second or two.
        answerer.Then([&](QWidget *modal) {
            auto *progress = qobject_cast<CProgressDlg *>(modal);
            if (!progress || progress->CancelButton()->text() != Text(403) || SecondsLeft(progress) > 598) return false;
            stopEnabled = progress->CancelButton()->isEnabled();
            waitingFor = progress->PhaseLine()->text();
            secondsLeft = SecondsLeft(progress);
            sinceStop.start();
            vttest::Later([progress] { progress->CancelButton()->click(); });
            return true;
        });
        answerer.AnswerMessage(QMessageBox::Ok);
        w.window.ActionButton()->click();

        QVERIFY(answerer.Done());
        QVERIFY2(answerer.Unexpected().isEmpty(), qPrintable(answerer.Unexpected().join('\n')));
        QVERIFY(stopEnabled);
        QCOMPARE(waitingFor, Text(400));
        QVERIFY2(secondsLeft >= 590, qPrintable(QString::number(secondsLeft)));
        QVERIFY2(sinceStop.elapsed() < 5000, qPrintable(QString::number(sinceStop.elapsed())));
        const vttest::SeenMessage &report = answerer.Messages()[0];
        QCOMPARE(report.icon, QMessageBox::Warning);
        QVERIFY2(report.text.startsWith(Text(51) + "\n"), qPrintable(report.text));
        QVERIFY2(report.text.endsWith(Text(404) + "\n" + Text(405)), qPrintable(report.text));
        QVERIFY(fs::exists(target));
    }
};

QTEST_MAIN(DeviceReleaseTest)
#include "test_device_release.moc"
