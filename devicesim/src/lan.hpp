// The LAN model at run time: the settings the servers read at each reply and
// each data connection, the data connections open at once, and the pacing of
// one data connection's bytes.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

#include "devicesim/device.hpp"
#include "devicesim/faults.hpp"

namespace devicesim {

class LanState {
public:
    explicit LanState(const LanModel &initial) { Set(initial); }
    // Values above their bounds are capped.
    void Set(const LanModel &model);
    LanModel Get() const;
    // Waits the reply latency (waking when the device stops); false when stopping.
    bool Delay(Faults &faults) const;
    // Takes a place for one more data connection; false when the limit is reached.
    bool OpenData();
    void CloseData();
    unsigned OpenDataConnections() const;

private:
    mutable std::mutex mutex_;
    LanModel model_;
    unsigned open_ = 0;
};

// Paces one data connection at a rate, so that the bytes moved in any second
// stay within the rate (give or take two pieces, a fiftieth of a second's
// worth): each piece waits its share of a second after the one before, by the
// clock, not by spinning. A sleep that wakes late is made up, by at most one
// piece, so that the rate holds on a busy machine too. Over a whole transfer
// of K bytes at B bytes a second, at least K / B seconds pass from the pacer's
// making to its last wait.
class Pacer {
public:
    // rateKbps 0: no pacing.
    Pacer(Faults &faults, unsigned rateKbps);
    // The most bytes to move at once (a read buffer's size when not paced).
    size_t Piece() const { return piece_; }
    bool Paced() const { return bytesPerSecond_ != 0; }
    // Accounts for `bytes` just moved (or about to be): waits until the rate
    // allows them. False when the device is stopping.
    bool Pace(uint64_t bytes);

private:
    using Clock = std::chrono::steady_clock;
    Clock::duration TimeOf(uint64_t bytes) const;
    Faults &faults_;
    uint64_t bytesPerSecond_ = 0;
    size_t piece_;
    Clock::time_point due_;
};

// Bytes of one read or send of a data transfer when it is not paced.
inline constexpr size_t kDataBlock = 64 * 1024;

}  // namespace devicesim
