// Saves pictures of the utility's windows for people to look at (not a
// test): the login dialog, the main window on each page and enlarged, the
// Device menu, the device choice, a question, the about box, and a backup
// and a restore from the pages: the file dialog, the progress window mid-job,
// the questions before a backup (a folder to make, a file to replace) and a
// folder that cannot be examined,
// the restore mode question, the report of every outcome, the chooser of
// documents (ticked in part, then filtered) and the page it leaves; the set-up of
// automatic backup, the main window waiting for its first run, and the
// result window of automatic runs of every kind; a device that does not
// answer its release (the progress window waiting, the report), the next
// login offering to release it, a restore cut short and a failure's details;
// the schedule handed to the system, the program's own log and help viewers,
// and the main window once the device is gone.
//
//   utility_screenshots OUTPUT_FOLDER PASSWORD BACKUP_FOLDER
//
// The backup is written into BACKUP_FOLDER.
// The device is the chosen one of the registry store (VTBOX_REGISTRY_DIR,
// VTBOX_HTTP_PORT); scripts/screenshots sets everything up.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QTreeWidget>
#include <cstdio>

#include "about_dlg.hpp"
#include "auto_backup_dlg.hpp"
#include "backup_page.hpp"
#include "backup_restore_dlg.hpp"
#include "br_file_dialog.hpp"
#include "brd_registry.hpp"
#include "choose_documents_dlg.hpp"
#include "device_session.hpp"
#include "device_wait_dlg.hpp"
#include "error_text.hpp"
#include "file_viewer.hpp"
#include "job_report.hpp"
#include "language.hpp"
#include "log_path.hpp"
#include "login_dlg.hpp"
#include "message_box.hpp"
#include "modal_answerer.hpp"
#include "progress_dlg.hpp"
#include "recent_jobs_dlg.hpp"
#include "restore_mode_dlg.hpp"
#include "restore_pg.hpp"
#include "result_dlg.hpp"
#include "select_devices_dlg.hpp"
#include "system_schedule.hpp"
#include "system_schedule_dlg.hpp"
#include "text_ids.hpp"
#include "va_property_sheet.hpp"

namespace {

QDir g_out;

// Saves a picture of the widget as it is now: on a real X server as the
// screen shows it, with the window manager's frame and title; elsewhere the
// widget alone.
void Grab(QWidget *widget, const char *name) {
    const QString path = g_out.filePath(QString::fromLatin1(name));
    QPixmap picture = widget->grab();
    if (QGuiApplication::platformName() == QLatin1String("xcb") && widget->isWindow()) {
        widget->raise();
        widget->activateWindow();
        // Until the window manager has framed it.
        QTest::qWait(300);
        for (int i = 0; i < 20 && widget->frameGeometry() == widget->geometry(); ++i) QTest::qWait(100);
        const QRect frame = widget->frameGeometry();
        picture = widget->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    }
    if (!picture.save(path))
        std::fprintf(stderr, "utility_screenshots: cannot write %s\n", qPrintable(path));
    else
        std::printf("%s\n", qPrintable(path));
}

// Saves it once it has settled.
void Save(QWidget *widget, const char *name) {
    QTest::qWait(400);
    Grab(widget, name);
}

// Saves the progress window once it shows a document on its way, and the
// report when the job has ended.
void WatchJob(vttest::ModalAnswerer &answerer, const char *progressName, const char *reportName) {
    answerer.LetStay<vtutil::CProgressDlg>();
    answerer.Then([progressName](QWidget *modal) {
        auto *progress = qobject_cast<vtutil::CProgressDlg *>(modal);
        if (!progress || progress->Bar()->value() < 30 || progress->StatusLine()->text().isEmpty()) return false;
        Grab(progress, progressName);
        return true;
    });
    answerer.AnswerMessage(QMessageBox::Ok, [reportName](QMessageBox *box) { Grab(box, reportName); });
}

void SaveReport(QWidget *parent, const vtutil::JobReport &report, const char *name) {
    std::unique_ptr<QMessageBox> box = vtutil::MakeReportBox(parent, report);
    box->show();
    Save(box.get(), name);
}

// Asks the simulated device's control page for a fault ("fault?kind=thaw").
void DeviceFault(const vtutil::AppState &state, const QString &query) {
    QNetworkAccessManager network;
    const QUrl url(QStringLiteral("http://%1:%2/devicesim/%3")
                       .arg(QString::fromStdString(state.deviceAddress))
                       .arg(vtutil::BoxServicePort())
                       .arg(query));
    QNetworkReply *reply = network.get(QNetworkRequest(url));
    QEventLoop wait;
    QObject::connect(reply, &QNetworkReply::finished, &wait, &QEventLoop::quit);
    wait.exec();
    if (reply->error() != QNetworkReply::NoError)
        std::fprintf(stderr, "utility_screenshots: %s: %s\n", qPrintable(url.toString()),
                     qPrintable(reply->errorString()));
    reply->deleteLater();
}

// The whole screen, window frames and all, as the window manager shows it.
void GrabScreen(const char *name) {
    QTest::qWait(400);
    const QString path = g_out.filePath(QString::fromLatin1(name));
    if (!QGuiApplication::primaryScreen()->grabWindow(0).save(path))
        std::fprintf(stderr, "utility_screenshots: cannot write %s\n", qPrintable(path));
    else
        std::printf("%s\n", qPrintable(path));
}

// A device that stops answering while the box list is read again (F5): the
// wait dialog, and the message once the user stopped waiting.
void WaitPictures(vtutil::CBackupRestoreDlg &window, const vtutil::AppState &state) {
    DeviceFault(state, QStringLiteral("fault?kind=freeze&scope=web&page=boxnwGetBoxList"));
    vttest::ModalAnswerer answerer;
    answerer.OnDialog<vtutil::CDeviceWaitDlg>([](vtutil::CDeviceWaitDlg *wait) {
        GrabScreen("screen-device-wait.png");
        Grab(wait, "device-wait.png");
        vttest::Later([wait] { wait->CancelButton()->click(); });
    });
    answerer.AnswerMessage(QMessageBox::Ok, [](QMessageBox *box) { Grab(box, "message-device-did-not-answer.png"); });
    window.Action(vtutil::CBackupRestoreDlg::Command::Refresh)->trigger();
    if (!answerer.Done())
        std::fprintf(stderr, "utility_screenshots: the wait for the device did not run as expected\n");
    DeviceFault(state, QStringLiteral("fault?kind=thaw"));
}

// A device slow to lock its panel: the progress window counting the wait
// down, "Stopping..." once the cancel is confirmed, and the report of the
// cancelled backup.
void CancelPictures(vtutil::CBackupRestoreDlg &window, vtutil::AppState &state, const QString &backupFolder) {
    window.Sheet()->setCurrentIndex(0);
    window.BackupPage()->TargetEdit()->setText(QDir(backupFolder).filePath(QStringLiteral("print-room-3.zip")));
    DeviceFault(state, QStringLiteral("fault?kind=delay&page=boxnwBoxExModeIn&seconds=5&times=1"));
    vttest::ModalAnswerer answerer;
    answerer.LetStay<vtutil::CProgressDlg>();
    answerer.Then([](QWidget *modal) {
        auto *progress = qobject_cast<vtutil::CProgressDlg *>(modal);
        if (!progress || progress->PhaseLine()->text() != vtutil::Text(vtutil::ids::kJobLocking)) return false;
        Grab(progress, "progress-locking.png");
        vttest::Later([progress] { progress->CancelButton()->click(); });
        return true;
    });
    answerer.AnswerMessage(QMessageBox::Yes);
    answerer.Then([](QWidget *modal) {
        auto *progress = qobject_cast<vtutil::CProgressDlg *>(modal);
        if (!progress || qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) return false;
        // The release follows within a second: whichever shows first.
        const QString line = progress->PhaseLine()->text();
        if (line != vtutil::Text(vtutil::ids::kWaitStopping) && line != vtutil::Text(vtutil::ids::kReleasingAccount))
            return false;
        Grab(progress, "progress-stopping.png");
        return true;
    });
    answerer.AnswerMessage(QMessageBox::Ok, [](QMessageBox *box) { Grab(box, "message-backup-cancelled.png"); });
    window.ActionButton()->click();
    if (!answerer.Done()) std::fprintf(stderr, "utility_screenshots: the cancel did not run as expected\n");
}

// A device that does not answer the release of a backup: the progress window
// waiting for it, Stop Waiting, the report; then the next login, which finds
// the device held and offers to release it. A restore cut short and a
// failure's details, as the pages report them.
void ReleasePictures(vtutil::CBackupRestoreDlg &window, vtutil::DeviceSession &session, vtutil::AppState &state,
                     const QString &backupFolder, const QString &password) {
    window.Sheet()->setCurrentIndex(0);
    window.BackupPage()->TargetEdit()->setText(QDir(backupFolder).filePath(QStringLiteral("print-room-2.zip")));
    DeviceFault(state, QStringLiteral("fault?kind=freeze&scope=device&page=boxnwDeleteFTPAccount"));
    {
        vttest::ModalAnswerer answerer;
        answerer.LetStay<vtutil::CProgressDlg>();
        answerer.Then([](QWidget *modal) {
            auto *progress = qobject_cast<vtutil::CProgressDlg *>(modal);
            if (!progress || progress->CancelButton()->text() != vtutil::Text(vtutil::ids::kStopWaiting)) return false;
            GrabScreen("screen-releasing.png");
            Grab(progress, "progress-releasing.png");
            vttest::Later([progress] { progress->CancelButton()->click(); });
            return true;
        });
        answerer.AnswerMessage(QMessageBox::Ok, [](QMessageBox *box) { Grab(box, "message-not-released.png"); });
        window.ActionButton()->click();
        if (!answerer.Done()) std::fprintf(stderr, "utility_screenshots: the release did not run as expected\n");
    }
    DeviceFault(state, QStringLiteral("fault?kind=thaw"));
    {
        vttest::ModalAnswerer answerer;
        answerer.OnDialog<vtutil::CLoginDlg>([password](vtutil::CLoginDlg *login) {
            QTest::keyClicks(login->PasswordEdit(), password);
            vttest::Later([login] { login->OkButton()->click(); });
        });
        answerer.AnswerMessage(QMessageBox::Yes, [](QMessageBox *box) {
            GrabScreen("screen-release-left-job.png");
            Grab(box, "message-release-left-job.png");
        });
        window.Action(vtutil::CBackupRestoreDlg::Command::Refresh)->trigger();
        if (!answerer.Done() || !session.Connected())
            std::fprintf(stderr, "utility_screenshots: the login did not release the device\n");
    }

    vtutil::JobOutcome partial;
    partial.result = 12029;
    partial.jobResult = 12029;
    partial.documentsDone = 14;
    partial.detail = QStringLiteral(
        "the FTP upload of /SHR/BOX/DATA/B0000002/P0000001/D0000015/PAGE0001.DAT: "
        "Couldn't connect to server");
    SaveReport(&window, vtutil::RestoreReport(partial), "message-restore-partial.png");

    vtutil::JobOutcome refused;
    refused.result = 5;
    refused.detail = QStringLiteral("The work folder could not be made in /srv/backups: Permission denied");
    std::unique_ptr<QMessageBox> box = vtutil::MakeReportBox(&window, vtutil::BackupReport(refused));
    box->show();
    for (QAbstractButton *button : box->buttons())
        if (box->buttonRole(button) == QMessageBox::ActionRole) button->click();
    Save(box.get(), "message-details.png");
}

}  // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: utility_screenshots OUTPUT_FOLDER PASSWORD BACKUP_FOLDER\n");
        return 2;
    }
    const QString backupFolder = QString::fromLocal8Bit(argv[3]);
    g_out = QDir(QString::fromLocal8Bit(argv[1]));
    if (!vtutil::Language::Instance().LoadFrom(QStringLiteral(VTUTIL_LANGUAGE_LIBRARY))) {
        std::fprintf(stderr, "utility_screenshots: cannot load %s\n", VTUTIL_LANGUAGE_LIBRARY);
        return 1;
    }
    std::optional<vtutil::ChosenDevice> chosen = vtutil::ReadChosenDevice();
    if (!chosen) {
        std::fprintf(stderr, "utility_screenshots: no chosen device in the registry store\n");
        return 1;
    }
    vtutil::AppState state;
    state.deviceAddress = chosen->address;
    state.deviceName = chosen->name;
    vtutil::DeviceSession session(state);
    vtutil::ReportSessionErrorsInMessageBoxes(session);
    vtutil::WaitForDeviceWithDialog(session);

    vtutil::CLoginDlg login(session);
    login.show();
    QTest::keyClicks(login.PasswordEdit(), QString::fromLocal8Bit(argv[2]));
    Save(&login, "login.png");
    login.accept();
    if (!session.Connected()) {
        std::fprintf(stderr, "utility_screenshots: the login failed\n");
        return 1;
    }

    vtutil::CBackupRestoreDlg window(state, session);
    window.show();
    const QString backupFile = QDir(backupFolder).filePath(QStringLiteral("print-room.zip"));
    window.BackupPage()->TargetEdit()->setText(backupFile);
    Save(&window, "main-backup.png");

    {
        vtutil::CBRFileDialog files(backupFolder, QStringLiteral("20250314_093000"), &window);
        files.resize(640, 420);
        files.show();
        Save(&files, "file-dialog.png");
    }

    // A backup from the page.
    {
        vttest::ModalAnswerer answerer;
        WatchJob(answerer, "progress-backup.png", "message-backup-finished.png");
        window.ActionButton()->click();
        if (!answerer.Done()) std::fprintf(stderr, "utility_screenshots: the backup did not run as expected\n");
    }

    // The questions and the message before a backup starts: a folder to
    // make, a folder the system cannot look at, a file to replace.
    {
        vttest::ModalAnswerer answerer;
        answerer.AnswerMessage(QMessageBox::No, [](QMessageBox *box) { Grab(box, "question-create-folder.png"); });
        window.BackupPage()->TargetEdit()->setText(QDir(backupFolder).filePath(QStringLiteral("2026/print-room.zip")));
        window.ActionButton()->click();
        const QString loop = QDir(backupFolder).filePath(QStringLiteral("loop"));
        QFile::link(QStringLiteral("loop"), loop);
        answerer.AnswerMessage(QMessageBox::Ok, [](QMessageBox *box) { Grab(box, "message-folder-unusable.png"); });
        window.BackupPage()->TargetEdit()->setText(loop + QStringLiteral("/print-room.zip"));
        window.ActionButton()->click();
        QFile::remove(loop);
        answerer.AnswerMessage(QMessageBox::Yes, [](QMessageBox *box) { Grab(box, "question-replace-file.png"); });
        window.BackupPage()->TargetEdit()->setText(backupFile);
        if (!answerer.Done()) std::fprintf(stderr, "utility_screenshots: the questions did not come as expected\n");
    }

    // The restore page with the file's boxes, the question before a restore,
    // and the restore itself, keeping both documents.
    window.Sheet()->setCurrentIndex(1);
    window.RestorePage()->PathEdit()->setText(backupFile);
    Save(&window, "main-restore.png");
    {
        vttest::ModalAnswerer answerer;
        answerer.OnDialog<vtutil::CRestoreModeDlg>([](vtutil::CRestoreModeDlg *mode) {
            mode->KeepBothButton()->setChecked(true);
            Grab(mode, "restore-mode.png");
            vttest::Later([mode] { mode->accept(); });
        });
        WatchJob(answerer, "progress-restore.png", "message-restore-finished.png");
        window.ActionButton()->click();
        if (!answerer.Done()) std::fprintf(stderr, "utility_screenshots: the restore did not run as expected\n");
    }

    // The chooser of documents on the first box: a folder ticked in part
    // and a document of the top level; then filtered; and the page with the
    // choice. The file is read again afterwards, which undoes the choice.
    window.RestorePage()->PathEdit()->clear();
    window.RestorePage()->PathEdit()->setText(backupFile);
    {
        vttest::ModalAnswerer answerer;
        answerer.OnDialog<vtutil::CChooseDocumentsDlg>([](vtutil::CChooseDocumentsDlg *chooser) {
            QTreeWidget *tree = chooser->Tree();
            QTreeWidgetItem *folder = tree->topLevelItem(0);
            folder->setExpanded(true);
            folder->setCheckState(0, Qt::Checked);
            if (folder->childCount() > 1) folder->child(1)->setCheckState(0, Qt::Unchecked);
            tree->topLevelItem(tree->topLevelItemCount() - 1)->setCheckState(0, Qt::Checked);
            Grab(chooser, "choose-documents.png");
            QTest::keyClicks(chooser->FilterEdit(), QStringLiteral("doc 1.2."));
            Grab(chooser, "choose-documents-filtered.png");
            vttest::Later([chooser] { chooser->OkButton()->click(); });
        });
        window.RestorePage()->ChooseButton()->click();
        if (!answerer.Done()) std::fprintf(stderr, "utility_screenshots: the chooser did not run as expected\n");
        Save(&window, "main-restore-chosen.png");
    }
    window.RestorePage()->PathEdit()->clear();
    window.RestorePage()->PathEdit()->setText(backupFile);

    // The recent jobs: the backup and the restore above, and a restore of
    // vtbox's that failed; the File menu that opens them, and the recent
    // backups under the restore page's Browse.
    {
        vtjobs::HistoryEntry vtbox;
        vtbox.started = QDateTime::currentSecsSinceEpoch();
        vtbox.operation = vtjobs::HistoryOperation::Restore;
        vtbox.outcome = vtjobs::HistoryOutcome::Failed;
        vtbox.device = "192.0.2.10";
        vtbox.boxes = {1, 2};
        vtbox.file = QDir(backupFolder).filePath(QStringLiteral("weekly.zip")).toStdString();
        vtbox.documents = 0;
        vtbox.seconds = 4.2;
        vtbox.reason = "The device does not answer (12002): no answer within 60 seconds";
        vtjobs::AppendJobHistory(vtbox);
        if (QMenu *file = window.Menus().value(0)) {
            file->popup(window.mapToGlobal(QPoint(10, 30)));
            Save(file, "menu-file.png");
            file->hide();
        }
        vttest::ModalAnswerer answerer;
        answerer.OnDialog<vtutil::CRecentJobsDlg>([](vtutil::CRecentJobsDlg *recent) {
            recent->List()->setCurrentItem(recent->List()->topLevelItem(1));
            Grab(recent, "recent-jobs.png");
            vttest::Later([recent] { recent->reject(); });
        });
        window.Action(vtutil::CBackupRestoreDlg::Command::RecentJobs)->trigger();
        answerer.Then([](QWidget *) {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            if (!menu || !menu->isVisible()) return false;
            Grab(menu, "menu-recent-files.png");
            vttest::Later([menu] { menu->close(); });
            return true;
        });
        window.RestorePage()->BrowseButton()->click();
        if (!answerer.Done()) std::fprintf(stderr, "utility_screenshots: the recent jobs did not show as expected\n");
    }

    // The other outcomes, as the pages report them.
    vtutil::JobOutcome failed;
    failed.result = 12029;
    SaveReport(&window, vtutil::BackupReport(failed), "message-backup-failed.png");
    vtutil::JobOutcome cancelled;
    cancelled.state = vtutil::kJobCancelled;
    SaveReport(&window, vtutil::BackupReport(cancelled), "message-backup-cancelled.png");
    vtutil::JobOutcome tooMany;
    tooMany.result = 8260;
    tooMany.lastPhase = VTPHASE_TOO_MANY_DOCUMENTS;
    tooMany.boxName = QStringLiteral("Sales");
    tooMany.folderName = QStringLiteral("Quotes 2025");
    SaveReport(&window, vtutil::RestoreReport(tooMany), "message-restore-failed.png");
    SaveReport(&window, vtutil::RestoreReport(cancelled), "message-restore-cancelled.png");

    // Automatic backup: the set-up window, the main window waiting for the
    // first run, then stopped by the user.
    window.Sheet()->setCurrentIndex(0);
    window.BackupPage()->TargetEdit()->setText(QDir(backupFolder).filePath(QStringLiteral("nightly.zip")));
    {
        vttest::ModalAnswerer answerer;
        answerer.OnDialog<vtutil::CAutoBackupDlg>([](vtutil::CAutoBackupDlg *setUp) {
            setUp->RepeatList()->setCurrentIndex(1);
            Grab(setUp, "auto-setup.png");
            vttest::Later([setUp] { setUp->SetButton()->click(); });
        });
        window.Action(vtutil::CBackupRestoreDlg::Command::AutomaticBackup)->trigger();
        Save(&window, "main-waiting.png");
        answerer.AnswerMessage(QMessageBox::Yes, [](QMessageBox *box) { Grab(box, "message-stop-automatic.png"); });
        window.ActionButton()->click();
        if (!answerer.Done()) std::fprintf(stderr, "utility_screenshots: the schedule did not run as expected\n");
    }

    // The result window of automatic runs, of every kind.
    {
        const std::pair<int, const char *> kinds[] = {
            {vtutil::CResultDlg::kFinished, "result-1-finished.png"},
            {-vtutil::CResultDlg::kFinished, "result-1-not-released.png"},
            {vtutil::CResultDlg::kCancelled, "result-2-stopped.png"},
            {vtutil::CResultDlg::kFailed, "result-3-failed.png"},
            {vtutil::CResultDlg::kRetriesUsedUp, "result-4-retries-used-up.png"},
            {vtutil::CResultDlg::kRetryPlanned, "result-5-retry.png"},
            {vtutil::CResultDlg::kBoxesDeleted, "result-6-boxes-deleted.png"},
            {vtutil::CResultDlg::kStopped, "result-7-schedule-stopped.png"},
        };
        vtutil::CResultDlg *result = nullptr;
        for (const auto &[kind, name] : kinds) {
            // Finished, but the device was not released (negative: the same
            // kind with a release's failure). A failure carries the engine's
            // account of it behind Show Details.
            const uint32_t code = kind < 0 ? 1460 : kind == 1 ? 0 : 12029;
            const QString detail = kind < 0
                                       ? QStringLiteral("unlocking the panel: the device did not answer within 60 s")
                                       : QStringLiteral("connecting to 192.0.2.10:8080: no answer (connect timed out)");
            result = window.ShowResult(kind < 0 ? -kind : kind, code,
                                       code == 0 ? QString() : vtutil::FailureDetails(code, detail));
            if (kind == vtutil::CResultDlg::kFinished || kind == -vtutil::CResultDlg::kFinished) {
                vtutil::JobOutcome done;
                done.file = QDir(backupFolder).filePath(QStringLiteral("nightly_001.zip"));
                done.fileBytes = 3 * 1024 * 1024 + 123456;
                done.boxes = 3;
                done.documentsDone = 42;
                done.seconds = 75;
                result->SetSummary(vtutil::BackupSummary(done));
            }
            Save(result, name);
            if (kind == vtutil::CResultDlg::kFailed && result->DetailsButton()) {
                result->DetailsButton()->click();
                Save(result, "result-3-failed-details.png");
            }
        }
        result->accept();
    }
    window.Sheet()->setCurrentIndex(0);
    window.resize(820, 680);
    Save(&window, "main-enlarged.png");
    window.resize(450, 550);

    QMenu *device = window.Menus().value(3);
    if (device) {
        window.Sheet()->setCurrentIndex(1);
        device->popup(window.mapToGlobal(QPoint(120, 40)));
        Save(device, "menu-device.png");
        device->hide();
        window.Sheet()->setCurrentIndex(0);
    }

    vtutil::CSelectDevicesDlg choose(state, &window);
    choose.show();
    Save(&choose, "device-choice.png");
    choose.hide();

    // The question before the storage is initialised, as the command asks it
    // (answered No).
    {
        window.Sheet()->setCurrentIndex(1);
        vttest::ModalAnswerer answerer;
        answerer.AnswerMessage(QMessageBox::No, [](QMessageBox *box) { Grab(box, "message-initialise.png"); });
        window.Action(vtutil::CBackupRestoreDlg::Command::InitialiseStorage)->trigger();
        window.Sheet()->setCurrentIndex(0);
    }

    // Automatic backup handed to the system, shown in its window. The
    // service manager is a stand-in here (scripts/screenshots has none).
    {
        vtutil::SetSystemctlProgram(QStringLiteral("/bin/true"));
        window.BackupPage()->TargetEdit()->setText(QDir(backupFolder).filePath(QStringLiteral("nightly.zip")));
        vttest::ModalAnswerer answerer;
        answerer.OnDialog<vtutil::CAutoBackupDlg>([](vtutil::CAutoBackupDlg *setUp) {
            setUp->RepeatList()->setCurrentIndex(1);
            setUp->ProgramClosedBox()->setChecked(true);
            Grab(setUp, "auto-setup-program-closed.png");
            vttest::Later([setUp] { setUp->SetButton()->click(); });
        });
        answerer.AnswerMessage(QMessageBox::Ok, [](QMessageBox *box) { Grab(box, "message-program-closed.png"); });
        window.Action(vtutil::CBackupRestoreDlg::Command::AutomaticBackup)->trigger();
        // The question before Remove is answered by the step after, so the
        // click goes through Later.
        answerer.OnDialog<vtutil::CSystemScheduleDlg>([](vtutil::CSystemScheduleDlg *dlg) {
            Grab(dlg, "system-schedule.png");
            vttest::Later([dlg] { dlg->RemoveButton()->click(); });
        });
        answerer.AnswerMessage(QMessageBox::Yes,
                               [](QMessageBox *box) { Grab(box, "message-remove-program-closed.png"); });
        answerer.OnDialog<vtutil::CSystemScheduleDlg>(
            [](vtutil::CSystemScheduleDlg *dlg) { vttest::Later([dlg] { dlg->reject(); }); });
        window.Action(vtutil::CBackupRestoreDlg::Command::SystemSchedule)->trigger();
        if (!answerer.Done())
            std::fprintf(stderr, "utility_screenshots: the schedule was not handed over as expected\n");
        vtutil::SetSystemctlProgram(QString());
    }

    // The program's own viewers, as without a desktop opener.
    {
        vtutil::CFileViewerDlg log(vtutil::CFileViewerDlg::Kind::Text, vtutil::UtilityLogPath(),
                                   vtutil::Text(vtutil::ids::kLogTitleViewer), &window);
        log.setAttribute(Qt::WA_DeleteOnClose, false);
        log.show();
        Save(&log, "viewer-log.png");
        log.hide();
        vtutil::CFileViewerDlg help(
            vtutil::CFileViewerDlg::Kind::Html,
            QFileInfo(QStringLiteral(VTUTIL_PROGRAM)).dir().filePath(QStringLiteral("backup.html")),
            vtutil::Text(vtutil::ids::kHelpTitle), &window);
        help.setAttribute(Qt::WA_DeleteOnClose, false);
        help.show();
        Save(&help, "viewer-help.png");
        help.hide();
    }

    vtutil::CAboutDlg about(&window);
    about.show();
    Save(&about, "about.png");
    about.hide();

    CancelPictures(window, state, backupFolder);
    ReleasePictures(window, session, state, backupFolder, QString::fromLocal8Bit(argv[2]));
    WaitPictures(window, state);
    // The device gone: the status bar says how to connect again.
    window.MarkSessionLost();
    Save(&window, "main-not-connected.png");

    session.Close();
    return 0;
}
