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

#include "ftp/folder_fetchers.hpp"
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

std::string Where(uint32_t box, uint32_t folder, uint32_t number) {
    return folder == 0 ? vt::Format("box %03u, number %03u", box, number)
                       : vt::Format("box %03u, folder %03u, number %03u", box, folder, number);
}

// The server's reply when it has no data connection to give.
constexpr int kNoDataConnection = 425;

}  // namespace

DocumentSenders *Restore::Senders(size_t documents) {
    if (!sendersAsked_ && documents > 1) {
        sendersAsked_ = true;
        helping_ = true;
        if (size_t connections = ConfiguredFtpConnections(); connections > 1)
            senders_ = std::make_unique<DocumentSenders>(
                connections - 1,
                [this] { return ConnectFtpClient(session_, ftpUser_, password_, info_.EngineVersion, cancel_); },
                [this](BoxFtpClient &ftp, DocumentSend &document) { SendSteps(ftp, document); }, cancel_);
    }
    return senders_.get();
}

void Restore::CollectDocuments(std::set<uint32_t> *onDevice) {
    if (!senders_) return;
    for (const auto &document : senders_->Done()) {
        // Complete: the documents it replaced are gone from its level.
        if (onDevice)
            for (uint32_t id : document.replaced) onDevice->erase(id);
        DocumentDone();
    }
}

void Restore::SendHere(DocumentSend document, std::set<uint32_t> *onDevice) {
    try {
        SendSteps(*ftp_, document);
    } catch (const BoxError &e) {
        if (!senders_ || e.code() == vt::code(vt::Code::CANCELLED) || ftp_->LastReplyCode() != kNoDataConnection) throw;
        ClearFailureDetail();
        helping_ = false;
        if (senders_->HandBack(document)) return;
        SendSteps(*ftp_, document);
    }
    if (onDevice)
        for (uint32_t id : document.replaced) onDevice->erase(id);
    DocumentDone();
}

void Restore::SendLeft(std::vector<DocumentSend> left, std::set<uint32_t> *onDevice) {
    for (auto &document : left) SendHere(std::move(document), onDevice);
    CollectDocuments(onDevice);
}

void Restore::FinishDocuments(std::set<uint32_t> *onDevice) {
    try {
        // This connection takes what is still queued, then the last ones
        // sent are waited for.
        while (senders_) {
            if (DocumentSend queued; helping_ && senders_->Take(&queued)) {
                SendHere(std::move(queued), onDevice);
                CollectDocuments(onDevice);
                continue;
            }
            std::vector<DocumentSend> left = senders_->Finish();
            CollectDocuments(onDevice);
            if (left.empty()) break;
            SendLeft(std::move(left), onDevice);
        }
    } catch (...) {
        senders_.reset();
        throw;
    }
}

void Restore::SendDocuments(const BoxWork &box, const LevelWork &level, EntryList documents, const EntryList &replaced,
                            std::set<uint32_t> onDevice, bool cancelBeforeUpload, bool leaveInFlight) {
    uint32_t b = box.info.BoxNo;
    // restored number -> the device's documents of its name, which it replaces
    std::map<uint32_t, std::vector<BoxEntry>> replaces;
    for (const auto &r : replaced) replaces[r.replacedBy].push_back(r);
    // Documents left in flight are counted by whoever collects them, without
    // this level's count: they must replace nothing.
    if (leaveInFlight && !replaces.empty()) Raise(vt::Code::INTERNAL_ERROR, "replacements left in flight");
    // Replacements first: each leaves the level's count as it was, so the
    // level fills up only once they are done.
    std::stable_partition(documents.begin(), documents.end(),
                          [&](const BoxEntry &d) { return replaces.count(d.id) != 0; });

    DocumentSenders *senders = Senders(documents.size());
    try {
        for (const auto &d : documents) {
            // Nothing is ever made over a device document.
            if (onDevice.count(d.id))
                Raise(vt::Code::INTERNAL_ERROR,
                      Where(b, level.deviceFolder, d.id) + ": the number is taken on the device");
            // The level's room counts the documents in flight, each of which
            // holds a place until the documents it replaces are gone.
            CollectDocuments(&onDevice);
            while (senders && onDevice.size() >= kMaxDocumentsPerLevel && senders->InFlight() > 0)
                SendLeft(senders->WaitForOne(), &onDevice);
            auto old = replaces.find(d.id);
            if (old != replaces.end() && onDevice.size() >= kMaxDocumentsPerLevel) {
                // No room beside the old document, and nothing else in flight.
                const std::vector<BoxEntry> &olds = old->second;
                ReplaceAtFullLevel(b, level, d.id, olds.front(), cancelBeforeUpload);
                onDevice.erase(olds.front().id);
                onDevice.insert(d.id);
                for (size_t i = 1; i < olds.size(); ++i) {
                    DeleteDocument(b, level.deviceFolder, olds[i].id);
                    onDevice.erase(olds[i].id);
                }
                DocumentDone();
            } else {
                std::string name = EntryName(d.id, true);
                DocumentSend document = PrepareDocument(b, level.deviceFolder, d.id, Join(level.remote, name),
                                                        Join(level.local, name), cancelBeforeUpload);
                if (old != replaces.end())
                    for (const auto &o : old->second) document.replaced.push_back(o.id);
                onDevice.insert(d.id);
                if (!senders || !senders->Add(document, !helping_)) SendHere(std::move(document), &onDevice);
            }
            CollectDocuments(&onDevice);
            progress_.CheckCancel();
        }
    } catch (...) {
        // The first failure stops the handing out: the documents being sent
        // end, the others are never begun.
        senders_.reset();
        throw;
    }
    if (!leaveInFlight) FinishDocuments(&onDevice);
}

void Restore::MakeDocument(uint32_t box, const LevelWork &level, uint32_t number, bool cancelBeforeUpload) {
    std::string name = EntryName(number, true);
    MakeEntry(box, level.deviceFolder, number, Join(level.remote, name), Join(level.local, name), cancelBeforeUpload);
}

void Restore::DeleteDocument(uint32_t box, uint32_t folder, uint32_t number) const {
    Check(vtBoxDeleteDocument(session_, box, password_, folder, number),
          "deleting the replaced document (" + Where(box, folder, number) + ")");
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
        DeleteDocument(box, level.deviceFolder, old.id);
        MakeDocument(box, level, number, cancelBeforeUpload);
    } catch (...) {
        uint32_t code = CodeInFlight();
        std::string detail = FailureDetail();
        std::string what = "the device's document \"" + name + "\" (" + Where(box, level.deviceFolder, old.id) + ")";
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
        if (has(number)) DeleteDocument(box, level.deviceFolder, number);
        MakeEntry(box, level.deviceFolder, old.id, Join(level.remote, EntryName(old.id, true)), copy);
        return PutBackResult::PutBack;
    } catch (...) {
        vt::DebugPrint("\n Document %03u could not be put back; its copy stays in %s \n", old.id, copy.c_str());
        return PutBackResult::Failed;
    }
}

}  // namespace vtbox
