// The pages of the box web service under "/VaultraBox/". Every value of a
// reply is computed from the store at the time of the request.
#pragma once

#include <optional>
#include <string>

#include "device_state.hpp"
#include "devicesim/device.hpp"
#include "devicesim/faults.hpp"
#include "http_server.hpp"
#include "store.hpp"
#include "xml_out.hpp"

namespace devicesim {

class BoxPages {
public:
    BoxPages(Store &store, DeviceState &state, Recorder &recorder, Faults &faults, const DeviceOptions &options);
    HttpReply Handle(const HttpRequest &request);

private:
    struct Call {
        const HttpRequest &request;
        uint32_t sid = 0;
    };
    HttpReply Xml(XmlOut &x) const;
    HttpReply ResultOnly(int result) const;
    HttpReply Busy(const DeviceState::Exclusive &holder) const;
    static HttpReply BadRequest(const std::string &why);

    HttpReply Connect();
    HttpReply Disconnect(const HttpRequest &request);
    HttpReply Admin(const std::string &page, const HttpRequest &request);

    HttpReply GetBoxList(const Call &call);
    HttpReply GetBoxProperty(const Call &call);
    HttpReply GetFolderDocList(const Call &call);
    HttpReply DeleteDoc(const Call &call);
    HttpReply GetEngineVersion(const Call &call);
    HttpReply ExModeIn(const Call &call);
    HttpReply ExModeOut(const Call &call);
    HttpReply DeleteAllBox(const Call &call);
    HttpReply CreateFtpAccount(const Call &call);
    HttpReply DeleteFtpAccount(const Call &call);
    HttpReply SerialClusterChange(const Call &call);
    HttpReply GetBoxDiskSpace(const Call &call);

    void WriteDocument(XmlOut &x, const StoreEntry &doc) const;
    void WriteFolder(XmlOut &x, const StoreEntry &folder) const;
    std::string VirtualPath(const fs::path &local) const;
    uint64_t UsedKb() const;

    Store &store_;
    DeviceState &state_;
    Recorder &recorder_;
    Faults &faults_;
    const DeviceOptions &options_;
};

// A decimal number of 1 to 9 digits and nothing else.
std::optional<unsigned> ParseDecimal(const std::string &text);
// "" gives 0; letter + 1 to 9 digits gives the number; anything else nullopt.
std::optional<unsigned> ParseLetterNumber(const std::string &text, char letter);

}  // namespace devicesim
