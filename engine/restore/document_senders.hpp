// Documents sent to the device on more FTP connections than the job's own.
//
// A restore hands whole documents to the senders, each of which has a
// connection of its own, so that the device's delay before every reply is
// waited out on several connections at once. A document's steps are never
// spread: each runs them in order on one connection (DocumentSend says how
// far it got). How many connections a job uses is configured, never assumed
// ($VTBOX_FTP_CONNECTIONS, one when unset). A sender refused a data
// connection (425) hands its document back, as far as it got, to be finished
// first on another connection, and stops; a sender whose login fails stops
// the same way; the job goes on with the rest, down to its own connection.
// The first failure of any other kind stops the handing out: the documents
// being sent end, those not begun are never begun.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ftp/ftp_client.hpp"

namespace vtbox {

// One document on its way to the device, and the steps of it done so far.
struct DocumentSend {
    uint32_t box = 0;
    uint32_t folder = 0;  // the device's folder number (0: the box's top level)
    uint32_t number = 0;
    std::string remote;  // its entry folder on the device
    std::string local;   // its unpacked entry folder here
    bool cancelBeforeUpload = false;
    // The device's documents that it replaces, deleted once it is complete.
    std::vector<uint32_t> replaced;
    // Steps done, in the order of the restore's steps: a document handed back
    // goes on from the first step not done.
    uint32_t done = 0;
};

class DocumentSenders {
public:
    using Connector = std::function<std::unique_ptr<BoxFtpClient>()>;
    // Runs a document's steps from its first step not done, counting them in
    // done; raises as the steps do. It runs on a sender's thread: it must
    // touch nothing of the job's but what may be shared.
    using Sender = std::function<void(BoxFtpClient &, DocumentSend &)>;

    // Starts count senders, each connecting with connect on its own thread
    // under cancelEvent.
    DocumentSenders(size_t count, Connector connect, Sender send, HANDLE cancelEvent);
    // Drops the documents not begun and waits for those being sent; raises
    // nothing.
    ~DocumentSenders();
    DocumentSenders(const DocumentSenders &) = delete;
    DocumentSenders &operator=(const DocumentSenders &) = delete;

    // Queues a document when a sender will take it soon: false when no
    // sender runs any more, or (unless wait) when one document waits for
    // each sender already, so that the caller sends it on its own connection
    // instead of waiting while it could work. With wait, it waits for room.
    // Raises the first failure of a sender, with its detail.
    bool Add(const DocumentSend &document, bool wait);
    // Gives a document that the caller's own connection was refused a data
    // connection for to the senders, first in the queue: false when no
    // sender runs any more.
    bool HandBack(const DocumentSend &document);
    // Takes the first queued document back for the caller to send itself
    // (the one handed back first of all): false when none is queued. Raises
    // a sender's failure.
    bool Take(DocumentSend *document);
    // The documents completed since the last call. Raises a sender's failure.
    std::vector<DocumentSend> Done();
    // Waits until a document is completed or none is queued or being sent.
    // Raises a sender's failure. Returns the queued documents when no sender
    // runs any more, for the caller to send.
    std::vector<DocumentSend> WaitForOne();
    // Waits until every queued document is sent or no sender runs; raises a
    // sender's failure. Returns the documents left for the caller.
    std::vector<DocumentSend> Finish();
    // Documents queued or being sent.
    size_t InFlight();

private:
    void Run(const Connector &connect, HANDLE cancelEvent);
    bool Failed() const { return failedCode_ != 0; }
    [[noreturn]] void RaiseFailure();
    std::vector<DocumentSend> TakeQueue();

    Sender send_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<DocumentSend> queue_;
    std::vector<DocumentSend> done_;
    size_t alive_ = 0;  // senders not yet stopped
    size_t busy_ = 0;   // senders sending a document
    bool stopping_ = false;
    uint32_t failedCode_ = 0;
    std::string failedDetail_;
    std::vector<std::thread> threads_;
};

}  // namespace vtbox
