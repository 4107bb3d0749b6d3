// One step of a long operation run on a thread of its own while the
// operation goes on (a box packed while the next downloads, a box unpacked
// while the one before uploads). One step at a time; its failure is raised on
// the operation's thread by Wait, with its detail. The step runs under the
// cancel event current where it was started, so that a cancel ends it too.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace vtbox {

class BackgroundStep {
public:
    BackgroundStep() = default;
    ~BackgroundStep() { Join(); }
    BackgroundStep(const BackgroundStep &) = delete;
    BackgroundStep &operator=(const BackgroundStep &) = delete;

    // Waits for (and raises the failure of) the step before, then starts
    // step. step returns 0 or a result code; what it raises counts as its code.
    void Start(std::function<uint32_t()> step);

    // Waits for the step in work, if any; raises its failure.
    void Wait();

    // Waits without raising (the failure path).
    void Join() noexcept;

    bool Running() const { return thread_.joinable(); }

private:
    std::thread thread_;
    uint32_t code_ = 0;
    std::string detail_;
};

}  // namespace vtbox
