#include "dry_run.hpp"

#include <cstdio>
#include <string>
#include <vector>

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

void PrintLine(const VTRESTOREPLAN &p, bool replace) {
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
                    Number(p.EntryNo).c_str(), name.c_str(), folder.c_str(), newName.c_str(), Number(p.NewNo).c_str());
        break;
    case VTPLAN_ADD_FOLDER:
        std::printf("  folder %s \"%s\": added as folder %s\n", Number(p.EntryNo).c_str(), name.c_str(),
                    Number(p.NewNo).c_str());
        break;
    case VTPLAN_MERGE_FOLDER:
        std::printf("  folder %s \"%s\": merged into the device's folder %s of that name\n", Number(p.EntryNo).c_str(),
                    name.c_str(), Number(p.NewNo).c_str());
        break;
    case VTPLAN_DISK_SPACE: std::printf("  needs %u KB; the device has %u KB free\n", p.Count, p.Limit); break;
    default:
        if (IsRefusal(p.Action)) std::printf("  REFUSED: %s\n", RefusalText(p).c_str());
    }
}

// The plan as one JSON object, written a line of the plan at a time: a box's
// documents as they come, its folders (at most a box's) and its space when
// the box ends, the refusals (a few a box) and the verdict last.
class PlanJsonWriter {
public:
    PlanJsonWriter(const std::string &file, const std::string &mode, const Refusals &refusals)
        : file_(file), mode_(mode) {
        for (uint32_t b : refusals.unknownBoxes) {
            JsonObject r;
            r.Add("box", b).Add("reason", "unknown-box").Add("text", "box " + Number(b) + " is not in the backup file");
            refusals_.push_back(r.str());
        }
        if (!refusals.engineVersion.empty()) {
            JsonObject r;
            r.AddNull("box")
                .Add("reason", "engine-version")
                .Add("text", "the backup was made on engine \"" + refusals.engineVersion + "\", the device runs \"" +
                                 refusals.deviceEngineVersion + "\"");
            refusals_.push_back(r.str());
        }
    }

    void Add(const VTRESTOREPLAN &p) {
        if (p.Action == VTPLAN_NEW_BOX || p.Action == VTPLAN_MERGE_BOX) {
            EndBox();
            Begin();
            line_.Write(std::string(boxes_++ ? "," : "") +
                        BoxJson(p.BoxNo, p.Name).Add("action", ActionName(p.Action)).opened() + ",\"documents\":[");
            documents_ = 0;
            inBox_ = true;
            return;
        }
        if (p.Action == VTPLAN_DISK_SPACE || p.Action == VTPLAN_NO_DISK_SPACE) {
            boxTail_.Add("needKB", p.Count).Add("freeKB", p.Limit);
        }
        if (IsRefusal(p.Action)) {
            JsonObject r;
            r.Add("box", p.BoxNo).Add("reason", ActionName(p.Action)).Add("text", RefusalText(p));
            r.Add("count", p.Count).Add("limit", p.Limit);
            refusals_.push_back(r.str());
            return;
        }
        if (p.Action == VTPLAN_DISK_SPACE) return;
        JsonObject e;
        e.Add("action", ActionName(p.Action))
            .Add("number", p.EntryNo)
            .Add("newNumber", p.NewNo)
            .Add("name", p.Name)
            .Add("newName", p.NewName);
        if (p.Action == VTPLAN_ADD_FOLDER || p.Action == VTPLAN_MERGE_FOLDER) {
            folders_.push_back(e.str());
            return;
        }
        e.Add("folder", p.FolderNo);
        if (p.Action == VTPLAN_REPLACE_DOCUMENT) e.Add("replaces", p.DeviceNo);
        line_.Write((documents_++ ? "," : "") + e.str());
    }

    void Finish(bool wouldSucceed) {
        EndBox();
        Begin();
        line_.Write(std::string("],\"refusals\":") + JsonArray(refusals_) +
                    ",\"wouldSucceed\":" + (wouldSucceed ? "true" : "false") + "}");
        line_.Finish();
    }

private:
    void Begin() {
        if (begun_) return;
        begun_ = true;
        line_.Write(JsonObject().Add("file", file_).Add("mode", mode_).opened() + ",\"boxes\":[");
    }

    void EndBox() {
        if (!inBox_) return;
        const std::string tail = boxTail_.str();  // "{}" or "{...}"
        line_.Write("],\"folders\":" + JsonArray(folders_) + (tail.size() > 2 ? "," + tail.substr(1) : "}"));
        folders_.clear();
        boxTail_ = JsonObject();
        inBox_ = false;
    }

    std::string file_, mode_;
    JsonLineWriter line_;
    bool begun_ = false, inBox_ = false;
    size_t boxes_ = 0, documents_ = 0;
    std::vector<std::string> folders_, refusals_;
    JsonObject boxTail_;
};

// Where the engine hands the plan's lines, a line at a time.
struct PlanWalk {
    bool replace = false;
    bool refused = false;  // a line of the plan refuses
    PlanJsonWriter *json = nullptr;
};

uint32_t OnPlanLine(const VTRESTOREPLAN *item, void *context) {
    auto *walk = static_cast<PlanWalk *>(context);
    walk->refused = walk->refused || IsRefusal(item->Action);
    if (walk->json)
        walk->json->Add(*item);
    else
        PrintLine(*item, walk->replace);
    return 0;
}

}  // namespace

int RunDryRun(const Context &c, DeviceSession &session, const std::string &password, const std::string &workFolder,
              const std::vector<uint32_t> &boxes, const std::vector<VTBACKUPITEM> &chosen, const Refusals &refusals) {
    const Options &o = c.options;
    // The plan is shown as the engine works it out, a line at a time: a
    // file of many boxes is never held whole, here or in the engine.
    PlanJsonWriter json(o.input, o.mode == 1 ? "replace" : "keep-both", refusals);
    PlanWalk walk;
    walk.replace = o.mode == 1;
    if (o.json) {
        walk.json = &json;
    } else {
        for (uint32_t b : refusals.unknownBoxes)
            std::printf("REFUSED: box %s is not in %s\n", Number(b).c_str(), o.input.c_str());
        if (!refusals.engineVersion.empty())
            std::printf("REFUSED: the backup was made on engine \"%s\" but the device runs \"%s\"\n",
                        PlainText(refusals.engineVersion).c_str(), PlainText(refusals.deviceEngineVersion).c_str());
    }
    if (refusals.unknownBoxes.empty() &&
        vtBoxPlanRestoreEach(session.get(), password.c_str(), workFolder.c_str(), o.input.c_str(),
                             static_cast<uint32_t>(boxes.size()), boxes.data(), static_cast<uint32_t>(chosen.size()),
                             chosen.data(), o.mode, OnPlanLine, &walk) != 0)
        return ReportFailure("planning the restore", GetLastError(), vtBoxGetLastErrorText(), FailureSite::BackupFile,
                             &c.settings);
    int exitCode = kExitDone;
    if (!refusals.unknownBoxes.empty())
        exitCode = kExitNotFound;
    else if (!refusals.engineVersion.empty())
        exitCode = kExitDamagedFile;
    else if (walk.refused)
        exitCode = kExitFailure;

    if (o.json) {
        json.Finish(exitCode == kExitDone);
        return exitCode;
    }
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
