#include "choose_documents_dlg.hpp"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>
#include <map>

#include "backup_facts.hpp"
#include "icons.hpp"
#include "language.hpp"
#include "size_texts.hpp"
#include "text_format.hpp"
#include "text_ids.hpp"
#include "widget_marks.hpp"

namespace vtutil {

namespace {

// What a row keeps besides its texts.
constexpr int kKindRole = Qt::UserRole;        // VTENTRY_FOLDER or VTENTRY_DOCUMENT
constexpr int kNumberRole = Qt::UserRole + 1;  // the folder's or the document's number
constexpr int kBytesRole = Qt::UserRole + 2;   // a document's size
constexpr int kNameRole = Qt::UserRole + 3;    // the whole name, which the filter reads

// A name is at most 255 bytes: a longer filter could match nothing.
constexpr int kFilterMaxLength = 255;

QString DateText(const SYSTEMTIME &t) {
    const QDate date(t.wYear, t.wMonth, t.wDay);
    const QTime time(t.wHour, t.wMinute, t.wSecond);
    if (t.wYear == 0 || !date.isValid() || !time.isValid()) return {};
    return QLocale::c().toString(QDateTime(date, time, Qt::UTC).toLocalTime(), QStringLiteral("yyyy-MM-dd HH:mm"));
}

QString BytesText(uint64_t bytes) {
    return FileSizeText(static_cast<int64_t>(std::min<uint64_t>(bytes, std::numeric_limits<int64_t>::max())));
}

QTreeWidgetItem *MakeRow(const VTBACKUPENTRY &e) {
    auto *row = new QTreeWidgetItem;
    const bool folder = e.Kind == VTENTRY_FOLDER;
    row->setText(CChooseDocumentsDlg::kNameColumn, ShownField(e.Name, sizeof e.Name));
    row->setData(CChooseDocumentsDlg::kNameColumn, kNameRole, FieldText(e.Name, sizeof e.Name));
    row->setData(CChooseDocumentsDlg::kNameColumn, kKindRole, e.Kind);
    row->setData(CChooseDocumentsDlg::kNameColumn, kNumberRole, folder ? e.FolderNo : e.DocNo);
    row->setData(CChooseDocumentsDlg::kNameColumn, kBytesRole, static_cast<qulonglong>(e.Size));
    row->setIcon(CChooseDocumentsDlg::kNameColumn, folder ? icons::Folder() : icons::Document());
    if (!folder) row->setText(CChooseDocumentsDlg::kPagesColumn, QString::number(e.NumOfPages));
    row->setText(CChooseDocumentsDlg::kSizeColumn, BytesText(e.Size));
    row->setText(CChooseDocumentsDlg::kDateColumn, DateText(e.Date));
    row->setTextAlignment(CChooseDocumentsDlg::kPagesColumn, Qt::AlignRight | Qt::AlignVCenter);
    row->setTextAlignment(CChooseDocumentsDlg::kSizeColumn, Qt::AlignRight | Qt::AlignVCenter);
    // A folder stands for its documents: ticking it ticks them, and it shows
    // partly ticked while only some are.
    row->setFlags(row->flags() | Qt::ItemIsUserCheckable | (folder ? Qt::ItemIsAutoTristate : Qt::NoItemFlags));
    row->setCheckState(CChooseDocumentsDlg::kNameColumn, Qt::Unchecked);
    return row;
}

bool IsFolder(const QTreeWidgetItem *row) { return row->data(0, kKindRole).toUInt() == VTENTRY_FOLDER; }
uint32_t NumberOf(const QTreeWidgetItem *row) { return row->data(0, kNumberRole).toUInt(); }

// The rows that are ticked by themselves: documents, and folders that hold none.
template <typename Visit>
void ForEachLeaf(QTreeWidget *tree, Visit visit) {
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem *top = tree->topLevelItem(i);
        if (top->childCount() == 0) visit(top);
        for (int j = 0; j < top->childCount(); ++j) visit(top->child(j));
    }
}

}  // namespace

CChooseDocumentsDlg::CChooseDocumentsDlg(const std::vector<VTBACKUPENTRY> &listing, const QString &boxText,
                                         const std::vector<VTBACKUPITEM> &chosen, QWidget *parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("chooseDocuments"));
    setWindowTitle(FormatValues(Text(ids::kChooserTitle), {boxText}));
    setWindowIcon(icons::Application());
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto *filterLabel = new QLabel(Text(ids::kChooserFilter), this);
    filter_ = new QLineEdit(this);
    filter_->setObjectName(QStringLiteral("filter"));
    filter_->setMaxLength(kFilterMaxLength);
    filter_->setClearButtonEnabled(true);
    filterLabel->setBuddy(filter_);
    auto *filterRow = new QHBoxLayout;
    filterRow->addWidget(filterLabel);
    filterRow->addWidget(filter_, 1);

    tree_ = new QTreeWidget(this);
    tree_->setObjectName(QStringLiteral("documents"));
    tree_->setColumnCount(kColumnCount);
    tree_->setHeaderLabels(
        {Text(ids::kNameHeader), Text(ids::kPagesHeader), Text(ids::kSizeHeader), Text(ids::kDateHeader)});
    tree_->setUniformRowHeights(true);
    tree_->setAllColumnsShowFocus(true);
    tree_->setIconSize(QSize(16, 16));
    tree_->header()->setStretchLastSection(false);
    tree_->header()->setSectionResizeMode(kNameColumn, QHeaderView::Stretch);
    for (int c = kPagesColumn; c < kColumnCount; ++c)
        tree_->header()->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    MarkShowsData(tree_);

    summary_ = new QLabel(this);
    summary_->setObjectName(QStringLiteral("summary"));

    selectAll_ = new QPushButton(Text(ids::kChooserSelectAll), this);
    selectAll_->setObjectName(QStringLiteral("selectAll"));
    clearAll_ = new QPushButton(Text(ids::kChooserClearAll), this);
    clearAll_->setObjectName(QStringLiteral("clearAll"));
    selectAll_->setAutoDefault(false);
    clearAll_->setAutoDefault(false);
    auto *buttons = new QDialogButtonBox(this);
    ok_ = buttons->addButton(Text(ids::kOk), QDialogButtonBox::AcceptRole);
    ok_->setDefault(true);
    buttons->addButton(Text(ids::kCancel), QDialogButtonBox::RejectRole);
    auto *buttonRow = new QHBoxLayout;
    buttonRow->addWidget(selectAll_);
    buttonRow->addWidget(clearAll_);
    buttonRow->addStretch(1);
    buttonRow->addWidget(buttons);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(filterRow);
    layout->addWidget(tree_, 1);
    layout->addWidget(summary_);
    layout->addLayout(buttonRow);
    resize(680, 460);

    // A folder's tick changes each of its documents: the summary waits
    // until they all have.
    settle_ = new QTimer(this);
    settle_->setSingleShot(true);
    settle_->setInterval(0);
    connect(settle_, &QTimer::timeout, this, &CChooseDocumentsDlg::ShowChoice);
    connect(tree_, &QTreeWidget::itemChanged, settle_, qOverload<>(&QTimer::start));
    connect(filter_, &QLineEdit::textChanged, this, &CChooseDocumentsDlg::ApplyFilter);
    connect(selectAll_, &QPushButton::clicked, this, [this] { SetShownChecked(true); });
    connect(clearAll_, &QPushButton::clicked, this, [this] { SetShownChecked(false); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    listed_ = Fill(listing);
    if (!listed_) tree_->clear();
    Tick(chosen);
    ShowChoice();
}

bool CChooseDocumentsDlg::Fill(const std::vector<VTBACKUPENTRY> &listing) {
    if (listing.empty() || listing[0].Kind != VTENTRY_BOX) return false;
    box_ = listing[0].BoxNo;
    std::map<uint32_t, QTreeWidgetItem *> folders;
    for (size_t i = 1; i < listing.size(); ++i) {
        const VTBACKUPENTRY &e = listing[i];
        if (e.BoxNo != box_) return false;
        if (e.Kind == VTENTRY_FOLDER) {
            if (e.FolderNo == 0 || folders.count(e.FolderNo)) return false;
            QTreeWidgetItem *row = MakeRow(e);
            tree_->addTopLevelItem(row);
            folders[e.FolderNo] = row;
        } else if (e.Kind == VTENTRY_DOCUMENT) {
            if (e.DocNo == 0) return false;
            QTreeWidgetItem *row = MakeRow(e);
            if (e.FolderNo == 0) {
                tree_->addTopLevelItem(row);
            } else {
                auto folder = folders.find(e.FolderNo);
                if (folder == folders.end()) {
                    delete row;
                    return false;
                }
                folder->second->addChild(row);
            }
            ++documents_;
        } else {
            return false;
        }
    }
    return true;
}

void CChooseDocumentsDlg::Tick(const std::vector<VTBACKUPITEM> &chosen) {
    for (const VTBACKUPITEM &item : chosen) {
        if (item.BoxNo != box_) continue;
        for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
            QTreeWidgetItem *top = tree_->topLevelItem(i);
            const bool folder = IsFolder(top);
            if (item.FolderNo == 0 && item.DocNo == 0) {
                top->setCheckState(kNameColumn, Qt::Checked);
            } else if (folder && item.FolderNo == NumberOf(top)) {
                if (item.DocNo == 0) top->setCheckState(kNameColumn, Qt::Checked);
                for (int j = 0; item.DocNo != 0 && j < top->childCount(); ++j)
                    if (NumberOf(top->child(j)) == item.DocNo) top->child(j)->setCheckState(kNameColumn, Qt::Checked);
            } else if (!folder && item.FolderNo == 0 && item.DocNo == NumberOf(top)) {
                top->setCheckState(kNameColumn, Qt::Checked);
            }
        }
    }
}

DocumentChoice CChooseDocumentsDlg::Choice() const {
    DocumentChoice choice;
    choice.ofDocuments = documents_;
    bool all = tree_->topLevelItemCount() > 0;
    for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *top = tree_->topLevelItem(i);
        const Qt::CheckState state = top->checkState(kNameColumn);
        if (state != Qt::Checked) all = false;
        if (state == Qt::Unchecked) continue;
        if (!IsFolder(top)) {
            choice.items.push_back({box_, 0, NumberOf(top)});
            ++choice.documents;
            choice.bytes += top->data(0, kBytesRole).toULongLong();
            continue;
        }
        // A folder ticked whole goes as the folder (an empty one too).
        if (state == Qt::Checked) choice.items.push_back({box_, NumberOf(top), 0});
        for (int j = 0; j < top->childCount(); ++j) {
            const QTreeWidgetItem *document = top->child(j);
            if (document->checkState(kNameColumn) != Qt::Checked) continue;
            if (state != Qt::Checked) choice.items.push_back({box_, NumberOf(top), NumberOf(document)});
            ++choice.documents;
            choice.bytes += document->data(0, kBytesRole).toULongLong();
        }
    }
    choice.wholeBox = all;
    return choice;
}

void CChooseDocumentsDlg::ApplyFilter(const QString &text) {
    auto matches = [&text](const QTreeWidgetItem *row) {
        return text.isEmpty() || row->data(0, kNameRole).toString().contains(text, Qt::CaseInsensitive);
    };
    for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
        QTreeWidgetItem *top = tree_->topLevelItem(i);
        const bool whole = matches(top);
        bool anyShown = false;
        for (int j = 0; j < top->childCount(); ++j) {
            const bool shown = whole || matches(top->child(j));
            top->child(j)->setHidden(!shown);
            anyShown = anyShown || shown;
        }
        top->setHidden(!whole && !anyShown);
        // A folder opens to show what it holds that matches.
        if (!text.isEmpty() && anyShown) top->setExpanded(true);
    }
}

void CChooseDocumentsDlg::SetShownChecked(bool checked) {
    ForEachLeaf(tree_, [checked](QTreeWidgetItem *row) {
        const bool shown = !row->isHidden() && !(row->parent() && row->parent()->isHidden());
        if (shown) row->setCheckState(kNameColumn, checked ? Qt::Checked : Qt::Unchecked);
    });
}

void CChooseDocumentsDlg::ShowChoice() {
    const DocumentChoice choice = Choice();
    summary_->setText(FormatValues(
        Text(ids::kChooserSummary),
        {QString::number(choice.documents), QString::number(choice.ofDocuments), BytesText(choice.bytes)}));
    ok_->setEnabled(!choice.items.empty());
}

}  // namespace vtutil
