#include "brd_registry.hpp"

#include <cstring>

namespace vtutil {

namespace {
constexpr DWORD kValueBufferSize = 256;

std::string RowValueName(const char *column, int index) { return column + std::to_string(index); }
}  // namespace

BrdKey BrdKey::Open(DWORD access) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kBrdKeyPath, 0, access, &key) != 0) key = nullptr;
    return BrdKey(key);
}

BrdKey BrdKey::Create() {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kBrdKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != 0)
        key = nullptr;
    return BrdKey(key);
}

std::optional<std::string> BrdKey::Read(const char *name) const {
    if (!key_) return std::nullopt;
    uint8_t buffer[kValueBufferSize] = {};
    DWORD size = sizeof buffer, type = 0;
    if (RegQueryValueExA(key_.get(), name, nullptr, &type, buffer, &size) != 0 || type != REG_SZ) return std::nullopt;
    return std::string(reinterpret_cast<const char *>(buffer), strnlen(reinterpret_cast<const char *>(buffer), size));
}

bool BrdKey::Write(const char *name, const std::string &value) {
    if (!key_) return false;
    // The stored length leaves out the terminating zero.
    return RegSetValueExA(key_.get(), name, 0, REG_SZ, reinterpret_cast<const uint8_t *>(value.c_str()),
                          static_cast<DWORD>(value.size())) == 0;
}

bool BrdKey::Delete(const std::string &name) {
    if (!key_) return false;
    LONG rc = RegDeleteValueA(key_.get(), name.c_str());
    return rc == 0 || rc == 2;
}

std::optional<ChosenDevice> ReadChosenDevice() {
    BrdKey key = BrdKey::Open(KEY_READ);
    std::optional<std::string> address = key.Read(kLastSelectedIp);
    std::optional<std::string> name = key.Read(kLastSelectedName);
    if (!address || !name) return std::nullopt;
    return ChosenDevice{*address, *name};
}

std::vector<DeviceRow> ReadDeviceTable(const BrdKey &key) {
    std::vector<DeviceRow> rows;
    for (int n = 0; n < kDeviceTableRows; ++n) {
        auto address = key.Read(RowValueName("Address", n));
        auto name = key.Read(RowValueName("Name", n));
        auto model = key.Read(RowValueName("Model", n));
        auto location = key.Read(RowValueName("Location", n));
        if (address && name && model && location) rows.push_back({n, *address, *name, *model, *location});
    }
    return rows;
}

bool WriteDeviceTable(BrdKey &key, const std::vector<DeviceRow> &rows) {
    if (rows.size() > static_cast<size_t>(kDeviceTableRows)) return false;
    bool ok = true;
    for (int n = 0; n < kDeviceTableRows; ++n) {
        const char *columns[] = {"Address", "Name", "Model", "Location"};
        if (static_cast<size_t>(n) < rows.size()) {
            const DeviceRow &row = rows[n];
            const std::string *values[] = {&row.address, &row.name, &row.model, &row.location};
            for (int c = 0; c < 4; ++c) ok = key.Write(RowValueName(columns[c], n), *values[c]) && ok;
        } else {
            for (const char *column : columns) ok = key.Delete(RowValueName(column, n)) && ok;
        }
    }
    return ok;
}

}  // namespace vtutil
