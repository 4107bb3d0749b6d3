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
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdint>

#include "backup_facts.hpp"
#include "backup_page.hpp"
#include "backup_restore_dlg.hpp"
#include "box_list.hpp"
#include "box_listing.hpp"
#include "device_session.hpp"
#include "error_text.hpp"
#include "job_history.hpp"
#include "job_report.hpp"
#include "language.hpp"
#include "message_box.hpp"
#include "progress_dlg.hpp"
#include "restore_mode_dlg.hpp"
#include "size_texts.hpp"
#include "target_path.hpp"
#include "text_format.hpp"
#include "text_ids.hpp"
#include "vthandles.hpp"
#include "widget_marks.hpp"

namespace vtutil {

namespace {

// The recent backups offered under Browse: a menu that fits below the
// button on a small screen, each path cut in its middle to a width that
// keeps the folder's start and the file's name.
constexpr size_t kRecentFilesOffered = 8;
constexpr int kRecentFileShownPixels = 480;

constexpr int kPathMaxLength = 228;
constexpr int kSizeColumn = 1;
constexpr uint32_t kBackupKind = 1;
// What a box's row keeps of the file's own, for when its choice of
// documents is undone: the row's text and the box's size in KB.
constexpr int kBoxTextRole = Qt::UserRole + 1;
constexpr int kBoxKbRole = Qt::UserRole + 1;

// KB as the size column counts them, rounded up.
uint32_t KbOf(uint64_t bytes) { return static_cast<uint32_t>(std::min<uint64_t>((bytes + 1023) / 1024, UINT32_MAX)); }

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
    connect(list_, &QTreeWidget::currentItemChanged, this, &CRestorePg::EnableChooser);

    choose_ = new QPushButton(Text(ids::kChooseDocuments), this);
    choose_->setObjectName(QStringLiteral("chooseDocuments"));
    choose_->setEnabled(false);
    connect(choose_, &QPushButton::clicked, this, &CRestorePg::ChooseDocuments);

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
    auto *below = new QHBoxLayout;
    below->addWidget(choose_);
    below->addWidget(total_, 1);
    layout->addLayout(below);
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
    choices_.clear();
    EnableChooser();
}

void CRestorePg::OnActivate() {
    main_.ActionButton()->setText(Text(ids::kStartRestore));
    if (!PathIsZip()) targetValid_ = false;
    main_.EnableAction(targetValid_ && list_->CountChecked() > 0 && session_.Connected());
    EnableChooser();
}

void CRestorePg::EnableChooser() { choose_->setEnabled(targetValid_ && list_->currentItem() != nullptr); }

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
    EnableChooser();
    ShowMessage(this, Text(message), Text(ids::kCaptionError), QMessageBox::Critical, QMessageBox::Ok,
                QMessageBox::NoButton, details);
}

void CRestorePg::OnPathChanged(const QString &text) {
    if (!EndsWithZip(text)) {
        targetValid_ = false;
        main_.EnableAction(false);
        EnableChooser();
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
            item->setData(0, kBoxTextRole, item->text(0));
            item->setData(kSizeColumn, kBoxKbRole, box.BoxUsedDisk);
        }
        // The chooser works on the selected box: there is always one.
        if (list_->topLevelItemCount() > 0) list_->setCurrentItem(list_->topLevelItem(0));
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
        EnableChooser();
        const QString both =
            FormatText(FormatText(Text(ids::kBothEngineVersions), facts.engineVersion),
                       ShownField(session_.EngineInfo().EngineVersion, sizeof session_.EngineInfo().EngineVersion));
        ShowMessage(this, Text(ids::kMsgOtherEngineVersion) + QLatin1Char('\n') + both, Text(ids::kCaptionError),
                    QMessageBox::Critical);
        return;
    }
    targetValid_ = true;
    main_.EnableAction(session_.Connected() && list_->CountChecked() > 0);
    EnableChooser();
}

void CRestorePg::ChooseDocuments() {
    QTreeWidgetItem *row = list_->currentItem();
    if (!row || !targetValid_) return;
    const uint32_t box = BoxList::Number(row);
    BoxListing listing;
    {
        WaitCursor wait;
        listing = ReadBoxListing(path_->text(), box);
    }
    if (listing.result != 0) {
        ShowMessage(
            this, Text(listing.result == VTBOX_E_DAMAGED_FILE ? ids::kMsgDocumentsDamaged : ids::kMsgDocumentsNotRead),
            Text(ids::kCaptionError), QMessageBox::Critical, QMessageBox::Ok, QMessageBox::NoButton,
            FailureDetails(listing.result, listing.detail));
        return;
    }
    const auto earlier = choices_.find(box);
    CChooseDocumentsDlg chooser(listing.entries, row->data(0, kBoxTextRole).toString(),
                                earlier != choices_.end() ? earlier->second.items : std::vector<VTBACKUPITEM>{}, this);
    if (!chooser.Listed()) {
        ShowMessage(this, Text(ids::kMsgDocumentsNotRead), Text(ids::kCaptionError), QMessageBox::Critical);
        return;
    }
    if (chooser.exec() != QDialog::Accepted) return;
    ApplyChoice(row, chooser.Choice());
}

void CRestorePg::ApplyChoice(QTreeWidgetItem *row, const DocumentChoice &choice) {
    const uint32_t box = BoxList::Number(row);
    const QSignalBlocker quiet(list_);
    const QString boxText = row->data(0, kBoxTextRole).toString();
    if (choice.wholeBox) {
        choices_.erase(box);
        row->setText(0, boxText);
        row->setToolTip(0, QString());
        row->setText(kSizeColumn, BoxSizeText(row->data(kSizeColumn, kBoxKbRole).toUInt()));
        row->setData(kSizeColumn, Qt::UserRole, row->data(kSizeColumn, kBoxKbRole));
    } else {
        // The first choice of documents clears the other boxes, which the
        // file's list starts with all ticked: restoring one document must
        // not restore every box beside it. Ticked again, they go whole.
        if (choices_.empty()) list_->SetAllChecked(false);
        choices_[box] = choice;
        row->setText(0, boxText + QLatin1Char(' ') +
                            FormatValues(Text(ids::kChosenDocuments),
                                         {QString::number(choice.documents), QString::number(choice.ofDocuments)}));
        // A long box name hides the end of the row: the whole of it on hover.
        row->setToolTip(0, row->text(0));
        row->setText(kSizeColumn, BoxSizeText(KbOf(choice.bytes)));
        row->setData(kSizeColumn, Qt::UserRole, KbOf(choice.bytes));
    }
    // The documents were chosen to be restored.
    row->setCheckState(0, Qt::Checked);
    OnCheckChanged();
}

void CRestorePg::Browse() {
    // The backups made lately come first; the file dialog is one entry
    // further, and the only choice when there are none.
    const std::vector<std::string> recent = vtjobs::RecentBackupFiles(vtjobs::ReadJobHistory(), kRecentFilesOffered);
    if (!recent.empty()) {
        QMenu menu(this);
        menu.setObjectName(QStringLiteral("recentBackupFiles"));
        const QFontMetrics metrics(menu.font());
        for (const std::string &file : recent) {
            const QString path = QString::fromStdString(file);
            QString shown = metrics.elidedText(path, Qt::ElideMiddle, kRecentFileShownPixels);
            QAction *entry = menu.addAction(shown.replace(QLatin1Char('&'), QStringLiteral("&&")));
            entry->setData(path);
            entry->setToolTip(path);
        }
        menu.addSeparator();
        QAction *other = menu.addAction(Text(ids::kBrowseOtherFile));
        QAction *chosen = menu.exec(browse_->mapToGlobal(QPoint(0, browse_->height())));
        if (!chosen) return;
        if (chosen != other) {
            path_->setText(chosen->data().toString());
            return;
        }
    }
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
    // A box narrowed to documents goes as its chosen parts, the others whole;
    // without any choice the restore is one of whole boxes.
    const bool narrowed = std::any_of(request.boxes.begin(), request.boxes.end(),
                                      [this](uint32_t box) { return choices_.count(box) != 0; });
    if (narrowed) {
        for (uint32_t box : request.boxes) {
            const auto choice = choices_.find(box);
            if (choice == choices_.end())
                request.items.push_back({box, 0, 0});
            else
                request.items.insert(request.items.end(), choice->second.items.begin(), choice->second.items.end());
        }
    }
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

    const std::vector<uint32_t> boxes = request.boxes;
    CProgressDlg progress(session_, std::move(request), &main_);
    progress.exec();
    const JobOutcome outcome = progress.Outcome();
    progress.DeleteJob();
    RecordJob(JobOperation::Restore, boxes, outcome, main_.DeviceText(), false);

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
