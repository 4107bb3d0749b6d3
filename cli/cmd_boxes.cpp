#include <cstdio>

#include "commands.hpp"
#include "device_job.hpp"
#include "text_output.hpp"
#include "vtBoxBRD.h"

namespace vtcli {

int RunBoxes(const Options &o) {
    DeviceSession session(o.host, o.port);
    std::string password;
    VTENGVERSION version{};
    if (!OpenWithPassword(o, false, session, &password, &version)) return 1;
    uint32_t count = 0;
    VTBOX *boxes = nullptr;
    HGLOBAL block = vtBoxGetBoxList(session.get(), &count, &boxes);
    if (!block) {
        PrintError("listing the boxes", GetLastError(), vtBoxGetLastErrorText());
        return 1;
    }
    if (o.json) {
        std::printf("{\"engineVersion\":%s,\"macAddress\":%s,\"boxes\":[", JsonString(version.EngineVersion).c_str(),
                    JsonString(version.MACAddress).c_str());
        for (uint32_t i = 0; i < count; ++i)
            std::printf("%s{\"number\":%u,\"name\":%s,\"protected\":%u,\"lastUpdate\":\"%s\"}", i ? "," : "",
                        boxes[i].BoxNo, JsonString(boxes[i].BoxName).c_str(), boxes[i].Protected,
                        FormatTime(boxes[i].LastUpdateDate, true).c_str());
        std::printf("]}\n");
    } else {
        std::printf("Device %s, engine %s, MAC %s\n", o.host.c_str(), PlainText(version.EngineVersion).c_str(),
                    PlainText(version.MACAddress).c_str());
        std::printf("%-5s %-9s %-19s %s\n", "Box", "Protected", "Last update (UTC)", "Name");
        for (uint32_t i = 0; i < count; ++i)
            std::printf("%03u   %-9s %-19s %s\n", boxes[i].BoxNo, boxes[i].Protected ? "yes" : "no",
                        FormatTime(boxes[i].LastUpdateDate, false).c_str(), PlainText(boxes[i].BoxName).c_str());
        std::printf("%u box%s\n", count, count == 1 ? "" : "es");
    }
    GlobalFree(block);
    return 0;
}

}  // namespace vtcli
