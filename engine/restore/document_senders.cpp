#include "restore/document_senders.hpp"

#include <utility>

#include "ftp/folder_fetchers.hpp"
#include "session/result.hpp"
#include "session/waits.hpp"
#include "vtplatform/diag.hpp"
#include "vtplatform/errors.hpp"

namespace vtbox {

namespace {
// The server's reply when it has no data connection to give.
constexpr int kNoDataConnection = 425;
}  // namespace

DocumentSenders::DocumentSenders(size_t count, Connector connect, Sender send, HANDLE cancelEvent)
    : send_(std::move(send)) {
    std::lock_guard lock(mutex_);
    alive_ = StartConnectionThreads(count, &threads_, [this, connect, cancelEvent] { Run(connect, cancelEvent); });
}

DocumentSenders::~DocumentSenders() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    changed_.notify_all();
    for (auto &t : threads_)
        if (t.joinable()) t.join();
}

void DocumentSenders::Run(const Connector &connect, HANDLE cancelEvent) {
    CancelScope scope(cancelEvent);
    // Without it the documents go to the others.
    std::unique_ptr<BoxFtpClient> client = FurtherConnection(connect);
    std::unique_lock lock(mutex_);
    while (client) {
        changed_.wait(lock, [&] { return stopping_ || Failed() || !queue_.empty(); });
        if (stopping_ || Failed()) break;
        DocumentSend document = std::move(queue_.front());
        queue_.pop_front();
        ++busy_;
        changed_.notify_all();
        lock.unlock();
        uint32_t code = 0;
        std::string detail;
        try {
            send_(*client, document);
        } catch (...) {
            code = CodeInFlight();
            detail = FailureDetail();
        }
        ClearFailureDetail();
        lock.lock();
        --busy_;
        changed_.notify_all();
        if (code != 0 && code != vt::code(vt::Code::CANCELLED) && client->LastReplyCode() == kNoDataConnection) {
            // The device's data connections are all taken: the document goes
            // back, as far as it got, to be finished first on another
            // connection, and this one stops.
            vt::DebugPrint("\n The device gave no data connection for %s; one FTP connection fewer \n",
                           document.remote.c_str());
            queue_.push_front(std::move(document));
            break;
        }
        if (code == 0) {
            done_.push_back(std::move(document));
        } else if (!Failed()) {
            failedCode_ = code;
            failedDetail_ = std::move(detail);
        }
    }
    --alive_;
    changed_.notify_all();
    lock.unlock();
    client.reset();  // the connection closes off the lock
}

void DocumentSenders::RaiseFailure() {
    uint32_t code = failedCode_;
    std::string detail = failedDetail_;
    if (detail.empty()) Raise(code);
    Raise(code, std::move(detail));
}

std::vector<DocumentSend> DocumentSenders::TakeQueue() {
    std::vector<DocumentSend> left(std::make_move_iterator(queue_.begin()), std::make_move_iterator(queue_.end()));
    queue_.clear();
    return left;
}

bool DocumentSenders::Add(const DocumentSend &document, bool wait) {
    std::unique_lock lock(mutex_);
    if (wait) changed_.wait(lock, [&] { return Failed() || alive_ == 0 || queue_.size() < alive_; });
    if (Failed()) RaiseFailure();
    if (alive_ == 0 || queue_.size() >= alive_) return false;
    queue_.push_back(document);
    changed_.notify_all();
    return true;
}

bool DocumentSenders::HandBack(const DocumentSend &document) {
    std::lock_guard lock(mutex_);
    if (Failed()) RaiseFailure();
    if (alive_ == 0) return false;
    queue_.push_front(document);
    changed_.notify_all();
    return true;
}

bool DocumentSenders::Take(DocumentSend *document) {
    std::lock_guard lock(mutex_);
    if (Failed()) RaiseFailure();
    if (queue_.empty()) return false;
    *document = std::move(queue_.front());
    queue_.pop_front();
    changed_.notify_all();
    return true;
}

std::vector<DocumentSend> DocumentSenders::Done() {
    std::lock_guard lock(mutex_);
    if (Failed()) RaiseFailure();
    std::vector<DocumentSend> done = std::move(done_);
    done_.clear();
    return done;
}

std::vector<DocumentSend> DocumentSenders::WaitForOne() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return Failed() || !done_.empty() || alive_ == 0 || (busy_ == 0 && queue_.empty()); });
    if (Failed()) RaiseFailure();
    if (alive_ == 0) return TakeQueue();
    return {};
}

std::vector<DocumentSend> DocumentSenders::Finish() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return Failed() || alive_ == 0 || (queue_.empty() && busy_ == 0); });
    if (Failed()) RaiseFailure();
    return TakeQueue();
}

size_t DocumentSenders::InFlight() {
    std::lock_guard lock(mutex_);
    return queue_.size() + busy_;
}

}  // namespace vtbox
