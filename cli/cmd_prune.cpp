// vtbox prune: removes the backups of a folder that no retention rule keeps.
#include <cctype>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "commands.hpp"
#include "failure_report.hpp"
#include "json_output.hpp"
#include "prune.hpp"
#include "text_output.hpp"
#include "vtBoxBRD.h"
#include "vthandles.hpp"
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

// More than any zone's offset from UTC (+14:00, -12:00) apart: a day.
constexpr std::time_t kLongestDay = 26 * 3600;

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
    const std::time_t now = std::time(nullptr);
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
        vt::GlobalBlock boxList(handle);
        BackupDate date{info.Date.wYear, info.Date.wMonth,  info.Date.wDay,
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
        if (why.empty()) {
            // Only a date past the local time of a day ago can lie ahead of
            // now in some zone; its description's zone, if it has one, says.
            bool future = DatedAfter(date, nullptr, now - kLongestDay);
            if (future) {
                int32_t offset = 0;
                const bool zoned = vtBoxGetBackupTimeZone(path.c_str(), work.c_str(), &offset) == 0;
                future = DatedAfter(date, zoned ? &offset : nullptr, now);
            }
            backups->push_back({path.filename().string(), date, future});
        } else if (LooksLikeZip(path))
            std::fprintf(stderr, "vtbox: left alone: %s (%s)\n", PlainText(path.string()).c_str(), why.c_str());
    }
    return true;
}

}  // namespace

int RunPrune(const Context &c) {
    const Options &o = c.options;
    std::error_code ec;
    if (!fs::is_directory(o.input, ec)) return ReportProblem(o.input + " is not a folder", kExitNotFound);
    WorkFolder work((fs::temp_directory_path(ec) / "x").string());
    if (!work.ok()) return ReportProblem(work.error(), kExitLocalDisk);
    std::vector<PruneCandidate> backups;
    if (!FindBackups(o.input, work.path(), &backups)) return kExitLocalDisk;

    int failures = 0;
    size_t removed = 0, kept = 0, total = backups.size();
    std::vector<std::string> items;
    for (const PruneVerdict &v : DecidePrune(std::move(backups), o.prune)) {
        if (v.future)
            std::fprintf(stderr,
                         "vtbox: %s is dated %s, after now: it is kept, and counts for no rule (the clock of the "
                         "computer that made it was wrong, or this one's is)\n",
                         PlainText(v.name).c_str(), DateText(v.date).c_str());
        bool gone = false;
        kept += v.keep;
        if (!v.keep && !o.dryRun) {
            fs::path path = fs::path(o.input) / v.name;
            if (fs::remove(path, ec) && !ec) {
                gone = true;
                ++removed;
            } else {
                ++failures;
                ReportProblem("cannot remove " + path.string() + ": " + (ec ? ec.message() : "it is gone"),
                              kExitLocalDisk);
            }
        }
        if (Output().json) {
            std::vector<std::string> rules;
            for (const std::string &r : v.reasons) rules.push_back(JsonString(r));
            items.push_back(JsonObject()
                                .Add("file", v.name)
                                .Add("date", DateText(v.date))
                                .Add("keep", v.keep)
                                .Add("removed", gone)
                                .Add("future", v.future)
                                .AddRaw("rules", JsonArray(rules))
                                .str());
        } else if (!Output().quiet) {
            std::string reasons;
            for (const std::string &r : v.reasons) reasons += (reasons.empty() ? "" : ", ") + r;
            const char *verb = v.keep ? "keep" : o.dryRun ? "would remove" : gone ? "remove" : "not removed";
            std::printf("%-12s  %s  %s%s%s\n", verb, DateText(v.date).c_str(), PlainText(v.name).c_str(),
                        reasons.empty() ? "" : "  ", reasons.c_str());
        }
    }
    if (Output().json) {
        PrintJsonLine(
            JsonObject().Add("folder", o.input).Add("dryRun", o.dryRun).AddRaw("backups", JsonArray(items)).str());
    } else if (!Output().quiet) {
        std::printf("%zu backup%s kept, %zu %s\n", kept, kept == 1 ? "" : "s", o.dryRun ? total - kept : removed,
                    o.dryRun ? "would be removed" : "removed");
    }
    return failures ? kExitLocalDisk : kExitDone;
}

}  // namespace vtcli
