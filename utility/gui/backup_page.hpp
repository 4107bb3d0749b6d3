// The backup page: the boxes of the connected device, each with a check box,
// and the backup file to write. Its Start runs a backup job behind the
// progress window and reports how it ended.
#pragma once

#include <QMessageBox>
#include <QWidget>

#include "job_thread.hpp"

class QGroupBox;
class QLineEdit;
class QPushButton;

namespace vtutil {

class BoxList;
class CBackupRestoreDlg;
class DeviceSession;

class CBackupPage : public QWidget {
    Q_OBJECT
public:
    CBackupPage(CBackupRestoreDlg &main, DeviceSession &session, QWidget *parent = nullptr);

    // The page-reload message: clears the target (not during automatic
    // backup) and lists the device's boxes again.
    void Reload();
    // Lists the boxes of the session's last box list, all checked.
    void LoadList();
    // Empties the list (the device is gone).
    void ClearList();
    // The page became the active one.
    void OnActivate();

    // The action button while this page is active.
    void Start();
    // Chooses the backup file in the file dialog.
    void Browse();
    // The checks before a job: the file name, its folder (made when the user
    // agrees). Fills the request with the checked boxes and the path as
    // typed. An automatic run shows no message and asks nothing: a missing
    // folder then fails the preparation, and *failure (when given) gets the
    // code that says why (3 for the missing folder).
    bool PrepareJob(bool automatic, JobRequest *request, uint32_t *failure = nullptr);

    BoxList *List() const { return list_; }
    QLineEdit *TargetEdit() const { return target_; }
    QPushButton *BrowseButton() const { return browse_; }
    // The backup file of the last job, as typed.
    const QString &TargetPath() const { return path_; }

private:
    void OnCheckChanged();
    void OnTargetChanged(const QString &text);
    bool TargetIsZip() const;
    // Whether to replace the file at path; No is the default.
    QMessageBox::StandardButton AskReplaceFile(const QString &path);

    CBackupRestoreDlg &main_;
    DeviceSession &session_;
    QGroupBox *group_;
    QLineEdit *target_;
    QPushButton *browse_;
    BoxList *list_;
    QString path_;
};

}  // namespace vtutil
