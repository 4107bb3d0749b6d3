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

// The chosen boxes, or every box of the device for "all".
bool ChooseBoxes(const Options &o, DeviceSession &session, std::vector<uint32_t> *boxes) {
    if (!o.allBoxes) {
        *boxes = o.boxes;
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
    if (rc == 0 && released == 0) {
        std::printf("%s: %zu box%s backed up\n", o.output.c_str(), boxes.size(), boxes.size() == 1 ? "" : "es");
        return 0;
    }
    return rc == 995 ? 130 : 1;
}

}  // namespace vtcli
