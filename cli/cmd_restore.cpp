#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <vector>

#include "commands.hpp"
#include "device_job.hpp"
#include "long_operation.hpp"
#include "progress_display.hpp"
#include "text_output.hpp"
#include "vtBoxBRD.h"
#include "work_folder.hpp"

namespace vtcli {

namespace {
// The exit code of a job done while the device stayed locked.
constexpr int kDoneNotReleased = 3;
}  // namespace

namespace {

std::string Trimmed(const char *text) {
    std::string s(text);
    size_t a = s.find_first_not_of(' '), b = s.find_last_not_of(' ');
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

// What the backup file holds: its device's engine version and its boxes.
struct FileDescription {
    std::string engineVersion;
    std::vector<uint32_t> boxes;
};

bool Describe(const std::string &file, FileDescription *out) {
    WorkFolder work = TempWorkFolder();
    if (!work.ok()) {
        std::fprintf(stderr, "vtbox: %s\n", work.error().c_str());
        return false;
    }
    VTBACKUPINFO info{};
    uint32_t count = 0;
    VTBOXBK *boxes = nullptr;
    void *handle = nullptr;
    uint32_t rc = vtBoxGetXMLInfo(file.c_str(), work.path().c_str(), &info, &count, &boxes, &handle);
    if (rc != 0) {
        PrintError("reading " + file, rc, vtBoxGetLastErrorText());
        return false;
    }
    if (info.Kind != 1) {
        std::fprintf(stderr, "vtbox: %s is a document archive, not a backup file\n", file.c_str());
        if (handle) GlobalFree(handle);
        return false;
    }
    out->engineVersion = Trimmed(info.EngineVersion);
    for (uint32_t i = 0; i < count; ++i) out->boxes.push_back(boxes[i].BoxNo);
    if (handle) GlobalFree(handle);
    return true;
}

}  // namespace

int RunRestore(const Options &o) {
    FileDescription description;
    if (!Describe(o.input, &description)) return 1;
    std::vector<uint32_t> boxes;
    for (uint32_t box : o.allBoxes ? description.boxes : o.boxes)  // each box once
        if (std::find(boxes.begin(), boxes.end(), box) == boxes.end()) boxes.push_back(box);
    std::set<uint32_t> described(description.boxes.begin(), description.boxes.end());
    for (uint32_t box : boxes)
        if (!described.count(box)) {
            std::fprintf(stderr, "vtbox: box %03u is not in %s\n", box, o.input.c_str());
            return 1;
        }
    if (boxes.empty()) {
        std::fprintf(stderr, "vtbox: %s holds no boxes\n", o.input.c_str());
        return 1;
    }

    DeviceSession session(o.host, o.port);
    std::string password;
    VTENGVERSION version{};
    if (!OpenWithPassword(o, true, session, &password, &version)) return 1;
    if (Trimmed(version.EngineVersion) != description.engineVersion) {
        std::fprintf(stderr,
                     "vtbox: the backup was made on engine \"%s\" but the device runs \"%s\"; a backup can only be "
                     "restored into a device of the same engine version\n",
                     description.engineVersion.c_str(), version.EngineVersion);
        return 1;
    }
    WorkFolder work(o.input);
    if (!work.ok()) {
        std::fprintf(stderr, "vtbox: %s\n", work.error().c_str());
        return 1;
    }
    std::string input = std::filesystem::absolute(o.input).string();

    ExclusiveJob job(session, password, 1);
    uint32_t rc = job.Begin();
    if (rc == 0 && TerminationRequested()) rc = 995;
    int32_t phase = 0;
    if (rc == 0) {
        std::string detail;
        rc = RunLongOperation(
            "restore",
            [&](HANDLE cancel, HANDLE status, VTPROGRESSINFO *progress) {
                uint32_t r = vtBoxRestore(session.get(), password.c_str(), job.ftpUser(), work.path().c_str(),
                                          input.c_str(), static_cast<uint32_t>(boxes.size()), boxes.data(), o.mode,
                                          job.deviceTime(), cancel, status, progress);
                phase = progress->Phase;
                return r;
            },
            &detail);
        if (rc != 0) {
            PrintError("the restore", rc, detail);
            if (phase == VTPHASE_TOO_MANY_DOCUMENTS)
                std::fprintf(stderr, "vtbox: a folder of the box would hold more than 400 documents\n");
            else if (phase == VTPHASE_TOO_MANY_FOLDERS)
                std::fprintf(stderr, "vtbox: the box would hold more than 100 folders\n");
        }
    }
    uint32_t released = job.End();
    if (rc == 0) {
        std::printf("%s: %zu box%s restored (%s)\n", o.input.c_str(), boxes.size(), boxes.size() == 1 ? "" : "es",
                    o.mode == 1 ? "same-named documents replaced" : "same-named documents kept, restored ones renamed");
        if (released == 0) return 0;
        std::fprintf(stderr, "vtbox: warning: the boxes were restored, but the device was not released\n");
        return kDoneNotReleased;
    }
    return rc == 995 ? 130 : 1;
}

}  // namespace vtcli
