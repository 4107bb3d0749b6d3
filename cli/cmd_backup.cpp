#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "commands.hpp"
#include "device_job.hpp"
#include "long_operation.hpp"
#include "text_output.hpp"
#include "vtBoxBRD.h"
#include "work_folder.hpp"

namespace vtcli {

namespace {

// The exit code of a backup written while the device stayed locked.
constexpr int kWrittenNotReleased = 3;

// The chosen boxes, or every box of the device for "all".
bool ChooseBoxes(const Options &o, DeviceSession &session, std::vector<uint32_t> *boxes) {
    if (!o.allBoxes) {
        for (uint32_t box : o.boxes)  // each box once
            if (std::find(boxes->begin(), boxes->end(), box) == boxes->end()) boxes->push_back(box);
        return true;
    }
    uint32_t count = 0;
    VTBOX *list = nullptr;
    HGLOBAL block = vtBoxGetBoxList(session.get(), &count, &list);
    if (!block) {
        PrintError("listing the boxes", GetLastError(), vtBoxGetLastErrorText());
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) boxes->push_back(list[i].BoxNo);
    GlobalFree(block);
    return true;
}

}  // namespace

int RunBackup(const Options &o) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::is_directory(o.output, ec)) {
        std::fprintf(stderr, "vtbox: %s is a folder; give the backup file's name\n", o.output.c_str());
        return 1;
    }
    if (!fs::is_directory(FolderOf(o.output), ec)) {
        std::fprintf(stderr, "vtbox: the folder %s does not exist\n", FolderOf(o.output).c_str());
        return 1;
    }
    // A file made read-only is one somebody meant to keep (root may write it
    // all the same: its write bits say what was meant).
    struct stat st;
    bool read_only = ::stat(o.output.c_str(), &st) == 0 &&
                     ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || access(o.output.c_str(), W_OK) != 0);
    if (read_only && !o.replaceReadOnly) {
        std::fprintf(stderr,
                     "vtbox: %s is read-only; give --replace-read-only to replace it, or choose another file\n",
                     o.output.c_str());
        return 1;
    }
    DeviceSession session(o.host, o.port);
    std::string password;
    VTENGVERSION version{};
    if (!OpenWithPassword(o, true, session, &password, &version)) return 1;
    std::vector<uint32_t> boxes;
    if (!ChooseBoxes(o, session, &boxes)) return 1;
    WorkFolder work(o.output);
    if (!work.ok()) {
        std::fprintf(stderr, "vtbox: %s\n", work.error().c_str());
        return 1;
    }
    std::string target = fs::absolute(o.output).string();

    ExclusiveJob job(session, password, 0);
    uint32_t rc = job.Begin();
    if (rc == 0 && TerminationRequested()) rc = 995;
    if (rc == 0) {
        std::string detail;
        rc = RunLongOperation(
            "backup",
            [&](HANDLE cancel, HANDLE status, VTPROGRESSINFO *progress) {
                return vtBoxBackup(session.get(), password.c_str(), job.ftpUser(), work.path().c_str(),
                                   target.c_str(), static_cast<uint32_t>(boxes.size()), boxes.data(), cancel, status,
                                   progress);
            },
            &detail);
        if (rc != 0) PrintError("the backup", rc, detail);
    }
    uint32_t released = job.End();
    if (rc == 0) {
        std::printf("%s: %zu box%s backed up\n", o.output.c_str(), boxes.size(), boxes.size() == 1 ? "" : "es");
        if (released == 0) return 0;
        // The file is whole and in place; only the device is left as it was.
        std::fprintf(stderr, "vtbox: warning: the backup %s was written, but the device was not released\n",
                     o.output.c_str());
        return kWrittenNotReleased;
    }
    return rc == 995 ? 130 : 1;
}

}  // namespace vtcli
