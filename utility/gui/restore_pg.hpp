// The restore page: a backup file and the boxes it holds, each with a check
// box and its size.
#pragma once

#include <QWidget>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vtutil {

class BoxList;
class CBackupRestoreDlg;
class DeviceSession;

class CRestorePg : public QWidget {
    Q_OBJECT
public:
    CRestorePg(CBackupRestoreDlg &main, DeviceSession &session, QWidget *parent = nullptr);

    // The page-reload message: clears the file, the list and the total.
    void Reload();
    // Empties the list (the device is gone).
    void ClearList();
    // The page became the active one.
    void OnActivate();

    BoxList *List() const { return list_; }
    QLineEdit *PathEdit() const { return path_; }
    QLabel *TotalLabel() const { return total_; }
    // Set once the chosen file was read and matches the connected device.
    bool TargetValid() const { return targetValid_; }

private:
    bool PathIsZip() const;

    CBackupRestoreDlg &main_;
    DeviceSession &session_;
    QGroupBox *group_;
    QLineEdit *path_;
    QPushButton *browse_;
    BoxList *list_;
    QLabel *total_;
    bool targetValid_ = false;
};

}  // namespace vtutil
