#include <cstdio>
#include <filesystem>

#include "commands.hpp"
#include "text_output.hpp"
#include "vtBoxBRD.h"
#include "work_folder.hpp"

namespace vtcli {

int RunInfo(const Options &o) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(o.input, ec)) {
        std::fprintf(stderr, "vtbox: %s is not a file\n", o.input.c_str());
        return 1;
    }
    WorkFolder work = TempWorkFolder();
    if (!work.ok()) {
        std::fprintf(stderr, "vtbox: %s\n", work.error().c_str());
        return 1;
    }
    VTBACKUPINFO info{};
    uint32_t count = 0;
    VTBOXBK *boxes = nullptr;
    void *handle = nullptr;
    uint32_t rc = vtBoxGetXMLInfo(o.input.c_str(), work.path().c_str(), &info, &count, &boxes, &handle);
    if (rc != 0) {
        PrintError("reading " + o.input, rc, vtBoxGetLastErrorText());
        return 1;
    }
    const char *kind = info.Kind == 1 ? "backup" : "document archive";
    char date[64];
    std::snprintf(date, sizeof date, "%04u-%02u-%02u %02u:%02u:%02u", info.Date.wYear, info.Date.wMonth,
                  info.Date.wDay, info.Date.wHour, info.Date.wMinute, info.Date.wSecond);
    if (o.json) {
        std::printf("{\"kind\":\"%s\",\"engineVersion\":%s,\"macAddress\":%s,\"date\":\"%s\"", info.Kind == 1 ? "backup" : "archive",
                    JsonString(info.EngineVersion).c_str(), JsonString(info.MACAddress).c_str(), date);
        if (info.Kind == 1) {
            std::printf(",\"boxes\":[");
            for (uint32_t i = 0; i < count; ++i)
                std::printf("%s{\"number\":%u,\"name\":%s,\"protected\":%s,\"folders\":%u,\"documents\":%u,\"usedKB\":%u}",
                            i ? "," : "", boxes[i].BoxNo, JsonString(boxes[i].BoxName).c_str(),
                            boxes[i].Protected ? "true" : "false", boxes[i].NumOfFolders, boxes[i].NumOfDocs,
                            boxes[i].BoxUsedDisk);
            std::printf("]");
        } else {
            std::printf(",\"documents\":%u", count);
        }
        std::printf("}\n");
    } else {
        std::printf("%s: %s\n", PlainText(o.input).c_str(), kind);
        std::printf("  made on    %s (local time of the machine that wrote it)\n", date);
        std::printf("  engine     %s\n  MAC        %s\n", PlainText(info.EngineVersion).c_str(),
                    PlainText(info.MACAddress).c_str());
        if (info.Kind == 1) {
            std::printf("  %-5s %-9s %7s %9s %10s  %s\n", "Box", "Protected", "Folders", "Documents", "Used (KB)", "Name");
            for (uint32_t i = 0; i < count; ++i)
                std::printf("  %03u   %-9s %7u %9u %10u  %s\n", boxes[i].BoxNo, boxes[i].Protected ? "yes" : "no",
                            boxes[i].NumOfFolders, boxes[i].NumOfDocs, boxes[i].BoxUsedDisk,
                            PlainText(boxes[i].BoxName).c_str());
        } else {
            std::printf("  documents  %u\n", count);
        }
    }
    if (handle) GlobalFree(handle);
    return 0;
}

}  // namespace vtcli
