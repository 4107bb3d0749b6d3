// The COM server as a host meets it: registration, class objects and their
// order, unloading, QueryInterface, the element objects and the schema.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "debug_capture.hpp"
#include "server_under_test.hpp"

namespace kx9test {
namespace {

using vtsnmp::Ptr;

std::string FileText(const std::string &path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class Com : public WithRegistry {};

TEST_F(Com, RegisteringTwiceWritesTheSameKeysAndUnregisteringTwiceSucceeds) {
    ServerUnderTest server;
    ASSERT_EQ(server.RegisterServer(), S_OK);
    const std::string file = dir_.path() + "/registry/HKEY_CLASSES_ROOT.reg";
    const std::string first = FileText(file);
    ASSERT_EQ(server.RegisterServer(), S_OK);
    EXPECT_EQ(FileText(file), first);

    char path[4096];
    ASSERT_NE(realpath(KX9_SERVER, path), nullptr);
    struct Expect {
        const CLSID *clsid;
        std::string description, progId, independent;
    } classes[] = {
        {&CLSID_DSE_Provider, "SNMPProvider's Element Provider", "SNMPProvider.DSE_Provider.1",
         "SNMPProvider.DSE_Provider"},
        {&CLSID_DSE_SNMPElement, "SNMP Element", "SNMPProvider.DSE_SNMPElement.1", "SNMPProvider.DSE_SNMPElement"},
    };
    for (const Expect &c : classes) {
        std::string clsid = ClsidText(*c.clsid), key = "CLSID\\" + clsid;
        EXPECT_EQ(clsid.size(), 38u);
        EXPECT_EQ(KeyValue(key), c.description);
        EXPECT_EQ(KeyValue(key + "\\InprocServer32"), path);
        EXPECT_EQ(KeyValue(key + "\\ProgID"), c.progId);
        EXPECT_EQ(KeyValue(key + "\\VersionIndependentProgID"), c.independent);
        EXPECT_EQ(KeyValue(c.independent), c.description);
        EXPECT_EQ(KeyValue(c.independent + "\\CLSID"), clsid);
        EXPECT_EQ(KeyValue(c.independent + "\\CurVer"), c.progId);
        EXPECT_EQ(KeyValue(c.progId), c.description);
        EXPECT_EQ(KeyValue(c.progId + "\\CLSID"), clsid);
    }

    EXPECT_EQ(server.UnregisterServer(), S_OK);
    for (const Expect &c : classes) {
        EXPECT_EQ(KeyValue("CLSID\\" + ClsidText(*c.clsid)), "<none>");
        EXPECT_EQ(KeyValue(c.independent), "<none>");
        EXPECT_EQ(KeyValue(c.progId + "\\CLSID"), "<none>");
    }
    EXPECT_EQ(server.UnregisterServer(), S_OK);
}

TEST_F(Com, RegistrationThatCannotBeWrittenIsReportedAsAFailure) {
    std::ofstream(dir_ / "file") << "not a folder";
    vttest::ScopedEnv unusable("VTBOX_REGISTRY_DIR", dir_ / "file/registry");
    ServerUnderTest server;
    EXPECT_EQ(server.RegisterServer(), static_cast<HRESULT>(0x80040201u));
}

TEST_F(Com, TheElementClassIsAvailableOnlyAfterTheProviderClass) {
    ServerUnderTest server;
    HRESULT hr = S_OK;
    EXPECT_FALSE(server.Factory(CLSID_DSE_SNMPElement, &hr));
    EXPECT_EQ(hr, E_FAIL);
    EXPECT_FALSE(server.Factory(LIBID_SNMPPROVIDERLib, &hr));  // not a class
    EXPECT_EQ(hr, E_FAIL);

    void *out = &hr;
    EXPECT_EQ(server.GetClassObject(&CLSID_DSE_Provider, &IID_IDSE_EP, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_FALSE(server.Factory(CLSID_DSE_SNMPElement, &hr)) << "no provider class object was handed out yet";

    EXPECT_TRUE(server.Factory(CLSID_DSE_Provider, &hr));
    EXPECT_EQ(hr, S_OK);
    EXPECT_TRUE(server.Factory(CLSID_DSE_SNMPElement, &hr));
    EXPECT_EQ(hr, S_OK);
}

// Every object handed out keeps the server loaded while it lives, and so
// does a lock: each kind is held alone here, then let go of.
TEST_F(Com, CanUnloadNowWaitsForEveryLivingObjectAndLock) {
    ServerUnderTest server;
    EXPECT_EQ(server.CanUnloadNow(), S_OK);
    auto alone = [&](const char *what, auto &held) {
        ASSERT_TRUE(held) << what;
        EXPECT_EQ(server.CanUnloadNow(), S_FALSE) << what;
        held = {};
        EXPECT_EQ(server.CanUnloadNow(), S_OK) << what;
    };
    auto provider = [&] {
        Ptr<IDSE_EP> ep;
        Ptr<IClassFactory> f = server.Factory(CLSID_DSE_Provider);
        EXPECT_EQ(f->lpVtbl->CreateInstance(f.get(), nullptr, &IID_IDSE_EP, ep.put_void()), S_OK);
        return ep;
    };
    Ptr<IClassFactory> factory = server.Factory(CLSID_DSE_Provider);
    alone("a class object", factory);

    Ptr<IDSE_EP> ep = provider();
    alone("a provider", ep);

    Ptr<IEnumVARIANT> clone;
    {
        Ptr<IDSE_EP> owner = provider();
        Ptr<IDSE_EP_ITERATOR> schema;
        ASSERT_EQ(owner->lpVtbl->GetSchema(owner.get(), schema.put()), S_OK);
        ASSERT_EQ(schema->lpVtbl->Clone(schema.get(), clone.put()), S_OK);
    }
    alone("a clone of the schema's iterator", clone);

    Ptr<IDSE_SNMPSCALAR> scalar;
    {
        Ptr<IDSE_ELEMENT> element;
        Ptr<IClassFactory> elements = server.Factory(CLSID_DSE_SNMPElement);
        ASSERT_EQ(elements->lpVtbl->CreateInstance(elements.get(), nullptr, &IID_IDSE_ELEMENT, element.put_void()),
                  S_OK);
        ASSERT_EQ(element->lpVtbl->put_ElementId(element.get(), 2), S_OK);
        ASSERT_EQ(element->lpVtbl->QueryInterface(element.get(), &IID_IDSE_SNMPSCALAR, scalar.put_void()), S_OK);
    }
    alone("an element, through its companion", scalar);

    factory = server.Factory(CLSID_DSE_Provider);
    factory->lpVtbl->LockServer(factory.get(), TRUE);
    factory = {};
    EXPECT_EQ(server.CanUnloadNow(), S_FALSE) << "a lock";
    factory = server.Factory(CLSID_DSE_Provider);
    factory->lpVtbl->LockServer(factory.get(), FALSE);
    factory = {};
    EXPECT_EQ(server.CanUnloadNow(), S_OK);
}

// The host's free-unused call leaves the server loaded under an element
// that the host still holds (it once unloaded it, and the next call crashed).
TEST_F(Com, FreeingUnusedLibrariesKeepsTheServerUnderAHeldElement) {
    Ptr<IDSE_SNMPSCALAR> scalar;
    {
        vtsnmp::Session session;
        std::string error;
        ASSERT_TRUE(session.Open(KX9_SERVER, &error)) << error;
        Ptr<IDSE_ELEMENT> element = session.Element(2);
        ASSERT_EQ(element->lpVtbl->QueryInterface(element.get(), &IID_IDSE_SNMPSCALAR, scalar.put_void()), S_OK);
    }
    vtCoFreeUnusedLibraries();
    ASSERT_TRUE(IsLoaded(KX9_SERVER));
    BSTR name = nullptr;
    ASSERT_EQ(scalar->lpVtbl->get_Name(scalar.get(), &name), S_OK);
    EXPECT_EQ(Utf8Of(name), "sysDescr");
    scalar = Ptr<IDSE_SNMPSCALAR>();
    vtCoFreeUnusedLibraries();
    EXPECT_FALSE(IsLoaded(KX9_SERVER));
}

TEST_F(Com, UnknownInterfacesAndAggregationAreRefused) {
    ServerUnderTest server;
    Ptr<IClassFactory> providers = server.Factory(CLSID_DSE_Provider);
    Ptr<IClassFactory> elements = server.Factory(CLSID_DSE_SNMPElement);
    ASSERT_TRUE(providers && elements);
    Ptr<IUnknown> outer;
    ASSERT_EQ(providers->lpVtbl->CreateInstance(providers.get(), nullptr, &IID_IUnknown, outer.put_void()), S_OK);
    void *out = &out;
    EXPECT_EQ(elements->lpVtbl->CreateInstance(elements.get(), outer.get(), &IID_IUnknown, &out),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    out = &out;
    EXPECT_EQ(providers->lpVtbl->CreateInstance(providers.get(), nullptr, &IID_IClassFactory, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);

    Ptr<IDSE_ELEMENT> element;
    ASSERT_EQ(elements->lpVtbl->CreateInstance(elements.get(), nullptr, &IID_IDSE_ELEMENT, element.put_void()), S_OK);
    out = &out;
    EXPECT_EQ(element->lpVtbl->QueryInterface(element.get(), &IID_IDSE_EP, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    // Companions need a number first.
    out = &out;
    EXPECT_EQ(element->lpVtbl->QueryInterface(element.get(), &IID_IDSE_SNMPSCALAR, &out), E_UNEXPECTED);
    EXPECT_EQ(out, nullptr);
}

TEST_F(Com, AnElementTakesOnlyNumbersOfTheSchema) {
    ServerUnderTest server;
    ASSERT_TRUE(server.Factory(CLSID_DSE_Provider));
    Ptr<IClassFactory> elements = server.Factory(CLSID_DSE_SNMPElement);
    Ptr<IDSE_ELEMENT> e;
    ASSERT_EQ(elements->lpVtbl->CreateInstance(elements.get(), nullptr, &IID_IDSE_ELEMENT, e.put_void()), S_OK);
    auto v = e->lpVtbl;
    int id = -1;
    DSE_ELEMENT_TYPE type = DSE_COMPOSITE;
    EXPECT_EQ(v->put_ElementId(e.get(), 424242), S_FALSE);
    EXPECT_EQ(v->get_ElementId(e.get(), &id), S_OK);
    EXPECT_EQ(id, 0);
    EXPECT_EQ(v->get_ElementId(e.get(), nullptr), E_POINTER);
    EXPECT_EQ(v->put_ElementId(e.get(), 32), S_OK);
    v->get_ElementType(e.get(), &type);
    EXPECT_EQ(type, DSE_COLLECTION);
    EXPECT_EQ(v->put_ElementId(e.get(), 990), S_OK);
    v->get_ElementType(e.get(), &type);
    EXPECT_EQ(type, DSE_COMPOSITE);
    EXPECT_EQ(v->put_ElementId(e.get(), 424242), S_FALSE);
    v->get_ElementId(e.get(), &id);
    EXPECT_EQ(id, 990);
    EXPECT_EQ(v->put_ElementId(e.get(), 2), S_OK);
    v->get_ElementType(e.get(), &type);
    EXPECT_EQ(type, DSE_SCALAR);
    // The front object itself does no SNMP work.
    EXPECT_EQ(v->SetParent(e.get(), nullptr), E_NOTIMPL);
    EXPECT_EQ(v->GetValue(e.get(), nullptr), E_NOTIMPL);
    EXPECT_EQ(v->SetValue(e.get(), nullptr), E_NOTIMPL);
    EXPECT_EQ(v->get_ElementCollectionID(e.get(), &id), E_NOTIMPL);
    EXPECT_EQ(v->Abort(e.get()), S_OK);

    // A companion is part of its element: same identity, same references.
    Ptr<IDSE_SNMPSCALAR> scalar;
    ASSERT_EQ(v->QueryInterface(e.get(), &IID_IDSE_SNMPSCALAR, scalar.put_void()), S_OK);
    Ptr<IUnknown> a, b;
    v->QueryInterface(e.get(), &IID_IUnknown, a.put_void());
    scalar->lpVtbl->QueryInterface(scalar.get(), &IID_IUnknown, b.put_void());
    EXPECT_EQ(a.get(), b.get());
    Ptr<IDSE_SNMPSCALAR> again;
    v->QueryInterface(e.get(), &IID_IDSE_SNMPSCALAR, again.put_void());
    EXPECT_EQ(again.get(), scalar.get());
}

TEST_F(Com, TheSchemaIteratesFromTheFirstRootAndKeepsItsElements) {
    ServerUnderTest server;
    Ptr<IClassFactory> providers = server.Factory(CLSID_DSE_Provider);
    Ptr<IDSE_EP> ep;
    ASSERT_EQ(providers->lpVtbl->CreateInstance(providers.get(), nullptr, &IID_IDSE_EP, ep.put_void()), S_OK);
    Ptr<IDSE_EP_ITERATOR> it;
    ASSERT_EQ(ep->lpVtbl->GetSchema(ep.get(), it.put()), S_OK);
    auto v = it->lpVtbl;

    VARIANT got[3];
    ULONG fetched = 0;
    ASSERT_EQ(v->Next(it.get(), 3, got, &fetched), S_OK);
    ASSERT_EQ(fetched, 3u);
    EXPECT_EQ(got[0].vt, VT_I4);
    EXPECT_EQ(got[0].lVal, 990);  // the device comes first
    EXPECT_EQ(got[2].lVal, 996);
    EXPECT_EQ(v->Next(it.get(), 2, got, nullptr), E_POINTER);

    Ptr<IEnumVARIANT> copy;
    ASSERT_EQ(v->Clone(it.get(), copy.put()), S_OK);
    EXPECT_EQ(v->Skip(it.get(), 2), S_OK);
    v->Next(it.get(), 1, got, nullptr);
    EXPECT_EQ(got[0].lVal, 999);
    copy->lpVtbl->Next(copy.get(), 1, got, nullptr);
    EXPECT_EQ(got[0].lVal, 997) << "a clone goes on from where it was made";

    ULONG total = 0;
    v->Reset(it.get());
    while (v->Next(it.get(), 1, got, &fetched) == S_OK) total += fetched;
    EXPECT_GT(total, 300u);
    EXPECT_EQ(v->Skip(it.get(), 1), S_FALSE);

    Ptr<IDSE_ELEMENT> first, second, none;
    ASSERT_EQ(v->FindElement(it.get(), 2, first.put()), S_OK);
    ASSERT_EQ(v->FindElement(it.get(), 2, second.put()), S_OK);
    EXPECT_EQ(first.get(), second.get());
    EXPECT_EQ(v->FindElement(it.get(), 424242, none.put()), S_FALSE);
    EXPECT_FALSE(none);

    Ptr<IDSE_SNMPSCALAR> s;
    ASSERT_EQ(first->lpVtbl->QueryInterface(first.get(), &IID_IDSE_SNMPSCALAR, s.put_void()), S_OK);
    BSTR text = nullptr;
    s->lpVtbl->get_Name(s.get(), &text);
    EXPECT_EQ(Utf8Of(text), "sysDescr");
    s->lpVtbl->get_Oid(s.get(), &text);
    EXPECT_EQ(Utf8Of(text), "1.3.6.1.2.1.1.1.0");
    int n = -1;
    s->lpVtbl->get_RefreshTime(s.get(), &n);
    EXPECT_EQ(n, DSE_KIND_STATIC);
    EXPECT_EQ(s->lpVtbl->get_ElementCollectionID(s.get(), &n), E_FAIL);

    Ptr<IDSE_ELEMENT> column;
    Ptr<IDSE_SNMPSCALAR> cs;
    ASSERT_EQ(v->FindElement(it.get(), 505, column.put()), S_OK);  // ifDescr
    column->lpVtbl->QueryInterface(column.get(), &IID_IDSE_SNMPSCALAR, cs.put_void());
    EXPECT_EQ(cs->lpVtbl->get_ElementCollectionID(cs.get(), &n), S_OK);
    EXPECT_EQ(n, 502);
}

// SetParent accepts only a composite with an address; the children it lacks
// get the defaults, where the host can see them.
TEST_F(Com, SetParentReadsTheDeviceAndFillsInDefaults) {
    ServerUnderTest server;
    vtsnmp::Session session;
    std::string error;
    ASSERT_TRUE(session.Open(KX9_SERVER, &error)) << error;
    Ptr<IDSE_ELEMENT> sysDescr = session.Element(2), sysName = session.Element(6), device = session.Element(990);
    Ptr<IDSE_SNMPSCALAR> s;
    sysDescr->lpVtbl->QueryInterface(sysDescr.get(), &IID_IDSE_SNMPSCALAR, s.put_void());
    EXPECT_EQ(s->lpVtbl->SetParent(s.get(), sysName.get()), E_FAIL) << "not composite";
    EXPECT_EQ(s->lpVtbl->SetParent(s.get(), device.get()), E_FAIL) << "no address yet";
    vtsnmp::Completion *done = vtsnmp::Completion::New();
    EXPECT_EQ(s->lpVtbl->GetValue(s.get(), done->Interface()), E_FAIL) << "no device to read from";
    EXPECT_FALSE(done->Wait(0));
    done->Release();

    ASSERT_TRUE(session.SetDevice({"192.0.2.1", {}, {}, {}, {}}, &error)) << error;
    ASSERT_EQ(s->lpVtbl->SetParent(s.get(), device.get()), S_OK);
    Ptr<IDSE_ELEMENT> parent;
    s->lpVtbl->get_ElementParent(s.get(), parent.put());
    EXPECT_EQ(parent.get(), device.get());

    Ptr<IDSE_SNMPCOLLECTION> children;
    Ptr<IDSE_EP_ITERATOR> it;
    device->lpVtbl->QueryInterface(device.get(), &IID_IDSE_SNMPCOLLECTION, children.put_void());
    children->lpVtbl->get_Iterator(children.get(), it.put());
    auto first = [&](int number) {
        Ptr<IDSE_ELEMENT> child;
        Ptr<IDSE_SNMPSCALAR> cs;
        it->lpVtbl->FindElement(it.get(), number, child.put());
        child->lpVtbl->QueryInterface(child.get(), &IID_IDSE_SNMPSCALAR, cs.put_void());
        VARIANT v;
        cs->lpVtbl->GetListValue(cs.get(), 0, 0, &v);
        std::string shown = v.vt == VT_I4 ? std::to_string(v.lVal) : v.vt == VT_BSTR ? vtsnmp::Utf8(v.bstrVal) : "?";
        VariantClear(&v);
        return shown;
    };
    EXPECT_EQ(first(999), "192.0.2.1");
    EXPECT_EQ(first(996), "public");
    EXPECT_EQ(first(995), "public");
    EXPECT_EQ(first(997), "100");
    EXPECT_EQ(first(998), "2");
    Ptr<IDSE_ELEMENT> notAChild;
    EXPECT_EQ(it->lpVtbl->FindElement(it.get(), 2, notAChild.put()), S_FALSE);
}

// Maps that do not load make the provider class fail, now and later, and
// say why on the diagnostics channel.
TEST_F(Com, ProviderClassFailsForGoodWhenTheMapsDoNotLoad) {
    namespace fs = std::filesystem;
    const fs::path from = fs::path(KX9_SERVER).parent_path(), to = dir_.path();
    fs::copy_file(KX9_SERVER, to / "libKX9SNMPProvider.so");
    for (const char *map : {"HRMap.txt", "PrintMap.txt", "TabsMap.txt", "TabsJMap.txt", "TabsNMap.txt"})
        fs::copy_file(from / map, to / map);
    std::ofstream(to / "TabsMap.txt", std::ios::app) << "short\t1\t1.3\n";

    vttest::DebugCapture capture;
    ServerUnderTest server((to / "libKX9SNMPProvider.so").string());
    HRESULT hr = S_OK;
    EXPECT_FALSE(server.Factory(CLSID_DSE_Provider, &hr));
    EXPECT_EQ(hr, E_FAIL);
    EXPECT_FALSE(server.Factory(CLSID_DSE_Provider, &hr));
    EXPECT_EQ(hr, E_FAIL);
    EXPECT_FALSE(server.Factory(CLSID_DSE_SNMPElement, &hr));
    EXPECT_NE(capture.text().find("TabsMap.txt line 45: 3 fields where an entry needs at least 11"), std::string::npos)
        << capture.text();
}

}  // namespace
}  // namespace kx9test
