// A device answering every page with fixed replies, for tests of the exports.
#pragma once

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "canned_http.hpp"
#include "vtBoxBRD.h"

namespace vttest {

inline std::string Reply(const std::string &message, const std::string &version = "Korvo-B V1.3.0.0") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<BoxNwLib><Header><Version>" + version +
           "</Version></Header><Message>" + message + "</Message></BoxNwLib>";
}

inline std::string Ok(const std::string &rest = "") { return Reply("<Result>0</Result>" + rest); }

// The page name of a request target: "/VaultraBox/Admin/boxnwGetBoxList?SID=1" -> "boxnwGetBoxList".
inline std::string PageOf(const std::string &target) {
    std::string path = target.substr(0, target.find('?'));
    return path.substr(path.rfind('/') + 1);
}

class CannedDevice {
public:
    CannedDevice() {
        pages["boxnwConnect"] = [](const std::string &) {
            return CannedReply{200,
                               Reply("<Result>0</Result><SessionInfo><WebSessionID>1234</WebSessionID></SessionInfo>")};
        };
        pages["boxnwDisconnect"] = [](const std::string &) { return CannedReply{200, Ok()}; };
        server = std::make_unique<CannedHttpServer>([this](const std::string &target) {
            auto it = pages.find(PageOf(target));
            if (it == pages.end()) return CannedReply{404, ""};
            return it->second(target);
        });
    }

    VTMFPSESSION Session() const {
        VTMFPSESSION s{};
        std::strcpy(s.Host, "127.0.0.1");
        s.Port = server->port();
        s.Reserved2 = 10000;
        return s;
    }

    // Requests seen for one page.
    int Count(const std::string &page) {
        int n = 0;
        for (const auto &t : server->requests())
            if (PageOf(t) == page) ++n;
        return n;
    }

    void Answer(const std::string &page, const std::string &body, int status = 200) {
        pages[page] = [body, status](const std::string &) { return CannedReply{status, body}; };
    }

    std::map<std::string, std::function<CannedReply(const std::string &)>> pages;
    std::unique_ptr<CannedHttpServer> server;
};

}  // namespace vttest
