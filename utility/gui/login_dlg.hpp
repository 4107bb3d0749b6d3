// The login dialog: the administrator password of the chosen device. OK
// connects; a wrong password keeps the dialog open for another try.
#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace vtutil {

class DeviceSession;

class CLoginDlg : public QDialog {
    Q_OBJECT
public:
    explicit CLoginDlg(DeviceSession &session, QWidget *parent = nullptr);

    QLineEdit *PasswordEdit() const { return password_; }
    QPushButton *OkButton() const { return ok_; }

public slots:
    void accept() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void OnTextChanged(const QString &text);

    DeviceSession &session_;
    QLineEdit *password_;
    QPushButton *ok_;
    bool centred_ = false;
};

}  // namespace vtutil
