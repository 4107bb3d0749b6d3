// The control page on the HTTP port: faults and records for tests that drive
// the running program. It answers loopback clients only.
#pragma once

#include <string>

#include "device_state.hpp"
#include "devicesim/faults.hpp"
#include "http_server.hpp"
#include "lan.hpp"

namespace devicesim {

inline constexpr const char *kControlPrefix = "/devicesim/";

class ControlPage {
public:
    ControlPage(Faults &faults, Recorder &recorder, LanState &lan) : faults_(faults), recorder_(recorder), lan_(lan) {}
    HttpReply Handle(const HttpRequest &request);

private:
    HttpReply SetFault(const HttpRequest &request);
    HttpReply RecordsText();
    HttpReply SetLan(const HttpRequest &request);
    HttpReply CountsText();
    Faults &faults_;
    Recorder &recorder_;
    LanState &lan_;
};

}  // namespace devicesim
