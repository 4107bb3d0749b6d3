#include <cstdio>

#include "commands.hpp"
#include "device_job.hpp"
#include "failure_report.hpp"
#include "json_output.hpp"
#include "text_output.hpp"
#include "vtBoxBRD.h"
#include "vthandles.hpp"

namespace vtcli {

int RunBoxes(const Context &c) {
    DeviceSession session(c.settings);
    std::string password;
    VTENGVERSION version{};
    if (int rc = OpenWithPassword(c, false, session, &password, &version)) return rc;
    uint32_t count = 0;
    VTBOX *boxes = nullptr;
    vt::GlobalBlock block(vtBoxGetBoxList(session.get(), &count, &boxes));
    if (!block)
        return ReportFailure("listing the boxes", GetLastError(), vtBoxGetLastErrorText(), FailureSite::Device,
                             &c.settings);
    if (c.options.json) {
        std::vector<std::string> items;
        for (uint32_t i = 0; i < count; ++i)
            items.push_back(BoxJson(boxes[i].BoxNo, boxes[i].BoxName)
                                .Add("protected", boxes[i].Protected != 0)
                                .Add("lastUpdate", IsoUtc(boxes[i].LastUpdateDate))
                                .str());
        JsonObject out;
        out.Add("engineVersion", version.EngineVersion)
            .Add("macAddress", version.MACAddress)
            .AddRaw("boxes", JsonArray(items));
        PrintJsonLine(out.str());
    } else {
        std::printf("Device %s, engine %s, MAC %s\n", c.settings.host.c_str(), PlainText(version.EngineVersion).c_str(),
                    PlainText(version.MACAddress).c_str());
        std::printf("%-5s %-9s %-19s %s\n", "Box", "Protected", "Last update (UTC)", "Name");
        for (uint32_t i = 0; i < count; ++i)
            std::printf("%03u   %-9s %-19s %s\n", boxes[i].BoxNo, boxes[i].Protected ? "yes" : "no",
                        FormatTime(boxes[i].LastUpdateDate, false).c_str(), PlainText(boxes[i].BoxName).c_str());
        std::printf("%u box%s\n", count, count == 1 ? "" : "es");
    }
    return kExitDone;
}

}  // namespace vtcli
