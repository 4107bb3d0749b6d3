#include "backup_restore_dlg.hpp"

#include <unistd.h>

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "about_dlg.hpp"
#include "app_state.hpp"
#include "automatic_backup.hpp"
#include "backup_page.hpp"
#include "box_list.hpp"
#include "brd_registry.hpp"
#include "device_session.hpp"
#include "device_wait_dlg.hpp"
#include "discovery.hpp"
#include "error_text.hpp"
#include "file_viewer.hpp"
#include "icons.hpp"
#include "job_record.hpp"
#include "job_report.hpp"
#include "language.hpp"
#include "login_dlg.hpp"
#include "message_box.hpp"
#include "recent_jobs_dlg.hpp"
#include "restore_pg.hpp"
#include "result_dlg.hpp"
#include "schedule.hpp"
#include "select_devices_dlg.hpp"
#include "status_bar.hpp"
#include "system_schedule_dlg.hpp"
#include "text_ids.hpp"
#include "va_property_sheet.hpp"
#include "widget_marks.hpp"

namespace vtutil {

namespace {
constexpr QSize kFirstSize(450, 550);
constexpr const char *kRetryIntervalDefault = "5";
constexpr const char *kRetryCountDefault = "12";
constexpr uint32_t kRestoreLockMode = 1;
}  // namespace

struct CBackupRestoreDlg::PreviousDevice {
    std::string address;
    std::string name;
    std::string password;
    bool connected = false;
};

CBackupRestoreDlg::CBackupRestoreDlg(AppState &app, DeviceSession &session, QWidget *parent)
    : QMainWindow(parent), app_(app), session_(session), automatic_(new AutomaticBackup(*this, session, app)) {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowIcon(icons::Application());
    setWindowTitle(Text(ids::kMainTitle));

    status_ = new StatusBar(this);
    setStatusBar(status_);

    auto *central = new QWidget(this);
    sheet_ = new CVAPropertySheet(central);
    backupPage_ = new CBackupPage(*this, session_);
    restorePage_ = new CRestorePg(*this, session_);
    action_ = new QPushButton(central);
    action_->setObjectName(QStringLiteral("action"));
    action_->setMinimumWidth(140);
    sheet_->addTab(backupPage_, Text(ids::kBackupPageTitle));
    sheet_->addTab(restorePage_, Text(ids::kRestorePageTitle));

    auto *buttonRow = new QHBoxLayout;
    buttonRow->addStretch(1);
    buttonRow->addWidget(action_);
    auto *layout = new QVBoxLayout(central);
    layout->addWidget(sheet_, 1);
    layout->addSpacing(4);
    layout->addLayout(buttonRow);
    setCentralWidget(central);

    BuildMenus();

    // The retry policy of automatic backup starts from the same values at
    // every start, whatever was stored before.
    BrdKey key = BrdKey::Open(KEY_ALL_ACCESS);
    if (key.IsOpen()) {
        key.Write(kRetryInterval, kRetryIntervalDefault);
        key.Write(kRetryCount, kRetryCountDefault);
    }

    connect(sheet_, &QTabWidget::currentChanged, this, &CBackupRestoreDlg::OnPageChanged);
    connect(action_, &QPushButton::clicked, this, &CBackupRestoreDlg::OnAction);
    backupPage_->LoadList();
    sheet_->setCurrentIndex(0);
    OnPageChanged();
    ShowDeviceState();
}

QString CBackupRestoreDlg::DeviceText() const { return DeviceDisplayName(app_); }

void CBackupRestoreDlg::ShowDeviceState(bool idleNow) {
    setWindowTitle(session_.Connected()
                       ? FormatText(FormatText(Text(ids::kMainTitleWithDevice), Text(ids::kMainTitle)), DeviceText())
                       : Text(ids::kMainTitle));
    // What a command in progress or a waiting schedule shows stays.
    const QString ready = Text(ids::kStatusReady), notConnected = Text(ids::kStatusNotConnected);
    const QString now = status_->Activity();
    if (AutoMode() || !(idleNow || now.isEmpty() || now == ready || now == notConnected)) return;
    status_->SetActivity(session_.Connected() ? ready : notConnected);
}

QAction *CBackupRestoreDlg::AddCommand(QMenu *menu, Command command, uint32_t textId,
                                       void (CBackupRestoreDlg::*slot)()) {
    QAction *action = menu->addAction(Text(textId));
    connect(action, &QAction::triggered, this, slot);
    actions_[command] = action;
    return action;
}

QAction *CBackupRestoreDlg::Action(Command command) const { return actions_.at(command); }

void CBackupRestoreDlg::BuildMenus() {
    QMenu *file = menuBar()->addMenu(Text(ids::kMenuFile));
    AddCommand(file, Command::BackupData, ids::kMenuBackupData, &CBackupRestoreDlg::OnBackupData);
    AddCommand(file, Command::RestoreData, ids::kMenuRestoreData, &CBackupRestoreDlg::OnRestoreData);
    AddCommand(file, Command::AutomaticBackup, ids::kMenuAutomaticBackup, &CBackupRestoreDlg::OnAutomaticBackup);
    AddCommand(file, Command::SystemSchedule, ids::kMenuSystemSchedule, &CBackupRestoreDlg::OnSystemSchedule);
    AddCommand(file, Command::ViewLog, ids::kMenuViewLog, &CBackupRestoreDlg::OnViewLog);
    AddCommand(file, Command::RecentJobs, ids::kMenuRecentJobs, &CBackupRestoreDlg::OnRecentJobs);
    file->addSeparator();
    AddCommand(file, Command::Exit, ids::kMenuExit, &CBackupRestoreDlg::OnExit)
        ->setIcon(QIcon::fromTheme(QStringLiteral("application-exit")));

    QMenu *edit = menuBar()->addMenu(Text(ids::kMenuEdit));
    AddCommand(edit, Command::SelectAll, ids::kMenuSelectAll, &CBackupRestoreDlg::OnSelectAll);
    AddCommand(edit, Command::ClearAll, ids::kMenuClearAll, &CBackupRestoreDlg::OnClearAll);

    QMenu *view = menuBar()->addMenu(Text(ids::kMenuView));
    QAction *refresh = AddCommand(view, Command::Refresh, ids::kMenuRefresh, &CBackupRestoreDlg::OnRefresh);
    refresh->setShortcut(QKeySequence(Qt::Key_F5));
    refresh->setIcon(QIcon::fromTheme(QStringLiteral("view-refresh")));

    QMenu *device = menuBar()->addMenu(Text(ids::kMenuDevice));
    AddCommand(device, Command::DeviceDiscovery, ids::kMenuDeviceDiscovery, &CBackupRestoreDlg::OnDeviceDiscovery);
    AddCommand(device, Command::DeviceSettings, ids::kMenuDeviceSettings, &CBackupRestoreDlg::OnDeviceSettings);
    device->addSeparator();
    AddCommand(device, Command::InitialiseStorage, ids::kMenuInitialiseStorage,
               &CBackupRestoreDlg::OnInitialiseStorage);

    QMenu *help = menuBar()->addMenu(Text(ids::kMenuHelp));
    QAction *helpFile = AddCommand(help, Command::Help, ids::kMenuHelp, &CBackupRestoreDlg::OnHelp);
    helpFile->setShortcut(QKeySequence(Qt::Key_F1));
    helpFile->setIcon(QIcon::fromTheme(QStringLiteral("help-contents")));
    AddCommand(help, Command::About, ids::kMenuAbout, &CBackupRestoreDlg::OnAbout)
        ->setIcon(QIcon::fromTheme(QStringLiteral("help-about")));

    // Qt has no hook before a window command; the state is recomputed
    // before a menu opens and whenever the page changes.
    menus_ = {file, edit, view, device, help};
    for (QMenu *menu : menus_) connect(menu, &QMenu::aboutToShow, this, &CBackupRestoreDlg::UpdateMenuState);
    // The shortcuts act only while this window is the active one.
    for (auto &[command, action] : actions_) action->setShortcutContext(Qt::WindowShortcut);
}

bool CBackupRestoreDlg::BackupPageActive() const { return sheet_->currentWidget() == backupPage_; }

void CBackupRestoreDlg::UpdateMenuState() {
    if (AutoMode() && BackupPageActive()) return;
    const bool connected = session_.Connected();
    if (!BackupPageActive()) {
        Action(Command::BackupData)->setEnabled(true);
        Action(Command::RestoreData)->setEnabled(false);
        Action(Command::AutomaticBackup)->setEnabled(false);
        Action(Command::InitialiseStorage)->setEnabled(connected);
    } else {
        Action(Command::BackupData)->setEnabled(false);
        Action(Command::RestoreData)->setEnabled(true);
        Action(Command::AutomaticBackup)->setEnabled(connected);
        Action(Command::InitialiseStorage)->setEnabled(false);
    }
}

int CBackupRestoreDlg::CountCheckedRows() const {
    return BackupPageActive() ? backupPage_->List()->CountChecked() : restorePage_->List()->CountChecked();
}

void CBackupRestoreDlg::OnPageChanged() {
    if (BackupPageActive())
        backupPage_->OnActivate();
    else
        restorePage_->OnActivate();
    UpdateMenuState();
}

bool CBackupRestoreDlg::AutoMode() const { return automatic_->Active(); }

void CBackupRestoreDlg::OnAction() {
    if (BackupPageActive())
        backupPage_->Start();
    else
        restorePage_->Start();
}

void CBackupRestoreDlg::EnableAction(bool enable) { action_->setEnabled(enable && !result_); }

void CBackupRestoreDlg::DestroyResult() {
    if (!result_) return;
    result_->disconnect(this);
    delete result_;
}

CResultDlg *CBackupRestoreDlg::ShowResult(int kind, uint32_t result, const QString &details) {
    DestroyResult();
    result_ = new CResultDlg(kind, result, details, this);
    connect(result_, &QDialog::finished, this, &CBackupRestoreDlg::OnResultClosed);
    action_->setEnabled(false);
    result_->adjustSize();
    QRect frame = result_->frameGeometry();
    frame.moveCenter(frameGeometry().center());
    result_->move(frame.topLeft());
    result_->show();
    return result_;
}

void CBackupRestoreDlg::OnResultClosed() {
    if (result_) result_->deleteLater();
    result_ = nullptr;
    action_->setEnabled(true);
    if (!refreshAfterAutomatic_) return;
    // Automatic backup ended while the window was open: back to work.
    refreshAfterAutomatic_ = false;
    session_.SetConnected(true);
    OnRefresh();
    raise();
    activateWindow();
}

void CBackupRestoreDlg::RefreshAfterSchedule() {
    if (result_) {
        refreshAfterAutomatic_ = true;
        return;
    }
    refreshAfterAutomatic_ = false;
    session_.SetConnected(true);
    OnRefresh();
}

void CBackupRestoreDlg::SetWaiting(bool waiting) {
    // Edit, View and Device.
    for (int menu = 1; menu <= 3; ++menu) menus_[menu]->menuAction()->setEnabled(!waiting);
    sheet_->setEnabled(!waiting);
    BoxList *list = backupPage_->List();
    if (waiting) {
        // The list shows on the window's face while it cannot be changed.
        QPalette greyed = list->palette();
        greyed.setColor(QPalette::Base, greyed.color(QPalette::Window));
        list->setPalette(greyed);
    } else {
        list->setPalette(QPalette());
    }
    if (waiting) {
        Action(Command::RestoreData)->setEnabled(false);
        Action(Command::AutomaticBackup)->setEnabled(false);
        action_->setText(Text(ids::kStopAutomatic));
        action_->setEnabled(!result_);
        action_->setFocus();
        return;
    }
    action_->setText(Text(ids::kStartBackup));
    if (result_)
        action_->setEnabled(false);
    else
        backupPage_->OnActivate();
    UpdateMenuState();
}

void CBackupRestoreDlg::RefreshPages() {
    backupPage_->Reload();
    restorePage_->Reload();
    OnPageChanged();
    OnSelectAll();
}

void CBackupRestoreDlg::MarkSessionLost() {
    Action(Command::InitialiseStorage)->setEnabled(false);
    status_->SetConnected(false);
    action_->setEnabled(false);
    session_.MarkLost();
    backupPage_->ClearList();
    restorePage_->ClearList();
    ShowDeviceState();
}

void CBackupRestoreDlg::ShowConnectionState() {
    if (session_.Connected())
        status_->SetConnected(true);
    else
        MarkSessionLost();
}

void CBackupRestoreDlg::showEvent(QShowEvent *event) {
    QMainWindow::showEvent(event);
    if (sizedOnce_) return;
    sizedOnce_ = true;
    // The first size is also the smallest. It is wide enough for the status
    // bar to show a next run with the longest names whole in our font.
    const QString longest =
        Text(ids::kNextBackup) + QLatin1Char(' ') + ScheduleTimeText(LocalMoment(QDate(2026, 9, 30), QTime(21, 0)));
    const QSize first(std::max(kFirstSize.width(), status_->WidthToShowWhole(longest) + width() - status_->width()),
                      kFirstSize.height());
    setMinimumSize(first);
    resize(first);
    CentreOnScreen(this);
}

void CBackupRestoreDlg::closeEvent(QCloseEvent *event) {
    // While the discovery program runs, the window waits for it.
    if (discovering_ || !automatic_->ConfirmExit()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
    if (event->isAccepted()) emit Closed();
}

void CBackupRestoreDlg::OnBackupData() { sheet_->setCurrentWidget(backupPage_); }
void CBackupRestoreDlg::OnRestoreData() { sheet_->setCurrentWidget(restorePage_); }

void CBackupRestoreDlg::OnSelectAll() {
    (BackupPageActive() ? backupPage_->List() : restorePage_->List())->SetAllChecked(true);
}

void CBackupRestoreDlg::OnClearAll() {
    (BackupPageActive() ? backupPage_->List() : restorePage_->List())->SetAllChecked(false);
}

void CBackupRestoreDlg::OnRefresh() {
    if (AutoMode()) return;
    status_->SetActivity(Text(ids::kStatusRefreshing));
    if (session_.Connected()) {
        WaitCursor wait;
        session_.ConnectDevice(ConnectReason::Refresh);
        RefreshPages();
    } else {
        CLoginDlg login(session_, this);
        if (login.exec() == QDialog::Accepted) RefreshPages();
    }
    UpdateMenuState();
    ShowDeviceState(true);
}

void CBackupRestoreDlg::LoginToChosenDevice(const PreviousDevice &previous, bool rewriteRegistry) {
    CLoginDlg login(session_, this);
    if (login.exec() == QDialog::Accepted) {
        RefreshPages();
        return;
    }
    // Back to the device used before. Its name goes back with its address,
    // so that the two never describe different devices.
    app_.deviceAddress = previous.address;
    app_.deviceName = previous.name;
    session_.SetConnected(previous.connected);
    session_.SetPassword(previous.password);
    if (rewriteRegistry) {
        BrdKey key = BrdKey::Open(KEY_WRITE);
        key.Write(kLastSelectedIp, previous.address);
        key.Write(kLastSelectedName, previous.name);
    }
    if (previous.connected) {
        WaitCursor wait;
        session_.ConnectDevice(ConnectReason::Connect);
    }
    ShowConnectionState();
}

void CBackupRestoreDlg::OnDeviceDiscovery() {
    discovering_ = true;
    showMinimized();
    const bool ran = RunDiscovery();
    discovering_ = false;
    showNormal();
    raise();
    activateWindow();
    if (!ran) return;

    const PreviousDevice previous{app_.deviceAddress, app_.deviceName, session_.Password(), session_.Connected()};
    std::optional<ChosenDevice> chosen = ReadChosenDevice();
    if (!chosen || chosen->address == previous.address) return;
    app_.deviceAddress = chosen->address;
    app_.deviceName = chosen->name;
    LoginToChosenDevice(previous, false);
}

void CBackupRestoreDlg::OnDeviceSettings() {
    const PreviousDevice previous{app_.deviceAddress, app_.deviceName, session_.Password(), session_.Connected()};
    CSelectDevicesDlg choose(app_, this);
    if (choose.exec() != QDialog::Accepted) return;
    LoginToChosenDevice(previous, true);
}

void CBackupRestoreDlg::OnInitialiseStorage() {
    // The question names the device whose every box it deletes.
    const QString question = FormatText(Text(ids::kInitialiseWhichDevice), DeviceText()) + QStringLiteral("\n\n") +
                             Text(ids::kMsgConfirmInitialise);
    if (ShowMessage(this, question, Text(ids::kCaptionInitialise), QMessageBox::Question,
                    QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
        return;
    status_->SetActivity(Text(ids::kStatusInitialising));
    WaitCursor wait;
    const std::string passwordText = session_.Password();
    VTMFPSESSION *record = session_.Record();
    // Each device call waits with a live window, and the user may stop
    // waiting: then the session counts as lost, and for the deletion and the
    // unlock the message says what state the device may be in.
    const QString device = DeviceText(), stoppedState = Text(ids::kMsgInitialiseStopped);
    const DeviceCallResult locked = RunWithWaitDialog(device, DeviceWait::Lock, record, [&](HANDLE) {
        return vtBoxLockUiJob(record, passwordText.c_str(), kRestoreLockMode, &session_.LockValue());
    });
    if (locked.code) {
        if (locked.stopped || IsConnectionLoss(locked.code)) MarkSessionLost();
        if (locked.stopped)
            SayDeviceDidNotAnswer(device);
        else
            ShowErrorCode(this, locked.code, QString::fromStdString(locked.detail));
        ShowDeviceState(true);
        return;
    }
    // Until the panel is unlocked, a program killed meanwhile leaves this
    // record for vtbox unlock and the next login, which release the device
    // in its name.
    const std::string host = record->Host;
    const uint32_t port = record->Port;
    const uint32_t sessionId = record->SessionId;
    vtjobs::WriteJobRecord(host, port, {sessionId, kRestoreLockMode, static_cast<int>(::getpid()), {}});
    const DeviceCallResult deleted = RunWithWaitDialog(
        device, DeviceWait::DeleteAll, record, [&](HANDLE) { return vtBoxDeleteAllBox(record, passwordText.c_str()); });
    if (deleted.stopped) {
        MarkSessionLost();
        SayDeviceDidNotAnswer(device, stoppedState);
    } else if (deleted.code != 0) {
        ShowErrorCode(this, deleted.code, QString::fromStdString(deleted.detail));
    } else {
        session_.ConnectDevice(ConnectReason::ReloadAfterJob);
        backupPage_->LoadList();
    }
    // The unlock is tried after a stopped deletion too: a device that
    // answers again is given back at once.
    const DeviceCallResult unlocked = RunWithWaitDialog(device, DeviceWait::Unlock, record, [&](HANDLE) {
        return vtBoxUnlockUiJob(record, passwordText.c_str(), kRestoreLockMode);
    });
    // A device left locked keeps the record, now of a job that has ended.
    if (unlocked.code == 0)
        vtjobs::RemoveJobRecord(host, port);
    else
        vtjobs::WriteJobRecord(host, port, {sessionId, kRestoreLockMode, 0, {}});
    if (unlocked.stopped) {
        MarkSessionLost();
        SayDeviceDidNotAnswer(device, deleted.stopped ? QString() : stoppedState);
    }
    if (unlocked.code && !unlocked.stopped) {
        QString text = Text(ids::kSomeError);
        if (deleted.code == 0) text = Text(ids::kMsgNotReleased) + QLatin1Char('\n') + text;
        ShowMessage(this, text, Text(ids::kCaptionError), QMessageBox::Warning, QMessageBox::Ok, QMessageBox::NoButton,
                    FailureDetails(unlocked.code, QString::fromStdString(unlocked.detail)));
    }
    if (!deleted.stopped && !unlocked.stopped) {
        session_.ConnectDevice(ConnectReason::ReloadAfterJob);
        backupPage_->LoadList();
    }
    ShowConnectionState();
    ShowDeviceState(true);
}

void CBackupRestoreDlg::OnHelp() { OpenHelp(this); }

void CBackupRestoreDlg::OnViewLog() { OpenLogFile(this); }

void CBackupRestoreDlg::OnRecentJobs() {
    CRecentJobsDlg recent(*this);
    recent.exec();
}

void CBackupRestoreDlg::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CBackupRestoreDlg::OnExit() { close(); }

void CBackupRestoreDlg::OnAutomaticBackup() { automatic_->SetUp(); }

void CBackupRestoreDlg::OnSystemSchedule() {
    CSystemScheduleDlg schedule(this);
    schedule.exec();
}

}  // namespace vtutil
