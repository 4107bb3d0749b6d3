// The main window: the backup and restore pages, the action button below
// them, the status bar and the menu with the device commands.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <map>
#include <string>

#include "result_dlg.hpp"

class QAction;
class QMenu;
class QPushButton;

namespace vtutil {

struct AppState;
class AutomaticBackup;
class CBackupPage;
class CRestorePg;
class CVAPropertySheet;
class DeviceSession;
class StatusBar;

class CBackupRestoreDlg : public QMainWindow {
    Q_OBJECT
public:
    CBackupRestoreDlg(AppState &app, DeviceSession &session, QWidget *parent = nullptr);

    // What the pages and later the jobs use.
    // A schedule of automatic backup is set up (waiting or running).
    bool AutoMode() const;
    AutomaticBackup *Automatic() const { return automatic_; }
    QPushButton *ActionButton() const { return action_; }
    StatusBar *Status() const { return status_; }
    CBackupPage *BackupPage() const { return backupPage_; }
    CRestorePg *RestorePage() const { return restorePage_; }
    CVAPropertySheet *Sheet() const { return sheet_; }
    // Checked rows of the active page's list.
    int CountCheckedRows() const;

    // Enables the action button as a page asks, but never while the result
    // window of an automatic run is open.
    void EnableAction(bool enable);

    // Reloads both pages (after a login or a change of device) and checks
    // every row of the active one.
    void RefreshPages();
    // The device is gone: disconnected icon, no action, both lists empty.
    void MarkSessionLost();
    // The window title names the connected device; the status bar, while the
    // program is idle (or, with idleNow, once a command has ended), says
    // "Ready" or how to connect.
    void ShowDeviceState(bool idleNow = false);
    // The device as the program names it: its name and its address.
    QString DeviceText() const;
    // Enables the menu commands for the active page and the connection.
    void UpdateMenuState();

    // The backup file typed on the backup page may be replaced: the user
    // said so when it was typed.
    bool OverwriteConfirmed() const { return overwriteConfirmed_; }
    void SetOverwriteConfirmed(bool confirmed) { overwriteConfirmed_ = confirmed; }

    // The result window of automatic runs: one at a time (a new one ends the
    // one before), modeless, centred on this window. While it is open the
    // action button is disabled.
    CResultDlg *ShowResult(int kind, uint32_t result, const QString &details = {});
    CResultDlg *ResultWindow() const { return result_; }
    // Ends the result window without the steps of its closing (a new run
    // is about to start).
    void DestroyResult();
    // Set when automatic backup ends: the result window, once closed,
    // reconnects and refreshes the pages.
    bool RefreshAfterAutomatic() const { return refreshAfterAutomatic_; }
    void SetRefreshAfterAutomatic(bool refresh) { refreshAfterAutomatic_ = refresh; }
    // A schedule has ended: the device is taken up again and the pages
    // reloaded, at once or, while a result window is open, when it closes.
    void RefreshAfterSchedule();

    // The waiting state of automatic backup: only the action button (which
    // stops the schedule) and Help stay live.
    void SetWaiting(bool waiting);

    enum class Command {
        BackupData,
        RestoreData,
        AutomaticBackup,
        SystemSchedule,
        ViewLog,
        RecentJobs,
        Exit,
        SelectAll,
        ClearAll,
        Refresh,
        DeviceDiscovery,
        DeviceSettings,
        InitialiseStorage,
        Help,
        About
    };
    QAction *Action(Command command) const;
    // File, Edit, View, Device, Help.
    const QList<QMenu *> &Menus() const { return menus_; }

signals:
    // The window was closed; the program ends.
    void Closed();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void BuildMenus();
    QAction *AddCommand(QMenu *menu, Command command, uint32_t textId, void (CBackupRestoreDlg::*slot)());
    void OnPageChanged();
    void OnAction();
    void OnResultClosed();
    void OnBackupData();
    void OnRestoreData();
    void OnSelectAll();
    void OnClearAll();
    void OnRefresh();
    void OnDeviceDiscovery();
    void OnDeviceSettings();
    void OnInitialiseStorage();
    void OnHelp();
    void OnViewLog();
    void OnRecentJobs();
    void OnAbout();
    void OnExit();
    void OnAutomaticBackup();
    void OnSystemSchedule();
    // A login for a newly chosen device; on Cancel the previous device is
    // put back (and reconnected when it was connected).
    struct PreviousDevice;
    void LoginToChosenDevice(const PreviousDevice &previous, bool rewriteRegistry);
    void ShowConnectionState();
    bool BackupPageActive() const;

    AppState &app_;
    DeviceSession &session_;
    StatusBar *status_;
    CVAPropertySheet *sheet_;
    CBackupPage *backupPage_;
    CRestorePg *restorePage_;
    QPushButton *action_;
    QList<QMenu *> menus_;
    std::map<Command, QAction *> actions_;
    QPointer<CResultDlg> result_;
    AutomaticBackup *automatic_;
    bool overwriteConfirmed_ = false;
    bool refreshAfterAutomatic_ = false;
    bool sizedOnce_ = false;
    bool discovering_ = false;
};

}  // namespace vtutil
