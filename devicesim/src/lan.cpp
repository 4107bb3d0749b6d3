#include "lan.hpp"

#include <algorithm>

namespace devicesim {

namespace {
// A paced piece is this fraction of a second's bytes: small enough that the
// rate holds over any second within two pieces, large enough that a fast
// link does not wake a hundred times more often than it must.
constexpr uint64_t kPiecesPerSecond = 100;
}  // namespace

void LanState::Set(const LanModel &model) {
    std::lock_guard lock(mutex_);
    model_.latencyMs = std::min(model.latencyMs, kMaxLatencyMs);
    model_.rateKbps = std::min(model.rateKbps, kMaxRateKbps);
    model_.maxDataConnections = std::min(model.maxDataConnections, kMaxDataConnectionsLimit);
}

LanModel LanState::Get() const {
    std::lock_guard lock(mutex_);
    return model_;
}

bool LanState::Delay(Faults &faults) const {
    const unsigned ms = Get().latencyMs;
    if (ms == 0) return true;
    return faults.SleepUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(ms));
}

bool LanState::OpenData() {
    std::lock_guard lock(mutex_);
    if (model_.maxDataConnections != 0 && open_ >= model_.maxDataConnections) return false;
    ++open_;
    return true;
}

void LanState::CloseData() {
    std::lock_guard lock(mutex_);
    if (open_ > 0) --open_;
}

unsigned LanState::OpenDataConnections() const {
    std::lock_guard lock(mutex_);
    return open_;
}

Pacer::Pacer(Faults &faults, unsigned rateKbps)
    : faults_(faults), bytesPerSecond_(uint64_t{std::min(rateKbps, kMaxRateKbps)} * 1000 / 8),
      piece_(bytesPerSecond_ == 0
                 ? kDataBlock
                 : static_cast<size_t>(std::clamp<uint64_t>(bytesPerSecond_ / kPiecesPerSecond, 1, kDataBlock))),
      due_(Clock::now()) {}

Pacer::Clock::duration Pacer::TimeOf(uint64_t bytes) const {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(bytes * 1000000000 / bytesPerSecond_));
}

bool Pacer::Pace(uint64_t bytes) {
    if (bytesPerSecond_ == 0 || bytes == 0) return true;
    // A wait that ended late leaves the schedule behind the clock; it catches
    // up by one piece at most, never by a burst.
    due_ = std::max(due_, Clock::now() - TimeOf(piece_)) + TimeOf(bytes);
    return faults_.SleepUntil(due_);
}

}  // namespace devicesim
