#include "control_page.hpp"

#include "box_pages.hpp"

namespace devicesim {

namespace {

HttpReply Text(int status, const std::string &text) { return {status, "text/plain; charset=utf-8", text + "\n"}; }

// "always" or a count of 1 or more; absent gives `fallback`.
std::optional<int> ParseTimes(const HttpRequest &r, int fallback) {
    auto text = r.Param("times");
    if (!text) return fallback;
    if (*text == "always") return kAlways;
    auto n = ParseDecimal(*text);
    if (!n || *n == 0) return std::nullopt;
    return static_cast<int>(*n);
}

std::optional<long long> ParseSigned(const std::string &text) {
    if (!text.empty() && text[0] == '-') {
        auto n = ParseDecimal(text.substr(1));
        if (!n) return std::nullopt;
        return -static_cast<long long>(*n);
    }
    auto n = ParseDecimal(text);
    if (!n) return std::nullopt;
    return *n;
}

}  // namespace

HttpReply ControlPage::Handle(const HttpRequest &request) {
    if (!request.loopbackPeer) return Text(403, "control page answers loopback clients only");
    const std::string what = request.path.substr(std::string(kControlPrefix).size());
    if (what == "fault") return SetFault(request);
    if (what == "clear") {
        faults_.Clear();
        return Text(200, "OK");
    }
    if (what == "records") return RecordsText();
    if (what == "lan") return SetLan(request);
    if (what == "counts") return CountsText();
    if (what == "clear-records") {
        recorder_.Clear();
        return Text(200, "OK");
    }
    return Text(404, "unknown control page");
}

HttpReply ControlPage::SetFault(const HttpRequest &r) {
    const std::string kind = r.Param("kind").value_or("");
    const std::string page = r.Param("page").value_or("");
    auto times = ParseTimes(r, kAlways);
    if (!times) return Text(400, "times must be 'always' or a count of 1 or more");
    auto value = ParseSigned(r.Param("value").value_or(""));
    auto seconds = ParseDecimal(r.Param("seconds").value_or(""));
    auto nth = ParseDecimal(r.Param("nth").value_or("1"));
    if (!nth || *nth == 0) return Text(400, "nth must be 1 or more");

    const bool pageFault = kind == "result" || kind == "status" || kind == "malformed" || kind == "delay";
    if (pageFault && page.empty()) return Text(400, "page is required");
    if (kind == "result") {
        if (!value) return Text(400, "value is required");
        faults_.ForceResult(page, static_cast<int>(*value), *times);
    } else if (kind == "status") {
        if (!value || *value < 100 || *value > 999) return Text(400, "value must be an HTTP status");
        faults_.ForceHttpStatus(page, static_cast<int>(*value), *times);
    } else if (kind == "malformed") {
        faults_.MalformedReply(page, *times);
    } else if (kind == "delay") {
        if (!seconds) return Text(400, "seconds is required");
        faults_.DelayReply(page, *seconds, *times);
    } else if (kind == "silent") {
        // The control page is unreachable while the device is silent, so a
        // silence set from here must end by itself.
        if (!seconds || *seconds == 0) return Text(400, "seconds (1 or more) is required");
        if (page.empty())
            faults_.GoSilent(*seconds);
        else
            faults_.GoSilentOn(page, *seconds);
    } else if (kind == "ftp-drop") {
        std::optional<uint64_t> bytes;
        if (auto b = r.Param("bytes")) {
            auto n = ParseDecimal(*b);
            if (!n) return Text(400, "bytes must be a number");
            bytes = *n;
        }
        if (auto after = r.Param("after"))
            faults_.DropDataConnectionAfter(*after, *nth, bytes);
        else
            faults_.DropDataConnection(*nth, bytes);
    } else if (kind == "stor552" || kind == "stor451") {
        const std::string repeat = r.Param("repeat").value_or("once");
        if (repeat != "once" && repeat != "always") return Text(400, "repeat must be once or always");
        faults_.FailStor(kind == "stor552" ? 552 : 451, *nth, repeat == "always");
    } else if (kind == "login-refused") {
        faults_.RefuseLogin(*times);
    } else if (kind == "mkdir-refused") {
        faults_.RefuseFolderCreation(*times);
    } else if (kind == "freeze") {
        const std::string scopeText = r.Param("scope").value_or("device");
        FreezeScope scope = FreezeScope::Device;
        if (scopeText == "web")
            scope = FreezeScope::Web;
        else if (scopeText == "ftp")
            scope = FreezeScope::Ftp;
        else if (scopeText != "device")
            return Text(400, "scope must be web, ftp or device");
        // The control page answers through a freeze, so seconds may be 0 (until thawed).
        const unsigned forSeconds = seconds.value_or(0);
        if (r.Has("seconds") && !seconds) return Text(400, "seconds must be a number");
        if (auto b = r.Param("bytes")) {
            auto n = ParseDecimal(*b);
            if (!n) return Text(400, "bytes must be a number");
            faults_.FreezeInTransfer(scope, *nth, *n, forSeconds);
        } else if (auto command = r.Param("command")) {
            faults_.FreezeOnCommand(*command, scope, forSeconds);
        } else if (auto after = r.Param("after")) {
            faults_.FreezeAfter(*after, scope, forSeconds);
        } else if (!page.empty()) {
            faults_.FreezeOn(page, scope, forSeconds);
        } else {
            faults_.Freeze(scope, forSeconds);
        }
    } else if (kind == "thaw") {
        faults_.Thaw();
    } else if (kind == "delete-refused") {
        faults_.RefuseDeletion(*times);
    } else if (kind == "low-disk") {
        if (!value || *value < 0 || *value > 0xFFFFFFFFll) return Text(400, "value (KB) is required");
        faults_.SetLowDisk(static_cast<uint32_t>(*value));
    } else if (kind == "unlisted" || kind == "listed-twice") {
        const std::string letter = r.Param("letter").value_or("");
        if ((letter != "D" && letter != "F") || !value || *value < 1 || *value > 999)
            return Text(400, "letter (D or F) and value (the entry's number, 1-999) are required");
        if (kind == "unlisted")
            faults_.LeaveOutOfLists(letter[0], static_cast<unsigned>(*value));
        else
            faults_.RepeatInLists(letter[0], static_cast<unsigned>(*value));
    } else {
        return Text(400, "unknown fault kind '" + kind + "'");
    }
    return Text(200, "OK");
}

HttpReply ControlPage::RecordsText() {
    const DeviceRecords records = recorder_.Snapshot();
    std::string out;
    for (const auto &t : records.httpRequests) out += "http " + t + "\n";
    for (const auto &s : records.serialChanges)
        out += "serial sid=" + std::to_string(s.sid) + " box=" + std::to_string(s.box) +
               " folder=" + std::to_string(s.folder) + " doc=" + std::to_string(s.document) +
               " noc=" + std::to_string(s.noc) + " mod=" + std::to_string(s.mod) + "\n";
    out += "keepalives " + std::to_string(records.keepAlives) + "\n";
    for (const auto &c : records.ftpCommands) out += "ftp " + c + "\n";
    return {200, "text/plain; charset=utf-8", out};
}

HttpReply ControlPage::SetLan(const HttpRequest &r) {
    LanModel lan = lan_.Get();
    struct Key {
        const char *name;
        unsigned LanModel::*field;
        unsigned max;
    };
    bool any = false;
    for (const Key &k :
         {Key{"latency-ms", &LanModel::latencyMs, kMaxLatencyMs}, Key{"rate-kbps", &LanModel::rateKbps, kMaxRateKbps},
          Key{"max-data-connections", &LanModel::maxDataConnections, kMaxDataConnectionsLimit}}) {
        auto text = r.Param(k.name);
        if (!text) continue;
        auto n = ParseDecimal(*text);
        if (!n || *n > k.max)
            return Text(400, std::string(k.name) + " must be a number from 0 to " + std::to_string(k.max));
        lan.*(k.field) = *n;
        any = true;
    }
    if (!any) return Text(400, "give latency-ms, rate-kbps or max-data-connections");
    lan_.Set(lan);
    return Text(200, "OK");
}

HttpReply ControlPage::CountsText() {
    const LanModel lan = lan_.Get();
    const DeviceRecords records = recorder_.Snapshot();
    std::string out = "latency-ms " + std::to_string(lan.latencyMs) + "\nrate-kbps " + std::to_string(lan.rateKbps) +
                      "\nmax-data-connections " + std::to_string(lan.maxDataConnections) + "\ndata-connections " +
                      std::to_string(lan_.OpenDataConnections()) + "\n";
    out += "ftp-commands " + std::to_string(records.ftpCommandTotal) + "\n";
    for (const auto &[verb, n] : records.ftpCommandCounts)
        out += "ftp-command " + verb + " " + std::to_string(n) + "\n";
    out += "box-requests " + std::to_string(records.boxRequestTotal) + "\n";
    for (const auto &[page, n] : records.boxRequestCounts)
        out += "box-request " + page + " " + std::to_string(n) + "\n";
    return {200, "text/plain; charset=utf-8", out};
}

}  // namespace devicesim
