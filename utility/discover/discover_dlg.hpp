// The discovery window: the user enters device addresses, each is checked on
// its box web service, and the chosen one is left in the registry.
#pragma once

#include <QDialog>
#include <vector>

#include "device_table.hpp"

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace vtdiscover {

struct ProbeResult;

class DiscoverDlg : public QDialog {
    Q_OBJECT
public:
    DiscoverDlg(uint16_t port, const QStringList &addresses, QWidget *parent = nullptr);

public slots:
    void accept() override;

private:
    void CheckAddresses();
    void OnProbeFinished(const ProbeResult &result);
    void Rebuild();
    void RemoveSelected();
    void UpdateButtons();
    void OnItemEdited();

    uint16_t port_;
    std::vector<KnownDevice> devices_;
    QLineEdit *addresses_;
    QPushButton *check_;
    QPushButton *remove_;
    QPushButton *use_;
    QTreeWidget *list_;
    QLabel *state_;
    int pending_ = 0;
    bool rebuilding_ = false;
};

}  // namespace vtdiscover
