#include "box_pages.hpp"

#include <cstdio>
#include <ctime>

#include "devicesim/text.hpp"

namespace devicesim {

namespace {

constexpr const char *kPrefix = "/VaultraBox/";
constexpr const char *kAdminPrefix = "/VaultraBox/Admin/";

uint64_t KbCeil(uint64_t bytes) { return (bytes + 1023) / 1024; }

uint32_t Now() { return static_cast<uint32_t>(std::time(nullptr)); }

bool FileExists(const fs::path &p) {
    std::error_code ec;
    return fs::is_regular_file(p, ec);
}

}  // namespace

std::optional<unsigned> ParseDecimal(const std::string &text) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    unsigned n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + static_cast<unsigned>(c - '0');
    }
    return n;
}

std::optional<unsigned> ParseLetterNumber(const std::string &text, char letter) {
    if (text.empty()) return 0u;
    if (text[0] != letter) return std::nullopt;
    return ParseDecimal(text.substr(1));
}

BoxPages::BoxPages(Store &store, DeviceState &state, Recorder &recorder, Faults &faults, const DeviceOptions &options)
    : store_(store), state_(state), recorder_(recorder), faults_(faults), options_(options) {}

HttpReply BoxPages::Xml(XmlOut &x) const { return {200, "text/xml; charset=utf-8", x.Finish()}; }

HttpReply BoxPages::ResultOnly(int result) const {
    XmlOut x = ReplyFrame(options_.engineVersion, result);
    return Xml(x);
}

HttpReply BoxPages::Busy(const DeviceState::Exclusive &holder) const {
    if (options_.busyAsHttp503) return {503, "text/html", "<html><body>503</body></html>\n"};
    return ResultOnly(holder.mode == 1 ? 212 : 211);
}

HttpReply BoxPages::BadRequest(const std::string &why) { return {400, "text/plain", why + "\n"}; }

HttpReply BoxPages::Handle(const HttpRequest &request) {
    const std::string &path = request.path;
    try {
        if (path == "/VaultraBox/vtb.asp") return {200, "text/html", "<html><body>vtb</body></html>\n"};
        if (path == std::string(kPrefix) + "boxnwConnect") return Connect();
        if (path == std::string(kPrefix) + "boxnwDisconnect") return Disconnect(request);
        if (path.rfind(kAdminPrefix, 0) == 0) return Admin(path.substr(std::string(kAdminPrefix).size()), request);
    } catch (const std::exception &e) {
        return {500, "text/plain", std::string("internal error: ") + e.what() + "\n"};
    }
    return {404, "text/html", "<html><body>404</body></html>\n"};
}

HttpReply BoxPages::Connect() {
    const uint32_t sid = state_.OpenSession();
    if (sid == 0) return ResultOnly(102);
    XmlOut x = ReplyFrame(options_.engineVersion, 0);
    x.Open("SessionInfo");
    char id[16];
    std::snprintf(id, sizeof id, "%08u", sid);
    x.Leaf("WebSessionID", std::string(id));
    return Xml(x);
}

HttpReply BoxPages::Disconnect(const HttpRequest &request) {
    auto sid = ParseDecimal(request.Param("SID").value_or(""));
    if (!sid || !state_.CloseSession(*sid)) return ResultOnly(202);
    return ResultOnly(0);
}

HttpReply BoxPages::Admin(const std::string &page, const HttpRequest &request) {
    using Handler = HttpReply (BoxPages::*)(const Call &);
    struct PageEntry {
        const char *name;
        Handler handler;
        bool password;
    };
    static const PageEntry kPages[] = {
        {"boxnwGetBoxList", &BoxPages::GetBoxList, false},
        {"boxnwGetBoxProperty", &BoxPages::GetBoxProperty, true},
        {"boxnwGetFolderDocList", &BoxPages::GetFolderDocList, true},
        {"boxnwDeleteDoc", &BoxPages::DeleteDoc, true},
        {"boxnwGetEngineVersion", &BoxPages::GetEngineVersion, true},
        {"boxnwBoxExModeIn", &BoxPages::ExModeIn, true},
        {"boxnwBoxExModeOut", &BoxPages::ExModeOut, true},
        {"boxnwDeleteAllBox", &BoxPages::DeleteAllBox, true},
        {"boxnwCreateFTPAccount", &BoxPages::CreateFtpAccount, true},
        {"boxnwDeleteFTPAccount", &BoxPages::DeleteFtpAccount, true},
        {"boxnwDirSerialClusterChange", &BoxPages::SerialClusterChange, true},
        {"boxnwGetBoxDiskSpace", &BoxPages::GetBoxDiskSpace, true},
    };
    const PageEntry *entry = nullptr;
    for (const auto &p : kPages)
        if (page == p.name) entry = &p;
    if (!entry) return {404, "text/html", "<html><body>404</body></html>\n"};

    auto sid = ParseDecimal(request.Param("SID").value_or(""));
    if (!sid || !state_.HasSession(*sid)) return ResultOnly(202);

    // The keep-alive touch of long jobs: the property page with a SID only.
    if (entry->handler == &BoxPages::GetBoxProperty && !request.Has("BNO") && !request.Has("PWD")) {
        recorder_.KeepAlive();
        return ResultOnly(0);
    }
    if (auto holder = state_.HeldByOther(*sid)) return Busy(*holder);
    if (entry->password && request.Param("PWD").value_or("") != options_.password) return ResultOnly(2);
    return (this->*entry->handler)(Call{request, *sid});
}

HttpReply BoxPages::GetBoxList(const Call &) {
    const auto boxes = store_.BoxNumbers();
    XmlOut x = ReplyFrame(options_.engineVersion, 0);
    x.Open("Boxes", {{"NumOfBoxes", std::to_string(boxes.size())}});
    for (unsigned box : boxes) {
        const BoxRecord r = store_.ReadBoxRecord(box);
        x.Open("BoxProp", {{"BoxNo", std::to_string(box)}});
        x.Leaf("BoxName", Utf16ToUtf8(r.name));
        x.Leaf("LastUpdateDate", store_.BoxUpdateTime(box));
        x.Leaf("Protected", r.protectedFlag);
        x.Close();
    }
    return Xml(x);
}

HttpReply BoxPages::GetBoxProperty(const Call &call) {
    auto box = ParseDecimal(call.request.Param("BNO").value_or(""));
    if (!box) return BadRequest("BNO");
    if (!store_.BoxExists(*box)) return ResultOnly(101);
    const BoxRecord r = store_.ReadBoxRecord(*box);
    unsigned docs = 0, folders = 0;
    if (auto inner = store_.InnerFolder(*box)) {
        docs = static_cast<unsigned>(store_.ListEntries(*inner, 'D').size());
        for (const auto &f : store_.ListEntries(*inner, 'F')) {
            ++folders;
            docs += static_cast<unsigned>(store_.ListEntries(f.folderPath, 'D').size());
        }
    }
    const uint64_t used = store_.TreeBytes(store_.BoxDataPath(*box)) + store_.TreeBytes(store_.BoxRecordPath(*box));
    XmlOut x = ReplyFrame(options_.engineVersion, 0);
    x.Open("BoxProp", {{"BoxNo", std::to_string(*box)}});
    x.Leaf("BoxName", Utf16ToUtf8(r.name));
    x.Leaf("BoxOwner", Utf16ToUtf8(r.owner));
    x.Leaf("CreateDate", r.createTime);
    x.Leaf("Protected", r.protectedFlag);
    x.Leaf("NumOfDocs", docs);
    x.Leaf("NumOfFolders", folders);
    x.Leaf("LastUpdateDate", store_.BoxUpdateTime(*box));
    x.Leaf("BoxUsedDisk", KbCeil(used));
    x.Leaf("PreservationPeriodFlag", r.preservationFlag);
    x.Leaf("PreservationPeriod", r.preservationDays);
    x.Leaf("WarningNotice", Utf16ToUtf8(r.warningNotice));
    return Xml(x);
}

std::string BoxPages::VirtualPath(const fs::path &local) const {
    std::string path = "/";
    path += local.lexically_relative(store_.Root()).generic_string();
    return path;
}

void BoxPages::WriteDocument(XmlOut &x, const StoreEntry &doc) const {
    const EntryRecord &r = doc.record;
    // An entry whose folder still holds CREATE.STS is being written.
    uint8_t status = r.docStatus;
    if (FileExists(doc.folderPath / "CREATE.STS") && !FileExists(doc.folderPath / "UNLOCK.STS")) status = 3;
    x.Open("DocProp", {{"DocID", EntryName('D', doc.number)}});
    x.Leaf("DocName", Utf16ToUtf8(r.displayName));
    x.Leaf("CreateDate", r.createTime);
    x.Leaf("LastUpdateDate", r.updateTime);
    x.Leaf("DocStatus", static_cast<unsigned>(status));
    x.Leaf("LastAccessDate", r.accessTime);
    x.Leaf("NumOfPages", store_.CountPages(doc.folderPath));
    x.Leaf("DocSize", KbCeil(store_.TreeBytes(doc.folderPath)));
    x.Leaf("SourceType", static_cast<unsigned>(r.sourceType));
    x.Leaf("ColorMonoMix", static_cast<unsigned>(r.colorMonoMix));
    x.Leaf("ThumbnailPath", r.thumbnail.empty() ? std::string() : VirtualPath(doc.folderPath / r.thumbnail));
    x.Leaf("ThumbnailRotation", static_cast<unsigned>(r.rotation));
    x.Leaf("MResolution", static_cast<unsigned>(r.mResolution));
    x.Leaf("SResolution", static_cast<unsigned>(r.sResolution));
    x.Leaf("ScanDuplex", static_cast<unsigned>(r.scanDuplex));
    x.Close();
}

void BoxPages::WriteFolder(XmlOut &x, const StoreEntry &folder) const {
    const auto docs = store_.ListEntries(folder.folderPath, 'D');
    uint32_t updated = folder.record.updateTime;
    for (const auto &d : docs) updated = std::max(updated, d.record.updateTime);
    x.Open("FolderProp", {{"FolderID", EntryName('F', folder.number)}});
    x.Leaf("FolderName", Utf16ToUtf8(folder.record.displayName));
    x.Leaf("CreateDate", folder.record.createTime);
    x.Leaf("LastUpdateDate", updated);
    x.Leaf("NumOfDocs", static_cast<unsigned>(docs.size()));
    x.Close();
}

HttpReply BoxPages::GetFolderDocList(const Call &call) {
    auto box = ParseDecimal(call.request.Param("BNO").value_or(""));
    auto folder = ParseLetterNumber(call.request.Param("FID").value_or(""), 'F');
    if (!box || !folder) return BadRequest("BNO or FID");
    if (!store_.BoxExists(*box)) return ResultOnly(101);
    std::vector<StoreEntry> folders, docs;
    auto inner = store_.InnerFolder(*box);
    if (call.request.Param("FID").value_or("").empty()) {
        if (inner) {
            folders = store_.ListEntries(*inner, 'F');
            docs = store_.ListEntries(*inner, 'D');
        }
    } else {
        if (!inner || !FileExists(*inner / (EntryName('F', *folder) + ".XML"))) return ResultOnly(204);
        docs = store_.ListEntries(*inner / EntryName('F', *folder), 'D');
    }
    auto listed = [&](std::vector<StoreEntry> &entries, char letter) {
        std::vector<StoreEntry> out;
        for (const auto &e : entries)
            for (unsigned n = faults_.TimesListed(letter, e.number); n > 0; --n) out.push_back(e);
        entries = std::move(out);
    };
    listed(folders, 'F');
    listed(docs, 'D');
    XmlOut x = ReplyFrame(options_.engineVersion, 0);
    x.Open("Folders", {{"NumOfFolders", std::to_string(folders.size())}});
    for (const auto &f : folders) WriteFolder(x, f);
    x.Close();
    x.Open("Documents", {{"NumOfDocs", std::to_string(docs.size())}});
    for (const auto &d : docs) WriteDocument(x, d);
    x.Close();
    return Xml(x);
}

HttpReply BoxPages::DeleteDoc(const Call &call) {
    const auto &q = call.request;
    auto box = ParseDecimal(q.Param("BNO").value_or(""));
    auto folder = ParseLetterNumber(q.Param("FID").value_or(""), 'F');
    auto doc = ParseLetterNumber(q.Param("DID").value_or(""), 'D');
    if (!box || !folder || !doc || *doc == 0) return BadRequest("BNO, FID or DID");
    if (!store_.BoxExists(*box)) return ResultOnly(101);
    auto inner = store_.InnerFolder(*box);
    if (!inner) return ResultOnly(204);
    fs::path level = *inner;
    if (!q.Param("FID").value_or("").empty()) level /= EntryName('F', *folder);
    const fs::path record = level / (EntryName('D', *doc) + ".XML");
    if (!FileExists(record)) return ResultOnly(204);
    std::error_code ec;
    fs::remove_all(level / EntryName('D', *doc), ec);
    if (ec) return ResultOnly(203);
    fs::remove(record, ec);
    if (ec) return ResultOnly(203);
    return ResultOnly(0);
}

HttpReply BoxPages::GetEngineVersion(const Call &) {
    XmlOut x = ReplyFrame(options_.engineVersion, 0);
    x.Open("VersionInfo");
    x.Leaf("EngineVersion", options_.engineVersion);
    x.Close();
    x.Leaf("MACAddress", options_.mac);
    return Xml(x);
}

HttpReply BoxPages::ExModeIn(const Call &call) {
    auto mode = ParseDecimal(call.request.Param("MOD").value_or(""));
    if (!mode) return BadRequest("MOD");
    const int result = state_.EnterExclusive(call.sid, *mode);
    if (result == 211 || result == 212) {
        if (options_.busyAsHttp503) return {503, "text/html", "<html><body>503</body></html>\n"};
        return ResultOnly(result);
    }
    if (result != 0) return ResultOnly(result);
    XmlOut x = ReplyFrame(options_.engineVersion, 0);
    x.Leaf("CurrentTime", Now());
    return Xml(x);
}

HttpReply BoxPages::ExModeOut(const Call &call) {
    auto mode = ParseDecimal(call.request.Param("MOD").value_or(""));
    if (!mode) return BadRequest("MOD");
    return ResultOnly(state_.LeaveExclusive(call.sid, *mode));
}

HttpReply BoxPages::DeleteAllBox(const Call &) { return ResultOnly(store_.DeleteAllBoxes() ? 0 : 203); }

HttpReply BoxPages::CreateFtpAccount(const Call &call) {
    auto login = state_.CreateFtpAccount(call.sid);
    if (!login) return ResultOnly(500);
    XmlOut x = ReplyFrame(options_.engineVersion, 0);
    x.Leaf("LoginName", *login);
    return Xml(x);
}

HttpReply BoxPages::DeleteFtpAccount(const Call &) { return ResultOnly(state_.DeleteFtpAccount() ? 0 : 501); }

HttpReply BoxPages::SerialClusterChange(const Call &call) {
    const auto &q = call.request;
    auto box = ParseDecimal(q.Param("BNO").value_or(""));
    auto folder = ParseLetterNumber(q.Param("FID").value_or(""), 'F');
    auto doc = ParseLetterNumber(q.Param("DID").value_or(""), 'D');
    auto noc = ParseDecimal(q.Param("NOC").value_or(""));
    auto mod = ParseDecimal(q.Param("MOD").value_or(""));
    if (!box || !folder || !doc || !noc || !mod) return BadRequest("BNO, FID, DID, NOC or MOD");
    std::error_code ec;
    if (!fs::is_directory(store_.BoxDataPath(*box), ec)) return ResultOnly(101);
    recorder_.Serial(SerialChangeCall{call.sid, *box, *folder, *doc, *noc, *mod});
    return ResultOnly(0);
}

uint64_t BoxPages::UsedKb() const { return KbCeil(store_.TreeBytes(store_.Root() / "SHR" / "BOX")); }

HttpReply BoxPages::GetBoxDiskSpace(const Call &) {
    const uint64_t capacity = options_.capacityKb;
    const uint64_t used = UsedKb();
    uint64_t available = used >= capacity ? 0 : capacity - used;
    if (auto low = faults_.LowDisk()) available = *low;
    XmlOut x = ReplyFrame(options_.engineVersion, 0);
    x.Leaf("DiskCapacity", capacity);
    x.Leaf("DiskAvailability", available);
    return Xml(x);
}

}  // namespace devicesim
