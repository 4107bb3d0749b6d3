// Document folders fetched on more FTP connections than the job's own.
//
// A backup lists a box on its own connection and hands each document's
// folder to the fetchers, each of which has a connection of its own, so that
// the device's delay before every reply is waited out on several connections
// at once. How many connections a job uses is configured, never assumed
// ($VTBOX_FTP_CONNECTIONS, one when unset): a device whose data connections
// are limited refuses one beyond its limit (425), and the fetcher that was
// refused puts its folder back and stops; the job goes on with the rest, down
// to its own connection alone. A fetcher whose login fails stops the same way.
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
#include <utility>
#include <vector>

#include "ftp/ftp_client.hpp"

namespace vtbox {

// At most this many FTP connections a job opens at once: an embedded server
// serves a handful of sessions, and more only wait their turn at its end.
inline constexpr size_t kMaxFtpConnections = 8;

// The connections a job may use: $VTBOX_FTP_CONNECTIONS when it is a number
// from 1 to kMaxFtpConnections, else 1.
size_t ConfiguredFtpConnections();

// Starts up to count threads running run, as many as the system gives (each
// added to threads); returns how many started. The fetchers of a backup and
// the senders of a restore start theirs so.
size_t StartConnectionThreads(size_t count, std::vector<std::thread> *threads, const std::function<void()> &run);

// A further FTP connection made by connect, or null when it could not be
// made: the job goes on with the connections it has (the reason is logged).
std::unique_ptr<BoxFtpClient> FurtherConnection(const std::function<std::unique_ptr<BoxFtpClient>()> &connect);

class FolderFetchers {
public:
    using Connector = std::function<std::unique_ptr<BoxFtpClient>()>;
    using Folder = std::pair<std::string, std::string>;  // local path, remote path

    // Starts count fetchers, each connecting with connect on its own thread
    // under cancelEvent.
    FolderFetchers(size_t count, Connector connect, HANDLE cancelEvent);
    // Stops the fetchers after the folder each is fetching; raises nothing.
    ~FolderFetchers();
    FolderFetchers(const FolderFetchers &) = delete;
    FolderFetchers &operator=(const FolderFetchers &) = delete;

    // Queues a folder. False when no fetcher runs any more, or (unless wait)
    // when kQueued wait already: the caller fetches the folder itself, on its
    // own connection, instead of waiting while it could work. With wait, it
    // waits for room instead. Raises the failure of a fetcher, with its
    // detail.
    bool Add(const std::string &local, const std::string &remote, bool wait = false);
    // Takes the first queued folder back for the caller to fetch itself
    // (so that the job's own connection shares the last of a box instead of
    // waiting for the fetchers): false when none is queued. Raises a
    // fetcher's failure.
    bool Take(Folder *folder);
    // Waits until every queued folder is fetched or no fetcher runs; raises
    // a fetcher's failure. Returns the folders left for the caller.
    std::vector<Folder> Finish();
    // Stops every fetcher after its folder (the job's own connection was
    // refused a data connection) and returns the folders still queued.
    std::vector<Folder> Stop();

    // Folders queued at most: the job's own connection lists ahead of the
    // fetchers by this much, no more, so that memory stays flat; beyond it,
    // that connection fetches documents itself.
    static constexpr size_t kQueued = 64;

private:
    void Run(Connector connect, HANDLE cancelEvent);
    [[noreturn]] void RaiseFailure();
    std::vector<Folder> TakeQueue();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Folder> queue_;
    size_t alive_ = 0;  // fetchers not yet stopped
    size_t busy_ = 0;   // fetchers fetching a folder
    bool stopping_ = false;
    uint32_t failedCode_ = 0;
    std::string failedDetail_;
    std::vector<std::thread> threads_;
};

}  // namespace vtbox
