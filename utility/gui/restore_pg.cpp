#include "restore_pg.hpp"

#include <unistd.h>

#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include "backup_facts.hpp"
#include "backup_page.hpp"
#include "backup_restore_dlg.hpp"
#include "box_list.hpp"
#include "device_session.hpp"
#include "error_text.hpp"
#include "job_report.hpp"
#include "language.hpp"
#include "message_box.hpp"
#include "progress_dlg.hpp"
#include "restore_mode_dlg.hpp"
#include "size_texts.hpp"
#include "target_path.hpp"
#include "text_ids.hpp"
#include "vthandles.hpp"
#include "widget_marks.hpp"

namespace vtutil {

namespace {
constexpr int kPathMaxLength = 228;
constexpr int kSizeColumn = 1;
constexpr uint32_t kBackupKind = 1;

QLabel *FactLabel(QWidget *parent, const char *name) {
    auto *label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    MarkShowsData(label);
    return label;
}
}  // namespace

CRestorePg::CRestorePg(CBackupRestoreDlg &main, DeviceSession &session, QWidget *parent)
    : QWidget(parent), main_(main), session_(session) {
    group_ = new QGroupBox(Text(ids::kBackupFileGroup), this);
    path_ = new QLineEdit(group_);
    path_->setObjectName(QStringLiteral("path"));
    path_->setMaxLength(kPathMaxLength);
    browse_ = new QPushButton(Text(ids::kBrowse), group_);
    browse_->setObjectName(QStringLiteral("browse"));
    auto *row = new QHBoxLayout(group_);
    row->addWidget(path_, 1);
    row->addWidget(browse_);
    connect(path_, &QLineEdit::textChanged, this, &CRestorePg::OnPathChanged);
    connect(browse_, &QPushButton::clicked, this, &CRestorePg::Browse);

    list_ = new BoxList(this);
    list_->setObjectName(QStringLiteral("restoreBoxes"));
    list_->setColumnCount(2);
    list_->setHeaderLabels({Text(ids::kNameHeader), Text(ids::kSizeHeader)});
    // The box names take what the sizes leave: names are long, sizes short.
    list_->header()->setStretchLastSection(false);
    list_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    list_->header()->setSectionResizeMode(kSizeColumn, QHeaderView::ResizeToContents);
    connect(list_, &QTreeWidget::itemChanged, this, &CRestorePg::OnCheckChanged);

    total_ = new QLabel(this);
    total_->setObjectName(QStringLiteral("total"));
    total_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // A size after the library's label.
    MarkShowsData(total_);

    made_ = FactLabel(this, "made");
    engineVersion_ = FactLabel(this, "engineVersion");
    macAddress_ = FactLabel(this, "macAddress");
    auto *facts = new QFormLayout;
    facts->addRow(Text(ids::kBackupMadeOn), made_);
    facts->addRow(Text(ids::kBackupEngineVersion), engineVersion_);
    facts->addRow(Text(ids::kBackupMacAddress), macAddress_);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(group_);
    layout->addLayout(facts);
    layout->addWidget(list_, 1);
    layout->addWidget(total_);
}

bool CRestorePg::PathIsZip() const { return EndsWithZip(path_->text()); }

void CRestorePg::Reload() {
    path_->clear();
    ClearList();
}

void CRestorePg::ClearList() {
    list_->clear();
    total_->clear();
    made_->clear();
    engineVersion_->clear();
    macAddress_->clear();
}

void CRestorePg::OnActivate() {
    main_.ActionButton()->setText(Text(ids::kStartRestore));
    if (!PathIsZip()) targetValid_ = false;
    main_.EnableAction(targetValid_ && list_->CountChecked() > 0 && session_.Connected());
}

void CRestorePg::OnCheckChanged() {
    ShowTotal();
    if (!PathIsZip() || !session_.Connected()) return;
    const int checked = list_->CountChecked();
    if (checked == 0)
        main_.EnableAction(false);
    else if (targetValid_)
        main_.EnableAction(true);
}

void CRestorePg::ShowTotal() {
    if (list_->topLevelItemCount() == 0) {
        total_->clear();
        return;
    }
    uint64_t kb = 0;
    bool any = false;
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *item = list_->topLevelItem(i);
        if (item->checkState(0) != Qt::Checked) continue;
        any = true;
        kb += item->data(kSizeColumn, Qt::UserRole).toUInt();
    }
    total_->setText(TotalSizeText(kb, any));
}

void CRestorePg::Refuse(uint32_t message, const QString &details) {
    targetValid_ = false;
    main_.EnableAction(false);
    ShowMessage(this, Text(message), Text(ids::kCaptionError), QMessageBox::Critical, QMessageBox::Ok,
                QMessageBox::NoButton, details);
}

void CRestorePg::OnPathChanged(const QString &text) {
    if (!EndsWithZip(text)) {
        targetValid_ = false;
        main_.EnableAction(false);
        return;
    }
    if (list_->CountChecked() > 0 && session_.Connected() && targetValid_) main_.EnableAction(true);
    if (uint32_t message = RestorePathMessage(text)) {
        ClearList();
        Refuse(message);
        return;
    }
    ReadFile(text);
}

void CRestorePg::ReadFile(const QString &path) {
    VTBACKUPINFO info{};
    uint32_t count = 0;
    VTBOXBK *boxes = nullptr;
    void *handle = nullptr;
    uint32_t rc;
    QString detail;
    {
        WaitCursor wait;
        // The description is unpacked for a moment into a folder of our own:
        // the backup's folder may be one nobody can write to (a read-only
        // share, a disc).
        const QTemporaryDir scratch(QDir(QDir::tempPath()).filePath(QStringLiteral("vtbox-read-XXXXXX")));
        const QByteArray file = path.toUtf8();
        const QByteArray folder = scratch.path().toUtf8();
        rc = scratch.isValid() ? vtBoxGetXMLInfo(file.constData(), folder.constData(), &info, &count, &boxes, &handle)
                               : static_cast<uint32_t>(VTBOX_E_ACCESS_DENIED);
        detail = scratch.isValid() ? QString::fromUtf8(vtBoxGetLastErrorText()) : scratch.errorString();
    }
    vt::GlobalBlock boxList(handle);
    ClearList();
    if (rc != 0 || info.Kind != kBackupKind) {
        Refuse(rc == VTBOX_E_ENGINE_TOO_NEW ? ids::kMsgEngineTooNew : ids::kMsgNotBackupFile,
               FailureDetails(rc, detail));
        return;
    }
    {
        const QSignalBlocker quiet(list_);
        for (uint32_t i = 0; boxes && i < count; ++i) {
            const VTBOXBK &box = boxes[i];
            QTreeWidgetItem *item =
                list_->AddBox(box.BoxNo, BoxNameText(box.BoxName, sizeof box.BoxName), box.Protected != 0);
            item->setText(kSizeColumn, BoxSizeText(box.BoxUsedDisk));
            item->setData(kSizeColumn, Qt::UserRole, box.BoxUsedDisk);
        }
    }
    ShowTotal();
    const BackupFacts facts = DescribeBackup(info);
    made_->setText(facts.made);
    engineVersion_->setText(facts.engineVersion);
    macAddress_->setText(facts.macAddress);

    const QString fileVersion = FieldText(info.EngineVersion, sizeof info.EngineVersion);
    const QString deviceVersion =
        FieldText(session_.EngineInfo().EngineVersion, sizeof session_.EngineInfo().EngineVersion);
    if (fileVersion != deviceVersion) {
        targetValid_ = false;
        main_.EnableAction(false);
        const QString both =
            FormatText(FormatText(Text(ids::kBothEngineVersions), facts.engineVersion),
                       ShownField(session_.EngineInfo().EngineVersion, sizeof session_.EngineInfo().EngineVersion));
        ShowMessage(this, Text(ids::kMsgOtherEngineVersion) + QLatin1Char('\n') + both, Text(ids::kCaptionError),
                    QMessageBox::Critical);
        return;
    }
    targetValid_ = true;
    main_.EnableAction(session_.Connected() && list_->CountChecked() > 0);
}

void CRestorePg::Browse() {
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("restoreFileDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(QStringLiteral("Zip Files (*.zip)"));
    const QString folder = FolderPart(path_->text());
    if (!NotALocalFolder(folder) && QDir(folder).exists()) dialog.setDirectory(folder);
    if (dialog.exec() != QDialog::Accepted) return;
    path_->setText(dialog.selectedFiles().value(0));
}

void CRestorePg::Start() {
    CRestoreModeDlg mode(this);
    if (mode.exec() != QDialog::Accepted) return;
    session_.App().restoreMode = mode.RestoreMode();
    zipPath_ = path_->text();
    JobRequest request;
    request.operation = JobOperation::Restore;
    request.boxes = list_->CheckedNumbers();
    request.restoreMode = session_.App().restoreMode;
    // Any case, as the file was read: a file named "X.ZIP" is a backup too.
    if (!zipPath_.contains(QStringLiteral(".zip"), Qt::CaseInsensitive)) {
        ShowMessage(this, Text(ids::kMsgNotZip), Text(ids::kCaptionRestore), QMessageBox::Warning);
        return;
    }
    request.target = zipPath_.toStdString();
    // The job works beside the file, or in the temp folder when the file's
    // folder cannot be written to.
    const QString folder = FolderPart(zipPath_);
    if (::access(QFile::encodeName(folder).constData(), W_OK) != 0) request.workParent = QDir::tempPath().toStdString();

    CProgressDlg progress(session_, std::move(request), &main_);
    progress.exec();
    const JobOutcome outcome = progress.Outcome();
    progress.DeleteJob();

    const JobReport report = RestoreReport(outcome);
    if (report.deviceLost) main_.MarkSessionLost();
    ShowReport(&main_, report);
    if (outcome.state == kJobFinished) {
        // The device's boxes have changed.
        {
            WaitCursor wait;
            session_.ConnectDevice(ConnectReason::ReloadAfterJob);
        }
        main_.BackupPage()->LoadList();
        if (!session_.Connected()) main_.EnableAction(false);
    }
}

}  // namespace vtutil
