// Progress of a long operation on standard error: a redrawn bar on a
// terminal, plain lines otherwise.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "vtBoxBRD.h"

namespace vtcli {

// A phase's name; a conversion's phase 2 is its converting, not unpacking.
const char *PhaseName(int32_t phase, bool conversion = false);

class ProgressDisplay {
public:
    explicit ProgressDisplay(const char *what, bool conversion = false);
    void Show(const VTPROGRESSINFO &p);
    void Finish(const VTPROGRESSINFO &p, uint32_t rc);

private:
    std::string Line(const VTPROGRESSINFO &p) const;
    std::string what_;
    bool conversion_;
    bool terminal_;
    std::chrono::steady_clock::time_point start_;
    int32_t lastPercentShown_ = -1, lastPhase_ = -1;
    std::string lastBox_;
    size_t lastWidth_ = 0;
};

}  // namespace vtcli
