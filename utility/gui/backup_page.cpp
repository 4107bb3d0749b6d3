#include "backup_page.hpp"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "automatic_backup.hpp"
#include "backup_restore_dlg.hpp"
#include "box_list.hpp"
#include "br_file_dialog.hpp"
#include "device_session.hpp"
#include "error_text.hpp"
#include "job_report.hpp"
#include "language.hpp"
#include "message_box.hpp"
#include "progress_dlg.hpp"
#include "status_bar.hpp"
#include "target_path.hpp"
#include "text_format.hpp"
#include "text_ids.hpp"

namespace vtutil {

namespace {
constexpr int kTargetMaxLength = 228;
// Shorter texts are not checked while they are typed.
constexpr int kShortestChecked = 5;
}  // namespace

CBackupPage::CBackupPage(CBackupRestoreDlg &main, DeviceSession &session, QWidget *parent)
    : QWidget(parent), main_(main), session_(session) {
    group_ = new QGroupBox(Text(ids::kBackupFileGroup), this);
    target_ = new QLineEdit(group_);
    target_->setObjectName(QStringLiteral("target"));
    target_->setMaxLength(kTargetMaxLength);
    browse_ = new QPushButton(Text(ids::kBrowse), group_);
    browse_->setObjectName(QStringLiteral("browse"));
    auto *row = new QHBoxLayout(group_);
    row->addWidget(target_, 1);
    row->addWidget(browse_);
    connect(target_, &QLineEdit::textChanged, this, &CBackupPage::OnTargetChanged);
    connect(browse_, &QPushButton::clicked, this, &CBackupPage::Browse);

    list_ = new BoxList(this);
    list_->setObjectName(QStringLiteral("backupBoxes"));
    list_->setHeaderLabels({Text(ids::kBoxesHeader)});
    connect(list_, &QTreeWidget::itemChanged, this, &CBackupPage::OnCheckChanged);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(group_);
    layout->addWidget(list_, 1);
}

bool CBackupPage::TargetIsZip() const { return EndsWithZip(target_->text()); }

void CBackupPage::Reload() {
    if (!main_.AutoMode()) target_->clear();
    LoadList();
}

void CBackupPage::LoadList() {
    list_->clear();
    main_.Status()->SetAddress(QString::fromStdString(session_.App().deviceAddress));
    main_.Status()->SetConnected(session_.Connected());
    main_.ShowDeviceState();
    const VTBOX *boxes = session_.BoxList();
    const QSignalBlocker quiet(list_);
    for (uint32_t i = 0; boxes && i < session_.BoxCount(); ++i)
        list_->AddBox(boxes[i].BoxNo, BoxNameText(boxes[i].BoxName, sizeof boxes[i].BoxName), boxes[i].Protected != 0);
}

void CBackupPage::ClearList() { list_->clear(); }

void CBackupPage::OnActivate() {
    main_.ActionButton()->setText(Text(ids::kStartBackup));
    main_.EnableAction(TargetIsZip() && session_.Connected() && list_->CountChecked() > 0);
}

void CBackupPage::OnCheckChanged() {
    if (TargetIsZip() && session_.Connected()) main_.EnableAction(list_->CountChecked() > 0);
}

void CBackupPage::OnTargetChanged(const QString &text) {
    main_.SetOverwriteConfirmed(false);
    if (text.size() < kShortestChecked) return;
    const bool zip = EndsWithZip(text);
    if (zip && session_.Connected()) {
        if (uint32_t message = TypedTargetMessage(text)) {
            ShowMessage(this, Text(message), Text(ids::kCaptionError), QMessageBox::Critical);
            main_.EnableAction(false);
            target_->clear();
            return;
        }
        if (QFileInfo::exists(text)) {
            if (AskReplaceFile(text) != QMessageBox::Yes) {
                target_->clear();
                main_.EnableAction(false);
                return;
            }
            main_.SetOverwriteConfirmed(true);
        }
    }
    main_.EnableAction(zip && session_.Connected() && main_.CountCheckedRows() > 0);
}

QMessageBox::StandardButton CBackupPage::AskReplaceFile(const QString &path) {
    // A question, not a failure: under the job's caption, naming the file.
    return ShowMessage(this, FormatValues(Text(ids::kMsgFileExists), {path}), Text(ids::kCaptionBackup),
                       QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
}

void CBackupPage::Browse() {
    if (main_.AutoMode()) return;
    const QString typed = target_->text();
    const QString folder = NotALocalFolder(typed) ? QDir::homePath() : FolderPart(typed);
    CBRFileDialog dialog(folder, DefaultBackupName(QDateTime::currentDateTime()), this);
    if (dialog.exec() != QDialog::Accepted) return;
    const QString chosen = dialog.ChosenPath();
    if (!EndsWithZip(chosen)) {
        ShowMessage(this, Text(ids::kMsgNameUnusable), Text(ids::kCaptionError), QMessageBox::Critical);
        return;
    }
    target_->setText(chosen);
    target_->setCursorPosition(static_cast<int>(chosen.size()));
}

bool CBackupPage::PrepareJob(bool automatic, JobRequest *request, uint32_t *failure) {
    uint32_t ignored = 0;
    if (!failure) failure = &ignored;
    *failure = VTBOX_E_PATH_NOT_FOUND;
    auto tell = [&](const QString &message, uint32_t caption, QMessageBox::Icon icon, const QString &details = {}) {
        if (automatic) return;
        ShowMessage(this, message, Text(caption), icon, QMessageBox::Ok, QMessageBox::NoButton, details);
        target_->setFocus();
    };
    request->operation = JobOperation::Backup;
    request->boxes = list_->CheckedNumbers();
    // The file is written under the name as typed: names are case-sensitive.
    path_ = target_->text();
    if (uint32_t message = ZipNameMessage(path_)) {
        tell(Text(message), ids::kCaptionBackup, QMessageBox::Warning);
        return false;
    }
    if (NotALocalFolder(path_)) {
        tell(Text(ids::kMsgNotFullPath), ids::kCaptionError, QMessageBox::Critical);
        return false;
    }
    const QString folder = FolderPart(path_);
    uint32_t code = 0;
    QString reason;
    switch (ProbeFolder(folder, &code, &reason)) {
    case FolderState::Exists: break;
    case FolderState::Missing: {
        if (automatic) return false;
        if (ShowMessage(this, FormatValues(Text(ids::kMsgCreateFolder), {folder}), Text(ids::kCaptionBackup),
                        QMessageBox::Question, QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
            target_->clear();
            return false;
        }
        const uint32_t made = CreateFolderLevels(folder);
        if (made == 0 || (made == VTBOX_E_ALREADY_EXISTS && !FolderIsReadOnly(folder))) break;
        *failure = made;
        tell(Text(made == VTBOX_E_ALREADY_EXISTS ? ids::kMsgFolderReadOnly : ids::kMsgFolderNotMade),
             ids::kCaptionBackup, QMessageBox::Warning,
             FailureDetails(made, FormatValues(Text(ids::kFolderLine), {folder})));
        return false;
    }
    case FolderState::Unusable:
        *failure = code;
        // Not the folder's name is at fault but what the system said when
        // asked about it (no access to a level above it, a loop of links).
        tell(FormatValues(Text(ids::kMsgFolderNotExamined), {folder, reason}), ids::kCaptionBackup,
             QMessageBox::Warning, FailureDetails(code, FormatValues(Text(ids::kFolderLine), {folder})));
        return false;
    }
    request->target = path_.toStdString();
    *failure = 0;
    return true;
}

void CBackupPage::Start() {
    // While a schedule waits the button stops it (its caption says so);
    // the state rather than the caption decides, so that a missing language,
    // where every caption is empty, never stops a schedule by mistake.
    if (main_.AutoMode()) {
        main_.Automatic()->StopByUser();
        return;
    }
    if (main_.CountCheckedRows() == 0) {
        ShowMessage(this, Text(ids::kMsgTickABox), Text(ids::kCaptionAutomatic), QMessageBox::Critical);
        return;
    }
    JobRequest request;
    if (!PrepareJob(false, &request)) return;
    if (!main_.OverwriteConfirmed() && QFileInfo::exists(path_) && AskReplaceFile(path_) != QMessageBox::Yes) return;

    const std::vector<uint32_t> boxes = request.boxes;
    CProgressDlg progress(session_, std::move(request), &main_);
    progress.exec();
    const JobOutcome outcome = progress.Outcome();
    progress.DeleteJob();
    RecordJob(JobOperation::Backup, boxes, outcome, main_.DeviceText(), false);

    const JobReport report = BackupReport(outcome);
    if (report.deviceLost) main_.MarkSessionLost();
    ShowReport(&main_, report);
}

}  // namespace vtutil
