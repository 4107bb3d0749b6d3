#include "box_list.hpp"

#include <QHeaderView>
#include <algorithm>
#include <cstring>

#include "icons.hpp"
#include "widget_marks.hpp"

namespace vtutil {

QString BoxNameText(const char *name, size_t size) {
    return QString::fromUtf8(name, static_cast<qsizetype>(strnlen(name, size)));
}

BoxList::BoxList(QWidget *parent) : QTreeWidget(parent) {
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setAllColumnsShowFocus(true);
    setSortingEnabled(true);
    sortByColumn(0, Qt::AscendingOrder);
    header()->setSortIndicatorShown(false);
    header()->setSectionsClickable(false);
    setIconSize(QSize(16, 16));
    MarkShowsData(this);
}

QTreeWidgetItem *BoxList::AddBox(uint32_t number, const QString &name, bool isProtected) {
    auto *item = new QTreeWidgetItem;
    item->setText(0, QString::asprintf("%.3u ", number) + name);
    item->setIcon(0, icons::Box(isProtected));
    item->setData(0, Qt::UserRole, number);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, Qt::Checked);
    addTopLevelItem(item);
    return item;
}

int BoxList::CountChecked() const {
    int checked = 0;
    for (int i = 0; i < topLevelItemCount(); ++i)
        if (topLevelItem(i)->checkState(0) == Qt::Checked) ++checked;
    return checked;
}

std::vector<uint32_t> BoxList::CheckedNumbers() const {
    std::vector<uint32_t> numbers;
    for (int i = 0; i < topLevelItemCount(); ++i)
        if (topLevelItem(i)->checkState(0) == Qt::Checked) numbers.push_back(Number(topLevelItem(i)));
    return numbers;
}

uint32_t BoxList::Number(const QTreeWidgetItem *item) { return item->data(0, Qt::UserRole).toUInt(); }

void BoxList::CheckOnly(const std::vector<uint32_t> &numbers) {
    for (int i = 0; i < topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = topLevelItem(i);
        const bool chosen = std::find(numbers.begin(), numbers.end(), Number(item)) != numbers.end();
        item->setCheckState(0, chosen ? Qt::Checked : Qt::Unchecked);
    }
}

void BoxList::SetAllChecked(bool checked) {
    for (int i = 0; i < topLevelItemCount(); ++i)
        topLevelItem(i)->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
}

}  // namespace vtutil
