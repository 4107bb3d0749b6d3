// vtbox diff: a backup file against the device, read-only.
#include <cstdio>
#include <filesystem>
#include <memory>

#include "backup_listing.hpp"
#include "commands.hpp"
#include "device_job.hpp"
#include "failure_report.hpp"
#include "json_output.hpp"
#include "text_output.hpp"
#include "vtBoxBRD.h"
#include "work_folder.hpp"

namespace vtcli {

namespace {

namespace fs = std::filesystem;

const char *ChangeWord(uint32_t change) {
    switch (change) {
    case VTDIFF_ONLY_IN_BACKUP: return "deleted";
    case VTDIFF_ONLY_ON_DEVICE: return "new";
    default: return "changed";
    }
}

const char *KindWord(uint32_t kind) {
    return kind == VTENTRY_BOX ? "box" : kind == VTENTRY_FOLDER ? "folder" : "document";
}

// The path by numbers on one side: the backup's (deleted, changed) or the
// device's (new); "" when the entry is not on that side.
std::string PathOn(const VTBACKUPDIFF &d, bool device) {
    const bool here = device ? d.Change != VTDIFF_ONLY_IN_BACKUP : d.Change != VTDIFF_ONLY_ON_DEVICE;
    if (!here) return {};
    VTBACKUPENTRY e{};
    e.Kind = d.Kind;
    e.BoxNo = d.BoxNo;
    e.FolderNo = device ? d.DeviceFolderNo : d.FolderNo;
    e.DocNo = device ? d.DeviceDocNo : d.DocNo;
    return BackupTree::NumberPath(e);
}

std::string NamePath(const VTBACKUPDIFF &d) {
    if (d.Kind == VTENTRY_BOX) return std::to_string(d.BoxNo);
    std::string path = std::to_string(d.BoxNo);
    if (d.Kind == VTENTRY_DOCUMENT && d.FolderName[0]) path += "/" + std::string(d.FolderName);
    return path + "/" + d.Name;
}

std::vector<std::string> Differs(const VTBACKUPDIFF &d) {
    std::vector<std::string> out;
    if (d.Differs & VTDIFF_PAGES) out.push_back("pages");
    if (d.Differs & VTDIFF_SIZE) out.push_back("size");
    if (d.Differs & VTDIFF_DATE) out.push_back("date");
    return out;
}

std::string DiffersText(const VTBACKUPDIFF &d) {
    std::string out;
    auto add = [&](const std::string &what) { out += (out.empty() ? "" : ", ") + what; };
    if (d.Differs & VTDIFF_PAGES)
        add("pages " + std::to_string(d.BackupPages) + " -> " + std::to_string(d.DevicePages));
    if (d.Differs & VTDIFF_SIZE) add("size " + SizeText(d.BackupSize) + " -> " + SizeText(d.DeviceSize));
    if (d.Differs & VTDIFF_DATE)
        add("updated " + FormatTime(d.BackupDate, false) + " -> " + FormatTime(d.DeviceDate, false) + " UTC");
    return out;
}

JsonObject Side(uint32_t pages, uint64_t size, const SYSTEMTIME &date, bool document) {
    JsonObject o;
    if (document) o.Add("pages", pages).Add("size", size);
    if (date.wYear != 0)
        o.Add("lastUpdate", IsoUtc(date));
    else
        o.AddNull("lastUpdate");
    return o;
}

std::string DiffJson(const VTBACKUPDIFF &d) {
    JsonObject o;
    o.Add("box", d.BoxNo).Add("change", ChangeWord(d.Change)).Add("kind", KindWord(d.Kind));
    const std::string path = PathOn(d, false), devicePath = PathOn(d, true);
    if (path.empty())
        o.AddNull("path");
    else
        o.Add("path", path);
    if (devicePath.empty())
        o.AddNull("devicePath");
    else
        o.Add("devicePath", devicePath);
    o.Add("name", std::string(d.Name)).Add("namePath", NamePath(d));
    std::vector<std::string> differs;
    for (const auto &w : Differs(d)) differs.push_back(JsonString(w));
    o.AddRaw("differs", JsonArray(differs));
    const bool document = d.Kind == VTENTRY_DOCUMENT;
    if (d.Change == VTDIFF_ONLY_ON_DEVICE || d.Kind == VTENTRY_BOX)
        o.AddNull("backup");
    else
        o.AddRaw("backup", Side(d.BackupPages, d.BackupSize, d.BackupDate, document).str());
    if (d.Change == VTDIFF_ONLY_IN_BACKUP)
        o.AddNull("device");
    else
        o.AddRaw("device", Side(d.DevicePages, d.DeviceSize, d.DeviceDate, document).str());
    return o.str();
}

}  // namespace

int RunDiff(const Context &c) {
    const Options &o = c.options;
    // The file is looked at first: a missing file needs no password.
    {
        std::error_code ec;
        if (!fs::exists(o.input, ec))
            return ReportProblem("the backup file " + o.input + " does not exist", kExitNotFound);
        if (!fs::is_regular_file(o.input, ec)) return ReportProblem(o.input + " is not a file", kExitNotFound);
    }
    DeviceSession session(c.settings);
    std::string password;
    VTENGVERSION version{};
    if (int rc = OpenWithPassword(c, false, session, &password, &version)) return rc;
    WorkFolder work = WorkFolderFor(o.input);
    if (!work.ok()) return ReportProblem(work.error(), kExitLocalDisk);
    const std::vector<uint32_t> boxes = o.allBoxes ? std::vector<uint32_t>{} : o.boxes;
    // Each difference is written as it is found: one box of the file is held,
    // whatever the file holds.
    struct Written {
        const Options &o;
        JsonLineWriter line;
        uint32_t count = 0;
        uint32_t box = 0;
    } w{o, {}, 0, 0};
    if (o.json) w.line.Write(JsonObject().Add("file", o.input).opened() + ",\"differences\":[");
    auto write = [](const VTBACKUPDIFF *item, void *context) -> uint32_t {
        Written &w = *static_cast<Written *>(context);
        const VTBACKUPDIFF &d = *item;
        if (w.o.json) {
            w.line.Write((w.count ? "," : "") + DiffJson(d));
        } else if (d.Kind == VTENTRY_BOX) {
            std::printf("box %u \"%s\": deleted from the device since the backup\n", d.BoxNo,
                        PlainText(d.Name).c_str());
        } else {
            if (d.BoxNo != w.box) std::printf("box %u:\n", d.BoxNo);
            const bool isNew = d.Change == VTDIFF_ONLY_ON_DEVICE;
            std::string what = PlainText(NamePath(d)) + (d.Kind == VTENTRY_FOLDER ? "/" : "");
            if (isNew) what += "  (numbered " + PathOn(d, true) + " on the device)";
            if (d.Change == VTDIFF_CHANGED) what += "  " + DiffersText(d);
            if (d.Kind == VTENTRY_FOLDER && d.Change == VTDIFF_ONLY_IN_BACKUP)
                what += "  (the folder, with its documents)";
            std::printf("  %-8s %-12s %s\n", ChangeWord(d.Change), isNew ? "-" : PathOn(d, false).c_str(),
                        what.c_str());
        }
        w.box = d.BoxNo;
        ++w.count;
        return 0;
    };
    if (vtBoxCompareBackupEach(session.get(), password.c_str(), work.path().c_str(), o.input.c_str(),
                               static_cast<uint32_t>(boxes.size()), boxes.data(), write, &w) != 0) {
        const uint32_t rc = GetLastError();
        // A box or a damaged file is the file's fault, anything else the device's.
        const bool file = rc == VTBOX_E_DAMAGED_FILE || rc == VTBOX_E_NOT_FOUND;
        return ReportFailure("comparing " + o.input + " with the device", rc, vtBoxGetLastErrorText(),
                             file ? FailureSite::BackupFile : FailureSite::Device, &c.settings);
    }
    const uint32_t count = w.count;
    if (o.json) {
        w.line.Write("],\"same\":" + std::string(count == 0 ? "true" : "false") + "}");
        w.line.Finish();
        return kExitDone;
    }
    if (Output().quiet) return kExitDone;
    if (count == 0)
        std::printf("the device holds what %s holds\n", PlainText(o.input).c_str());
    else
        std::printf("%u difference%s; vtbox restore -i FILE --only PATH brings back what was deleted\n", count,
                    count == 1 ? "" : "s");
    return kExitDone;
}

}  // namespace vtcli
