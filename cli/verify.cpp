#include "verify.hpp"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "commands.hpp"
#include "failure_report.hpp"
#include "json_output.hpp"
#include "text_output.hpp"
#include "vtBoxBRD.h"
#include "vthandles.hpp"
#include "work_folder.hpp"

namespace vtcli {

namespace {

struct Verdict {
    uint32_t rc = 0;
    std::string detail;
    std::vector<VTCHECKITEM> findings;
};

Verdict Check(const std::string &file, const std::string &workFolder) {
    Verdict v;
    uint32_t count = 0;
    VTCHECKITEM *items = nullptr;
    void *handle = nullptr;
    v.rc = vtBoxCheckBackup(file.c_str(), workFolder.c_str(), &count, &items, &handle);
    v.detail = vtBoxGetLastErrorText();
    vt::GlobalBlock findings(handle);
    if (findings) v.findings.assign(items, items + count);
    return v;
}

std::string Where(const VTCHECKITEM &f) {
    std::string where;
    if (f.BoxNo) {
        char box[16];
        std::snprintf(box, sizeof box, "box %03u", f.BoxNo);
        where = box;
    }
    // The entry's name is the file's own: escaped like every name from it.
    if (f.Entry[0])
        where += (where.empty() ? "" : ", ") + PlainText(std::string(f.Entry, strnlen(f.Entry, sizeof f.Entry)));
    return where;
}

void PrintFindings(const std::string &file, const std::vector<VTCHECKITEM> &findings) {
    for (const auto &f : findings) {
        std::string where = Where(f);
        std::fprintf(stderr, "vtbox: %s: %s%s%s\n", PlainText(file).c_str(), where.c_str(), where.empty() ? "" : ": ",
                     PlainText(std::string(f.Text, strnlen(f.Text, sizeof f.Text))).c_str());
    }
}

}  // namespace

int VerifyQuietly(const std::string &file, const std::string &workFolder) {
    Verdict v = Check(file, workFolder);
    if (v.rc == 0) return kExitDone;
    if (v.rc == VTBOX_E_DAMAGED_FILE && !v.findings.empty()) {
        PrintFindings(file, v.findings);
        return kExitDamagedFile;
    }
    return ReportFailure("verifying " + file, v.rc, v.detail, FailureSite::BackupFile);
}

int RunVerify(const Context &c) {
    const std::string &file = c.options.input;
    std::error_code ec;
    if (!std::filesystem::exists(file, ec))
        return ReportProblem("the backup file " + file + " does not exist", kExitNotFound);
    WorkFolder work = WorkFolderFor(file);
    if (!work.ok()) return ReportProblem(work.error(), kExitLocalDisk);
    auto started = std::chrono::steady_clock::now();
    Verdict v = Check(file, work.path());
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    int exitCode = kExitDone;
    if (v.rc == VTBOX_E_DAMAGED_FILE && !v.findings.empty())
        exitCode = kExitDamagedFile;
    else if (v.rc != 0)
        exitCode = ExitCodeFor(v.rc, FailureSite::BackupFile);

    if (c.options.json) {
        std::vector<std::string> items;
        for (const auto &f : v.findings) {
            JsonObject o;
            if (f.BoxNo)
                o.Add("box", f.BoxNo);
            else
                o.AddNull("box");
            o.Add("entry", f.Entry).Add("text", f.Text);
            items.push_back(o.str());
        }
        JsonObject out;
        out.Add("file", file).Add("ok", v.rc == 0).Add("exitCode", exitCode).Add("code", v.rc);
        if (v.rc != 0 && v.findings.empty()) out.Add("detail", v.detail);
        out.AddRaw("findings", JsonArray(items))
            .Add("size", static_cast<uint64_t>(std::filesystem::file_size(file, ec)))
            .Add("seconds", seconds);
        PrintJsonLine(out.str());
        return exitCode;
    }
    if (exitCode == kExitDamagedFile) {
        PrintFindings(file, v.findings);
        std::fprintf(stderr, "vtbox: %s is damaged: %zu finding%s\n", PlainText(file).c_str(), v.findings.size(),
                     v.findings.size() == 1 ? "" : "s");
        return exitCode;
    }
    if (v.rc != 0) return ReportFailure("verifying " + file, v.rc, v.detail, FailureSite::BackupFile);
    if (!Output().quiet)
        std::printf("%s: whole; every archive and entry read, the description matches\n", PlainText(file).c_str());
    return kExitDone;
}

}  // namespace vtcli
