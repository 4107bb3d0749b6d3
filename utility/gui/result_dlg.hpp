// The result window of an automatic backup run: modeless, one at a time,
// with the outcome in two lines and a button that opens the log.
#pragma once

#include <QDialog>
#include <cstdint>

class QLabel;
class QPushButton;

namespace vtutil {

class CResultDlg : public QDialog {
    Q_OBJECT
public:
    enum Kind {
        kFinished = 1,
        kCancelled = 2,  // cancelled, or the schedule was stopped
        kFailed = 3,
        kRetriesUsedUp = 4,
        kRetryPlanned = 5,  // failed; the run will be tried again
        kBoxesDeleted = 6,  // chosen boxes were deleted; the schedule stopped
    };
    CResultDlg(int kind, uint32_t result, QWidget *parent = nullptr);

    int Kind() const { return kind_; }
    uint32_t Result() const { return result_; }
    QLabel *FirstLine() const { return first_; }
    QLabel *SecondLine() const { return second_; }
    QPushButton *ViewLogButton() const { return viewLog_; }
    QPushButton *OkButton() const { return ok_; }

private:
    void OnViewLog();

    int kind_;
    uint32_t result_;
    QLabel *first_;
    QLabel *second_;
    QPushButton *viewLog_;
    QPushButton *ok_;
};

}  // namespace vtutil
