#include "select_devices_dlg.hpp"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app_state.hpp"
#include "brd_registry.hpp"
#include "icons.hpp"
#include "language.hpp"
#include "message_box.hpp"
#include "text_ids.hpp"
#include "widget_marks.hpp"

namespace vtutil {

namespace {
enum Column { kName, kAddress, kModel, kLocation };
}  // namespace

CSelectDevicesDlg::CSelectDevicesDlg(AppState &app, QWidget *parent) : QDialog(parent), app_(app) {
    setWindowTitle(Text(ids::kDeviceChoiceTitle));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    list_ = new QTreeWidget(this);
    list_->setObjectName(QStringLiteral("devices"));
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setAllColumnsShowFocus(true);
    list_->setHeaderLabels(
        {Text(ids::kNameHeader), Text(ids::kAddressHeader), Text(ids::kModelHeader), Text(ids::kLocationHeader)});
    list_->setColumnWidth(kName, 120);
    list_->setColumnWidth(kAddress, 100);
    list_->setColumnWidth(kModel, 160);
    list_->setColumnWidth(kLocation, 155);
    list_->header()->setStretchLastSection(true);
    list_->setIconSize(QSize(16, 16));
    MarkShowsData(list_);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *ok = buttons->addButton(Text(ids::kOk), QDialogButtonBox::AcceptRole);
    ok->setDefault(true);
    buttons->addButton(Text(ids::kCancel), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &CSelectDevicesDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CSelectDevicesDlg::reject);
    connect(list_, &QTreeWidget::itemDoubleClicked, this, &CSelectDevicesDlg::accept);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    layout->addWidget(buttons);
    resize(600, 300);
    Fill();
}

void CSelectDevicesDlg::Fill() {
    BrdKey key = BrdKey::Open(KEY_READ);
    const QString current = QString::fromStdString(app_.deviceAddress);
    for (const DeviceRow &row : ReadDeviceTable(key)) {
        auto *item = new QTreeWidgetItem(list_);
        item->setIcon(kName, icons::Device());
        item->setText(kName, QString::fromStdString(row.name));
        item->setText(kAddress, QString::fromStdString(row.address));
        item->setText(kModel, QString::fromStdString(row.model));
        item->setText(kLocation, QString::fromStdString(row.location));
        if (item->text(kAddress) == current) {
            list_->setCurrentItem(item);
            item->setSelected(true);
        }
    }
}

void CSelectDevicesDlg::accept() {
    const QList<QTreeWidgetItem *> chosen = list_->selectedItems();
    if (chosen.isEmpty()) {
        ShowMessage(this, Text(ids::kMsgChooseDevice), Text(ids::kCaptionError), QMessageBox::Warning);
        return;
    }
    const std::string address = chosen.front()->text(kAddress).toStdString();
    const std::string name = chosen.front()->text(kName).toStdString();
    BrdKey key = BrdKey::Open(KEY_WRITE);
    const bool addressWritten = key.Write(kLastSelectedIp, address);
    const bool nameWritten = key.Write(kLastSelectedName, name);
    if (!addressWritten || !nameWritten)
        ShowMessage(this, Text(ids::kMsgNoDevice), Text(ids::kCaptionError), QMessageBox::Critical);
    app_.deviceAddress = address;
    app_.deviceName = name;
    QDialog::accept();
}

}  // namespace vtutil
