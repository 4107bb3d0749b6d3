// The backup page: the boxes of the connected device, each with a check box,
// and the backup file to write.
#pragma once

#include <QWidget>

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

    BoxList *List() const { return list_; }
    QLineEdit *TargetEdit() const { return target_; }

private:
    void OnCheckChanged();
    bool TargetIsZip() const;

    CBackupRestoreDlg &main_;
    DeviceSession &session_;
    QGroupBox *group_;
    QLineEdit *target_;
    QPushButton *browse_;
    BoxList *list_;
};

}  // namespace vtutil
