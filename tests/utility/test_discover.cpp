// vtbox-discover against the simulated device: a device that answers is
// recorded with the engine version it reports; one that does not answer, or
// answers with nonsense, is not. In the window, a name typed into the list
// is kept and the address cannot be edited.
#include <QLineEdit>
#include <QProcess>
#include <QTest>
#include <QTreeWidget>

#include "discover_dlg.hpp"
#include "utility_fixture.hpp"

namespace {

int Choose(const QStringList &arguments, QString *output = nullptr) {
    QProcess discover;
    discover.start(VTUTIL_DISCOVER_PROGRAM, QStringList{"--choose"} + arguments);
    if (!discover.waitForFinished(30000)) return -1;
    if (output) *output = QString::fromUtf8(discover.readAllStandardOutput() + discover.readAllStandardError());
    return discover.exitStatus() == QProcess::NormalExit ? discover.exitCode() : -1;
}

}  // namespace

class DiscoverTest : public QObject {
    Q_OBJECT
private slots:
    void ChoosesADeviceThatAnswers() {
        vttest::UtilityDevice device;
        vtutil::BrdKey::Open(KEY_ALL_ACCESS).Delete(vtutil::kLastSelectedIp);

        QCOMPARE(Choose({"127.0.0.1", "--name", "Print room", "--location", "Hall"}), 0);
        QCOMPARE(vttest::ReadBrdValue(vtutil::kLastSelectedIp), std::string("127.0.0.1"));
        QCOMPARE(vttest::ReadBrdValue(vtutil::kLastSelectedName), std::string("Print room"));
        std::vector<vtutil::DeviceRow> rows = vtutil::ReadDeviceTable(vtutil::BrdKey::Open(KEY_READ));
        QCOMPARE(rows.size(), size_t(1));
        QCOMPARE(rows[0].model, std::string("Korvo-B V1.3.0.0"));
        QCOMPARE(rows[0].location, std::string("Hall"));
        // The session it opened is closed again.
        QCOMPARE(device.CountRequests("boxnwConnect"), size_t(1));
        QCOMPARE(device.CountRequests("boxnwDisconnect?SID="), size_t(1));

        QString output;
        vttest::ClosedPort closed;
        vttest::ScopedEnv nobody("VTBOX_HTTP_PORT", std::to_string(closed.port()));
        QCOMPARE(Choose({"127.0.0.1", "--name", "Elsewhere"}, &output), 1);
        QVERIFY2(output.contains("does not answer"), qPrintable(output));
        QCOMPARE(vttest::ReadBrdValue(vtutil::kLastSelectedName), std::string("Print room"));
    }

    void RefusesAReplyThatIsNoSession() {
        vttest::UtilityDevice device;
        device.sim.faults().MalformedReply("boxnwConnect");
        QCOMPARE(Choose({"127.0.0.1", "--name", "Broken"}), 1);
        device.sim.faults().Clear();
        device.sim.faults().ForceResult("boxnwConnect", 102);
        QCOMPARE(Choose({"127.0.0.1", "--name", "Full"}), 1);
        QCOMPARE(Choose({"not an address"}), 1);
        QCOMPARE(vttest::ReadBrdValue(vtutil::kLastSelectedName), std::string("Print room"));
        QVERIFY(vtutil::ReadDeviceTable(vtutil::BrdKey::Open(KEY_READ)).empty());
    }

    void KeepsTheNameTypedAndOpensNoEditorOnTheAddress() {
        vttest::UtilityDevice device;
        vttest::WriteBrdValues(
            {{"Address0", "127.0.0.1"}, {"Name0", "Print room"}, {"Model0", "M"}, {"Location0", "Hall"}});
        // The list used to be rebuilt under the editor that was committing.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("edit"), QRegularExpression::CaseInsensitiveOption));
        vtdiscover::DiscoverDlg dialog(static_cast<uint16_t>(device.sim.device->HttpPort()), {});
        dialog.show();
        auto *list = dialog.findChild<QTreeWidget *>(QStringLiteral("devices"));
        QVERIFY(list);
        QTreeWidgetItem *row = list->topLevelItem(0);
        QVERIFY(row);
        auto editor = [list] { return list->viewport()->findChild<QLineEdit *>(); };

        list->setCurrentItem(row, 1);
        list->editItem(row, 1);
        QVERIFY(!editor());
        QCOMPARE(row->text(1), QString("127.0.0.1"));

        list->editItem(row, 0);
        QLineEdit *name = editor();
        QVERIFY(name);
        name->setText(QStringLiteral("Front desk"));
        QTest::keyClick(name, Qt::Key_Return);
        QTRY_VERIFY(!editor());
        QCOMPARE(list->topLevelItem(0)->text(0), QString("Front desk"));
        list->setCurrentItem(list->topLevelItem(0));
        dialog.accept();
        QCOMPARE(vttest::ReadBrdValue(vtutil::kLastSelectedName), std::string("Front desk"));
        QCOMPARE(vttest::ReadBrdValue(vtutil::kLastSelectedIp), std::string("127.0.0.1"));
    }
};

QTEST_MAIN(DiscoverTest)
#include "test_discover.moc"
