// The figures of a running job that the progress window shows under its
// counts: the time taken so far, the time it may still take and how fast the
// data moves (the command line's bar shows the same).
#pragma once

#include <QString>
#include <chrono>
#include <cstdint>
#include <string>

namespace vtutil {

struct JobFigures {
    double seconds = 0;  // since the job started
    int percent = 0;     // the engine's, 0..100
    int64_t bytes = -1;  // moved so far; -1 when not known
};

// "0:42", "12:05", "1:02:03".
QString DurationText(double seconds);

// "850 KB/s", "1.5 MB/s".
QString SpeedText(double bytesPerSecond);

// Seconds left at the pace so far; negative while there is no pace to go
// by (nothing done yet, or less than a second gone).
double SecondsLeft(const JobFigures &figures);

// "Elapsed: 1:05   Time left: 2:10   Speed: 1.5 MB/s" from the language's
// three labels; the time left and the speed are left out while unknown.
QString FiguresLine(const JobFigures &figures);

// Bytes under a folder so far: the work folder of a backup, which only grows
// while the boxes come in, so the largest size seen is what has moved. The
// walk is repeated at a change of phase and otherwise no more often than
// keeps it a twentieth of the time (a tree of thousands of small documents
// takes a while to walk).
class FolderBytes {
public:
    explicit FolderBytes(std::string folder = {}) : folder_(std::move(folder)) {}
    void Reset(std::string folder);
    int64_t Read(int32_t phase);

private:
    std::string folder_;
    int64_t bytes_ = 0;
    int32_t phase_ = -1;
    std::chrono::steady_clock::time_point last_{};
    std::chrono::steady_clock::duration interval_{};
};

}  // namespace vtutil
