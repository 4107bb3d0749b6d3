#include "discover_dlg.hpp"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "device_probe.hpp"

namespace vtdiscover {

namespace {
enum Column { kName, kAddress, kModel, kLocation };

// Opens an editor on the name and the location only: the address is what
// the device was checked at, and the model is what it answered.
class UserColumnsDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override {
        if (index.column() != kName && index.column() != kLocation) return nullptr;
        return QStyledItemDelegate::createEditor(parent, option, index);
    }
};
}  // namespace

DiscoverDlg::DiscoverDlg(uint16_t port, const QStringList &addresses, QWidget *parent)
    : QDialog(parent), port_(port), devices_(LoadKnownDevices()) {
    setWindowTitle(tr("Device Discovery"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto *intro = new QLabel(tr("Enter the host name or IPv4 address of a device, or several separated by "
                                "blanks. Each is checked on its box web service (port %1).")
                                 .arg(port_),
                             this);
    intro->setWordWrap(true);
    addresses_ = new QLineEdit(this);
    addresses_->setObjectName(QStringLiteral("addresses"));
    addresses_->setPlaceholderText(tr("for example 192.0.2.10 printer-2.example.org"));
    addresses_->setText(addresses.join(QLatin1Char(' ')));
    check_ = new QPushButton(tr("&Check"), this);
    auto *entry = new QHBoxLayout;
    entry->addWidget(addresses_, 1);
    entry->addWidget(check_);

    list_ = new QTreeWidget(this);
    list_->setObjectName(QStringLiteral("devices"));
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setAllColumnsShowFocus(true);
    list_->setHeaderLabels({tr("Name"), tr("Address"), tr("Model"), tr("Location")});
    list_->setColumnWidth(kName, 140);
    list_->setColumnWidth(kAddress, 120);
    list_->setColumnWidth(kModel, 150);
    list_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    list_->setItemDelegate(new UserColumnsDelegate(list_));

    auto *hint = new QLabel(tr("Double-click a name or location to change it."), this);
    hint->setEnabled(false);
    state_ = new QLabel(this);
    state_->setObjectName(QStringLiteral("state"));
    state_->setWordWrap(true);

    remove_ = new QPushButton(tr("&Remove"), this);
    auto *buttons = new QDialogButtonBox(this);
    use_ = buttons->addButton(tr("&Use This Device"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QDialogButtonBox::Cancel);
    buttons->addButton(remove_, QDialogButtonBox::ResetRole);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(entry);
    layout->addWidget(list_, 1);
    layout->addWidget(hint);
    layout->addWidget(state_);
    layout->addWidget(buttons);

    connect(check_, &QPushButton::clicked, this, &DiscoverDlg::CheckAddresses);
    connect(addresses_, &QLineEdit::returnPressed, this, &DiscoverDlg::CheckAddresses);
    connect(remove_, &QPushButton::clicked, this, &DiscoverDlg::RemoveSelected);
    connect(buttons, &QDialogButtonBox::accepted, this, &DiscoverDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &DiscoverDlg::reject);
    connect(list_, &QTreeWidget::itemSelectionChanged, this, &DiscoverDlg::UpdateButtons);
    connect(list_, &QTreeWidget::itemChanged, this, &DiscoverDlg::OnItemEdited);

    resize(640, 380);
    Rebuild();
    if (!addresses.isEmpty()) CheckAddresses();
}

void DiscoverDlg::Rebuild() {
    rebuilding_ = true;
    const QString selected = list_->currentItem() ? list_->currentItem()->text(kAddress) : QString();
    list_->clear();
    for (const KnownDevice &d : devices_) {
        auto *item = new QTreeWidgetItem(list_, {d.name, d.address, d.model, d.location});
        item->setFlags(item->flags() | Qt::ItemIsEditable);
        if (d.address == selected) list_->setCurrentItem(item);
    }
    rebuilding_ = false;
    UpdateButtons();
}

void DiscoverDlg::UpdateButtons() {
    const bool chosen = list_->currentItem() != nullptr;
    use_->setEnabled(chosen && pending_ == 0);
    remove_->setEnabled(chosen);
    check_->setEnabled(pending_ == 0);
}

void DiscoverDlg::OnItemEdited() {
    if (rebuilding_) return;
    // Only the name and the location are the user's to change.
    for (int i = 0; i < list_->topLevelItemCount() && static_cast<size_t>(i) < devices_.size(); ++i) {
        QTreeWidgetItem *item = list_->topLevelItem(i);
        devices_[i].name = RegistryText(item->text(kName));
        devices_[i].location = RegistryText(item->text(kLocation));
        if (devices_[i].name.isEmpty()) devices_[i].name = devices_[i].address;
    }
    // Not at once: the edit that changed the row is still being committed,
    // and its editor belongs to the row that a rebuild would remove.
    QMetaObject::invokeMethod(this, &DiscoverDlg::Rebuild, Qt::QueuedConnection);
}

void DiscoverDlg::CheckAddresses() {
    const QStringList addresses =
        addresses_->text().split(QRegularExpression(QStringLiteral("[\\s,;]+")), Qt::SkipEmptyParts);
    if (addresses.isEmpty() || pending_ > 0) return;
    state_->setText(tr("Checking %n device(s)...", nullptr, static_cast<int>(addresses.size())));
    for (const QString &address : addresses) {
        auto *probe = new DeviceProbe(address, port_, this);
        connect(probe, &DeviceProbe::Finished, this, [this, probe](const ProbeResult &result) {
            OnProbeFinished(result);
            probe->deleteLater();
        });
        ++pending_;
        probe->Start();
    }
    UpdateButtons();
}

void DiscoverDlg::OnProbeFinished(const ProbeResult &result) {
    --pending_;
    QString note;
    if (!result.answered) {
        note = tr("%1 does not answer: %2.").arg(result.address, result.problem);
    } else if (!MergeDevice(devices_, {result.address, result.address, result.model, QString()})) {
        note = tr("%1 answers, but the list is full; remove a device first.").arg(result.address);
    } else {
        note = tr("%1 answers (%2).").arg(result.address, result.model.isEmpty() ? tr("no model") : result.model);
        Rebuild();
        for (int i = 0; i < list_->topLevelItemCount(); ++i)
            if (list_->topLevelItem(i)->text(kAddress).compare(result.address, Qt::CaseInsensitive) == 0)
                list_->setCurrentItem(list_->topLevelItem(i));
    }
    const QString before = state_->text().startsWith(tr("Checking")) ? QString() : state_->text();
    state_->setText(before.isEmpty() ? note : before + QLatin1Char('\n') + note);
    if (pending_ == 0) addresses_->clear();
    UpdateButtons();
}

void DiscoverDlg::RemoveSelected() {
    QTreeWidgetItem *item = list_->currentItem();
    if (!item) return;
    const int row = list_->indexOfTopLevelItem(item);
    if (row >= 0 && static_cast<size_t>(row) < devices_.size()) devices_.erase(devices_.begin() + row);
    Rebuild();
}

void DiscoverDlg::accept() {
    QTreeWidgetItem *item = list_->currentItem();
    if (!item) return;
    const int row = list_->indexOfTopLevelItem(item);
    if (row < 0 || static_cast<size_t>(row) >= devices_.size()) return;
    if (!SaveChoice(devices_, devices_[row])) {
        QMessageBox::critical(this, windowTitle(), tr("The choice could not be recorded in the registry store."));
        return;
    }
    QDialog::accept();
}

}  // namespace vtdiscover
