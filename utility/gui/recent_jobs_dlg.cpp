#include "recent_jobs_dlg.hpp"

#include <sys/stat.h>

#include <algorithm>

#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProcess>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "backup_restore_dlg.hpp"
#include "job_figures.hpp"
#include "job_report.hpp"
#include "language.hpp"
#include "message_box.hpp"
#include "program_files.hpp"
#include "restore_pg.hpp"
#include "size_texts.hpp"
#include "text_ids.hpp"
#include "va_property_sheet.hpp"

namespace vtutil {

namespace {

constexpr int kEntryRole = Qt::UserRole;

QString JobText(const vtjobs::HistoryEntry &e) {
    uint32_t by = ids::kRecentByHand;
    if (e.program == vtjobs::HistoryProgram::UtilitySchedule) by = ids::kRecentBySchedule;
    if (e.program == vtjobs::HistoryProgram::Vtbox) by = ids::kRecentByVtbox;
    return FormatText(
        Text(e.operation == vtjobs::HistoryOperation::Restore ? ids::kRecentRestoreJob : ids::kRecentBackupJob),
        Text(by));
}

QString OutcomeText(vtjobs::HistoryOutcome outcome) {
    switch (outcome) {
    case vtjobs::HistoryOutcome::Done: return Text(ids::kRecentFinished);
    case vtjobs::HistoryOutcome::Cancelled: return Text(ids::kRecentCancelled);
    case vtjobs::HistoryOutcome::Partial: return Text(ids::kRecentPartial);
    case vtjobs::HistoryOutcome::NotReleased: return Text(ids::kRecentNotReleased);
    case vtjobs::HistoryOutcome::Failed: break;
    }
    return Text(ids::kRecentFailed);
}

QStyle::StandardPixmap OutcomeIcon(vtjobs::HistoryOutcome outcome) {
    switch (outcome) {
    case vtjobs::HistoryOutcome::Done: return QStyle::SP_DialogApplyButton;
    case vtjobs::HistoryOutcome::Cancelled:
    case vtjobs::HistoryOutcome::NotReleased: return QStyle::SP_MessageBoxWarning;
    case vtjobs::HistoryOutcome::Partial:
    case vtjobs::HistoryOutcome::Failed: break;
    }
    return QStyle::SP_MessageBoxCritical;
}

QString BoxesText(const std::vector<uint32_t> &boxes) {
    QStringList numbers;
    for (uint32_t box : boxes) numbers << QStringLiteral("%1").arg(box, 3, 10, QLatin1Char('0'));
    return numbers.join(QStringLiteral(", "));
}

bool IsRegularFile(const std::string &path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A file a restore can start from: a backup's that finished, or the file a
// restore read; either way one that is still there.
bool Restorable(const vtjobs::HistoryEntry &e) {
    const bool whole = e.outcome == vtjobs::HistoryOutcome::Done || e.outcome == vtjobs::HistoryOutcome::NotReleased;
    return (e.operation == vtjobs::HistoryOperation::Restore || whole) && IsRegularFile(e.file);
}

}  // namespace

CRecentJobsDlg::CRecentJobsDlg(CBackupRestoreDlg &main) : QDialog(&main), main_(main) {
    setObjectName(QStringLiteral("recentJobs"));
    setWindowTitle(Text(ids::kRecentJobsTitle));
    auto *layout = new QVBoxLayout(this);
    list_ = new QTreeWidget(this);
    list_->setObjectName(QStringLiteral("recentJobsList"));
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setAllColumnsShowFocus(true);
    list_->setColumnCount(ColumnCount);
    // The outcome comes early, where it is seen without scrolling.
    constexpr uint32_t kHeaders[ColumnCount] = {
        ids::kRecentWhenHeader,      ids::kRecentJobHeader,   ids::kRecentOutcomeHeader, ids::kRecentDeviceHeader,
        ids::kRecentBoxesHeader,     ids::kRecentFileHeader,  ids::kRecentSizeHeader,    ids::kRecentDocumentsHeader,
        ids::kRecentTimeTakenHeader, ids::kRecentReasonHeader};
    QStringList headers;
    for (uint32_t header : kHeaders) headers << Text(header);
    list_->setHeaderLabels(headers);
    layout->addWidget(list_);
    note_ = new QLabel(this);
    note_->setWordWrap(true);
    note_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(note_);

    auto *buttons = new QDialogButtonBox(this);
    openFolder_ = buttons->addButton(Text(ids::kRecentOpenFolder), QDialogButtonBox::ActionRole);
    restore_ = buttons->addButton(Text(ids::kRecentRestore), QDialogButtonBox::ActionRole);
    QPushButton *close = buttons->addButton(Text(ids::kViewerClose), QDialogButtonBox::RejectRole);
    close->setDefault(true);
    layout->addWidget(buttons);
    connect(openFolder_, &QPushButton::clicked, this, &CRecentJobsDlg::OnOpenFolder);
    connect(restore_, &QPushButton::clicked, this, &CRecentJobsDlg::OnRestore);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(list_, &QTreeWidget::itemSelectionChanged, this, &CRecentJobsDlg::OnSelectionChanged);

    Fill();
    resize(1100, 420);
}

void CRecentJobsDlg::Fill() {
    std::string problem;
    entries_ = vtjobs::ReadJobHistory(&problem);
    // The history is in the order the jobs ended; the list goes by their
    // start, as its When column says.
    std::stable_sort(
        entries_.begin(), entries_.end(),
        [](const vtjobs::HistoryEntry &a, const vtjobs::HistoryEntry &b) { return a.started > b.started; });
    list_->clear();
    QList<QTreeWidgetItem *> rows;
    for (size_t i = 0; i < entries_.size(); ++i) {
        const vtjobs::HistoryEntry &e = entries_[i];
        auto *row = new QTreeWidgetItem;
        row->setData(When, kEntryRole, static_cast<qulonglong>(i));
        row->setText(When, QLocale().toString(QDateTime::fromSecsSinceEpoch(e.started), QLocale::ShortFormat));
        row->setText(Job, JobText(e));
        row->setText(Device, QString::fromStdString(e.device));
        row->setToolTip(Device, row->text(Device));
        row->setText(Boxes, BoxesText(e.boxes));
        row->setToolTip(Boxes, row->text(Boxes));
        row->setText(File, QString::fromStdString(e.file));
        row->setToolTip(File, row->text(File));
        if (e.bytes >= 0) row->setText(Size, FileSizeText(e.bytes));
        if (e.documents >= 0) row->setText(Documents, QString::number(e.documents));
        row->setText(Outcome, OutcomeText(e.outcome));
        row->setIcon(Outcome, style()->standardIcon(OutcomeIcon(e.outcome)));
        row->setText(TimeTaken, DurationText(e.seconds));
        row->setText(Reason, QString::fromStdString(e.reason));
        row->setToolTip(Reason, row->text(Reason));
        for (int column : {Size, Documents, TimeTaken})
            row->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
        rows << row;
    }
    list_->addTopLevelItems(rows);
    for (int column = 0; column < ColumnCount; ++column) list_->resizeColumnToContents(column);
    // A long device, box list, path or reason is seen whole on hover; the
    // others keep their room.
    list_->setColumnWidth(Device, std::min(list_->columnWidth(Device), 160));
    list_->setColumnWidth(Boxes, std::min(list_->columnWidth(Boxes), 110));
    list_->setColumnWidth(File, std::min(list_->columnWidth(File), 220));
    list_->setColumnWidth(Reason, std::min(list_->columnWidth(Reason), 320));
    if (!problem.empty())
        note_->setText(FormatText(Text(ids::kRecentUnreadable), QString::fromStdString(problem)));
    else if (entries_.empty())
        note_->setText(Text(ids::kRecentNoJobs));
    note_->setVisible(!note_->text().isEmpty());
    if (!rows.isEmpty()) list_->setCurrentItem(rows.first());
    OnSelectionChanged();
}

const vtjobs::HistoryEntry *CRecentJobsDlg::Selected() const {
    const QList<QTreeWidgetItem *> chosen = list_->selectedItems();
    if (chosen.isEmpty()) return nullptr;
    const size_t i = chosen.first()->data(When, kEntryRole).toULongLong();
    return i < entries_.size() ? &entries_[i] : nullptr;
}

void CRecentJobsDlg::OnSelectionChanged() {
    const vtjobs::HistoryEntry *e = Selected();
    openFolder_->setEnabled(e && e->operation == vtjobs::HistoryOperation::Backup && !e->file.empty() &&
                            QFileInfo(QString::fromStdString(e->file)).dir().exists());
    // While a schedule waits the pages take no other job.
    restore_->setEnabled(e && Restorable(*e) && !main_.AutoMode());
}

void CRecentJobsDlg::OnOpenFolder() {
    const vtjobs::HistoryEntry *e = Selected();
    if (!e) return;
    const QString folder = QFileInfo(QString::fromStdString(e->file)).absolutePath();
    const QString opener = DesktopOpener();
    if (opener.isEmpty() || !QProcess::startDetached(opener, {folder}))
        ShowMessage(this, FormatText(Text(ids::kRecentNoOpener), folder), Text(ids::kRecentJobsTitle),
                    QMessageBox::Information);
}

void CRecentJobsDlg::OnRestore() {
    const vtjobs::HistoryEntry *e = Selected();
    if (!e) return;
    if (!Restorable(*e)) {
        ShowMessage(this, FormatText(Text(ids::kRecentFileGone), QString::fromStdString(e->file)),
                    Text(ids::kRecentJobsTitle), QMessageBox::Warning);
        OnSelectionChanged();
        return;
    }
    const QString file = QString::fromStdString(e->file);
    accept();
    // The restore page reads the file as if it had been chosen there.
    main_.Sheet()->setCurrentWidget(main_.RestorePage());
    main_.RestorePage()->PathEdit()->clear();
    main_.RestorePage()->PathEdit()->setText(file);
}

}  // namespace vtutil
