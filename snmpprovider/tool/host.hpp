// vtbox-snmp's side of the provider: a COM host over the public header.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "SNMPProvider.h"

namespace vtsnmp {

// One reference on an interface pointer.
template <class T>
class Ptr {
public:
    Ptr() = default;
    Ptr(const Ptr &) = delete;
    Ptr &operator=(const Ptr &) = delete;
    Ptr(Ptr &&o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Ptr &operator=(Ptr &&o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    ~Ptr() {
        if (p_) p_->lpVtbl->Release(p_);
    }
    T *get() const { return p_; }
    T *operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T **put() {
        *this = Ptr();
        return &p_;
    }
    void **put_void() { return reinterpret_cast<void **>(put()); }

private:
    T *p_ = nullptr;
};

// The host's IDSECallback: remembers that Complete came and wakes a waiter.
class Completion {
public:
    static Completion *New();  // one reference, the caller's
    IDSECallback *Interface() { return &slot_.iface; }
    void Release();
    // Waits for the next Complete; false when none came in `seconds`.
    bool Wait(double seconds);

private:
    Completion();
    static HRESULT QueryInterface(IDSECallback *self, REFIID riid, void **ppv);
    static ULONG AddRef(IDSECallback *self);
    static ULONG Release(IDSECallback *self);
    static HRESULT Complete(IDSECallback *self, IDSE_ELEMENT *element);

    static const IDSECallbackVtbl kTable;
    static Completion *Of(IDSECallback *iface) { return reinterpret_cast<Slot *>(iface)->self; }

    struct Slot {
        IDSECallback iface;  // first: the interface pointer leads back to the slot
        Completion *self;
    } slot_;
    std::mutex m_;
    std::condition_variable cv_;
    int completed_ = 0;
    ULONG refs_ = 1;
};

// What the schema says about one element.
struct ElementInfo {
    int number = 0;
    std::string name;
    std::string oid;
    std::string description;
    DSE_ELEMENT_TYPE type = DSE_SCALAR;
    int syntax = DSE_SYNTAX_UNSET;
    int access = DSE_ACCESS_NOT_ACCESSIBLE;
    int kind = 0;
    int table = 0;  // number of the table that holds it, 0 for none
};

// Where the device is and how to reach it; unset fields keep the provider's defaults.
struct DeviceSettings {
    std::string address;
    std::optional<std::string> readCommunity;
    std::optional<std::string> writeCommunity;
    std::optional<uint32_t> timeout;  // hundredths of a second
    std::optional<uint32_t> retries;
};

// A value as read, with the instance a walk found it at.
struct ReadValue {
    VARTYPE type = VT_EMPTY;
    int32_t number = 0;
    std::string text;
    std::string instance;
};

class Session {
public:
    ~Session();
    // Registers the server when the registry does not name an existing file
    // (or `server` is given), then creates DSE_Provider through the registry
    // and asks it for the schema.
    bool Open(const std::string &server, std::string *error);

    // Every element, in schema order.
    const std::vector<ElementInfo> &Elements();
    // An element by number or (without regard to case) by name.
    const ElementInfo *Find(const std::string &numberOrName);
    // The element object the schema keeps for a number.
    Ptr<IDSE_ELEMENT> Element(int number);

    // Fills the device element's children; false with a message on failure.
    bool SetDevice(const DeviceSettings &device, std::string *error);
    IDSE_ELEMENT *device() const { return device_.get(); }

    // Reads a scalar or a column on the calling thread (a column is walked).
    // state receives the element's DSE_ELEMENT_STATE.
    bool Read(int number, std::vector<std::vector<ReadValue>> *lists, DSE_ELEMENT_STATE *state, std::string *error);
    // Reads every column of a table through the provider's worker.
    bool ReadTable(int number, std::vector<std::pair<ElementInfo, std::vector<ReadValue>>> *columns,
                   DSE_ELEMENT_STATE *state, std::string *error);
    // Writes one value of a scalar.
    bool Write(int number, const VARIANT &value, DSE_ELEMENT_STATE *state, std::string *error);

private:
    Ptr<IDSE_EP> provider_;
    Ptr<IDSE_EP_ITERATOR> schema_;
    Ptr<IDSE_ELEMENT> device_;
    std::vector<ElementInfo> elements_;
    Completion *completion_ = nullptr;
};

// The provider file: `given`, else the registered one when it exists, else
// the one beside this program or in the installed library folder ("" if none).
std::string ServerFile(const std::string &given);
// Calls the server's DllRegisterServer (install) or DllUnregisterServer.
bool CallRegistration(const std::string &server, bool install, std::string *error);

// The text of a BSTR as UTF-8.
std::string Utf8(BSTR text);

// Counter32, Gauge32, TimeTicks and Unsigned32 values travel in a VT_I4 with
// their bits kept; they are shown unsigned.
bool IsUnsignedSyntax(int syntax);

}  // namespace vtsnmp
