#include "deadline.hpp"

namespace vtjobs {

Deadline::Deadline(HANDLE event, std::chrono::seconds after)
    : thread_([this, event, after] {
          std::unique_lock<std::mutex> lock(m_);
          if (!cv_.wait_for(lock, after, [this] { return dismissed_; })) SetEvent(event);
      }) {}

Deadline::~Deadline() {
    {
        std::lock_guard<std::mutex> lock(m_);
        dismissed_ = true;
    }
    cv_.notify_all();
    thread_.join();
}

}  // namespace vtjobs
