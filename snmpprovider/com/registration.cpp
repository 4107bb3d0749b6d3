// DllRegisterServer and DllUnregisterServer: the classes' keys under
// HKEY_CLASSES_ROOT, in the registry store of the platform layer.
#include <string>

#include "provider.hpp"
#include "vthandles.hpp"
#include "vtplatform/diag.hpp"
#include "vtregistry.h"

#define KX9_EXPORT extern "C" __attribute__((visibility("default")))

namespace kx9 {

namespace {

// Registration reports failure when any key could not be written.
constexpr HRESULT kSelfRegClassFailed = static_cast<HRESULT>(0x80040201u);  // SELFREG_E_CLASS

struct ClassKeys {
    const CLSID *clsid;
    const char *description;
    const char *progId;
    const char *versionIndependentProgId;
};

const ClassKeys kClasses[] = {
    {&CLSID_DSE_Provider, "SNMPProvider's Element Provider", "SNMPProvider.DSE_Provider.1",
     "SNMPProvider.DSE_Provider"},
    {&CLSID_DSE_SNMPElement, "SNMP Element", "SNMPProvider.DSE_SNMPElement.1", "SNMPProvider.DSE_SNMPElement"},
};

std::string ClsidText(const CLSID *clsid) {
    char text[VT_GUID_TEXT_SIZE];
    vtGuidToString(clsid, text);
    return text;
}

// Creates the key and sets its default value. A key that cannot be written
// is skipped (and said so); the others are still written.
bool SetKey(const std::string &path, const std::string &value) {
    HKEY created = nullptr;
    LONG rc = RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                              &created, nullptr);
    if (rc == 0) {
        vt::RegistryKey key(created);
        rc = RegSetValueExA(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const uint8_t *>(value.c_str()),
                            static_cast<DWORD>(value.size() + 1));
    }
    if (rc != 0) vt::DebugPrint("KX9SNMPProvider: registry key %s not written (error %d)\n", path.c_str(), rc);
    return rc == 0;
}

// Deletes a key with everything under it; a key that is not there is no error.
void DeleteTree(const std::string &path) {
    LONG rc = RegDeleteTreeA(HKEY_CLASSES_ROOT, path.c_str());
    if (rc != 0 && rc != 2)
        vt::DebugPrint("KX9SNMPProvider: registry key %s not deleted (error %d)\n", path.c_str(), rc);
}

}  // namespace

}  // namespace kx9

using namespace kx9;

KX9_EXPORT HRESULT DllRegisterServer(void) {
    const std::string server = ServerPath();
    bool all = !server.empty();
    for (const ClassKeys &c : kClasses) {
        const std::string clsid = ClsidText(c.clsid);
        const std::string key = "CLSID\\" + clsid;
        all &= SetKey(key, c.description);
        all &= SetKey(key + "\\InprocServer32", server);
        all &= SetKey(key + "\\ProgID", c.progId);
        all &= SetKey(key + "\\VersionIndependentProgID", c.versionIndependentProgId);
        all &= SetKey(c.versionIndependentProgId, c.description);
        all &= SetKey(std::string(c.versionIndependentProgId) + "\\CLSID", clsid);
        all &= SetKey(std::string(c.versionIndependentProgId) + "\\CurVer", c.progId);
        all &= SetKey(c.progId, c.description);
        all &= SetKey(std::string(c.progId) + "\\CLSID", clsid);
    }
    return all ? S_OK : kSelfRegClassFailed;
}

KX9_EXPORT HRESULT DllUnregisterServer(void) {
    for (const ClassKeys &c : kClasses) {
        DeleteTree("CLSID\\" + ClsidText(c.clsid));
        DeleteTree(c.versionIndependentProgId);
        DeleteTree(c.progId);
    }
    return S_OK;
}
