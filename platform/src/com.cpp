// The COM-compatible binary interface: GUID text, BSTR and VARIANT, and the
// host side that creates a registered class from its in-process server.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "vtcom.h"
#include "vtplatform/diag.hpp"
#include "vtplatform/text.hpp"
#include "vtregistry.h"

namespace {

// A BSTR is preceded by its length in bytes (32 bits) and followed by a NUL
// unit; the pointer handed out points at the first character.
struct BstrHeader {
    uint32_t bytes;
};
constexpr size_t kMaxBstrUnits = (UINT32_MAX - sizeof(BstrHeader) - sizeof(OLECHAR)) / sizeof(OLECHAR);

BstrHeader *HeaderOf(BSTR text) {
    return reinterpret_cast<BstrHeader *>(reinterpret_cast<char *>(text) - sizeof(BstrHeader));
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Libraries loaded for classes, by the path the registry gave.
struct LoadedServer {
    std::string path;
    void *handle;
};
struct ServerList {
    std::mutex lock;
    std::vector<LoadedServer> servers;
};
ServerList &Servers() {
    static ServerList *list = new ServerList;  // outlives static destruction order
    return *list;
}

// The InprocServer32 path of a class, or "" when it is not registered.
std::string InprocServerPath(REFCLSID clsid) {
    char text[VT_GUID_TEXT_SIZE];
    vtGuidToString(clsid, text);
    std::string key = std::string("CLSID\\") + text + "\\InprocServer32";
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &k) != 0) return {};
    DWORD type = 0, size = 0;
    std::string path;
    if (RegQueryValueExA(k, nullptr, nullptr, &type, nullptr, &size) == 0 && type == REG_SZ && size > 1) {
        std::vector<uint8_t> data(size);
        if (RegQueryValueExA(k, nullptr, nullptr, &type, data.data(), &size) == 0)
            path.assign(reinterpret_cast<const char *>(data.data()),
                        strnlen(reinterpret_cast<const char *>(data.data()), size));
    }
    RegCloseKey(k);
    return path;
}

}  // namespace

extern "C" {

void vtGuidToString(REFGUID g, char text[VT_GUID_TEXT_SIZE]) {
    std::snprintf(text, VT_GUID_TEXT_SIZE, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g->Data1, g->Data2,
                  g->Data3, g->Data4[0], g->Data4[1], g->Data4[2], g->Data4[3], g->Data4[4], g->Data4[5], g->Data4[6],
                  g->Data4[7]);
}

int vtGuidFromString(const char *text, GUID *guid) {
    if (!text || !guid || std::strlen(text) != 38 || text[0] != '{' || text[37] != '}') return 0;
    // Positions of the 32 hexadecimal digits in the registry form.
    static const int kGroups[] = {8, 4, 4, 4, 12};
    uint8_t bytes[16];
    int pos = 1, n = 0;
    for (int g = 0; g < 5; ++g) {
        if (g > 0 && text[pos++] != '-') return 0;
        for (int i = 0; i < kGroups[g]; i += 2) {
            int hi = HexValue(text[pos]), lo = HexValue(text[pos + 1]);
            if (hi < 0 || lo < 0) return 0;
            bytes[n++] = static_cast<uint8_t>(hi << 4 | lo);
            pos += 2;
        }
    }
    guid->Data1 = uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
    guid->Data2 = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
    guid->Data3 = static_cast<uint16_t>(bytes[6] << 8 | bytes[7]);
    std::memcpy(guid->Data4, bytes + 8, 8);
    return 1;
}

BSTR SysAllocStringLen(const OLECHAR *text, UINT length) {
    if (length > kMaxBstrUnits) return nullptr;
    size_t bytes = size_t(length) * sizeof(OLECHAR);
    void *block = std::malloc(sizeof(BstrHeader) + bytes + sizeof(OLECHAR));
    if (!block) return nullptr;
    auto *header = static_cast<BstrHeader *>(block);
    header->bytes = static_cast<uint32_t>(bytes);
    auto *chars = reinterpret_cast<OLECHAR *>(header + 1);
    if (text)
        std::memcpy(chars, text, bytes);
    else
        std::memset(chars, 0, bytes);
    chars[length] = 0;
    return chars;
}

BSTR SysAllocString(const OLECHAR *text) {
    if (!text) return nullptr;
    size_t n = 0;
    while (text[n]) ++n;
    if (n > kMaxBstrUnits) return nullptr;
    return SysAllocStringLen(text, static_cast<UINT>(n));
}

void SysFreeString(BSTR text) {
    if (text) std::free(HeaderOf(text));
}

UINT SysStringLen(BSTR text) { return text ? HeaderOf(text)->bytes / sizeof(OLECHAR) : 0; }

BSTR vtSysAllocStringUtf8(const char *utf8) {
    if (!utf8) return nullptr;
    try {
        std::u16string wide = vt::Utf8ToUtf16(utf8);
        if (wide.size() > kMaxBstrUnits) return nullptr;
        return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

size_t vtSysStringToUtf8(BSTR text, char *buf, size_t size) {
    std::string utf8;
    try {
        utf8 = vt::Utf16ToUtf8(std::u16string_view(text ? text : u"", SysStringLen(text)));
    } catch (const std::bad_alloc &) {
        if (buf && size) buf[0] = 0;
        return 0;
    }
    if (buf && size) vt::CopyUtf8(buf, size, utf8);
    return utf8.size();
}

void VariantInit(VARIANT *v) {
    if (v) std::memset(v, 0, sizeof *v);
}

HRESULT VariantClear(VARIANT *v) {
    if (!v) return E_INVALIDARG;
    if (v->vt == VT_BSTR) SysFreeString(v->bstrVal);
    std::memset(v, 0, sizeof *v);
    return S_OK;
}

HRESULT VariantCopy(VARIANT *dst, const VARIANT *src) {
    if (!dst || !src) return E_INVALIDARG;
    if (dst == src) return S_OK;
    VariantClear(dst);
    switch (src->vt) {
    case VT_EMPTY: return S_OK;
    case VT_I4:
        dst->vt = VT_I4;
        dst->lVal = src->lVal;
        return S_OK;
    case VT_BSTR: {
        BSTR copy = nullptr;
        if (src->bstrVal) {
            copy = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
            if (!copy) return E_OUTOFMEMORY;
        }
        dst->vt = VT_BSTR;
        dst->bstrVal = copy;
        return S_OK;
    }
    default: return E_INVALIDARG;
    }
}

HRESULT vtCoGetClassObject(REFCLSID rclsid, DWORD context, void *, REFIID riid, void **ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!rclsid || !riid) return E_INVALIDARG;
    if (!(context & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
    std::string path = InprocServerPath(rclsid);
    if (path.empty()) return REGDB_E_CLASSNOTREG;

    void *handle = nullptr;
    {
        ServerList &list = Servers();
        std::lock_guard<std::mutex> g(list.lock);
        for (const LoadedServer &s : list.servers)
            if (s.path == path) handle = s.handle;
        if (!handle) {
            handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (!handle) {
                const char *why = dlerror();
                vt::DebugPrint("in-process server %s does not load: %s\n", path.c_str(), why ? why : "?");
                return CO_E_DLLNOTFOUND;
            }
            try {
                list.servers.push_back({path, handle});
            } catch (const std::bad_alloc &) {
                dlclose(handle);
                return E_OUTOFMEMORY;
            }
        }
    }
    auto get = reinterpret_cast<LPFNGETCLASSOBJECT>(dlsym(handle, "DllGetClassObject"));
    if (!get) return CO_E_ERRORINDLL;
    return get(rclsid, riid, ppv);
}

HRESULT vtCoCreateInstance(REFCLSID rclsid, IUnknown *outer, DWORD context, REFIID riid, void **ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    IClassFactory *factory = nullptr;
    HRESULT hr = vtCoGetClassObject(rclsid, context, nullptr, &IID_IClassFactory, reinterpret_cast<void **>(&factory));
    if (FAILED(hr)) return hr;
    if (!factory) return E_UNEXPECTED;
    hr = factory->lpVtbl->CreateInstance(factory, outer, riid, ppv);
    factory->lpVtbl->Release(factory);
    return hr;
}

void vtCoFreeUnusedLibraries(void) {
    ServerList &list = Servers();
    std::lock_guard<std::mutex> g(list.lock);
    for (auto it = list.servers.begin(); it != list.servers.end();) {
        auto can = reinterpret_cast<LPFNCANUNLOADNOW>(dlsym(it->handle, "DllCanUnloadNow"));
        if (can && can() == S_OK) {
            dlclose(it->handle);
            it = list.servers.erase(it);
        } else {
            ++it;
        }
    }
}

}  // extern "C"
