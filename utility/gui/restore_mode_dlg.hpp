// The question before a restore: what happens to documents whose names the
// device's boxes already hold.
#pragma once

#include <QDialog>
#include <cstdint>

class QRadioButton;

namespace vtutil {

class CRestoreModeDlg : public QDialog {
    Q_OBJECT
public:
    explicit CRestoreModeDlg(QWidget *parent = nullptr);

    // After OK: kRestoreReplace or kRestoreKeepBoth.
    uint32_t RestoreMode() const;

    QRadioButton *ReplaceButton() const { return replace_; }
    QRadioButton *KeepBothButton() const { return keepBoth_; }

private:
    QRadioButton *replace_;
    QRadioButton *keepBoth_;
};

}  // namespace vtutil
