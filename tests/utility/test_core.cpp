// The utility's core without a screen or a device: error texts, the
// language lookup and the registry values.
#include <QTest>
#include <cstring>

#include "brd_registry.hpp"
#include "brlang.h"
#include "error_text.hpp"
#include "language.hpp"
#include "temp_dir.hpp"

namespace {

std::string Lookup(uint32_t id, int32_t bufferSize, int32_t *length) {
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    *length = brLoadString(id, bufferSize > 0 ? buffer : nullptr, bufferSize);
    return bufferSize > 0 ? std::string(buffer) : std::string();
}

}  // namespace

class CoreTest : public QObject {
    Q_OBJECT
private slots:
    void ErrorTexts() {
        QVERIFY(vtutil::Language::Instance().LoadFrom(VTUTIL_PSEUDO_LIBRARY));
        QCOMPARE(vtutil::ErrorTextFor(0), QString());
        QCOMPARE(vtutil::ErrorTextFor(1216), QString("[68]"));
        QCOMPARE(vtutil::ErrorTextFor(12029), QString("[67]\n[125]"));
        QCOMPARE(vtutil::ErrorTextFor(38), QString("[114]"));
        QCOMPARE(vtutil::ShortErrorText(12029), QString("[67]"));
        QCOMPARE(vtutil::ShortErrorText(1216), QString("[68]"));
        QCOMPARE(vtutil::ShortErrorText(0), QString());

        // Without a library every text is empty, and nothing breaks.
        vtutil::Language::Instance().Unload();
        QCOMPARE(vtutil::ErrorTextFor(12029), QString("\n"));
        QVERIFY(vtutil::Text(33).isEmpty());
    }

    // The lookup against the test table of test_strings.cpp.
    void LookupFillsTheCallersBuffer() {
        int32_t length = -1;
        QCOMPARE(Lookup(1, 64, &length), std::string("Ready"));
        QCOMPARE(length, 5);
        QCOMPARE(Lookup(1, 3, &length), std::string("Re"));
        QCOMPARE(length, 2);
        // "Zürich": a cut never splits the two bytes of the "ü".
        QCOMPARE(Lookup(2, 3, &length), std::string("Z"));
        QCOMPARE(length, 1);
        QCOMPARE(Lookup(2, 4, &length), std::string("Z\xC3\xBC"));
        QCOMPARE(Lookup(3, 64, &length), std::string());
        QCOMPARE(length, 0);
        QCOMPARE(Lookup(1, 1, &length), std::string());
        QCOMPARE(length, 0);
        Lookup(1, 0, &length);
        QCOMPARE(length, 0);
    }

    void RegistryValues() {
        vttest::TempDir dir;
        vttest::ScopedEnv registry("VTBOX_REGISTRY_DIR", dir / "registry");
        QVERIFY(!vtutil::ReadChosenDevice());
        QVERIFY(!vtutil::BrdKey::Open(KEY_WRITE).Write(vtutil::kLastSelectedIp, "10.0.0.1"));

        vtutil::BrdKey key = vtutil::BrdKey::Create();
        QVERIFY(key.Write(vtutil::kLastSelectedIp, "10.0.0.1"));
        QVERIFY(!vtutil::ReadChosenDevice());
        QVERIFY(key.Write(vtutil::kLastSelectedName, std::string(255, 'n')));
        QCOMPARE(vtutil::ReadChosenDevice()->name.size(), size_t(255));
        // A value that does not fit 256 bytes with its end counts as missing.
        QVERIFY(key.Write(vtutil::kLastSelectedName, std::string(256, 'n')));
        QVERIFY(!vtutil::ReadChosenDevice());

        std::vector<vtutil::DeviceRow> rows = {{0, "a0", "n0", "m0", "l0"}, {1, "a1", "n1", "m1", "l1"}};
        QVERIFY(vtutil::WriteDeviceTable(key, rows));
        QVERIFY(key.Write("Address40", "stale"));
        rows.pop_back();
        QVERIFY(vtutil::WriteDeviceTable(key, rows));
        QVERIFY(!key.Read("Address1"));
        QVERIFY(!key.Read("Address40"));
        QCOMPARE(vtutil::ReadDeviceTable(key).size(), size_t(1));
    }
};

QTEST_GUILESS_MAIN(CoreTest)
#include "test_core.moc"
