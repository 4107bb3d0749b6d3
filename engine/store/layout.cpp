#include "store/layout.hpp"

#include <algorithm>
#include <cstdio>

#include "localfiles/local_file.hpp"
#include "session/result.hpp"
#include "vtplatform/diag.hpp"
#include "vtplatform/text.hpp"

namespace vtbox {

namespace {
constexpr const char *kPackedSuffix = ".zip";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

std::string BoxFolderName(uint32_t box) { return vt::Format("B0000%03u", box); }
std::string FolderEntryName(uint32_t folder) { return vt::Format("F0000%03u", folder); }
std::string DocumentEntryName(uint32_t document) { return vt::Format("D0000%03u", document); }

std::string EntryName(uint32_t number, bool document) {
    if (number > kMaxEntryNumber) Raise(vt::Code::INVALID_PARAMETER);
    return document ? DocumentEntryName(number) : FolderEntryName(number);
}

std::string RecordFileName(const std::string &itemName) { return itemName + kRecordExtension; }

int EntryNumberFromRecordName(std::string_view n, char letter) {
    if (n.size() != 12 || n[0] != letter || n.substr(1, 4) != "0000" || n.substr(8) != kRecordExtension) return -1;
    if (!IsDigit(n[5]) || !IsDigit(n[6]) || !IsDigit(n[7])) return -1;
    int number = (n[5] - '0') * 100 + (n[6] - '0') * 10 + (n[7] - '0');
    return number != 0 ? number : -1;  // 0 stands for "no entry" on the device
}

std::string BoxArchiveName(uint32_t box) { return BoxFolderName(box) + kBoxArchiveExtension; }

int BoxNumberFromArchiveName(std::string_view n) {
    if (n.size() != 12 || !vt::EqualsIgnoreCase(n.substr(0, 5), "B0000") ||
        !vt::EqualsIgnoreCase(n.substr(8), kBoxArchiveExtension))
        return -1;
    if (!IsDigit(n[5]) || !IsDigit(n[6]) || !IsDigit(n[7])) return -1;
    int number = (n[5] - '0') * 100 + (n[6] - '0') * 10 + (n[7] - '0');
    return number != 0 ? number : -1;
}

bool IsInnerFolderName(std::string_view name) {
    if (name.empty() || name.size() > 64 || (name[0] != 'P' && name[0] != 'p')) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || IsDigit(c) || c == '_' || c == '-';
    });
}

bool IsPageFileName(std::string_view name) {
    if (name.size() < 5 || name.size() > 255 || name[0] == '.' || name[name.size() - 4] != '.') return false;
    return std::all_of(name.begin(), name.end(), [](char c) { return c > 0x20 && c < 0x7F && c != '/' && c != '\\'; });
}

bool IsStatusFileName(std::string_view name) { return name == kCreateStatusFile || name == kUnlockStatusFile; }

std::string DeviceBoxRecord(uint32_t box) {
    return std::string(kDeviceStoreRoot) + "/" + kDatabaseFolderName + "/" + RecordFileName(BoxFolderName(box));
}

std::string DeviceBoxFolder(uint32_t box) {
    return std::string(kDeviceStoreRoot) + "/" + kDataFolderName + "/" + BoxFolderName(box);
}

std::string StoreTree::box() const { return root_ + "/" + kBoxTreeName; }
std::string StoreTree::packedBox() const { return box() + kPackedSuffix; }
std::string StoreTree::description() const { return box() + "/" + kBackupDescriptionName; }
std::string StoreTree::database() const { return box() + "/" + kDatabaseFolderName; }
std::string StoreTree::databaseArchive() const { return box() + "/" + kDatabaseArchiveName; }
std::string StoreTree::data() const { return box() + "/" + kDataFolderName; }
std::string StoreTree::dataArchive() const { return box() + "/" + kDataArchiveName; }
std::string StoreTree::boxRecord(uint32_t box) const { return database() + "/" + RecordFileName(BoxFolderName(box)); }
std::string StoreTree::boxFolder(uint32_t box) const { return data() + "/" + BoxFolderName(box); }
std::string StoreTree::boxArchive(uint32_t box) const { return data() + "/" + BoxArchiveName(box); }

void StoreTree::AdoptNameCase() const {
    for (const std::string &name : {box(), description(), databaseArchive(), dataArchive()}) {
        const std::string found = FindIgnoringCase(name);
        if (found != name && std::rename(found.c_str(), name.c_str()) != 0)
            vt::DebugPrint("\n cannot rename %s to %s \n", found.c_str(), name.c_str());
    }
}

}  // namespace vtbox
