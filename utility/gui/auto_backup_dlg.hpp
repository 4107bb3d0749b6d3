// The set-up of automatic backup: the first run's date and time, how often
// it repeats, and what happens when chosen boxes have been deleted.
#pragma once

#include <QDialog>
#include <cstdint>

class QComboBox;
class QDateEdit;
class QPushButton;
class QRadioButton;
class QTimeEdit;

namespace vtutil {

class CAutoBackupDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAutoBackupDlg(QWidget *parent = nullptr);

    // After Set: the first run (seconds since 1970), its interval code, and
    // 1 when a run goes on with the other boxes once chosen ones were
    // deleted (0: the schedule stops).
    int64_t Start() const { return start_; }
    uint32_t IntervalCode() const;
    uint32_t ContinuePolicy() const;

    QDateEdit *DateEdit() const { return date_; }
    QTimeEdit *TimeEdit() const { return time_; }
    QComboBox *RepeatList() const { return repeat_; }
    QRadioButton *GoOnButton() const { return goOn_; }
    QRadioButton *StopButton() const { return stop_; }
    QPushButton *SetButton() const { return set_; }

private:
    void OnSet();

    QDateEdit *date_;
    QTimeEdit *time_;
    QComboBox *repeat_;
    QRadioButton *goOn_;
    QRadioButton *stop_;
    QPushButton *set_;
    int64_t start_ = 0;
};

}  // namespace vtutil
