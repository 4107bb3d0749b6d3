// The server's life in a process: the provider made at load and destroyed
// at unload, and the entry points that hand out class objects.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <mutex>

#include "class_factory.hpp"
#include "map_reader.hpp"
#include "provider.hpp"
#include "server_lifetime.hpp"

#define KX9_EXPORT extern "C" __attribute__((visibility("default")))

namespace kx9 {

namespace {

Provider *g_provider = nullptr;
std::mutex g_initLock;
bool g_initialised = false;
HRESULT g_initResult = E_FAIL;
std::atomic<bool> g_providerClassHandedOut{false};

// Loading into a process. (There are no thread attach and detach
// notifications to turn off here, and the module is found with dladdr.)
__attribute__((constructor)) void OnLoad() { g_provider = new (std::nothrow) Provider; }

// Unloading: the provider's destructor queues the stop request and waits for
// the worker before the session and the schema go.
__attribute__((destructor)) void OnUnload() {
    delete g_provider;
    g_provider = nullptr;
}

std::string FolderOf(const std::string &path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// The maps beside the server file (a build tree, or a copy of the server
// with its maps), else in the installed data folder, found from the server's
// own folder so that a moved installation keeps working.
std::string MapFolder() {
    const std::string beside = FolderOf(ServerPath());
#ifdef KX9_INSTALLED_MAP_DIR
    if (access((beside + "/" + kMapFileNames[0]).c_str(), R_OK) != 0) {
        const std::string installed = beside + "/" KX9_INSTALLED_MAP_DIR;
        if (access((installed + "/" + kMapFileNames[0]).c_str(), R_OK) == 0) return installed;
    }
#endif
    return beside;
}

HRESULT InitialiseOnce() {
    std::lock_guard<std::mutex> g(g_initLock);
    if (!g_initialised) {
        g_initResult = g_provider->Initialise(MapFolder());
        g_initialised = true;
    }
    return g_initResult;
}

HRESULT HandOut(ClassFactory::Product product, REFIID riid, void **ppv) {
    ClassFactory *factory = ClassFactory::New(product);
    if (!factory) return E_OUTOFMEMORY;
    HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();  // the creation reference
    return hr;
}

}  // namespace

Provider *TheProvider() { return g_provider; }

std::string ServerPath() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void *>(&OnLoad), &info) || !info.dli_fname) return {};
    char resolved[PATH_MAX];
    if (realpath(info.dli_fname, resolved)) return resolved;
    return info.dli_fname;
}

}  // namespace kx9

using namespace kx9;

KX9_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void **ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!rclsid || !riid) return E_INVALIDARG;
    if (IsEqualGUID(rclsid, &CLSID_DSE_Provider)) {
        if (!g_provider || FAILED(InitialiseOnce())) return E_FAIL;
        HRESULT hr = HandOut(ClassFactory::Product::Provider, riid, ppv);
        if (SUCCEEDED(hr)) g_providerClassHandedOut = true;
        return hr;
    }
    if (IsEqualGUID(rclsid, &CLSID_DSE_SNMPElement)) {
        if (!g_providerClassHandedOut || !g_provider) return E_FAIL;
        return HandOut(ClassFactory::Product::Element, riid, ppv);
    }
    return E_FAIL;
}

// Not while an object lives (a host would call into the unloaded server)
// or a lock is held.
KX9_EXPORT HRESULT DllCanUnloadNow(void) { return CanUnload() ? S_OK : S_FALSE; }
