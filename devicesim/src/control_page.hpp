// The control page on the HTTP port: faults and records for tests that drive
// the running program. It answers loopback clients only.
#pragma once

#include <string>

#include "device_state.hpp"
#include "devicesim/faults.hpp"
#include "http_server.hpp"

namespace devicesim {

inline constexpr const char *kControlPrefix = "/devicesim/";

class ControlPage {
public:
    ControlPage(Faults &faults, Recorder &recorder) : faults_(faults), recorder_(recorder) {}
    HttpReply Handle(const HttpRequest &request);

private:
    HttpReply SetFault(const HttpRequest &request);
    HttpReply RecordsText();
    Faults &faults_;
    Recorder &recorder_;
};

}  // namespace devicesim
