#include "store/layout.hpp"

#include <cstdio>

#include "localfiles/local_file.hpp"
#include "session/result.hpp"
#include "vtplatform/diag.hpp"

namespace vtbox {

namespace {
constexpr const char *kBoxTree = "BOX";
constexpr const char *kDataName = "DATA";
constexpr const char *kDatabaseName = "DATABASE";
constexpr const char *kPackedSuffix = ".zip";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

std::string BoxFolderName(uint32_t box) { return vt::Format("B0000%03u", box); }
std::string FolderEntryName(uint32_t folder) { return vt::Format("F0000%03u", folder); }
std::string DocumentEntryName(uint32_t document) { return vt::Format("D0000%03u", document); }

std::string EntryName(uint32_t number, bool document) {
    if (number > kMaxEntryNumber) Raise(vt::Code::InvalidParameter);
    return document ? DocumentEntryName(number) : FolderEntryName(number);
}

std::string RecordFileName(const std::string &item_name) { return item_name + kRecordExtension; }

int EntryNumberFromRecordName(std::string_view n, char letter) {
    if (n.size() != 12 || n[0] != letter || n.substr(1, 4) != "0000" || n.substr(8) != kRecordExtension)
        return -1;
    if (!IsDigit(n[5]) || !IsDigit(n[6]) || !IsDigit(n[7])) return -1;
    int number = (n[5] - '0') * 100 + (n[6] - '0') * 10 + (n[7] - '0');
    return number != 0 ? number : -1;  // 0 stands for "no entry" on the device
}

std::string BoxArchiveName(uint32_t box) { return BoxFolderName(box) + kBoxArchiveExtension; }

std::string DeviceBoxRecord(uint32_t box) {
    return std::string(kDeviceStoreRoot) + "/" + kDatabaseName + "/" + RecordFileName(BoxFolderName(box));
}

std::string DeviceBoxFolder(uint32_t box) {
    return std::string(kDeviceStoreRoot) + "/" + kDataName + "/" + BoxFolderName(box);
}

std::string StoreTree::box() const { return root_ + "/" + kBoxTree; }
std::string StoreTree::packedBox() const { return box() + kPackedSuffix; }
std::string StoreTree::description() const { return box() + "/" + kBackupDescriptionName; }
std::string StoreTree::database() const { return box() + "/" + kDatabaseName; }
std::string StoreTree::databaseArchive() const { return database() + kBoxArchiveExtension; }
std::string StoreTree::data() const { return box() + "/" + kDataName; }
std::string StoreTree::dataArchive() const { return data() + kPackedSuffix; }
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
