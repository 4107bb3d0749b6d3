// The about box.
#pragma once

#include <QDialog>

namespace vtutil {

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget *parent = nullptr);
};

}  // namespace vtutil
