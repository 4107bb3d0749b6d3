// The device around the utility's jobs, against the simulated device: a job
// gives the device back within a bound however the device behaves, the user
// may stop waiting for it, and the report says when it may stay locked; a
// killed job's hold is released by the next login and by vtbox unlock; the
// program's exit does not wait on a device that froze.
#include <signal.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include "backup_page.hpp"
#include "backup_restore_app.hpp"
#include "backup_restore_dlg.hpp"
#include "job_files.hpp"
#include "job_record.hpp"
#include "language.hpp"
#include "login_dlg.hpp"
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
    void Target(const std::string &path) { window.BackupPage()->TargetEdit()->setText(QString::fromStdString(path)); }
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

// Starts a utility job in a process of its own and kills it (SIGKILL) once
// the job holds the device; returns its process number (0 when it never got
// that far). The FTP server stands still meanwhile, so that the job is surely
// mid-way.
int KillJobMidWay(vttest::UtilityDevice &device, const std::string &target) {
    device.sim.faults().FreezeInTransfer(devicesim::FreezeScope::Ftp, 1, 0, 0);
    const uint32_t port = device.sim.device->HttpPort();
    // Killed once its record names the FTP account it made: the device has
    // taken the request for the account before the job has read the reply
    // and noted the account, and a job killed between the two leaves a
    // record that nothing shows to be the session's.
    auto accountNoted = [&] {
        std::optional<vtjobs::JobRecord> r = vtjobs::ReadJobRecord("127.0.0.1", port);
        return r && !r->login.empty();
    };
    QProcess child;
    child.start(VTUTIL_JOB_CHILD, {QString::fromStdString(target)});
    int pid = 0;
    if (child.waitForStarted()) {
        for (int waited = 0; waited < 20000 && !accountNoted(); waited += 50) QTest::qWait(50);
        if (accountNoted()) pid = static_cast<int>(child.processId());
        ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
        child.waitForFinished();
    }
    device.sim.faults().Thaw();
    return pid;
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
        answerer.OnDialog<CProgressDlg>(
            [](CProgressDlg *progress) { vttest::Later([progress] { progress->CancelButton()->click(); }); });
        QElapsedTimer sinceCancel;
        answerer.AnswerMessage(QMessageBox::Yes, [&](QMessageBox *) { sinceCancel.start(); });
        // While the device is waited for, the user may stop waiting (here the
        // bound comes first).
        bool stopOffered = false;
        answerer.Then([&](QWidget *modal) {
            auto *progress = qobject_cast<CProgressDlg *>(modal);
            if (!progress || progress->CancelButton()->text() != Text(403) || !progress->CancelButton()->isEnabled())
                return false;
            stopOffered = true;
            return true;
        });
        answerer.AnswerMessage(QMessageBox::Ok);
        w.window.ActionButton()->click();

        QVERIFY(answerer.Done());
        QVERIFY2(answerer.Unexpected().isEmpty(), qPrintable(answerer.Unexpected().join('\n')));
        // The job sees the cancel at its next look (5 s at most), the request
        // in flight ends within a second, then the release's 3 s: far below
        // the release pages' own time-outs (minutes), which it used to wait.
        QVERIFY2(sinceCancel.elapsed() < 30000, qPrintable(QString::number(sinceCancel.elapsed())));
        QVERIFY(stopOffered);
        const vttest::SeenMessage &report = answerer.Messages()[1];
        QCOMPARE(report.icon, QMessageBox::Warning);
        QCOMPARE(report.text, Text(53) + "\n\n" + Text(404) + "\n" + Text(405));
        QVERIFY(!fs::exists(device.sim.dir / "office.zip"));
        QVERIFY(!w.window.Status()->ShowsConnected());
        device.sim.faults().Thaw();
        QVERIFY2(DeviceLocked(device), "the report said the device may stay locked");
        // Kept for a later release, as a job that has ended.
        std::optional<vtjobs::JobRecord> record = vtjobs::ReadJobRecord("127.0.0.1", device.sim.device->HttpPort());
        QVERIFY(record && record->pid == 0);
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
        // Long before the 600 s bound.
        QVERIFY2(sinceStop.elapsed() < 30000, qPrintable(QString::number(sinceStop.elapsed())));
        const vttest::SeenMessage &report = answerer.Messages()[0];
        QCOMPARE(report.icon, QMessageBox::Warning);
        QVERIFY2(report.text.startsWith(Text(51) + "\n"), qPrintable(report.text));
        QVERIFY2(report.text.endsWith(Text(404) + "\n" + Text(405)), qPrintable(report.text));
        QVERIFY(fs::exists(target));
    }

    // The device freezes while the program sits connected and idle; the
    // user exits. The end of the session is waited for the release's bound,
    // not for the end page's own time-out (minutes).
    void ExitFromADeviceFrozenWhileIdleEndsWithinTheBound() {
        vttest::UtilityDevice device;
        vttest::ScopedEnv bound("VTBOX_RELEASE_SECONDS", "2");
        vtutil::CBackupRestoreApp app;
        vttest::ModalAnswerer answerer;
        answerer.OnDialog<vtutil::CLoginDlg>([](vtutil::CLoginDlg *dialog) {
            QTest::keyClicks(dialog->PasswordEdit(), "admin");
            vttest::Later([dialog] { dialog->OkButton()->click(); });
        });
        bool wasConnected = false;
        QElapsedTimer sinceExit;
        answerer.OnWindow<vtutil::CBackupRestoreDlg>([&](vtutil::CBackupRestoreDlg *window) {
            wasConnected = window->Status()->ShowsConnected();
            device.sim.faults().Freeze(devicesim::FreezeScope::Device, 0);
            vttest::Later([&sinceExit, window] {
                sinceExit.start();
                window->close();
            });
        });

        QCOMPARE(app.Run(), 0);
        const qint64 took = sinceExit.elapsed();
        device.sim.faults().Thaw();
        QVERIFY(wasConnected);
        QVERIFY2(answerer.Unexpected().isEmpty(), qPrintable(answerer.Unexpected().join('\n')));
        // The 2 s bound and the second a cut request takes; the end page
        // itself would have waited 250 s.
        QVERIFY2(took < 30000, qPrintable(QString::number(took)));
    }

    // The utility killed mid-job leaves the device locked, its job record
    // and its work folder. The next login offers to release the device; the
    // next job beside it removes the folder; vtbox unlock releases it too.
    void AKilledJobIsReleasedByTheNextLoginAndByVtboxUnlock() {
        vttest::KeepCwd keep;
        vttest::UtilityDevice device;
        const std::string folder = device.sim.dir / "Backups";
        fs::create_directories(folder);
        const std::string target = folder + "/office.zip";
        const uint32_t port = device.sim.device->HttpPort();

        const int killed = KillJobMidWay(device, target);
        QVERIFY(killed > 0);
        std::optional<vtjobs::JobRecord> record = vtjobs::ReadJobRecord("127.0.0.1", port);
        QVERIFY(record && record->pid == killed && record->mode == 0);
        QVERIFY(DeviceLocked(device));
        QCOMPARE(vttest::WorkFoldersIn(folder).size(), size_t(1));

        // A device that refuses the release keeps the job's record, so that
        // the next login can still offer it.
        {
            device.sim.faults().ForceResult("boxnwBoxExModeOut", 203);
            vttest::ModalAnswerer refused;
            refused.AnswerMessage(QMessageBox::Yes);
            device.Login();
            device.sim.faults().Clear();
            QVERIFY(refused.Done());
            QVERIFY(!device.session.Connected());
            QVERIFY(vtjobs::ReadJobRecord("127.0.0.1", port));
            QVERIFY(DeviceLocked(device));
        }

        vttest::ModalAnswerer answerer;
        answerer.AnswerMessage(QMessageBox::Yes, [](QMessageBox *box) { QCOMPARE(box->text(), Text(407)); });
        device.Login();
        QVERIFY(answerer.Done());
        QVERIFY(answerer.Unexpected().isEmpty());
        QVERIFY(device.session.Connected());
        QVERIFY(!vtjobs::ReadJobRecord("127.0.0.1", port));
        QVERIFY(!DeviceLocked(device));

        vtutil::JobRequest request;
        request.target = target;
        request.boxes = {1};
        QCOMPARE(vttest::RunJobWithoutWindow(device.session, request).state, vtutil::kJobFinished);
        QVERIFY(vttest::WorkFoldersIn(folder).empty());

        QVERIFY(KillJobMidWay(device, target) > 0);
        QVERIFY(DeviceLocked(device));
        QProcess vtbox;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("VTBOX_PASSWORD", "admin");
        vtbox.setProcessEnvironment(env);
        vtbox.start(VTBOX_PROGRAM, {"--host", "127.0.0.1", "--port", QString::number(port), "--ftp-port",
                                    QString::number(device.sim.device->FtpPort()), "unlock"});
        QVERIFY(vtbox.waitForFinished(60000));
        const QString said = QString::fromUtf8(vtbox.readAllStandardOutput() + vtbox.readAllStandardError());
        QVERIFY2(vtbox.exitCode() == 0 && said.contains("released the device"), qPrintable(said));
        QVERIFY(!DeviceLocked(device));
        QVERIFY(!vtjobs::ReadJobRecord("127.0.0.1", port));
    }
};

QTEST_MAIN(DeviceReleaseTest)
#include "test_device_release.moc"
