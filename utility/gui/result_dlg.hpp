// The result window of an automatic backup run: modeless, one at a time,
// with the outcome in two lines, a button that opens the log and, for a
// failure, Show Details with the engine's or the system's account of it.
#pragma once

#include <QDialog>
#include <cstdint>

class QLabel;
class QPlainTextEdit;
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
        kStopped = 7,       // the user stopped the schedule
    };
    // details (FailureDetails) are behind Show Details; none: no such button.
    CResultDlg(int kind, uint32_t result, const QString &details = {}, QWidget *parent = nullptr);

    int Kind() const { return kind_; }
    uint32_t Result() const { return result_; }
    QLabel *FirstLine() const { return first_; }
    QLabel *SecondLine() const { return second_; }
    // What a finished run did (file, size, boxes, documents, time), between
    // the two lines; empty until given.
    void SetSummary(const QString &summary);
    QLabel *Summary() const { return summary_; }
    QPushButton *ViewLogButton() const { return viewLog_; }
    // Null when there are no details.
    QPushButton *DetailsButton() const { return detailsButton_; }
    QPlainTextEdit *Details() const { return details_; }
    QPushButton *OkButton() const { return ok_; }

private:
    void OnViewLog();
    void OnToggleDetails();

    int kind_;
    uint32_t result_;
    QLabel *first_;
    QLabel *summary_;
    QLabel *second_;
    QPushButton *viewLog_;
    QPushButton *detailsButton_ = nullptr;
    QPlainTextEdit *details_ = nullptr;
    QPushButton *ok_;
};

}  // namespace vtutil
