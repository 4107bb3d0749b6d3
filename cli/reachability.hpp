// Why a device does not answer, in words an administrator can act on: the
// name does not resolve, the port is refused, the host cannot be reached or
// drops the connection, or it accepts and never answers.
#pragma once

#include <cstdint>
#include <string>

namespace vtcli {

enum class Reach { NameNotFound, Refused, Unreachable, NoAnswer, Accepts };

// Tries one TCP connection to host:port, waiting at most timeoutMs.
Reach ProbeDevice(const std::string &host, uint32_t port, uint32_t timeoutMs);

// The sentence for a probe's outcome; service names what listens there
// ("the box web service", "the FTP server") and option the flag that sets it.
std::string ReachText(Reach reach, const std::string &host, uint32_t port, const std::string &service,
                      const std::string &option);

}  // namespace vtcli
