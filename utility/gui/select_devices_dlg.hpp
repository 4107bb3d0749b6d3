// The device choice: the known devices of the registry table. OK records the
// chosen row as the device to use.
#pragma once

#include <QDialog>

class QTreeWidget;

namespace vtutil {

struct AppState;

class CSelectDevicesDlg : public QDialog {
    Q_OBJECT
public:
    explicit CSelectDevicesDlg(AppState &app, QWidget *parent = nullptr);

    QTreeWidget *List() const { return list_; }

public slots:
    void accept() override;

private:
    void Fill();

    AppState &app_;
    QTreeWidget *list_;
};

}  // namespace vtutil
