// The set-up of automatic backup: the first run's date and time, how often
// it repeats, and what happens when chosen boxes have been deleted.
#pragma once

#include <QDialog>
#include <cstdint>

class QCheckBox;
class QComboBox;
class QLabel;
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
    // Set hands the schedule to the system (a timer that runs vtbox) instead
    // of running it in the program.
    bool RunWithProgramClosed() const;
    QCheckBox *ProgramClosedBox() const { return programClosed_; }
    // The schedule handed to the system before, when there is one.
    QLabel *ExistingLabel() const { return existing_; }
    // Where the schedule runs, as the box is ticked or not.
    QLabel *WhereLabel() const { return whileOpen_; }

private:
    void OnSet();

    QDateEdit *date_;
    QTimeEdit *time_;
    QComboBox *repeat_;
    QRadioButton *goOn_;
    QRadioButton *stop_;
    QPushButton *set_;
    QCheckBox *programClosed_;
    QLabel *existing_;
    QLabel *whileOpen_;
    int64_t start_ = 0;
    bool goOnChosen_ = true;  // the user's choice, while the system's run takes Stop
};

}  // namespace vtutil
