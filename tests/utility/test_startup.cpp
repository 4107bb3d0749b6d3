// Start-up of the utility: one instance, the chosen device or the discovery
// program, and the retry policy written at every start.
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <csignal>
#include <fstream>

#include "backup_restore_app.hpp"
#include "backup_restore_dlg.hpp"
#include "error_text.hpp"
#include "job_report.hpp"
#include "language.hpp"
#include "login_dlg.hpp"
#include "modal_answerer.hpp"
#include "program_files.hpp"
#include "read_only_folder.hpp"
#include "single_instance.hpp"
#include "utility_fixture.hpp"
#include "vtresult.h"

using vtutil::CLoginDlg;

namespace {

// A stand-in for the discovery program: notes that it ran, then does what
// the given shell line says.
QString FakeDiscovery(const vttest::TempDir &dir, const std::string &then) {
    const std::string path = dir / "fake-discover";
    std::ofstream(path) << "#!/bin/sh\ntouch '" << (dir / "discovery-ran") << "'\n" << then << "\n";
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return QString::fromStdString(path);
}

bool DiscoveryRan(const vttest::TempDir &dir) { return std::filesystem::exists(dir / "discovery-ran"); }

void CancelLogin(vttest::ModalAnswerer &answerer) {
    answerer.OnDialog<CLoginDlg>([](CLoginDlg *dialog) { vttest::Later([dialog] { dialog->reject(); }); });
}

QProcessEnvironment ProgramEnvironment() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    return env;
}

}  // namespace

class StartupTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(vtutil::Language::Instance().LoadFrom(VTUTIL_LANGUAGE_LIBRARY)); }
    void cleanup() { vtutil::SetDiscoveryProgram(QString()); }

    void StartRewritesTheRetryPolicy() {
        vttest::UtilityDevice device;
        vttest::WriteBrdValues({{vtutil::kRetryCount, "3"}, {vtutil::kRetryInterval, "1"}});
        vtutil::CBackupRestoreApp app;
        vttest::ModalAnswerer answerer;
        answerer.OnDialog<CLoginDlg>([](CLoginDlg *dialog) {
            QTest::keyClicks(dialog->PasswordEdit(), "admin");
            vttest::Later([dialog] { dialog->OkButton()->click(); });
        });
        answerer.OnWindow<vtutil::CBackupRestoreDlg>([](vtutil::CBackupRestoreDlg *window) {
            QCOMPARE(vttest::ReadBrdValue(vtutil::kRetryCount), std::string("12"));
            QCOMPARE(vttest::ReadBrdValue(vtutil::kRetryInterval), std::string("5"));
            vttest::Later([window] { window->close(); });
        });
        QCOMPARE(app.Run(), 0);
        QVERIFY(answerer.Done());
        QVERIFY(answerer.Unexpected().isEmpty());
    }

    void DiscoveryRunsOnlyWithoutAChosenDevice() {
        vttest::UtilityDevice device;
        vtutil::SetDiscoveryProgram(FakeDiscovery(device.sim.dir, "exit 0"));
        {
            vtutil::CBackupRestoreApp app;
            vttest::ModalAnswerer answerer;
            CancelLogin(answerer);
            QCOMPARE(app.Run(), 0);
            QVERIFY(answerer.Done());
        }
        QVERIFY(!DiscoveryRan(device.sim.dir));

        // Without the name the device is not known: the discovery program
        // runs, and the device it chose is the one to log in to.
        vtutil::BrdKey::Open(KEY_ALL_ACCESS).Delete(vtutil::kLastSelectedName);
        std::string chooser = "exec '";
        chooser += VTUTIL_DISCOVER_PROGRAM;
        chooser += "' --choose 127.0.0.1 --name Found";
        vtutil::SetDiscoveryProgram(FakeDiscovery(device.sim.dir, chooser));
        vtutil::CBackupRestoreApp app;
        vttest::ModalAnswerer answerer;
        CancelLogin(answerer);
        QCOMPARE(app.Run(), 0);
        QVERIFY(answerer.Done());
        QVERIFY(DiscoveryRan(device.sim.dir));
        QCOMPARE(app.State().deviceName, std::string("Found"));
    }

    void NoDeviceFoundEndsWithAMessage() {
        vttest::UtilityDevice device;
        vtutil::BrdKey::Open(KEY_ALL_ACCESS).Delete(vtutil::kLastSelectedIp);
        vtutil::SetDiscoveryProgram(FakeDiscovery(device.sim.dir, "exit 1"));
        vtutil::CBackupRestoreApp app;
        vttest::ModalAnswerer answerer;
        answerer.AnswerMessage(QMessageBox::Ok);
        QCOMPARE(app.Run(), 0);
        QVERIFY(DiscoveryRan(device.sim.dir));
        QCOMPARE(answerer.Messages().size(), size_t(1));
        QCOMPARE(answerer.Messages()[0].text, vtutil::Text(59));
        QCOMPARE(answerer.Messages()[0].caption, vtutil::Text(88));
        QVERIFY(answerer.Unexpected().isEmpty());
    }

    void SecondInstanceEndsAtOnce() {
        vttest::UtilityDevice device;
        vtutil::SingleInstance first;
        QCOMPARE(first.Acquire(), vtutil::SingleInstance::Result::Acquired);

        QProcess second;
        second.setProcessEnvironment(ProgramEnvironment());
        second.start(VTUTIL_PROGRAM, {});
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
    }

    void LockOfAKilledInstanceDoesNotBlock() {
        vttest::UtilityDevice device;
        QProcess crashed;
        crashed.setProcessEnvironment(ProgramEnvironment());
        crashed.start(VTUTIL_PROGRAM, {});
        QVERIFY(crashed.waitForStarted());
        // It holds the lock, with its process id written, while it waits at
        // the login.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(vtutil::SingleInstance::LockPath()).size() > 0, 20000);
        QCOMPARE(vtutil::SingleInstance().Acquire(), vtutil::SingleInstance::Result::AlreadyRunning);
        ::kill(static_cast<pid_t>(crashed.processId()), SIGKILL);
        QVERIFY(crashed.waitForFinished(10000));
        QVERIFY(QFile::exists(vtutil::SingleInstance::LockPath()));

        QCOMPARE(vtutil::SingleInstance().Acquire(), vtutil::SingleInstance::Result::Acquired);
    }

    // A lock file that cannot be made at all (the runtime folder is on a
    // read-only file system) is no second instance: the program says why
    // and fails.
    void ALockThatCannotBeMadeIsSaid() {
        vttest::UtilityDevice device;
        const QString runtime = QFileInfo(vtutil::SingleInstance::LockPath()).absolutePath();
        vttest::ReadOnlyFolder readOnly(runtime.toStdString());
        if (!readOnly.Mounted()) QSKIP("needs a read-only file system (root, mount namespaces)");
        vtutil::CBackupRestoreApp app;
        vttest::ModalAnswerer answerer;
        answerer.AnswerMessage(QMessageBox::Ok);
        QCOMPARE(app.Run(), 1);
        QVERIFY(answerer.Done());
        QCOMPARE(answerer.Messages()[0].text,
                 vtutil::FormatText(vtutil::Text(502), vtutil::SingleInstance::LockPath()) + "\n" +
                     vtutil::ErrorTextFor(VTBOX_E_ACCESS_DENIED));
        QCOMPARE(answerer.Messages()[0].icon, QMessageBox::Critical);
    }
};

QTEST_MAIN(StartupTest)
#include "test_startup.moc"
