// The main window's device commands against the simulated device.
#include <unistd.h>

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <atomic>
#include <thread>

#include "backup_page.hpp"
#include "backup_restore_dlg.hpp"
#include "box_list.hpp"
#include "device_wait_dlg.hpp"
#include "error_text.hpp"
#include "file_viewer.hpp"
#include "job_record.hpp"
#include "job_report.hpp"
#include "language.hpp"
#include "login_dlg.hpp"
#include "modal_answerer.hpp"
#include "program_files.hpp"
#include "restore_pg.hpp"
#include "status_bar.hpp"
#include "utility_fixture.hpp"
#include "va_property_sheet.hpp"

using Command = vtutil::CBackupRestoreDlg::Command;

namespace {

int BackupRows(vtutil::CBackupRestoreDlg &window) { return window.BackupPage()->List()->topLevelItemCount(); }
int RestoreRows(vtutil::CBackupRestoreDlg &window) { return window.RestorePage()->List()->topLevelItemCount(); }

// Far below the page time-outs of a frozen device (minutes to hours), and far
// above the second a cancelled request takes.
constexpr qint64 kPromptEndMs = 30000;

// Clicks Cancel on the next wait dialog once it says waitText, noting when,
// and that the event loop ran while the window waited (ticks counted by a
// timer).
void CancelWait(vttest::ModalAnswerer &answerer, const QString &waitText, const int &ticks, QElapsedTimer &clicked) {
    answerer.OnDialog<vtutil::CDeviceWaitDlg>([waitText, &ticks, &clicked](vtutil::CDeviceWaitDlg *wait) {
        QCOMPARE(wait->WaitLine()->text(), waitText);
        QVERIFY(ticks > 0);
        clicked.start();
        vttest::Later([wait] { wait->CancelButton()->click(); });
    });
}

// Initialise storage is a command of the restore page.
void ShowRestorePage(vtutil::CBackupRestoreDlg &window) {
    window.Sheet()->setCurrentWidget(window.RestorePage());
    QVERIFY(window.Action(Command::InitialiseStorage)->isEnabled());
}

std::vector<std::string> BoxesOnDevice(vttest::UtilityDevice &device) {
    VTMFPSESSION s = device.sim.Session();
    std::vector<std::string> names;
    if (vtBoxOpenConnection(&s) != 0) return {"<no session>"};
    uint32_t count = 0;
    VTBOX *boxes = nullptr;
    if (HGLOBAL block = vtBoxGetBoxList(&s, &count, &boxes)) {
        for (uint32_t i = 0; i < count; ++i) names.push_back(boxes[i].BoxName);
        GlobalFree(block);
    }
    vtBoxCloseConnection(&s);
    return names;
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(vtutil::Language::Instance().LoadFrom(VTUTIL_LANGUAGE_LIBRARY)); }

    void InitialiseStorageEmptiesTheDevice() {
        vttest::UtilityDevice device;
        device.Login();
        vtutil::CBackupRestoreDlg window(device.app, device.session);
        window.show();
        QCOMPARE(BackupRows(window), 3);
        ShowRestorePage(window);

        vttest::ModalAnswerer answerer;
        answerer.AnswerMessage(QMessageBox::No, [](QMessageBox *box) {
            // The question names the device whose boxes go.
            QVERIFY(box->text().startsWith(vtutil::FormatText(vtutil::Text(507), "Print room (127.0.0.1)") + "\n"));
            QVERIFY(box->text().endsWith(vtutil::Text(63)));
        });
        window.Action(Command::InitialiseStorage)->trigger();
        QCOMPARE(BoxesOnDevice(device).size(), size_t(3));

        answerer.AnswerMessage(QMessageBox::Yes);
        window.Action(Command::InitialiseStorage)->trigger();
        QVERIFY(answerer.Unexpected().isEmpty());
        QCOMPARE(answerer.Messages()[1].caption, vtutil::Text(89));
        QVERIFY(BoxesOnDevice(device).empty());
        QCOMPARE(BackupRows(window), 0);
        QVERIFY(device.session.Connected());
        QVERIFY(window.Status()->ShowsConnected());
        QCOMPARE(window.Status()->Activity(), vtutil::Text(34));
        // The device was locked as a restore locks it, and given back.
        QCOMPARE(device.CountRequests("boxnwBoxExModeIn?"), size_t(1));
        QCOMPARE(device.CountRequests("boxnwBoxExModeIn?", "&MOD=1"), size_t(1));
        QCOMPARE(device.CountRequests("boxnwBoxExModeOut?", "&MOD=1"), size_t(1));
    }

    // While Initialise Storage holds the device, its job record names this
    // process and the restore's lock mode, so that a program killed then
    // leaves the device to vtbox unlock and the next login; once the device
    // is given back the record goes, and when it is not, the record stays as
    // that of an ended job.
    void InitialiseStorageKeepsAJobRecordWhileItHoldsTheDevice() {
        vttest::UtilityDevice device;
        device.Login();
        vtutil::CBackupRestoreDlg window(device.app, device.session);
        window.show();
        ShowRestorePage(window);
        const uint32_t port = device.sim.device->HttpPort();
        device.sim.faults().DelayReply("boxnwDeleteAllBox", 2, 1);

        // The window's thread waits on the device meanwhile: the record is
        // looked at from another one.
        std::atomic<bool> stop{false};
        std::optional<vtjobs::JobRecord> seen;
        std::thread watch([&] {
            while (!stop && !seen) {
                seen = vtjobs::ReadJobRecord("127.0.0.1", port);
                if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        vttest::ModalAnswerer answerer;
        answerer.LetStay<vtutil::CDeviceWaitDlg>();
        answerer.AnswerMessage(QMessageBox::Yes);
        window.Action(Command::InitialiseStorage)->trigger();
        stop = true;
        watch.join();
        QVERIFY(answerer.Unexpected().isEmpty());
        QVERIFY(BoxesOnDevice(device).empty());
        QVERIFY(seen);
        QCOMPARE(seen->pid, static_cast<int>(::getpid()));
        QCOMPARE(seen->mode, 1u);
        QVERIFY(seen->sessionId != 0);
        QVERIFY(!vtjobs::ReadJobRecord("127.0.0.1", port));

        // Result 203: the device refuses the unlock.
        device.sim.faults().ForceResult("boxnwBoxExModeOut", 203, 1);
        answerer.AnswerMessage(QMessageBox::Yes);
        answerer.AnswerMessage(QMessageBox::Ok);
        window.Action(Command::InitialiseStorage)->trigger();
        QVERIFY(answerer.Done());
        std::optional<vtjobs::JobRecord> left = vtjobs::ReadJobRecord("127.0.0.1", port);
        QVERIFY(left && left->pid == 0 && left->mode == 1);
    }

    // The title names the device while connected; the status bar says how
    // to connect while not.
    void TheWindowNamesTheConnectedDevice() {
        vttest::UtilityDevice device;
        device.Login();
        vtutil::CBackupRestoreDlg window(device.app, device.session);
        window.show();
        QCOMPARE(window.windowTitle(), vtutil::Text(19) + " - Print room (127.0.0.1)");
        QCOMPARE(window.Status()->Activity(), vtutil::Text(34));
        window.MarkSessionLost();
        QCOMPARE(window.windowTitle(), vtutil::Text(19));
        QCOMPARE(window.Status()->Activity(), vtutil::Text(506));

        vttest::UtilityDevice offline;
        vtutil::CBackupRestoreDlg unconnected(offline.app, offline.session);
        QCOMPARE(unconnected.windowTitle(), vtutil::Text(19));
        QCOMPARE(unconnected.Status()->Activity(), vtutil::Text(506));
    }

    // Without a desktop opener, F1 shows the help in the program's own
    // viewer; View Log File is on the File menu.
    void HelpWithoutADesktopOpener() {
        vttest::UtilityDevice device;
        vtutil::CBackupRestoreDlg window(device.app, device.session);
        window.show();
        vtutil::SetDesktopOpener(QString::fromStdString(device.sim.dir / "no-opener"));
        window.Action(Command::Help)->trigger();
        vtutil::CFileViewerDlg *viewer = nullptr;
        QTRY_VERIFY((viewer = window.findChild<vtutil::CFileViewerDlg *>()) != nullptr);
        QCOMPARE(viewer->Path(), vtutil::HelpFilePath());
        viewer->close();
        // The help as the program finds it beside itself, as HTML.
        const QString help = QFileInfo(VTUTIL_PROGRAM).dir().filePath("backup.html");
        vtutil::CFileViewerDlg shown(vtutil::CFileViewerDlg::Kind::Html, help, "help");
        QVERIFY(shown.Browser()->document()->toPlainText().contains("Restoring"));
        QVERIFY(!shown.Browser()->document()->toPlainText().contains("<h2"));
        QVERIFY(window.Menus()[0]->actions().contains(window.Action(Command::ViewLog)));
        vtutil::SetDesktopOpener(QString());
    }

    // At the window's first size the next run's date and time are read
    // whole (the window is as wide as our font needs); a long address is
    // cut with an ellipsis.
    void TheNextRunIsShownWholeAtTheFirstSize() {
        vttest::UtilityDevice device;
        device.Login();
        vtutil::CBackupRestoreDlg window(device.app, device.session);
        window.show();
        vtutil::StatusBar *status = window.Status();
        status->SetAddress(QStringLiteral("device-in-the-second-floor-copy-room.example.org"));
        const QString next = vtutil::Text(174) + QStringLiteral(" Wednesday, September 30, 2026, 21:00");
        status->SetActivity(next);
        QLabel *activity = status->Part(0), *address = status->Part(1);
        QVERIFY(activity->contentsRect().width() >= activity->fontMetrics().horizontalAdvance(next));
        QVERIFY(address->text().contains(QChar(0x2026)));
        QVERIFY(status->Part(2)->geometry().left() >= address->geometry().right());
    }

    void LockLostToTheNetworkMarksTheSessionLost() {
        vttest::UtilityDevice device;
        device.Login();
        vtutil::CBackupRestoreDlg window(device.app, device.session);
        window.show();
        window.RestorePage()->List()->AddBox(7, "From a file", false);
        ShowRestorePage(window);
        // Result 100 reads as a time-out (1460), one of the codes of a lost device.
        device.sim.faults().ForceResult("boxnwBoxExModeIn", 100, 1);

        vttest::ModalAnswerer answerer;
        answerer.AnswerMessage(QMessageBox::Yes);
        answerer.AnswerMessage(QMessageBox::Ok, [&](QMessageBox *box) {
            // What the engine knows of the failure, behind Show Details.
            QVERIFY2(box->detailedText().contains("boxnwBoxExModeIn") &&
                         box->detailedText().endsWith(vtutil::FailureDetails(1460).section('\n', -1)),
                     qPrintable(box->detailedText()));
            // Already marked when the error shows.
            QVERIFY(!device.session.Connected());
            QCOMPARE(BackupRows(window), 0);
            QCOMPARE(RestoreRows(window), 0);
            QVERIFY(!window.Status()->ShowsConnected());
            QVERIFY(!window.ActionButton()->isEnabled());
            QVERIFY(!window.Action(Command::InitialiseStorage)->isEnabled());
        });
        window.Action(Command::InitialiseStorage)->trigger();

        QVERIFY(answerer.Done());
        QVERIFY(answerer.Unexpected().isEmpty());
        QCOMPARE(answerer.Messages()[1].text, vtutil::ErrorTextFor(1460));
        QCOMPARE(answerer.Messages()[1].icon, QMessageBox::Critical);
        QCOMPARE(BoxesOnDevice(device).size(), size_t(3));
        QCOMPARE(device.CountRequests("boxnwDeleteAllBox"), size_t(0));
    }

    void RefreshReconnectsWhenTheDeviceForgotTheSession() {
        vttest::UtilityDevice device;
        device.Login();
        vtutil::CBackupRestoreDlg window(device.app, device.session);
        window.show();
        window.BackupPage()->List()->SetAllChecked(false);
        // The device no longer knows the session (202: no session).
        device.sim.faults().ForceResult("boxnwGetBoxList", 202, 1);
        const size_t connectsBefore = device.CountRequests("boxnwConnect");

        vttest::ModalAnswerer answerer;
        window.Action(Command::Refresh)->trigger();

        QVERIFY(answerer.Unexpected().isEmpty());
        QVERIFY(device.session.Connected());
        QCOMPARE(device.CountRequests("boxnwConnect"), connectsBefore + 1);
        QCOMPARE(BackupRows(window), 3);
        QCOMPARE(window.BackupPage()->List()->CountChecked(), 3);
        QCOMPARE(window.Status()->Activity(), vtutil::Text(34));
    }

    // A device that accepts connections and never answers: refresh waits with
    // a live window, and Cancel ends the wait long before the page's time-out.
    void RefreshOnAFrozenDeviceCanBeStopped() {
        vttest::UtilityDevice device;
        device.Login();
        vtutil::CBackupRestoreDlg window(device.app, device.session);
        window.show();
        device.sim.faults().Freeze(devicesim::FreezeScope::Web, 0);
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
        ticker.start(50);

        const QString name = "Print room (127.0.0.1)";
        QElapsedTimer clicked;
        vttest::ModalAnswerer answerer;
        CancelWait(answerer, vtutil::FormatText(vtutil::Text(633), name), ticks, clicked);
        answerer.AnswerMessage(QMessageBox::Ok, [&](QMessageBox *box) {
            QCOMPARE(box->text(), vtutil::FormatText(vtutil::Text(639), name));
            QVERIFY(clicked.elapsed() < kPromptEndMs);
            QVERIFY(!device.session.Connected());
        });
        window.Action(Command::Refresh)->trigger();

        QVERIFY(answerer.Done());
        QVERIFY(answerer.Unexpected().isEmpty());
        QVERIFY(device.session.Stopped());
        QCOMPARE(device.session.LastResult(), VTBOX_E_CANCELLED);
        // Stopped means stopped: no new connection was tried behind the user's back.
        QCOMPARE(device.CountRequests("boxnwConnect"), size_t(1));
        QCOMPARE(BackupRows(window), 0);
        QVERIFY(!window.Status()->ShowsConnected());
        QVERIFY(!window.Action(Command::InitialiseStorage)->isEnabled());

        // The device answers again: F5 logs in anew, as after any lost device.
        device.sim.faults().Thaw();
        answerer.OnDialog<vtutil::CLoginDlg>([](vtutil::CLoginDlg *login) {
            login->PasswordEdit()->setText("admin");
            vttest::Later([login] { login->accept(); });
        });
        window.Action(Command::Refresh)->trigger();
        QVERIFY(answerer.Done());
        QVERIFY(answerer.Unexpected().isEmpty());
        QVERIFY(device.session.Connected());
        QCOMPARE(BackupRows(window), 3);
    }

    // Ending the session on a frozen device (between automatic runs, at exit,
    // at a change of device) waits with a live window, and Cancel ends the
    // wait at once without a message: the device ends the session itself.
    void EndingTheSessionOnAFrozenDeviceCanBeStopped() {
        vttest::UtilityDevice device;
        device.Login();
        vtutil::CBackupRestoreDlg window(device.app, device.session);
        window.show();
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
        ticker.start(50);
        const QString waitText = vtutil::FormatText(vtutil::Text(655), "Print room (127.0.0.1)");

        for (bool betweenRuns : {true, false}) {
            device.sim.faults().Freeze(devicesim::FreezeScope::Web, 0);
            QElapsedTimer clicked;
            vttest::ModalAnswerer answerer;
            CancelWait(answerer, waitText, ticks, clicked);
            const bool ended = betweenRuns ? device.session.CloseBetweenRuns() : device.session.Close();
            QVERIFY(!ended);
            QVERIFY(clicked.isValid() && clicked.elapsed() < kPromptEndMs);
            QVERIFY(answerer.Done());
            QVERIFY2(answerer.Unexpected().isEmpty(), qPrintable(answerer.Unexpected().join('\n')));
            // The next automatic run connects again by itself.
            QCOMPARE(device.session.Connected(), betweenRuns);
            device.sim.faults().Thaw();
            device.session.ConnectDevice(vtutil::ConnectReason::Connect);
            QVERIFY(device.session.Connected());
        }
    }

    // Initialising a device that froze while deleting: each wait can be
    // stopped, the message says what state the device may be in, and the job
    // record stays for the release of the panel.
    void InitialiseStorageOnAFrozenDeviceCanBeStopped() {
        vttest::UtilityDevice device;
        device.Login();
        vtutil::CBackupRestoreDlg window(device.app, device.session);
        window.show();
        ShowRestorePage(window);
        device.sim.faults().FreezeOn("boxnwDeleteAllBox", devicesim::FreezeScope::Web, 0);
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
        ticker.start(50);

        const QString name = "Print room (127.0.0.1)";
        QElapsedTimer clicked;
        vttest::ModalAnswerer answerer;
        answerer.AnswerMessage(QMessageBox::Yes);
        CancelWait(answerer, vtutil::FormatText(vtutil::Text(636), name), ticks, clicked);
        answerer.AnswerMessage(QMessageBox::Ok, [&](QMessageBox *box) {
            QCOMPARE(box->text(), vtutil::FormatText(vtutil::Text(639), name) + "\n\n" + vtutil::Text(640));
            QVERIFY(clicked.elapsed() < kPromptEndMs);
        });
        // Still frozen: the unlock waits too, and is stopped likewise.
        CancelWait(answerer, vtutil::FormatText(vtutil::Text(637), name), ticks, clicked);
        answerer.AnswerMessage(QMessageBox::Ok, [&](QMessageBox *box) {
            QCOMPARE(box->text(), vtutil::FormatText(vtutil::Text(639), name));
        });
        window.Action(Command::InitialiseStorage)->trigger();

        QVERIFY(answerer.Done());
        QVERIFY(answerer.Unexpected().isEmpty());
        QVERIFY(!device.session.Connected());
        QVERIFY(!window.Status()->ShowsConnected());
        QCOMPARE(RestoreRows(window), 0);
        // The panel may still be locked: the record of an ended job names it.
        std::optional<vtjobs::JobRecord> left = vtjobs::ReadJobRecord("127.0.0.1", device.sim.device->HttpPort());
        QVERIFY(left && left->pid == 0 && left->mode == 1);
        device.sim.faults().Thaw();
    }
};

QTEST_MAIN(MainWindowTest)
#include "test_main_window.moc"
