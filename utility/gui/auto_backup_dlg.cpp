#include "auto_backup_dlg.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTimeEdit>
#include <QVBoxLayout>

#include "clock.hpp"
#include "icons.hpp"
#include "job_report.hpp"
#include "language.hpp"
#include "message_box.hpp"
#include "schedule.hpp"
#include "system_schedule.hpp"
#include "text_ids.hpp"
#include "widget_marks.hpp"

namespace vtutil {

namespace {
constexpr int kMonthsAhead = 6;
constexpr int64_t kHour = 3600;

QDateTime LocalTimeOf(int64_t t) { return QDateTime::fromSecsSinceEpoch(t, Qt::LocalTime); }
}  // namespace

CAutoBackupDlg::CAutoBackupDlg(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("autoBackup"));
    setWindowTitle(Text(ids::kCaptionAutomatic));
    setWindowIcon(icons::Application());
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    const int64_t now = MinuteOf(CurrentClock().Now());
    // Offered first: the next whole hour.
    const QDateTime suggested = LocalTimeOf(now - now % kHour + kHour);

    auto *startGroup = new QGroupBox(Text(ids::kStartTimeGroup), this);
    startGroup->setObjectName(QStringLiteral("startGroup"));
    date_ = new QDateEdit(startGroup);
    date_->setObjectName(QStringLiteral("date"));
    date_->setCalendarPopup(true);
    // From the present minute up to the same moment six months on.
    date_->setDateRange(LocalTimeOf(now).date(), LocalTimeOf(now).addMonths(kMonthsAhead).date());
    date_->setDate(suggested.date());
    time_ = new QTimeEdit(startGroup);
    time_->setObjectName(QStringLiteral("time"));
    time_->setDisplayFormat(QStringLiteral("HH : mm"));
    time_->setTime(suggested.time());
    auto *startRow = new QHBoxLayout(startGroup);
    startRow->addWidget(date_, 1);
    startRow->addWidget(time_);

    auto *repeatGroup = new QGroupBox(Text(ids::kRepeatGroup), this);
    repeatGroup->setObjectName(QStringLiteral("repeatGroup"));
    repeat_ = new QComboBox(repeatGroup);
    repeat_->setObjectName(QStringLiteral("repeat"));
    for (uint32_t id : {ids::kRepeatOnce, ids::kRepeatDaily, ids::kRepeatWeekly, ids::kRepeatMonthly})
        repeat_->addItem(Text(id));
    repeat_->setCurrentIndex(0);
    auto *repeatRow = new QHBoxLayout(repeatGroup);
    repeatRow->addWidget(repeat_);

    auto *deletedGroup = new QGroupBox(Text(ids::kDeletedBoxesGroup), this);
    deletedGroup->setObjectName(QStringLiteral("deletedGroup"));
    goOn_ = new QRadioButton(Text(ids::kGoOnWithOthers), deletedGroup);
    goOn_->setObjectName(QStringLiteral("goOn"));
    stop_ = new QRadioButton(Text(ids::kStopTheSchedule), deletedGroup);
    stop_->setObjectName(QStringLiteral("stop"));
    goOn_->setChecked(true);
    auto *choices = new QVBoxLayout(deletedGroup);
    choices->addWidget(goOn_);
    choices->addWidget(stop_);

    // Where the schedule runs: here, while the program stays open, or by
    // the system with the program closed.
    auto *whileOpen = whileOpen_ = new QLabel(Text(ids::kOnlyWhileOpen), this);
    whileOpen->setObjectName(QStringLiteral("whileOpen"));
    whileOpen->setWordWrap(true);
    programClosed_ = new QCheckBox(Text(ids::kRunWithProgramClosed), this);
    programClosed_->setObjectName(QStringLiteral("programClosed"));
    const bool available = !VtboxProgram().isEmpty() && !SystemctlProgram().isEmpty();
    programClosed_->setEnabled(available);
    if (!available) programClosed_->setToolTip(Text(ids::kNoSystemSchedule));
    // vtbox refuses boxes the device lacks, so a run of the system's stops
    // there: the choice shows that, and comes back when the box is cleared.
    connect(programClosed_, &QCheckBox::toggled, this, [this, deletedGroup, whileOpen](bool closed) {
        deletedGroup->setDisabled(closed);
        if (closed) {
            goOnChosen_ = goOn_->isChecked();
            stop_->setChecked(true);
        } else {
            (goOnChosen_ ? goOn_ : stop_)->setChecked(true);
        }
        whileOpen->setText(Text(closed ? ids::kRunsWithProgramClosed : ids::kOnlyWhileOpen));
    });
    existing_ = new QLabel(this);
    existing_->setObjectName(QStringLiteral("existing"));
    existing_->setWordWrap(true);
    existing_->setTextFormat(Qt::PlainText);
    MarkShowsData(existing_);
    if (const std::optional<QString> installed = InstalledSystemSchedule())
        existing_->setText(FormatText(Text(ids::kAlreadyWithProgramClosed), *installed));
    existing_->setVisible(!existing_->text().isEmpty());

    auto *buttons = new QDialogButtonBox(this);
    set_ = buttons->addButton(Text(ids::kSet), QDialogButtonBox::AcceptRole);
    set_->setObjectName(QStringLiteral("set"));
    set_->setDefault(true);
    QPushButton *cancel = buttons->addButton(Text(ids::kCancel), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CAutoBackupDlg::OnSet);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(startGroup);
    layout->addWidget(repeatGroup);
    layout->addWidget(deletedGroup);
    layout->addWidget(whileOpen);
    layout->addWidget(programClosed_);
    layout->addWidget(existing_);
    layout->addSpacing(4);
    layout->addWidget(buttons);
    setMinimumWidth(340);
}

uint32_t CAutoBackupDlg::IntervalCode() const { return kRunOnce + static_cast<uint32_t>(repeat_->currentIndex()); }

bool CAutoBackupDlg::RunWithProgramClosed() const { return programClosed_->isChecked(); }

uint32_t CAutoBackupDlg::ContinuePolicy() const { return goOn_->isChecked() ? 1 : 0; }

void CAutoBackupDlg::OnSet() {
    const QDate date = date_->date();
    const QTime time(time_->time().hour(), time_->time().minute());
    if (BeyondLastStartDate(date)) {
        ShowMessage(this, Text(ids::kMsgStartTooLate), Text(ids::kCaptionAutomatic), QMessageBox::Critical);
        return;
    }
    // Local time as the system gives it, daylight saving included, like
    // the clock it is compared with.
    const int64_t start = LocalMoment(date, time);
    if (CompareToNow(start, CurrentClock().Now()) <= 0) {
        ShowMessage(this, Text(ids::kMsgStartPassed), Text(ids::kCaptionAutomatic), QMessageBox::Critical);
        return;
    }
    start_ = start;
    accept();
}

}  // namespace vtutil
