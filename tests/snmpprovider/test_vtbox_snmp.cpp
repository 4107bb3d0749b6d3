// vtbox-snmp, the provider's host program, against a real snmpd.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "server_under_test.hpp"
#include "snmpd_fixture.hpp"

namespace kx9test {
namespace {

class VtboxSnmp : public WithRegistry {
protected:
    void SetUp() override {
        snmpd_ = std::make_unique<Snmpd>(dir_.path());
        ASSERT_TRUE(snmpd_->running()) << snmpd_->error();
    }
    // Runs vtbox-snmp with the arguments; output and error text together.
    std::string Tool(const std::string &args, int *status) {
        return kx9test::Run(std::string(VTBOX_SNMP) + " " + args + " 2>&1", status);
    }
    std::string Device() const { return "--address " + snmpd_->address(); }
    // The lines that Python expressions make of a JSON document.
    std::vector<std::string> Json(const std::string &document, const std::vector<std::string> &expressions) {
        std::string file = dir_ / "out.json";
        std::ofstream(file) << document;
        std::string command = "python3 " KX9_JSON_VALUE;
        for (const std::string &e : expressions) command += " '" + e + "'";
        std::istringstream out(kx9test::Run(command + " < " + file));
        std::vector<std::string> lines;
        for (std::string line; std::getline(out, line);) lines.push_back(line);
        return lines;
    }
    std::unique_ptr<Snmpd> snmpd_;
};

TEST_F(VtboxSnmp, GetPrintsAlignedColumnsAndJson) {
    int rc = -1;
    std::string text = Tool("get " + Device() + " sysDescr hrSystemUptime 505", &rc);
    EXPECT_EQ(rc, 0) << text;
    std::istringstream lines(text);
    std::string header, first;
    std::getline(lines, header);
    std::getline(lines, first);
    const std::string descr = SnmpGet(snmpd_->address(), "1.3.6.1.2.1.1.1.0");
    EXPECT_EQ(header.find("Value"), first.find(descr)) << text;
    EXPECT_NE(text.find("ifDescr.1"), std::string::npos) << text;

    std::string json = Tool("get --json " + Device() + " sysDescr 505", &rc);
    EXPECT_EQ(rc, 0) << json;
    auto walk = SnmpWalk(snmpd_->address(), "1.3.6.1.2.1.2.2.1.2");
    auto got = Json(json, {"d[0][\"state\"]", "d[0][\"values\"][0][\"value\"]", "len(d[1][\"values\"])",
                           "d[1][\"values\"][0][\"instance\"]", "d[1][\"values\"][0][\"value\"]"});
    ASSERT_EQ(got.size(), 5u) << json;
    EXPECT_EQ(got[0], "ok");
    EXPECT_EQ(got[1], descr);
    EXPECT_EQ(got[2], std::to_string(walk.size()));
    EXPECT_EQ(got[4], walk["1.3.6.1.2.1.2.2.1.2." + got[3]]);
}

TEST_F(VtboxSnmp, WalkShowsATableByRows) {
    int rc = -1;
    std::string json = Tool("walk --json " + Device() + " ifTable", &rc);
    EXPECT_EQ(rc, 0) << json;
    auto descr = SnmpWalk(snmpd_->address(), "1.3.6.1.2.1.2.2.1.2");
    auto got =
        Json(json, {"len(d[\"rows\"])", "\";\".join(r[\"instance\"] + \"=\" + r[\"ifDescr\"] for r in d[\"rows\"])"});
    ASSERT_EQ(got.size(), 2u) << json;
    EXPECT_EQ(got[0], std::to_string(descr.size()));
    std::string expected;
    for (const auto &[oid, value] : descr)
        expected += (expected.empty() ? "" : ";") + oid.substr(oid.rfind('.') + 1) + "=" + value;
    EXPECT_EQ(got[1], expected);

    std::string text = Tool("walk " + Device() + " hrStorageTable", &rc);
    EXPECT_EQ(rc, 0) << text;
    EXPECT_EQ(text.rfind("Instance  hrStorageIndex  hrStorageType", 0), 0u) << text;
}

TEST_F(VtboxSnmp, SetWritesScalarsAndRefusesWhatCannotBeWritten) {
    int rc = -1;
    std::string out = Tool("set " + Device() + " --write-community private \"sysLocation=Lab 3, shelf 2\"", &rc);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("written"), std::string::npos) << out;
    EXPECT_EQ(SnmpGet(snmpd_->address(), "1.3.6.1.2.1.1.6.0"), "Lab 3, shelf 2");

    out = Tool("set " + Device() + " sysDescr=x", &rc);
    EXPECT_EQ(rc, 1);
    EXPECT_NE(out.find("sysDescr cannot be set: it is not writable"), std::string::npos) << out;
    out = Tool("set " + Device() + " snmpEnableAuthenTraps=on", &rc);
    EXPECT_EQ(rc, 1);
    EXPECT_NE(out.find("takes a number"), std::string::npos) << out;
    out = Tool("set " + Device() + " sysName=refused", &rc);  // public may not write
    EXPECT_EQ(rc, 1);
    EXPECT_NE(out.find("the device refused the request"), std::string::npos) << out;
}

TEST_F(VtboxSnmp, UsageErrorsSayWhatIsMissing) {
    int rc = -1;
    std::string out = Tool("get sysDescr", &rc);
    EXPECT_EQ(rc, 2);
    EXPECT_NE(out.find("get needs --address"), std::string::npos) << out;
    out = Tool("get " + Device() + " --timeout 0 sysDescr", &rc);
    EXPECT_EQ(rc, 2);
    EXPECT_NE(out.find("--timeout takes seconds"), std::string::npos) << out;
    out = Tool("get " + Device() + " noSuchThing", &rc);
    EXPECT_EQ(rc, 1);
    EXPECT_NE(out.find("no element \"noSuchThing\""), std::string::npos) << out;
    out = Tool("get " + Device() + " ifTable", &rc);
    EXPECT_EQ(rc, 1);
    EXPECT_NE(out.find("read it with walk"), std::string::npos) << out;

    SilentAgent silent;
    out = Tool("get --address " + silent.address() + " --timeout 0.1 --retries 1 sysDescr", &rc);
    EXPECT_EQ(rc, 1);
    EXPECT_NE(out.find("(no reply within the time-out and retries)"), std::string::npos) << out;
    EXPECT_EQ(silent.Received(), 2);
}

TEST_F(VtboxSnmp, SchemaListsElementsAndBrokenMapsAreExplained) {
    int rc = -1;
    std::string out = Tool("schema", &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(
        std::regex_search(out, std::regex(R"(\n2 +sysDescr +1\.3\.6\.1\.2\.1\.1\.1\.0 +scalar +string +read-only\n)")))
        << out.substr(0, 2000);
    EXPECT_TRUE(std::regex_search(out, std::regex(R"(\n502 +ifTable +1\.3\.6\.1\.2\.1\.2\.2 +table )")));

    namespace fs = std::filesystem;
    const fs::path from = fs::path(KX9_SERVER).parent_path(), to = dir_.path() + "/copy";
    fs::create_directory(to);
    fs::copy_file(KX9_SERVER, to / "libKX9SNMPProvider.so");
    for (const char *map : {"HRMap.txt", "PrintMap.txt", "TabsMap.txt", "TabsJMap.txt", "TabsNMap.txt"})
        fs::copy_file(from / map, to / map);
    std::ofstream(to / "TabsJMap.txt", std::ios::app)
        << "jmBroken\t799\t1.3.6.1.4.1.2699.1.1.1.9..1\t\tx\t0\t0\tinteger\tread-only\t\tstatic\n";
    out = Tool("--server " + (to / "libKX9SNMPProvider.so").string() + " schema", &rc);
    EXPECT_EQ(rc, 1);
    EXPECT_NE(out.find("its element maps did not load"), std::string::npos) << out;
    EXPECT_NE(out.find("TabsJMap.txt line 39: object identifier \"1.3.6.1.4.1.2699.1.1.1.9..1\" is malformed"),
              std::string::npos)
        << out;
}

}  // namespace
}  // namespace kx9test
