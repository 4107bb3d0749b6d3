#include "dry_run.hpp"

#include <cstdio>
#include <map>

#include "failure_report.hpp"
#include "json_output.hpp"
#include "text_output.hpp"
#include "vtBoxBRD.h"
#include "vthandles.hpp"

namespace vtcli {

namespace {

const char *ActionName(uint32_t action) {
    switch (action) {
    case VTPLAN_NEW_BOX: return "new";
    case VTPLAN_MERGE_BOX: return "merge";
    case VTPLAN_ADD_DOCUMENT: return "add";
    case VTPLAN_REPLACE_DOCUMENT: return "replace";
    case VTPLAN_RENAME_DOCUMENT: return "rename";
    case VTPLAN_ADD_FOLDER: return "add";
    case VTPLAN_MERGE_FOLDER: return "merge";
    case VTPLAN_TOO_MANY_DOCUMENTS: return "too-many-documents";
    case VTPLAN_TOO_MANY_FOLDERS: return "too-many-folders";
    case VTPLAN_NO_DISK_SPACE: return "no-disk-space";
    default: return "other";
    }
}

std::string Number(uint32_t n) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%03u", n);
    return buf;
}

bool IsRefusal(uint32_t action) {
    return action == VTPLAN_TOO_MANY_DOCUMENTS || action == VTPLAN_TOO_MANY_FOLDERS || action == VTPLAN_NO_DISK_SPACE;
}

std::string RefusalText(const VTRESTOREPLAN &p) {
    std::string where = p.Name[0] ? "folder \"" + PlainText(p.Name) + "\"" : std::string("the box's top level");
    switch (p.Action) {
    case VTPLAN_TOO_MANY_DOCUMENTS:
        return where + " would hold " + std::to_string(p.Count) + " documents; the device takes " +
               std::to_string(p.Limit);
    case VTPLAN_TOO_MANY_FOLDERS:
        return "the box would hold " + std::to_string(p.Count) + " folders; the device takes " +
               std::to_string(p.Limit);
    case VTPLAN_NO_DISK_SPACE:
        return "the box needs " + std::to_string(p.Count) + " KB; the device has " + std::to_string(p.Limit) +
               " KB free";
    }
    return {};
}

void PrintText(const std::vector<VTRESTOREPLAN> &plan, bool replace) {
    for (const auto &p : plan) {
        std::string folder = p.FolderNo ? " in folder " + Number(p.FolderNo) : "";
        // Names come from the backup file and the device: never raw to a terminal.
        std::string name = PlainText(p.Name), newName = PlainText(p.NewName);
        switch (p.Action) {
        case VTPLAN_NEW_BOX:
            std::printf("box %s \"%s\": new on the device, restored whole\n", Number(p.BoxNo).c_str(), name.c_str());
            break;
        case VTPLAN_MERGE_BOX:
            std::printf("box %s \"%s\": the device has it; merged (%s)\n", Number(p.BoxNo).c_str(), name.c_str(),
                        replace ? "same-named documents replaced" : "same-named documents kept, restored ones renamed");
            break;
        case VTPLAN_ADD_DOCUMENT:
            std::printf("  document %s \"%s\"%s: added%s\n", Number(p.EntryNo).c_str(), name.c_str(), folder.c_str(),
                        p.NewNo != p.EntryNo ? (" as number " + Number(p.NewNo)).c_str() : "");
            break;
        case VTPLAN_REPLACE_DOCUMENT:
            std::printf("  document %s \"%s\"%s: replaces the device's document %s of that name\n",
                        Number(p.EntryNo).c_str(), name.c_str(), folder.c_str(), Number(p.DeviceNo).c_str());
            break;
        case VTPLAN_RENAME_DOCUMENT:
            std::printf("  document %s \"%s\"%s: the name is taken; added as \"%s\" (number %s)\n",
                        Number(p.EntryNo).c_str(), name.c_str(), folder.c_str(), newName.c_str(),
                        Number(p.NewNo).c_str());
            break;
        case VTPLAN_ADD_FOLDER:
            std::printf("  folder %s \"%s\": added as folder %s\n", Number(p.EntryNo).c_str(), name.c_str(),
                        Number(p.NewNo).c_str());
            break;
        case VTPLAN_MERGE_FOLDER:
            std::printf("  folder %s \"%s\": merged into the device's folder %s of that name\n",
                        Number(p.EntryNo).c_str(), name.c_str(), Number(p.NewNo).c_str());
            break;
        case VTPLAN_DISK_SPACE: std::printf("  needs %u KB; the device has %u KB free\n", p.Count, p.Limit); break;
        default:
            if (IsRefusal(p.Action)) std::printf("  REFUSED: %s\n", RefusalText(p).c_str());
        }
    }
}

std::string PlanJson(const std::vector<VTRESTOREPLAN> &plan, const std::string &mode, const Refusals &refusals,
                     bool wouldSucceed, const std::string &file) {
    std::vector<std::string> boxes;
    std::vector<std::string> allRefusals;
    for (uint32_t b : refusals.unknownBoxes) {
        JsonObject r;
        r.Add("box", b).Add("reason", "unknown-box").Add("text", "box " + Number(b) + " is not in the backup file");
        allRefusals.push_back(r.str());
    }
    if (!refusals.engineVersion.empty()) {
        JsonObject r;
        r.AddNull("box")
            .Add("reason", "engine-version")
            .Add("text", "the backup was made on engine \"" + refusals.engineVersion + "\", the device runs \"" +
                             refusals.deviceEngineVersion + "\"");
        allRefusals.push_back(r.str());
    }
    size_t i = 0;
    while (i < plan.size()) {
        const VTRESTOREPLAN &head = plan[i];
        JsonObject box = BoxJson(head.BoxNo, head.Name);
        box.Add("action", ActionName(head.Action));
        std::vector<std::string> documents, folders;
        ++i;
        for (; i < plan.size() && plan[i].Action != VTPLAN_NEW_BOX && plan[i].Action != VTPLAN_MERGE_BOX; ++i) {
            const VTRESTOREPLAN &p = plan[i];
            if (p.Action == VTPLAN_DISK_SPACE || p.Action == VTPLAN_NO_DISK_SPACE) {
                box.Add("needKB", p.Count).Add("freeKB", p.Limit);
            }
            if (IsRefusal(p.Action)) {
                JsonObject r;
                r.Add("box", p.BoxNo).Add("reason", ActionName(p.Action)).Add("text", RefusalText(p));
                r.Add("count", p.Count).Add("limit", p.Limit);
                allRefusals.push_back(r.str());
                continue;
            }
            JsonObject e;
            e.Add("action", ActionName(p.Action))
                .Add("number", p.EntryNo)
                .Add("newNumber", p.NewNo)
                .Add("name", p.Name)
                .Add("newName", p.NewName);
            if (p.Action == VTPLAN_ADD_FOLDER || p.Action == VTPLAN_MERGE_FOLDER) {
                folders.push_back(e.str());
            } else if (p.Action != VTPLAN_DISK_SPACE) {
                e.Add("folder", p.FolderNo);
                if (p.Action == VTPLAN_REPLACE_DOCUMENT) e.Add("replaces", p.DeviceNo);
                documents.push_back(e.str());
            }
        }
        box.AddRaw("folders", JsonArray(folders)).AddRaw("documents", JsonArray(documents));
        boxes.push_back(box.str());
    }
    JsonObject out;
    out.Add("file", file)
        .Add("mode", mode)
        .Add("wouldSucceed", wouldSucceed)
        .AddRaw("refusals", JsonArray(allRefusals))
        .AddRaw("boxes", JsonArray(boxes));
    return out.str();
}

}  // namespace

int RunDryRun(const Context &c, DeviceSession &session, const std::string &password, const std::string &workFolder,
              const std::vector<uint32_t> &boxes, const std::vector<VTBACKUPITEM> &chosen, const Refusals &refusals) {
    const Options &o = c.options;
    std::vector<VTRESTOREPLAN> plan;
    if (refusals.unknownBoxes.empty()) {
        uint32_t count = 0;
        VTRESTOREPLAN *items = nullptr;
        vt::GlobalBlock block(
            chosen.empty() ? vtBoxPlanRestore(session.get(), password.c_str(), workFolder.c_str(), o.input.c_str(),
                                              static_cast<uint32_t>(boxes.size()), boxes.data(), o.mode, &count, &items)
                           : vtBoxPlanRestoreSelection(session.get(), password.c_str(), workFolder.c_str(),
                                                       o.input.c_str(), static_cast<uint32_t>(chosen.size()),
                                                       chosen.data(), o.mode, &count, &items));
        if (!block)
            return ReportFailure("planning the restore", GetLastError(), vtBoxGetLastErrorText(),
                                 FailureSite::BackupFile, &c.settings);
        plan.assign(items, items + count);
    }
    int exitCode = kExitDone;
    if (!refusals.unknownBoxes.empty())
        exitCode = kExitNotFound;
    else if (!refusals.engineVersion.empty())
        exitCode = kExitDamagedFile;
    for (const auto &p : plan)
        if (IsRefusal(p.Action) && exitCode == kExitDone) exitCode = kExitFailure;

    if (o.json) {
        PrintJsonLine(PlanJson(plan, o.mode == 1 ? "replace" : "keep-both", refusals, exitCode == kExitDone, o.input));
        return exitCode;
    }
    for (uint32_t b : refusals.unknownBoxes)
        std::printf("REFUSED: box %s is not in %s\n", Number(b).c_str(), o.input.c_str());
    if (!refusals.engineVersion.empty())
        std::printf("REFUSED: the backup was made on engine \"%s\" but the device runs \"%s\"\n",
                    PlainText(refusals.engineVersion).c_str(), PlainText(refusals.deviceEngineVersion).c_str());
    PrintText(plan, o.mode == 1);
    if (exitCode == kExitDone)
        std::printf("dry run: nothing was locked or written; the restore would go through\n");
    else
        std::printf("dry run: nothing was locked or written; the restore would be refused%s\n",
                    refusals.unknownBoxes.empty() && refusals.engineVersion.empty()
                        ? " at the first REFUSED box (boxes before it would be restored)"
                        : " before it touches the device");
    return exitCode;
}

}  // namespace vtcli
