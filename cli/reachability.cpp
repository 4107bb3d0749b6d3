#include "reachability.hpp"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace vtcli {

Reach ProbeDevice(const std::string &host, uint32_t port, uint32_t timeoutMs) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list) != 0 || !list)
        return Reach::NameNotFound;
    Reach result = Reach::NoAnswer;
    for (addrinfo *a = list; a; a = a->ai_next) {
        int fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        int rc = connect(fd, a->ai_addr, a->ai_addrlen);
        int err = rc == 0 ? 0 : errno;
        if (err == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            if (poll(&p, 1, static_cast<int>(timeoutMs)) == 1) {
                socklen_t len = sizeof err;
                getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
            } else {
                err = ETIMEDOUT;
            }
        }
        close(fd);
        if (err == 0) {
            result = Reach::Accepts;
            break;
        }
        if (err == ECONNREFUSED)
            result = Reach::Refused;
        else if ((err == EHOSTUNREACH || err == ENETUNREACH) && result != Reach::Refused)
            result = Reach::Unreachable;
    }
    freeaddrinfo(list);
    return result;
}

std::string ReachText(Reach reach, const std::string &host, uint32_t port, const std::string &service,
                      const std::string &option) {
    std::string where = host + ":" + std::to_string(port);
    switch (reach) {
    case Reach::NameNotFound:
        return "the name \"" + host + "\" does not resolve to an address: check the name (--host) or the DNS";
    case Reach::Refused:
        return host + " refuses connections on port " + std::to_string(port) + ": " + service +
               " does not listen there; check " + option;
    case Reach::Unreachable:
        return "there is no route to " + host + ": check that the device is on and on a network this computer reaches";
    case Reach::NoAnswer:
        return host + " does not answer on port " + std::to_string(port) +
               ": the device is off, or a firewall drops the connection (" + service + ", " + option + ")";
    case Reach::Accepts:
        return where + " accepts connections but " + service +
               " never answers: the device may be busy or hung; try again later, or give it longer with --timeout";
    }
    return {};
}

}  // namespace vtcli
