#include "host.hpp"

#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "vthandles.hpp"
#include "vtregistry.h"

namespace vtsnmp {

std::string Utf8(BSTR text) {
    size_t n = vtSysStringToUtf8(text, nullptr, 0);
    std::string out(n + 1, '\0');
    vtSysStringToUtf8(text, out.data(), out.size());
    out.resize(n);
    return out;
}

namespace {

std::string RegisteredServer() {
    char clsid[VT_GUID_TEXT_SIZE];
    vtGuidToString(&CLSID_DSE_Provider, clsid);
    HKEY opened = nullptr;
    std::string path = std::string("CLSID\\") + clsid + "\\InprocServer32";
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &opened) != 0) return {};
    vt::RegistryKey key(opened);
    char value[4096] = {};
    DWORD type = 0, size = sizeof value - 1;
    LONG rc = RegQueryValueExA(key.get(), nullptr, nullptr, &type, reinterpret_cast<uint8_t *>(value), &size);
    return rc == 0 && type == REG_SZ ? std::string(value) : std::string();
}

// The server beside this program (the build tree) or in the installed
// library folder.
std::string DefaultServer() {
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return {};
    self[n] = 0;
    std::string dir(self);
    dir.erase(dir.find_last_of('/'));
    for (const std::string &candidate :
         {dir + "/libKX9SNMPProvider.so", dir + "/" KX9_INSTALLED_SERVER_DIR "/libKX9SNMPProvider.so"})
        if (access(candidate.c_str(), R_OK) == 0) return candidate;
    return {};
}

std::string HresultText(HRESULT hr) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

// The values of a scalar object, list by list.
std::vector<std::vector<ReadValue>> ValuesOf(IDSE_SNMPSCALAR *scalar) {
    std::vector<std::vector<ReadValue>> lists(DSE_VALUE_LISTS);
    for (int i = 0; i < DSE_VALUE_LISTS; ++i) {
        int count = 0;
        scalar->lpVtbl->get_ValueCount(scalar, i, &count);
        for (int j = 0; j < count; ++j) {
            VARIANT v;
            VariantInit(&v);
            ReadValue r;
            if (SUCCEEDED(scalar->lpVtbl->GetListValue(scalar, i, j, &v))) {
                r.type = v.vt;
                if (v.vt == VT_I4) r.number = v.lVal;
                if (v.vt == VT_BSTR) r.text = Utf8(v.bstrVal);
            }
            VariantClear(&v);
            BSTR instance = nullptr;
            if (SUCCEEDED(scalar->lpVtbl->GetListInstance(scalar, i, j, &instance)) && instance)
                r.instance = Utf8(instance);
            SysFreeString(instance);
            lists[i].push_back(std::move(r));
        }
    }
    return lists;
}

Ptr<IDSE_SNMPSCALAR> ScalarOf(IDSE_ELEMENT *element) {
    Ptr<IDSE_SNMPSCALAR> scalar;
    if (element) element->lpVtbl->QueryInterface(element, &IID_IDSE_SNMPSCALAR, scalar.put_void());
    return scalar;
}

// Stores a value in a child of the device element.
bool PutChild(IDSE_EP_ITERATOR *children, int number, const VARIANT &value) {
    Ptr<IDSE_ELEMENT> child;
    if (children->lpVtbl->FindElement(children, number, child.put()) != S_OK) return false;
    Ptr<IDSE_SNMPSCALAR> scalar = ScalarOf(child.get());
    return scalar && SUCCEEDED(scalar->lpVtbl->PutListValue(scalar.get(), 0, 0, &value));
}

}  // namespace

std::string ServerFile(const std::string &given) {
    std::string chosen = given;
    if (chosen.empty()) {
        std::string registered = RegisteredServer();
        chosen = !registered.empty() && access(registered.c_str(), R_OK) == 0 ? registered : DefaultServer();
    }
    char resolved[4096];
    if (!chosen.empty() && realpath(chosen.c_str(), resolved)) chosen = resolved;
    return chosen;
}

bool CallRegistration(const std::string &server, bool install, std::string *error) {
    void *lib = dlopen(server.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        const char *why = dlerror();
        *error = "cannot load the provider " + server + ": " + (why ? why : "?");
        return false;
    }
    const char *entry = install ? "DllRegisterServer" : "DllUnregisterServer";
    auto call = reinterpret_cast<LPFNREGISTERSERVER>(dlsym(lib, entry));
    HRESULT hr = call ? call() : CO_E_ERRORINDLL;
    dlclose(lib);
    if (FAILED(hr)) {
        *error = std::string(entry) + " of " + server + " failed (" + HresultText(hr) + ")";
        return false;
    }
    return true;
}

// ---- Completion -------------------------------------------------------------

Completion::Completion() {
    slot_.iface.lpVtbl = &kTable;
    slot_.self = this;
}

Completion *Completion::New() { return new Completion; }

void Completion::Release() { Release(Interface()); }

bool Completion::Wait(double seconds) {
    std::unique_lock<std::mutex> lock(m_);
    bool done = cv_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return completed_ > 0; });
    if (done) --completed_;
    return done;
}

HRESULT Completion::QueryInterface(IDSECallback *self, REFIID riid, void **ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualGUID(riid, &IID_IUnknown) && !IsEqualGUID(riid, &IID_IDSECallback)) return E_NOINTERFACE;
    AddRef(self);
    *ppv = self;
    return S_OK;
}

ULONG Completion::AddRef(IDSECallback *self) {
    Completion *c = Of(self);
    std::lock_guard<std::mutex> g(c->m_);
    return ++c->refs_;
}

ULONG Completion::Release(IDSECallback *self) {
    Completion *c = Of(self);
    ULONG n;
    {
        std::lock_guard<std::mutex> g(c->m_);
        n = --c->refs_;
    }
    if (n == 0) delete c;
    return n;
}

HRESULT Completion::Complete(IDSECallback *self, IDSE_ELEMENT *) {
    Completion *c = Of(self);
    {
        std::lock_guard<std::mutex> g(c->m_);
        ++c->completed_;
    }
    c->cv_.notify_all();
    return S_OK;
}

const IDSECallbackVtbl Completion::kTable = {&Completion::QueryInterface, &Completion::AddRef, &Completion::Release,
                                             &Completion::Complete};

// ---- Session ------------------------------------------------------------------

Session::~Session() {
    device_ = Ptr<IDSE_ELEMENT>();
    schema_ = Ptr<IDSE_EP_ITERATOR>();
    provider_ = Ptr<IDSE_EP>();
    if (completion_) completion_->Release();
}

bool Session::Open(const std::string &server, std::string *error) {
    std::string registered = RegisteredServer();
    if (!server.empty() || registered.empty() || access(registered.c_str(), R_OK) != 0) {
        std::string chosen = ServerFile(server);
        if (chosen.empty()) {
            *error = "the provider is not registered and libKX9SNMPProvider.so was not found; name it with --server";
            return false;
        }
        if (!CallRegistration(chosen, true, error)) return false;
    }
    HRESULT hr =
        vtCoCreateInstance(&CLSID_DSE_Provider, nullptr, CLSCTX_INPROC_SERVER, &IID_IDSE_EP, provider_.put_void());
    if (FAILED(hr)) {
        *error = "the provider could not be created (" + HresultText(hr) + ")" +
                 (hr == E_FAIL ? ": its element maps did not load" : "");
        return false;
    }
    hr = provider_->lpVtbl->GetSchema(provider_.get(), schema_.put());
    if (FAILED(hr)) {
        *error = "the provider gave no schema (" + HresultText(hr) + ")";
        return false;
    }
    completion_ = Completion::New();
    return true;
}

const std::vector<ElementInfo> &Session::Elements() {
    if (!elements_.empty()) return elements_;
    IDSE_EP_ITERATOR *it = schema_.get();
    it->lpVtbl->Reset(it);
    VARIANT v[32];
    ULONG fetched = 0;
    do {
        it->lpVtbl->Next(it, 32, v, &fetched);
        for (ULONG k = 0; k < fetched; ++k) {
            ElementInfo info;
            info.number = v[k].lVal;
            VariantClear(&v[k]);
            Ptr<IDSE_ELEMENT> element = Element(info.number);
            if (!element) continue;
            element->lpVtbl->get_ElementType(element.get(), &info.type);
            Ptr<IDSE_SNMPSCALAR> s = ScalarOf(element.get());
            if (!s) continue;
            BSTR text = nullptr;
            if (SUCCEEDED(s->lpVtbl->get_Name(s.get(), &text))) info.name = Utf8(text);
            SysFreeString(text);
            text = nullptr;
            if (SUCCEEDED(s->lpVtbl->get_Oid(s.get(), &text))) info.oid = Utf8(text);
            SysFreeString(text);
            text = nullptr;
            if (SUCCEEDED(s->lpVtbl->get_Description(s.get(), &text))) info.description = Utf8(text);
            SysFreeString(text);
            s->lpVtbl->get_Syntax(s.get(), &info.syntax);
            s->lpVtbl->get_Access(s.get(), &info.access);
            s->lpVtbl->get_RefreshTime(s.get(), &info.kind);
            if (FAILED(s->lpVtbl->get_ElementCollectionID(s.get(), &info.table))) info.table = 0;
            elements_.push_back(std::move(info));
        }
    } while (fetched > 0);
    return elements_;
}

const ElementInfo *Session::Find(const std::string &key) {
    char *end = nullptr;
    long number = std::strtol(key.c_str(), &end, 10);
    bool numeric = !key.empty() && *end == 0;
    for (const ElementInfo &e : Elements())
        if (numeric ? e.number == number : strcasecmp(e.name.c_str(), key.c_str()) == 0) return &e;
    return nullptr;
}

Ptr<IDSE_ELEMENT> Session::Element(int number) {
    Ptr<IDSE_ELEMENT> element;
    schema_->lpVtbl->FindElement(schema_.get(), number, element.put());
    return element;
}

bool Session::SetDevice(const DeviceSettings &d, std::string *error) {
    device_ = Element(DSE_DEVICE_ELEMENT);
    Ptr<IDSE_SNMPCOLLECTION> collection;
    Ptr<IDSE_EP_ITERATOR> children;
    if (!device_ ||
        FAILED(device_->lpVtbl->QueryInterface(device_.get(), &IID_IDSE_SNMPCOLLECTION, collection.put_void())) ||
        FAILED(collection->lpVtbl->get_Iterator(collection.get(), children.put()))) {
        *error = "the maps hold no device element (number 990)";
        return false;
    }
    auto text = [&](int number, const std::string &value) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = vtSysAllocStringUtf8(value.c_str());
        bool ok = v.bstrVal && PutChild(children.get(), number, v);
        VariantClear(&v);
        return ok;
    };
    auto number = [&](int child, uint32_t value) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = static_cast<LONG>(value);
        return PutChild(children.get(), child, v);
    };
    bool ok = text(DSE_CHILD_ADDRESS, d.address);
    if (d.readCommunity) ok &= text(DSE_CHILD_READ_COMMUNITY, *d.readCommunity);
    if (d.writeCommunity) ok &= text(DSE_CHILD_WRITE_COMMUNITY, *d.writeCommunity);
    if (d.timeout) ok &= number(DSE_CHILD_TIMEOUT, *d.timeout);
    if (d.retries) ok &= number(DSE_CHILD_RETRIES, *d.retries);
    if (!ok) *error = "the device element does not take its connection children (995-999)";
    return ok;
}

bool Session::Read(int number, std::vector<std::vector<ReadValue>> *lists, DSE_ELEMENT_STATE *state,
                   std::string *error) {
    Ptr<IDSE_SNMPSCALAR> scalar = ScalarOf(Element(number).get());
    if (!scalar) {
        *error = "element " + std::to_string(number) + " has no value object";
        return false;
    }
    if (FAILED(scalar->lpVtbl->SetParent(scalar.get(), device_.get()))) {
        *error = "the device address was not accepted";
        return false;
    }
    HRESULT hr = scalar->lpVtbl->GetValue(scalar.get(), completion_->Interface());
    if (FAILED(hr) || !completion_->Wait(0)) {
        *error = "the read did not complete (" + HresultText(hr) + ")";
        return false;
    }
    scalar->lpVtbl->get_ElementState(scalar.get(), state);
    *lists = ValuesOf(scalar.get());
    return true;
}

bool Session::ReadTable(int number, std::vector<std::pair<ElementInfo, std::vector<ReadValue>>> *columns,
                        DSE_ELEMENT_STATE *state, std::string *error) {
    Ptr<IDSE_ELEMENT> table = Element(number);
    Ptr<IDSE_SNMPCOLLECTION> collection;
    if (!table || FAILED(table->lpVtbl->QueryInterface(table.get(), &IID_IDSE_SNMPCOLLECTION, collection.put_void()))) {
        *error = "element " + std::to_string(number) + " is not a table";
        return false;
    }
    if (FAILED(collection->lpVtbl->SetParent(collection.get(), device_.get()))) {
        *error = "the device address was not accepted";
        return false;
    }
    HRESULT hr = collection->lpVtbl->GetValue(collection.get(), completion_->Interface());
    if (FAILED(hr)) {
        *error = "the table read did not start (" + HresultText(hr) + ")";
        return false;
    }
    completion_->Wait(24 * 3600.0);  // the provider always completes: time-outs and retries bound it
    collection->lpVtbl->get_ElementState(collection.get(), state);
    Ptr<IDSE_EP_ITERATOR> it;
    collection->lpVtbl->get_Iterator(collection.get(), it.put());
    VARIANT v;
    ULONG fetched = 0;
    while (it->lpVtbl->Next(it.get(), 1, &v, &fetched) == S_OK && fetched == 1) {
        int child = v.lVal;
        VariantClear(&v);
        const ElementInfo *info = Find(std::to_string(child));
        if (!info || info->type != DSE_SCALAR || info->access == DSE_ACCESS_NOT_ACCESSIBLE ||
            info->syntax == DSE_SYNTAX_UNSET)
            continue;
        Ptr<IDSE_ELEMENT> column;
        it->lpVtbl->FindElement(it.get(), child, column.put());
        Ptr<IDSE_SNMPSCALAR> scalar = ScalarOf(column.get());
        if (!scalar) continue;
        std::vector<ReadValue> values;
        for (std::vector<ReadValue> &list : ValuesOf(scalar.get()))
            for (ReadValue &r : list) values.push_back(std::move(r));
        columns->emplace_back(*info, std::move(values));
    }
    return true;
}

bool Session::Write(int number, const VARIANT &value, DSE_ELEMENT_STATE *state, std::string *error) {
    Ptr<IDSE_SNMPSCALAR> scalar = ScalarOf(Element(number).get());
    if (!scalar || FAILED(scalar->lpVtbl->SetParent(scalar.get(), device_.get()))) {
        *error = "the device address was not accepted";
        return false;
    }
    HRESULT hr = scalar->lpVtbl->PutListValue(scalar.get(), 0, 0, &value);
    if (SUCCEEDED(hr)) hr = scalar->lpVtbl->SetValue(scalar.get(), completion_->Interface());
    if (FAILED(hr) || !completion_->Wait(0)) {
        *error = "the write did not complete (" + HresultText(hr) + ")";
        return false;
    }
    scalar->lpVtbl->get_ElementState(scalar.get(), state);
    return true;
}

bool IsUnsignedSyntax(int syntax) {
    return syntax == DSE_SYNTAX_COUNTER32 || syntax == DSE_SYNTAX_GAUGE32 || syntax == DSE_SYNTAX_TIMETICKS ||
           syntax == DSE_SYNTAX_UNSIGNED32;
}

}  // namespace vtsnmp
