// vtbox prune: removes the backups of a folder that no retention rule keeps.
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "commands.hpp"
#include "prune.hpp"
#include "text_output.hpp"
#include "vtBoxBRD.h"
#include "work_folder.hpp"

namespace vtcli {

namespace {

namespace fs = std::filesystem;

std::string DateText(const BackupDate &d) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", d.year, d.month, d.day, d.hour, d.minute,
                  d.second);
    return text;
}

bool LooksLikeZip(const fs::path &p) {
    std::string ext = p.extension().string();
    for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".zip";
}

// The backups directly in the folder: regular files whose description reads
// as a backup with a real date. Everything else is left alone; a .zip file
// that is not such a backup is named on standard error, so that a file kept
// for good by its age does not go unnoticed.
bool FindBackups(const std::string &folder, const std::string &work, std::vector<PruneCandidate> *backups) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec), end;
    if (ec) {
        std::fprintf(stderr, "vtbox: cannot read the folder %s: %s\n", folder.c_str(), ec.message().c_str());
        return false;
    }
    for (; it != end; it.increment(ec)) {
        if (ec) {
            std::fprintf(stderr, "vtbox: cannot read the folder %s: %s\n", folder.c_str(), ec.message().c_str());
            return false;
        }
        const fs::path path = it->path();
        if (!it->is_regular_file(ec) || it->is_symlink(ec)) continue;
        VTBACKUPINFO info{};
        uint32_t count = 0;
        VTBOXBK *boxes = nullptr;
        void *handle = nullptr;
        uint32_t rc = vtBoxGetXMLInfo(path.c_str(), work.c_str(), &info, &count, &boxes, &handle);
        if (handle) GlobalFree(handle);
        BackupDate date{info.Date.wYear, info.Date.wMonth, info.Date.wDay,
                        info.Date.wHour, info.Date.wMinute, info.Date.wSecond};
        std::string why;
        if (rc != 0) {
            char text[256] = "";
            vtGetMessageText(rc, text, sizeof text);
            why = "its description does not read: " + std::string(text);
        } else if (info.Kind != 1) {
            why = "a document archive, not a backup";
        } else if (!IsValidDate(date)) {
            why = "its description has no valid date";
        }
        if (why.empty())
            backups->push_back({path.filename().string(), date});
        else if (LooksLikeZip(path))
            std::fprintf(stderr, "vtbox: left alone: %s (%s)\n", path.c_str(), why.c_str());
    }
    return true;
}

}  // namespace

int RunPrune(const Options &o) {
    std::error_code ec;
    if (!fs::is_directory(o.input, ec)) {
        std::fprintf(stderr, "vtbox: %s is not a folder\n", o.input.c_str());
        return 1;
    }
    WorkFolder work((fs::temp_directory_path(ec) / "x").string());
    if (!work.ok()) {
        std::fprintf(stderr, "vtbox: %s\n", work.error().c_str());
        return 1;
    }
    std::vector<PruneCandidate> backups;
    if (!FindBackups(o.input, work.path(), &backups)) return 1;

    int failures = 0;
    size_t removed = 0;
    std::vector<PruneVerdict> verdicts = DecidePrune(std::move(backups), o.prune);
    if (o.json) std::printf("{\"folder\":%s,\"dryRun\":%s,\"backups\":[", JsonString(o.input).c_str(),
                            o.dryRun ? "true" : "false");
    for (size_t i = 0; i < verdicts.size(); ++i) {
        const PruneVerdict &v = verdicts[i];
        bool gone = false;
        if (!v.keep && !o.dryRun) {
            fs::path path = fs::path(o.input) / v.name;
            if (fs::remove(path, ec) && !ec) {
                gone = true;
                ++removed;
            } else {
                ++failures;
                std::fprintf(stderr, "vtbox: cannot remove %s: %s\n", path.c_str(),
                             ec ? ec.message().c_str() : "it is gone");
            }
        }
        std::string reasons;
        for (const std::string &r : v.reasons)
            reasons += (reasons.empty() ? "" : o.json ? "," : ", ") + (o.json ? JsonString(r) : r);
        if (o.json) {
            std::printf("%s{\"file\":%s,\"date\":\"%s\",\"keep\":%s,\"removed\":%s,\"rules\":[%s]}", i ? "," : "",
                        JsonString(v.name).c_str(), DateText(v.date).c_str(), v.keep ? "true" : "false",
                        gone ? "true" : "false", reasons.c_str());
        } else {
            const char *verb = v.keep ? "keep" : o.dryRun ? "would remove" : gone ? "remove" : "not removed";
            std::printf("%-12s  %s  %s%s%s\n", verb, DateText(v.date).c_str(), v.name.c_str(),
                        reasons.empty() ? "" : "  ", reasons.c_str());
        }
    }
    if (o.json) {
        std::printf("]}\n");
    } else {
        size_t kept = 0;
        for (const PruneVerdict &v : verdicts) kept += v.keep;
        std::printf("%zu backup%s kept, %zu %s\n", kept, kept == 1 ? "" : "s",
                    o.dryRun ? verdicts.size() - kept : removed, o.dryRun ? "would be removed" : "removed");
    }
    return failures ? 1 : 0;
}

}  // namespace vtcli
