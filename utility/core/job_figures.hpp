// The figures of a running job that the progress window shows under its
// counts: the time taken so far, the time it may still take and how fast the
// data moves (the command line's bar shows the same).
#pragma once

#include <QString>
#include <cstdint>

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

}  // namespace vtutil
