// A time limit that signals an event: what waits on the event (a request
// whose cancel event it is) ends once the time has passed. It bounds the
// waits on a device that may not answer.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "vtBoxBRD.h"

namespace vtjobs {

// Signals event (which the caller owns and keeps open for the life of this
// object) once after has passed, unless the object is destroyed first.
class Deadline {
public:
    Deadline(HANDLE event, std::chrono::seconds after);
    ~Deadline();
    Deadline(const Deadline &) = delete;
    Deadline &operator=(const Deadline &) = delete;

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool dismissed_ = false;
    std::thread thread_;
};

}  // namespace vtjobs
