// The documents of one level as they go to the device, and replace mode.
//
// Clash settling gives every restored document a number the device does not
// use, the numbers of the documents it replaces included. So a replacement is
// made once, complete, before the document it replaces is deleted, and a
// failure or a cancel part-way leaves the old document, the new one, or both.
// A replacement takes the place of every device document of its name, so
// the same restore run again removes an old one left beside its replacement.
//
// A level that holds the device's limit has no room for both. There the old
// document is copied from the device into the work folder first (a rescue
// copy, rescue_copy.hpp), then deleted, and put back from the copy when its
// replacement does not complete. A copy that cannot be put back stays where
// it is, and the failure's detail says where.
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "restore/rescue_copy.hpp"
#include "restore/restore_job.hpp"
#include "session/result.hpp"
#include "session/waits.hpp"
#include "store/layout.hpp"
#include "transport/box_transport.hpp"
#include "vtplatform/diag.hpp"
#include "vtplatform/text.hpp"

namespace vtbox {

namespace {

// While it lives, neither the job's cancel event nor the session's own
// request cancel event stops a request or transfer of this thread: putting a
// document back runs to its end. The network's time-outs still bound it.
class Uncancellable {
public:
    explicit Uncancellable(VTMFPSESSION *session)
        : internet_(InternetOf(session)), previous_(internet_ ? internet_->requestCancel.exchange(nullptr) : nullptr) {}
    ~Uncancellable() {
        if (internet_) internet_->requestCancel = previous_;
    }
    Uncancellable(const Uncancellable &) = delete;
    Uncancellable &operator=(const Uncancellable &) = delete;

private:
    CancelScope noCancel_{nullptr};
    InternetSession *internet_;
    HANDLE previous_;
};

std::string Where(uint32_t box, const LevelWork &level, uint32_t number) {
    return level.deviceFolder == 0 ? vt::Format("box %03u, number %03u", box, number)
                                   : vt::Format("box %03u, folder %03u, number %03u", box, level.deviceFolder, number);
}

}  // namespace

void Restore::SendDocuments(const BoxWork &box, const LevelWork &level, EntryList documents, const EntryList &replaced,
                            std::set<uint32_t> onDevice, bool cancelBeforeUpload) {
    uint32_t b = box.info.BoxNo;
    // restored number -> the device's documents of its name, which it replaces
    std::map<uint32_t, std::vector<BoxEntry>> replaces;
    for (const auto &r : replaced) replaces[r.replacedBy].push_back(r);
    // Replacements first: each leaves the level's count as it was, so the
    // level fills up only once they are done.
    std::stable_partition(documents.begin(), documents.end(),
                          [&](const BoxEntry &d) { return replaces.count(d.id) != 0; });

    for (const auto &d : documents) {
        // Nothing is ever made over a device document.
        if (onDevice.count(d.id))
            Raise(vt::Code::INTERNAL_ERROR, Where(b, level, d.id) + ": the number is taken on the device");
        auto old = replaces.find(d.id);
        if (old == replaces.end()) {
            MakeDocument(b, level, d.id, cancelBeforeUpload);
            onDevice.insert(d.id);
        } else {
            const std::vector<BoxEntry> &olds = old->second;
            size_t deleted = 0;
            if (onDevice.size() < kMaxDocumentsPerLevel) {
                MakeDocument(b, level, d.id, cancelBeforeUpload);
            } else {
                ReplaceAtFullLevel(b, level, d.id, olds.front(), cancelBeforeUpload);
                onDevice.erase(olds.front().id);
                deleted = 1;
            }
            onDevice.insert(d.id);
            // The replacement is complete: the old documents of its name go.
            for (; deleted < olds.size(); ++deleted) {
                DeleteDocument(b, level, olds[deleted].id);
                onDevice.erase(olds[deleted].id);
            }
        }
        DocumentDone();
        progress_.CheckCancel();
    }
}

void Restore::MakeDocument(uint32_t box, const LevelWork &level, uint32_t number, bool cancelBeforeUpload) {
    std::string name = EntryName(number, true);
    MakeEntry(box, level.deviceFolder, number, Join(level.remote, name), Join(level.local, name), cancelBeforeUpload);
}

void Restore::DeleteDocument(uint32_t box, const LevelWork &level, uint32_t number) {
    Check(vtBoxDeleteDocument(session_, box, password_, level.deviceFolder, number),
          "deleting the replaced document (" + Where(box, level, number) + ")");
}

void Restore::ReplaceAtFullLevel(uint32_t box, const LevelWork &level, uint32_t number, const BoxEntry &old,
                                 bool cancelBeforeUpload) {
    const std::string oldRemote = Join(level.remote, EntryName(old.id, true));
    const std::string name = vt::Utf16ToUtf8(old.name);
    // What can be done before the old document goes is done first: the
    // level's listing read, the copy made. A failure up to here leaves the
    // device as it was.
    RemoteMayHave(Join(level.remote, EntryName(number, true)));
    progress_.CheckCancel();
    RescueCopy copy(work_, RescuedDocument{session_->Host, box, level.deviceFolder, old.id, name, oldRemote});
    ftp_->GetFile(RecordFileName(oldRemote), copy.record());
    ftp_->DownloadTree(copy.pages(), oldRemote);
    vt::DebugPrint(
        "\n The level is full: document %03u goes before its replacement %03u is made; "
        "its copy is in %s \n",
        old.id, number, copy.folder().c_str());
    progress_.CheckCancel();
    try {
        DeleteDocument(box, level, old.id);
        MakeDocument(box, level, number, cancelBeforeUpload);
    } catch (...) {
        uint32_t code = CodeInFlight();
        std::string detail = FailureDetail();
        std::string what = "the device's document \"" + name + "\" (" + Where(box, level, old.id) + ")";
        switch (PutBack(box, level, number, old, copy.pages())) {
        case PutBackResult::StillThere: what += " was not deleted"; break;
        case PutBackResult::PutBack:
            what += ", deleted to make room for its replacement, was put back as it was";
            break;
        case PutBackResult::Failed:
            copy.Keep();
            what += ", deleted to make room for its replacement, could not be put back: its only copy is kept in " +
                    copy.folder();
            break;
        }
        NoteFailure(code, detail.empty() ? what : detail + "; " + what);
        throw;
    }
}

Restore::PutBackResult Restore::PutBack(uint32_t box, const LevelWork &level, uint32_t number, const BoxEntry &old,
                                        const std::string &copy) noexcept {
    try {
        Uncancellable guard(session_);
        vt::DebugPrint("\n Putting document %03u back from %s \n", old.id, copy.c_str());
        // A fresh connection: the failure may have broken the old one.
        ftp_.reset();
        ftp_ = ConnectFtpClient(session_, ftpUser_, password_, info_.EngineVersion, nullptr);
        remoteLevels_.erase(level.remote);
        EntryList listed;
        Check(ReadDeviceEntries(session_, password_, box, level.deviceFolder, nullptr, &listed));
        auto has = [&](uint32_t id) {
            return std::any_of(listed.begin(), listed.end(), [&](const BoxEntry &e) { return e.id == id; });
        };
        if (has(old.id)) return PutBackResult::StillThere;  // the delete never happened
        // A replacement left half made would take the room the old one needs.
        if (has(number)) DeleteDocument(box, level, number);
        MakeEntry(box, level.deviceFolder, old.id, Join(level.remote, EntryName(old.id, true)), copy);
        return PutBackResult::PutBack;
    } catch (...) {
        vt::DebugPrint("\n Document %03u could not be put back; its copy stays in %s \n", old.id, copy.c_str());
        return PutBackResult::Failed;
    }
}

}  // namespace vtbox
