// vtBoxGetXMLInfo: the description inside a backup file (Backup.XML) or a
// document archive (Archive.XML).
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "boxcalls/box_call.hpp"
#include "packaging/folder_archive.hpp"
#include "packaging/zip_reader.hpp"
#include "session/boundary.hpp"
#include "session/version_check.hpp"
#include "store/layout.hpp"
#include "vtplatform/diag.hpp"
#include "vtplatform/errors.hpp"

using namespace vtbox;

namespace {

std::string Trim(const std::string &s) {
    size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return {};
    size_t b = s.find_last_not_of(" \t\r\n");
    return s.substr(a, b - a + 1);
}

std::string Text(ReplyDocument &doc, const char *path) { return Trim(NodeText(doc, path)); }

// "2026/12/08 05:07:09": year, month, day, hour, minute, second; a missing
// part stays 0.
void ParseDate(const std::string &text, SYSTEMTIME *out) {
    std::memset(out, 0, sizeof *out);
    WORD *fields[] = {&out->wYear, &out->wMonth, &out->wDay, &out->wHour, &out->wMinute, &out->wSecond};
    const char separators[] = {'/', '/', ' ', ':', ':'};
    size_t pos = 0;
    for (int i = 0; i < 6 && pos <= text.size(); ++i) {
        size_t end = i < 5 ? text.find(separators[i], pos) : std::string::npos;
        std::string part = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        *fields[i] = static_cast<WORD>(std::strtoul(part.c_str(), nullptr, 10));
        if (end == std::string::npos) break;
        pos = end + 1;
    }
}

// The description is unpacked under a name of its own, so that a file the
// caller keeps in the work folder is never overwritten or deleted.
std::string UniqueName(const char *base) {
    static std::atomic<unsigned> counter{0};
    return vt::Format(".~vt%d-%u-%s", static_cast<int>(getpid()), counter++, base);
}

struct RemoveOnExit {
    std::string path;
    ~RemoveOnExit() {
        if (!path.empty()) std::remove(path.c_str());
    }
};

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};

// The description inside a backup file or document archive, loaded; kind
// is 1 for a backup, 2 for an archive. Raises as vtBoxGetXMLInfo does.
ReplyDocumentPtr LoadDescription(const char *archivePath, const char *workFolder, int *kindOut) {
    RemoveOnExit unpacked;
    int kind = 0;
    const char *name = nullptr;
    {
        ZipReader zip;
        if (!zip.Open(archivePath)) {
            const uint32_t code = GetLastError();
            OutputDebugStringA("\n\n Not a valid zip file \n");
            // A file this process may not read is no damaged file.
            if (code != vt::code(vt::Code::DAMAGED_FILE)) Raise(code, std::string(archivePath) + " cannot be read");
            Raise(vt::Code::DAMAGED_FILE, std::string(archivePath) + " is no backup file or document archive" +
                                              (zip.problem().empty() ? "" : ": " + zip.problem()));
        }
        kind = ArchiveKindOf(zip);
        if (kind == 0)
            Raise(vt::Code::DAMAGED_FILE, std::string(archivePath) + " is no backup file or document archive");
        name = kind == 1 ? kBackupDescriptionName : kArchiveDescriptionName;
        std::string saveAs = UniqueName(name);
        ZipEntryInfo entry;
        if (!zip.Locate(name, true) || !zip.CurrentInfo(&entry)) RaiseLastError();
        if (entry.uncompressedSize > kMaxDescriptionBytes)
            Raise(vt::Code::DAMAGED_FILE,
                  vt::Format("%s of %s would unpack to %llu bytes; a description holds at most %llu", name, archivePath,
                             static_cast<unsigned long long>(entry.uncompressedSize),
                             static_cast<unsigned long long>(kMaxDescriptionBytes)));
        if (!zip.ExtractCurrent(workFolder, true, saveAs)) {
            // Damage is the file's; a full or closed work folder is the local disk's.
            const uint32_t code = GetLastError();
            const bool damaged = code == vt::code(vt::Code::DAMAGED_FILE) || code == vt::code(vt::Code::NOT_SUPPORTED);
            Raise(damaged ? vt::code(vt::Code::DAMAGED_FILE) : code,
                  std::string(damaged ? "the " : "cannot unpack the ") + name + " of " + archivePath +
                      (damaged ? " is damaged" : std::string(" into ") + workFolder));
        }
        unpacked.path = std::string(workFolder) + "/" + saveAs;
    }

    std::unique_ptr<FILE, FileCloser> file(std::fopen(unpacked.path.c_str(), "rb"));
    if (!file) Raise(vt::Code::FILE_NOT_FOUND);
    struct stat st;
    if (fstat(fileno(file.get()), &st) != 0) Raise(vt::Code::INVALID_DATA);
    GlobalBlock block(GlobalAlloc(GPTR, static_cast<size_t>(st.st_size)));
    if (!block) Raise(vt::Code::NOT_ENOUGH_MEMORY);
    std::memset(block.get(), ' ', static_cast<size_t>(st.st_size));
    if (st.st_size > 0 &&
        std::fread(block.get(), 1, static_cast<size_t>(st.st_size), file.get()) != static_cast<size_t>(st.st_size))
        Raise(vt::Code::INVALID_DATA);
    file.reset();
    std::string why;
    ReplyDocumentPtr doc = LoadReplyDocument(block.get(), &why);
    if (!doc) Raise(vt::Code::INVALID_DATA, std::string(name) + " of " + archivePath + " is refused: " + why);

    *kindOut = kind;
    return doc;
}

}  // namespace

extern "C" uint32_t vtBoxGetXMLInfo(const char *archivePath, const char *workFolder, VTBACKUPINFO *info,
                                    uint32_t *count, VTBOXBK **boxes, void **handle) {
    if (handle) *handle = nullptr;
    if (boxes) *boxes = nullptr;
    bool valid = archivePath && workFolder && info && count && handle && boxes;
    return RunExport("vtBoxGetXMLInfo", valid, [&] {
        int kind = 0;
        ReplyDocumentPtr doc = LoadDescription(archivePath, workFolder, &kind);
        GlobalBlock array;
        std::string date;
        if (kind == 1) {
            info->Kind = 1;
            CopyField(info->EngineVersion, Text(*doc, "BackupInfo/EngineVersion"));
            CopyField(info->MACAddress, Text(*doc, "BackupInfo/MACAddress"));
            const char *items = "BackupInfo/Boxes/BoxProp";
            uint32_t n = ListCount(*doc, "BackupInfo/Boxes", "NumOfBoxes", items, "the description");
            array.reset(GlobalAlloc(GPTR, sizeof(VTBOXBK) * static_cast<size_t>(n)));
            if (!array) Raise(vt::Code::NOT_ENOUGH_MEMORY);
            auto *bk = static_cast<VTBOXBK *>(array.get());
            for (uint32_t i = 0; i < n; ++i) {
                CopyField(bk[i].BoxName, Trim(ItemChildText(*doc, items, i, "BoxName")));
                bk[i].BoxNo = ParseBoxNumber(ItemChildText(*doc, items, i, "BoxNo"), "the description");
                bk[i].NumOfFolders = ItemChildNumber(*doc, items, i, "NumOfFolders");
                bk[i].NumOfDocs = ItemChildNumber(*doc, items, i, "NumOfDocs");
                bk[i].BoxUsedDisk = ItemChildNumber(*doc, items, i, "BoxUsedDisk");
                bk[i].Protected = Trim(ItemChildText(*doc, items, i, "Protected")) == "yes" ? 1 : 0;
            }
            *count = n;
            date = Text(*doc, "BackupInfo/BackupDate");
        } else {
            info->Kind = 2;
            CopyField(info->EngineVersion, Text(*doc, "ArchiveInfo/Version"));
            CopyField(info->MACAddress, Text(*doc, "ArchiveInfo/MACAddress"));
            *count = static_cast<uint32_t>(ParseNumber(Text(*doc, "ArchiveInfo/NumOfDocs")));
            date = Text(*doc, "ArchiveInfo/ArchiveDate");
        }
        ParseDate(date, &info->Date);
        VersionVerdict verdict = CheckEngineVersion(info->EngineVersion);
        if (verdict != VersionVerdict::Supported) Raise(RefuseEngineVersion(verdict, info->EngineVersion));
        if (array) {
            *boxes = static_cast<VTBOXBK *>(array.get());
            *handle = array.release();
        }
    });
}

extern "C" uint32_t vtBoxGetBackupTimeZone(const char *archivePath, const char *workFolder, int32_t *offsetMinutes) {
    bool valid = archivePath && workFolder && offsetMinutes;
    return RunExport("vtBoxGetBackupTimeZone", valid, [&] {
        int kind = 0;
        ReplyDocumentPtr doc = LoadDescription(archivePath, workFolder, &kind);
        const char *path = "BackupInfo/Timezone";
        if (kind != 1 || doc->Select(path).empty()) Raise(vt::Code::NOT_FOUND, "the description records no time zone");
        // "GMT+09:00", "GMT-05:30".
        std::string text = Text(*doc, path);
        unsigned hours = 0, minutes = 0;
        char sign = 0;
        int used = 0;
        if (std::sscanf(text.c_str(), "GMT%c%2u:%2u%n", &sign, &hours, &minutes, &used) != 3 ||
            static_cast<size_t>(used) != text.size() || (sign != '+' && sign != '-') || hours > 14 || minutes > 59)
            Raise(vt::Code::INVALID_DATA, "the description's time zone \"" + text + "\" cannot be read");
        int32_t offset = static_cast<int32_t>(hours * 60 + minutes);
        *offsetMinutes = sign == '-' ? -offset : offset;
    });
}
