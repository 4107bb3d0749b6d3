// The provider loaded straight from its file, as a host's loader would, and
// unloaded when the object dies; with a registry of its own.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "SNMPProvider.h"
#include "host.hpp"
#include "temp_dir.hpp"
#include "vtregistry.h"

namespace kx9test {

// True while the file is mapped into this process.
inline bool IsLoaded(const std::string &path) {
    void *h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h) dlclose(h);
    return h != nullptr;
}

class ServerUnderTest {
public:
    explicit ServerUnderTest(const std::string &path = KX9_SERVER) : path_(path) {
        EXPECT_FALSE(IsLoaded(path_)) << "each test starts with the server unloaded";
        handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
        EXPECT_NE(handle_, nullptr) << dlerror();
        if (!handle_) return;
        GetClassObject = reinterpret_cast<LPFNGETCLASSOBJECT>(dlsym(handle_, "DllGetClassObject"));
        CanUnloadNow = reinterpret_cast<LPFNCANUNLOADNOW>(dlsym(handle_, "DllCanUnloadNow"));
        RegisterServer = reinterpret_cast<LPFNREGISTERSERVER>(dlsym(handle_, "DllRegisterServer"));
        UnregisterServer = reinterpret_cast<LPFNREGISTERSERVER>(dlsym(handle_, "DllUnregisterServer"));
    }
    ~ServerUnderTest() {
        if (handle_) dlclose(handle_);
        vtCoFreeUnusedLibraries();  // what vtCoCreateInstance loaded
        EXPECT_FALSE(IsLoaded(path_)) << "the server unloads";
    }
    ServerUnderTest(const ServerUnderTest &) = delete;
    ServerUnderTest &operator=(const ServerUnderTest &) = delete;

    // A class factory for a class; E_... codes come back in *hr.
    vtsnmp::Ptr<IClassFactory> Factory(const CLSID &clsid, HRESULT *hr = nullptr) {
        vtsnmp::Ptr<IClassFactory> f;
        HRESULT r = GetClassObject(&clsid, &IID_IClassFactory, f.put_void());
        if (hr) *hr = r;
        return f;
    }

    LPFNGETCLASSOBJECT GetClassObject = nullptr;
    LPFNCANUNLOADNOW CanUnloadNow = nullptr;
    LPFNREGISTERSERVER RegisterServer = nullptr;
    LPFNREGISTERSERVER UnregisterServer = nullptr;

private:
    std::string path_;
    void *handle_ = nullptr;
};

// Every test gets an empty registry.
class WithRegistry : public ::testing::Test {
protected:
    vttest::TempDir dir_;
    vttest::ScopedEnv registry_{"VTBOX_REGISTRY_DIR", dir_.path() + "/registry"};
};

// The default value of a key under HKEY_CLASSES_ROOT, or "<none>".
inline std::string KeyValue(const std::string &path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != 0) return "<none>";
    char value[1024] = {};
    DWORD type = 0, size = sizeof value - 1;
    LONG rc = RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<uint8_t *>(value), &size);
    RegCloseKey(key);
    return rc == 0 ? value : "<no value>";
}

inline std::string ClsidText(const CLSID &clsid) {
    char text[VT_GUID_TEXT_SIZE];
    vtGuidToString(&clsid, text);
    return text;
}

inline std::string Utf8Of(BSTR b) {
    std::string s = vtsnmp::Utf8(b);
    SysFreeString(b);
    return s;
}

}  // namespace kx9test
