// The element operations against a real snmpd: scalar reads, value
// conversions, table walks, writes, time-outs, and requests still queued
// keeping the server loaded.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <regex>
#include <thread>

#include "server_under_test.hpp"
#include "snmpd_fixture.hpp"

namespace kx9test {
namespace {

using vtsnmp::Ptr;
using vtsnmp::ReadValue;
using Clock = std::chrono::steady_clock;

// A host callback that records who completed, and on which thread.
class Recorder {
public:
    Recorder() { slot_.iface.lpVtbl = &kTable, slot_.self = this; }
    IDSECallback *Interface() { return &slot_.iface; }
    int completed() const { return completed_; }
    std::thread::id thread() const { return thread_; }
    IDSE_ELEMENT *completer() const { return completer_; }
    bool WaitFor(int count, std::chrono::seconds limit) {
        auto end = Clock::now() + limit;
        while (completed_ < count && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return completed_ >= count;
    }

private:
    static Recorder *Of(IDSECallback *c) { return reinterpret_cast<Slot *>(c)->self; }
    static HRESULT QueryInterface(IDSECallback *, REFIID, void **ppv) {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    static ULONG AddRef(IDSECallback *) { return 2; }  // lives on the test's stack, longer than the server
    static ULONG Release(IDSECallback *) { return 1; }
    static HRESULT Complete(IDSECallback *c, IDSE_ELEMENT *e) {
        Recorder *r = Of(c);
        r->thread_ = std::this_thread::get_id();
        r->completer_ = e;
        ++r->completed_;
        return S_OK;
    }
    static const IDSECallbackVtbl kTable;
    struct Slot {
        IDSECallback iface;
        Recorder *self;
    } slot_;
    std::atomic<int> completed_{0};
    std::thread::id thread_;
    IDSE_ELEMENT *completer_ = nullptr;
};
const IDSECallbackVtbl Recorder::kTable = {&Recorder::QueryInterface, &Recorder::AddRef, &Recorder::Release,
                                           &Recorder::Complete};

std::string Shown(const ReadValue &v, int syntax) {
    if (v.type == VT_I4)
        return vtsnmp::IsUnsignedSyntax(syntax) ? std::to_string(static_cast<uint32_t>(v.number))
                                                : std::to_string(v.number);
    return v.type == VT_BSTR ? v.text : "<empty>";
}

// A host session with a registry of its own.
class Host : public WithRegistry {
protected:
    void TearDown() override {
        session_.reset();
        vtCoFreeUnusedLibraries();
    }
    void Connect(const vtsnmp::DeviceSettings &device) {
        std::string error;
        if (!session_) {
            session_ = std::make_unique<vtsnmp::Session>();
            ASSERT_TRUE(session_->Open(KX9_SERVER, &error)) << error;
        }
        ASSERT_TRUE(session_->SetDevice(device, &error)) << error;
    }
    std::vector<std::vector<ReadValue>> Read(int number, DSE_ELEMENT_STATE expected = DSE_ELEMENT_NO_ERROR) {
        std::vector<std::vector<ReadValue>> lists;
        DSE_ELEMENT_STATE state = DSE_ELEMENT_OP_IN_PROGRESS;
        std::string error;
        EXPECT_TRUE(session_->Read(number, &lists, &state, &error)) << error;
        EXPECT_EQ(state, expected) << "element " << number;
        if (lists.empty()) lists.resize(DSE_VALUE_LISTS);
        return lists;
    }

    std::unique_ptr<vtsnmp::Session> session_;
};

// ... and a real snmpd.
class Agent : public Host {
protected:
    void SetUp() override {
        snmpd_ = std::make_unique<Snmpd>(dir_.path());
        ASSERT_TRUE(snmpd_->running()) << snmpd_->error();
        Connect({snmpd_->address(), {}, {"private"}, {}, {}});
    }
    std::unique_ptr<Snmpd> snmpd_;
};

TEST_F(Agent, ScalarReadsAgreeWithSnmpget) {
    auto descr = Read(2);
    ASSERT_EQ(descr[0].size(), 1u);
    EXPECT_EQ(descr[0][0].type, VT_BSTR);
    EXPECT_EQ(descr[0][0].text, SnmpGet(snmpd_->address(), "1.3.6.1.2.1.1.1.0"));
    EXPECT_TRUE(descr[0][0].instance.empty());

    uint32_t before = std::stoul(SnmpGet(snmpd_->address(), "1.3.6.1.2.1.25.1.1.0"));
    auto uptime = Read(22);
    uint32_t after = std::stoul(SnmpGet(snmpd_->address(), "1.3.6.1.2.1.25.1.1.0"));
    ASSERT_EQ(uptime[0].size(), 1u);
    ASSERT_EQ(uptime[0][0].type, VT_I4);
    EXPECT_LE(before, static_cast<uint32_t>(uptime[0][0].number));
    EXPECT_LE(static_cast<uint32_t>(uptime[0][0].number), after);
    for (int i = 1; i < DSE_VALUE_LISTS; ++i) EXPECT_TRUE(uptime[i].empty());
}

TEST_F(Agent, Counter32OfAllOnesArrivesAsI4WithEveryBitSet) {
    auto life = Read(276);  // prtMarkerLifeCount, served by printer_pass.py
    ASSERT_EQ(life[0].size(), 1u);
    EXPECT_EQ(life[0][0].type, VT_I4);
    EXPECT_EQ(static_cast<uint32_t>(life[0][0].number), 0xFFFFFFFFu);
    EXPECT_EQ(life[0][0].instance, "1.1");
}

TEST_F(Agent, DateAndTimeArrivesAsPrintableText) {
    auto date = Read(23);  // hrSystemDate
    ASSERT_EQ(date[0].size(), 1u);
    ASSERT_EQ(date[0][0].type, VT_BSTR);
    const std::string &text = date[0][0].text;
    EXPECT_TRUE(std::regex_match(
        text, std::regex(R"(\d{4}-\d{1,2}-\d{1,2},\d{1,2}:\d{1,2}:\d{1,2}\.\d(,[+-]\d{1,2}:\d{1,2})?)")))
        << text;
    // The same day as the octets snmpget shows in hexadecimal.
    unsigned y1 = 0, y2 = 0, month = 0, day = 0;
    std::string hex = SnmpGet(snmpd_->address(), "1.3.6.1.2.1.25.1.2.0");
    ASSERT_EQ(std::sscanf(hex.c_str(), "%x %x %x %x", &y1, &y2, &month, &day), 4) << hex;
    EXPECT_EQ(text.substr(0, text.find(',')),
              std::to_string(y1 << 8 | y2) + "-" + std::to_string(month) + "-" + std::to_string(day));
}

TEST_F(Agent, TableReadThroughTheWorkerMatchesSnmpwalk) {
    // The collection reads on the worker thread and completes from there.
    Ptr<IDSE_ELEMENT> table = session_->Element(502);  // ifTable
    Ptr<IDSE_SNMPCOLLECTION> collection;
    ASSERT_EQ(table->lpVtbl->QueryInterface(table.get(), &IID_IDSE_SNMPCOLLECTION, collection.put_void()), S_OK);
    ASSERT_EQ(collection->lpVtbl->SetParent(collection.get(), session_->device()), S_OK);
    Recorder recorder;
    ASSERT_EQ(collection->lpVtbl->GetValue(collection.get(), recorder.Interface()), S_OK);
    ASSERT_TRUE(recorder.WaitFor(1, std::chrono::seconds(30)));
    EXPECT_NE(recorder.thread(), std::this_thread::get_id());
    EXPECT_EQ(recorder.completer(), reinterpret_cast<IDSE_ELEMENT *>(collection.get()));

    std::vector<std::pair<vtsnmp::ElementInfo, std::vector<ReadValue>>> columns;
    DSE_ELEMENT_STATE state = DSE_ELEMENT_OP_IN_PROGRESS;
    std::string error;
    ASSERT_TRUE(session_->ReadTable(502, &columns, &state, &error)) << error;
    EXPECT_EQ(state, DSE_ELEMENT_NO_ERROR);
    ASSERT_EQ(columns.size(), 22u);

    auto walk = SnmpWalk(snmpd_->address(), "1.3.6.1.2.1.2.2.1");
    ASSERT_FALSE(walk.empty());
    for (const auto &[column, values] : columns) {
        std::string prefix = column.oid + ".";
        size_t walked = 0;
        for (const auto &[oid, shown] : walk) walked += oid.compare(0, prefix.size(), prefix) == 0;
        EXPECT_EQ(values.size(), walked) << column.name;  // column 1 must not run into 10 to 19
        if (column.number > 510) continue;                // counters and states move between two walks
        for (const ReadValue &v : values) EXPECT_EQ(Shown(v, column.syntax), walk[prefix + v.instance]) << column.name;
    }
}

TEST_F(Agent, AColumnOfManyGroupsKeepsTheFirstFiveWhole) {
    auto levels = Read(296);  // prtMarkerSuppliesLevel: devices 1 to 7, two supplies each
    for (int i = 0; i < DSE_VALUE_LISTS; ++i) {
        ASSERT_EQ(levels[i].size(), 2u) << "list " << i;
        for (int j = 0; j < 2; ++j) {
            EXPECT_EQ(levels[i][j].number, (i + 1) * 10 + j + 1);
            EXPECT_EQ(levels[i][j].instance, std::to_string(i + 1) + "." + std::to_string(j + 1));
        }
    }
}

TEST_F(Agent, ASetOfSysContactIsReadBack) {
    VARIANT contact;
    VariantInit(&contact);
    contact.vt = VT_BSTR;
    contact.bstrVal = vtSysAllocStringUtf8("Printer Desk <ops@example.org>");
    DSE_ELEMENT_STATE state = DSE_ELEMENT_OP_IN_PROGRESS;
    std::string error;
    ASSERT_TRUE(session_->Write(5, contact, &state, &error)) << error;
    EXPECT_EQ(state, DSE_ELEMENT_NO_ERROR);
    auto read = Read(5);
    ASSERT_EQ(read[0].size(), 1u);
    EXPECT_EQ(read[0][0].text, "Printer Desk <ops@example.org>");
    EXPECT_EQ(SnmpGet(snmpd_->address(), "1.3.6.1.2.1.1.4.0"), "Printer Desk <ops@example.org>");

    // The read community may not write.
    Connect({snmpd_->address(), {}, {"public"}, {}, {}});
    VariantClear(&contact);
    contact.vt = VT_BSTR;
    contact.bstrVal = vtSysAllocStringUtf8("nobody");
    ASSERT_TRUE(session_->Write(5, contact, &state, &error)) << error;
    EXPECT_EQ(state, DSE_ELEMENT_OP_GEN_ERROR);
    EXPECT_EQ(SnmpGet(snmpd_->address(), "1.3.6.1.2.1.1.4.0"), "Printer Desk <ops@example.org>");
    VariantClear(&contact);
}

// A value written to a column goes to the row it was read at, however
// sparse the table: printers 1, 3 and 1000 (one index) and input trays 1.1,
// 1.4 and 5.2 (two), which printer_pass.py serves writable. (By its place in
// the lists it went to printer 3, and to a tray 2.1 that does not exist.)
TEST_F(Agent, AWriteToAColumnLandsOnTheRowItsValueWasReadAt) {
    struct Case {
        int number;
        std::string column;
        int list, index;
        std::string instance;
    };
    for (const Case &c : {Case{219, "1.3.6.1.2.1.43.5.1.1.16", 0, 2, "1000"},    // prtGeneralPrinterName
                          Case{250, "1.3.6.1.2.1.43.8.2.1.13", 1, 0, "5.2"}}) {  // prtInputName
        SCOPED_TRACE(c.column);
        std::map<std::string, std::string> rows = SnmpWalk(snmpd_->address(), c.column);
        auto lists = Read(c.number);
        ASSERT_GT(lists[c.list].size(), static_cast<size_t>(c.index));
        ASSERT_EQ(lists[c.list][c.index].instance, c.instance);

        Ptr<IDSE_ELEMENT> element = session_->Element(c.number);
        Ptr<IDSE_SNMPSCALAR> scalar;
        ASSERT_EQ(element->lpVtbl->QueryInterface(element.get(), &IID_IDSE_SNMPSCALAR, scalar.put_void()), S_OK);
        VARIANT name;
        VariantInit(&name);
        name.vt = VT_BSTR;
        name.bstrVal = vtSysAllocStringUtf8(("Renamed " + c.instance).c_str());
        EXPECT_EQ(scalar->lpVtbl->PutListValue(scalar.get(), c.list, c.index, &name), S_OK);
        VariantClear(&name);
        // The scalar object keeps the callback: one with a reference count of its own.
        vtsnmp::Completion *done = vtsnmp::Completion::New();
        EXPECT_EQ(scalar->lpVtbl->SetValue(scalar.get(), done->Interface()), S_OK);
        EXPECT_TRUE(done->Wait(0));
        done->Release();
        DSE_ELEMENT_STATE state = DSE_ELEMENT_OP_IN_PROGRESS;
        scalar->lpVtbl->get_ElementState(scalar.get(), &state);
        EXPECT_EQ(state, DSE_ELEMENT_NO_ERROR);

        rows[c.column + "." + c.instance] = "Renamed " + c.instance;
        EXPECT_EQ(SnmpWalk(snmpd_->address(), c.column), rows);
    }
}

// A device element without children 997 and 998 means one second and two
// retries: three requests, about three seconds, then empty lists.
TEST_F(Host, ASilentAgentEndsWithEmptyListsAfterTheDefaultTimeoutAndRetries) {
    SilentAgent silent;
    Connect({silent.address(), {}, {}, {}, {}});
    auto start = Clock::now();
    auto lists = Read(2, DSE_ELEMENT_OPTIMEOUT);
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (const auto &list : lists) EXPECT_TRUE(list.empty());
    EXPECT_EQ(silent.Received(), 3);
    EXPECT_GE(seconds, 2.9);
    EXPECT_LT(seconds, 30.0);

    // With the children set, they are used: one request, no retry.
    Connect({silent.address(), {}, {}, {20}, {0}});
    Read(2, DSE_ELEMENT_OPTIMEOUT);
    EXPECT_EQ(silent.Received(), 4);
}

// A queued request keeps its element alive, and the element the server:
// however early the host lets go of everything, the server stays loaded
// until the last callback has come, and unloads after it.
TEST_F(Host, RequestsInFlightKeepTheServerLoadedUntilTheyComplete) {
    SilentAgent silent;
    Recorder recorder;
    Connect({silent.address(), {}, {}, {100}, {0}});  // one second each, no retry
    for (int number : {2, 6, 22}) {
        Ptr<IDSE_ELEMENT> element = session_->Element(number);
        Ptr<IDSE_SNMPQUEUED> queued;
        ASSERT_EQ(element->lpVtbl->QueryInterface(element.get(), &IID_IDSE_SNMPQUEUED, queued.put_void()), S_OK);
        ASSERT_EQ(queued->lpVtbl->SetParent(queued.get(), session_->device()), S_OK);
        ASSERT_EQ(queued->lpVtbl->GetValue(queued.get(), recorder.Interface()), S_OK);
        DSE_ELEMENT_STATE state = DSE_ELEMENT_NO_ERROR;
        queued->lpVtbl->get_ElementState(queued.get(), &state);
        EXPECT_EQ(state, DSE_ELEMENT_OP_IN_PROGRESS);
    }
    session_.reset();
    vtCoFreeUnusedLibraries();
    ASSERT_LT(recorder.completed(), 3) << "the agent answered no one, yet every request is done";
    EXPECT_TRUE(IsLoaded(KX9_SERVER));

    ASSERT_TRUE(recorder.WaitFor(3, std::chrono::seconds(30)));
    // The worker lets go of a request's element just after its callback.
    auto end = Clock::now() + std::chrono::seconds(10);
    while (IsLoaded(KX9_SERVER) && Clock::now() < end) {
        vtCoFreeUnusedLibraries();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(IsLoaded(KX9_SERVER));
    EXPECT_EQ(silent.Received(), 3);
}

}  // namespace
}  // namespace kx9test
