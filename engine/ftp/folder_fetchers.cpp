#include "ftp/folder_fetchers.hpp"

#include <cerrno>
#include <cstdlib>
#include <system_error>

#include "session/result.hpp"
#include "session/waits.hpp"
#include "vtplatform/diag.hpp"
#include "vtplatform/errors.hpp"

namespace vtbox {

namespace {
// The server's reply when it has no data connection to give.
constexpr int kNoDataConnection = 425;
}  // namespace

size_t ConfiguredFtpConnections() {
    const char *text = std::getenv("VTBOX_FTP_CONNECTIONS");
    if (!text || !*text) return 1;
    char *end = nullptr;
    errno = 0;
    unsigned long n = std::strtoul(text, &end, 10);
    if (errno != 0 || !end || *end != '\0' || n < 1 || n > kMaxFtpConnections) return 1;
    return static_cast<size_t>(n);
}

size_t StartConnectionThreads(size_t count, std::vector<std::thread> *threads, const std::function<void()> &run) {
    size_t started = 0;
    for (; started < count; ++started) {
        try {
            threads->emplace_back(run);
        } catch (const std::system_error &) {
            break;  // no thread to be had: fewer connections, down to none
        }
    }
    return started;
}

std::unique_ptr<BoxFtpClient> FurtherConnection(const std::function<std::unique_ptr<BoxFtpClient>()> &connect) {
    try {
        return connect();
    } catch (...) {
        vt::DebugPrint("\n A further FTP connection could not be made (%s); going on without it \n",
                       FailureDetail().c_str());
        ClearFailureDetail();
        return nullptr;
    }
}

FolderFetchers::FolderFetchers(size_t count, Connector connect, HANDLE cancelEvent) {
    std::lock_guard lock(mutex_);
    alive_ = StartConnectionThreads(count, &threads_, [this, connect, cancelEvent] { Run(connect, cancelEvent); });
}

FolderFetchers::~FolderFetchers() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    changed_.notify_all();
    for (auto &t : threads_)
        if (t.joinable()) t.join();
}

void FolderFetchers::Run(Connector connect, HANDLE cancelEvent) {
    CancelScope scope(cancelEvent);
    // Without it the folders go to the others.
    std::unique_ptr<BoxFtpClient> client = FurtherConnection(connect);
    std::unique_lock lock(mutex_);
    while (client) {
        changed_.wait(lock, [&] { return stopping_ || failedCode_ != 0 || !queue_.empty(); });
        if (stopping_ || failedCode_ != 0) break;
        Folder folder = std::move(queue_.front());
        queue_.pop_front();
        ++busy_;
        changed_.notify_all();
        lock.unlock();
        uint32_t code = 0;
        std::string detail;
        try {
            client->DownloadTree(folder.first, folder.second);
        } catch (...) {
            code = CodeInFlight();
            detail = FailureDetail();
        }
        ClearFailureDetail();
        lock.lock();
        --busy_;
        changed_.notify_all();
        if (code != 0 && code != vt::code(vt::Code::CANCELLED) && client->LastReplyCode() == kNoDataConnection) {
            // The device's data connections are all taken: the folder goes
            // back for another connection (it is fetched whole again), and
            // this one stops.
            vt::DebugPrint("\n The device gave no data connection for %s; one FTP connection fewer \n",
                           folder.second.c_str());
            queue_.push_front(std::move(folder));
            break;
        }
        if (code != 0 && failedCode_ == 0) {
            failedCode_ = code;
            failedDetail_ = std::move(detail);
        }
    }
    --alive_;
    changed_.notify_all();
    lock.unlock();
    client.reset();  // the connection closes off the lock
}

void FolderFetchers::RaiseFailure() {
    uint32_t code = failedCode_;
    std::string detail = failedDetail_;
    if (detail.empty()) Raise(code);
    Raise(code, std::move(detail));
}

std::vector<FolderFetchers::Folder> FolderFetchers::TakeQueue() {
    std::vector<Folder> left(std::make_move_iterator(queue_.begin()), std::make_move_iterator(queue_.end()));
    queue_.clear();
    return left;
}

bool FolderFetchers::Add(const std::string &local, const std::string &remote, bool wait) {
    std::unique_lock lock(mutex_);
    if (wait) changed_.wait(lock, [&] { return failedCode_ != 0 || alive_ == 0 || queue_.size() < kQueued; });
    if (failedCode_ != 0) RaiseFailure();
    if (alive_ == 0 || queue_.size() >= kQueued) return false;
    queue_.emplace_back(local, remote);
    changed_.notify_all();
    return true;
}

bool FolderFetchers::Take(Folder *folder) {
    std::lock_guard lock(mutex_);
    if (failedCode_ != 0) RaiseFailure();
    if (queue_.empty()) return false;
    *folder = std::move(queue_.front());
    queue_.pop_front();
    changed_.notify_all();
    return true;
}

std::vector<FolderFetchers::Folder> FolderFetchers::Finish() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return failedCode_ != 0 || alive_ == 0 || (queue_.empty() && busy_ == 0); });
    if (failedCode_ != 0) RaiseFailure();
    return TakeQueue();
}

std::vector<FolderFetchers::Folder> FolderFetchers::Stop() {
    std::unique_lock lock(mutex_);
    stopping_ = true;
    std::vector<Folder> left = TakeQueue();
    changed_.notify_all();
    changed_.wait(lock, [&] { return busy_ == 0; });
    if (failedCode_ != 0) RaiseFailure();
    // A fetcher refused meanwhile put its folder back.
    for (auto &folder : TakeQueue()) left.push_back(std::move(folder));
    return left;
}

}  // namespace vtbox
