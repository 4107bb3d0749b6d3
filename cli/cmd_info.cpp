#include <cstdio>
#include <filesystem>

#include "commands.hpp"
#include "failure_report.hpp"
#include "json_output.hpp"
#include "text_output.hpp"
#include "vtBoxBRD.h"
#include "vthandles.hpp"
#include "work_folder.hpp"

namespace vtcli {

int RunInfo(const Context &c) {
    const Options &o = c.options;
    std::error_code ec;
    if (!std::filesystem::exists(o.input, ec))
        return ReportProblem("the backup file " + o.input + " does not exist", kExitNotFound);
    if (!std::filesystem::is_regular_file(o.input, ec)) return ReportProblem(o.input + " is not a file", kExitNotFound);
    WorkFolder work = TempWorkFolder();
    if (!work.ok()) return ReportProblem(work.error(), kExitLocalDisk);
    VTBACKUPINFO info{};
    uint32_t count = 0;
    VTBOXBK *boxes = nullptr;
    void *handle = nullptr;
    uint32_t rc = vtBoxGetXMLInfo(o.input.c_str(), work.path().c_str(), &info, &count, &boxes, &handle);
    vt::GlobalBlock boxList(handle);
    if (rc != 0) return ReportFailure("reading " + o.input, rc, vtBoxGetLastErrorText(), FailureSite::BackupFile);
    // The zone the description records for its date (backups only).
    int32_t offset = 0;
    bool zoned = info.Kind == 1 && vtBoxGetBackupTimeZone(o.input.c_str(), work.path().c_str(), &offset) == 0;
    const char *kind = info.Kind == 1 ? "backup" : "document archive";
    char date[64];
    std::snprintf(date, sizeof date, "%04u-%02u-%02u %02u:%02u:%02u", info.Date.wYear, info.Date.wMonth, info.Date.wDay,
                  info.Date.wHour, info.Date.wMinute, info.Date.wSecond);
    if (o.json) {
        JsonObject out;
        out.Add("file", o.input)
            .Add("kind", info.Kind == 1 ? "backup" : "archive")
            .Add("engineVersion", info.EngineVersion)
            .Add("macAddress", info.MACAddress)
            .Add("date", IsoLocal(info.Date, zoned ? &offset : nullptr));
        if (info.Kind == 1) {
            std::vector<std::string> items;
            for (uint32_t i = 0; i < count; ++i)
                items.push_back(BoxJson(boxes[i].BoxNo, boxes[i].BoxName)
                                    .Add("protected", boxes[i].Protected != 0)
                                    .Add("folders", boxes[i].NumOfFolders)
                                    .Add("documents", boxes[i].NumOfDocs)
                                    .Add("usedKB", boxes[i].BoxUsedDisk)
                                    .str());
            out.AddRaw("boxes", JsonArray(items));
        } else {
            out.Add("documents", count);
        }
        PrintJsonLine(out.str());
    } else {
        std::printf("%s: %s\n", PlainText(o.input).c_str(), kind);
        std::printf("  made on    %s %s\n", date,
                    zoned ? ("(UTC" + IsoLocal(info.Date, &offset).substr(19) + ")").c_str()
                          : "(local time of the machine that wrote it)");
        std::printf("  engine     %s\n  MAC        %s\n", PlainText(info.EngineVersion).c_str(),
                    PlainText(info.MACAddress).c_str());
        if (info.Kind == 1) {
            std::printf("  %-5s %-9s %7s %9s %10s  %s\n", "Box", "Protected", "Folders", "Documents", "Used (KB)",
                        "Name");
            for (uint32_t i = 0; i < count; ++i)
                std::printf("  %03u   %-9s %7u %9u %10u  %s\n", boxes[i].BoxNo, boxes[i].Protected ? "yes" : "no",
                            boxes[i].NumOfFolders, boxes[i].NumOfDocs, boxes[i].BoxUsedDisk,
                            PlainText(boxes[i].BoxName).c_str());
        } else {
            std::printf("  documents  %u\n", count);
        }
    }
    return kExitDone;
}

}  // namespace vtcli
