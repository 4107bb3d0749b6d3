// The registry store file, as the platform layer reads it and writes it back:
// a change to one value keeps every key the file held.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_target.h"
#include "vtregistry.h"

namespace {

// Every key below `key`, by its path from the root, depth first (bounded).
void Walk(HKEY key, const std::string &path, int depth, std::vector<std::string> &out) {
    char name[256];
    for (DWORD i = 0; out.size() < 256; ++i) {
        const LONG rc = RegEnumKeyA(key, i, name, sizeof name);
        if (rc == 259) return;  // no more
        if (rc != 0) continue;  // a name longer than the buffer
        const std::string full = path.empty() ? name : path + "\\" + name;
        out.push_back(full);
        HKEY child = nullptr;
        if (depth < 8 && RegOpenKeyExA(key, name, 0, KEY_READ, &child) == 0) {
            DWORD type = 0, size = 0;
            RegQueryValueExA(child, "FtpLog", nullptr, &type, nullptr, &size);
            uint8_t value[64];
            size = sizeof value;
            RegQueryValueExA(child, "", nullptr, &type, value, &size);
            Walk(child, full, depth + 1, out);
            RegCloseKey(child);
        }
    }
}

std::vector<std::string> Keys() {
    std::vector<std::string> keys;
    Walk(HKEY_CURRENT_USER, "", 0, keys);
    return keys;
}

}  // namespace

VT_FUZZ_TARGET(registry) {
    static const std::filesystem::path folder = [] {
        const auto f = vtfuzz::Scratch() / "registry";
        std::filesystem::create_directories(f);
        ::setenv("VTBOX_REGISTRY_DIR", f.c_str(), 1);
        return f;
    }();
    vtfuzz::WriteFile(folder / "HKEY_CURRENT_USER.reg", std::string_view(reinterpret_cast<const char *>(data), size));
    const std::vector<std::string> before = Keys();

    HKEY key = nullptr;
    VT_FUZZ_CHECK(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\vtbox\\fuzz", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr) == 0);
    const DWORD probe = 7;
    VT_FUZZ_CHECK(RegSetValueExA(key, "Probe", 0, REG_DWORD, reinterpret_cast<const uint8_t *>(&probe), 4) == 0);
    DWORD read = 0, type = 0, length = sizeof read;
    VT_FUZZ_CHECK(RegQueryValueExA(key, "Probe", nullptr, &type, reinterpret_cast<uint8_t *>(&read), &length) == 0);
    VT_FUZZ_CHECK(type == REG_DWORD && read == probe);
    RegCloseKey(key);

    // Rewritten, the file still holds every key it held.
    const std::vector<std::string> after = Keys();
    if (before.size() < 200) {
        for (const std::string &k : before) VT_FUZZ_CHECK(std::find(after.begin(), after.end(), k) != after.end());
    }
    return 0;
}
