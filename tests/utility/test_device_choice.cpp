// The device choice: which rows of the registry table it lists, and a change
// of device that the user cancels at the login.
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <fstream>

#include "backup_page.hpp"
#include "backup_restore_dlg.hpp"
#include "box_list.hpp"
#include "language.hpp"
#include "login_dlg.hpp"
#include "modal_answerer.hpp"
#include "program_files.hpp"
#include "select_devices_dlg.hpp"
#include "utility_fixture.hpp"

using vtutil::CSelectDevicesDlg;

namespace {

void WriteRow(int n, const char *address, const char *name, const char *model, const char *location) {
    vtutil::BrdKey key = vtutil::BrdKey::Create();
    const std::string index = std::to_string(n);
    if (address) key.Write("Address" + index, address);
    if (name) key.Write("Name" + index, name);
    if (model) key.Write("Model" + index, model);
    if (location) key.Write("Location" + index, location);
}

QStringList Column(QTreeWidget *list, int column) {
    QStringList texts;
    for (int i = 0; i < list->topLevelItemCount(); ++i) texts << list->topLevelItem(i)->text(column);
    return texts;
}

}  // namespace

class DeviceChoiceTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(vtutil::Language::Instance().LoadFrom(VTUTIL_LANGUAGE_LIBRARY)); }

    void ListsCompleteRowsAndSelectsTheCurrentDevice() {
        vttest::UtilityDevice device;
        WriteRow(1, "10.0.0.1", "Hall", "Korvo-B", "Ground floor");
        WriteRow(3, "127.0.0.1", "Print room", "Korvo-B", "");  // an empty location is a value
        WriteRow(5, "10.0.0.5", "Cellar", "Korvo-B", nullptr);
        WriteRow(6, nullptr, "Attic", "Korvo-B", "Roof");
        WriteRow(63, "10.0.0.63", "Annex", "Korvo-C", "Yard");

        CSelectDevicesDlg choose(device.app);
        QCOMPARE(Column(choose.List(), 0), QStringList({"Hall", "Print room", "Annex"}));
        QCOMPARE(Column(choose.List(), 1), QStringList({"10.0.0.1", "127.0.0.1", "10.0.0.63"}));
        const QList<QTreeWidgetItem *> selected = choose.List()->selectedItems();
        QCOMPARE(selected.size(), 1);
        QCOMPARE(selected[0]->text(1), QString("127.0.0.1"));
    }

    void CancelledLoginPutsThePreviousDeviceBack() {
        vttest::UtilityDevice device;
        WriteRow(0, "127.0.0.1", "Print room", "Korvo-B", "");
        WriteRow(1, "127.0.0.2", "Sales floor", "Korvo-B", "");
        device.Login();
        QVERIFY(device.session.Connected());
        vtutil::CBackupRestoreDlg window(device.app, device.session);
        window.show();
        const size_t connectsBefore = device.CountRequests("boxnwConnect");

        vttest::ModalAnswerer answerer;
        answerer.OnDialog<CSelectDevicesDlg>([](CSelectDevicesDlg *choose) {
            choose->List()->setCurrentItem(choose->List()->topLevelItem(1));
            vttest::Later([choose] { choose->accept(); });
        });
        answerer.OnDialog<vtutil::CLoginDlg>([](vtutil::CLoginDlg *login) {
            // The new device is the one recorded while its login is open.
            QCOMPARE(vttest::ReadBrdValue(vtutil::kLastSelectedIp), std::string("127.0.0.2"));
            vttest::Later([login] { login->reject(); });
        });
        window.Action(vtutil::CBackupRestoreDlg::Command::DeviceSettings)->trigger();

        QVERIFY(answerer.Done());
        QVERIFY(answerer.Unexpected().isEmpty());
        QCOMPARE(device.app.deviceAddress, std::string("127.0.0.1"));
        QCOMPARE(device.app.deviceName, std::string("Print room"));
        QCOMPARE(vttest::ReadBrdValue(vtutil::kLastSelectedIp), std::string("127.0.0.1"));
        QCOMPARE(vttest::ReadBrdValue(vtutil::kLastSelectedName), std::string("Print room"));
        // Reconnected to the previous device, with its boxes still listed.
        QVERIFY(device.session.Connected());
        QCOMPARE(device.CountRequests("boxnwConnect"), connectsBefore + 1);
        QCOMPARE(window.BackupPage()->List()->topLevelItemCount(), 3);
    }

    void DiscoveryChangesTheDeviceOnlyWhenAnotherWasChosen() {
        vttest::UtilityDevice device;
        device.Login();
        vtutil::CBackupRestoreDlg window(device.app, device.session);
        window.show();
        vttest::ModalAnswerer answerer;

        // The discovery program leaves the same device chosen: nothing to do.
        vtutil::SetDiscoveryProgram("/bin/true");
        window.Action(vtutil::CBackupRestoreDlg::Command::DeviceDiscovery)->trigger();
        QVERIFY(window.isVisible() && !window.isMinimized());

        // Another device: its login; cancelled, the previous device is back.
        const std::string script = device.sim.dir / "choose-other";
        std::ofstream(script) << "#!/bin/sh\nexec '" << VTUTIL_DISCOVER_PROGRAM
                              << "' --choose 127.0.0.2 --name Other\n";
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
        // A second device on the same port, at another loopback address.
        devicesim::DeviceOptions o;
        o.store = device.sim.dir / "other-store";
        o.address = "127.0.0.2";
        o.httpPort = device.sim.device->HttpPort();
        devicesim::Device other(o);
        other.Start();
        vtutil::SetDiscoveryProgram(QString::fromStdString(script));
        bool loginShown = false;
        answerer.OnDialog<vtutil::CLoginDlg>([&loginShown](vtutil::CLoginDlg *login) {
            loginShown = true;
            vttest::Later([login] { login->reject(); });
        });
        window.Action(vtutil::CBackupRestoreDlg::Command::DeviceDiscovery)->trigger();
        vtutil::SetDiscoveryProgram(QString());

        QVERIFY(answerer.Unexpected().isEmpty());
        QVERIFY(loginShown);
        QCOMPARE(device.app.deviceAddress, std::string("127.0.0.1"));
        QCOMPARE(device.app.deviceName, std::string("Print room"));
        QVERIFY(device.session.Connected());
    }
};

QTEST_MAIN(DeviceChoiceTest)
#include "test_device_choice.moc"
