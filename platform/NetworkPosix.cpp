#include "platform/Network.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <cerrno>
#include <cmath>
#include <memory>

#include "platform/Clock.h"
#include "platform/FileSystem.h"

bool TcpAddressAnswers(const std::string& host, const std::string& port, double seconds) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) {
        return true;
    }
    const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, freeaddrinfo);
    // Every address in turn within the one bound, as a client tries them.
    const double deadline = MonotonicSeconds() + seconds;
    bool silent = false;
    for (const addrinfo* address = found; address != nullptr; address = address->ai_next) {
        const int fd =
            socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                   address->ai_protocol);
        if (fd < 0) {
            return true;
        }
        const CFile socket = CFile::Adopt(fd, host + "/" + port);
        if (connect(fd, address->ai_addr, address->ai_addrlen) == 0) {
            return true;
        }
        if (errno != EINPROGRESS) {
            continue;  // refused or unreachable at once
        }
        pollfd wait{fd, POLLOUT, 0};
        int ready = 0;
        do {
            const double left = std::max(0.0, deadline - MonotonicSeconds());
            ready = poll(&wait, 1, static_cast<int>(std::ceil(left * 1000)));
        } while (ready < 0 && errno == EINTR);
        if (ready == 0) {
            silent = true;
            break;  // the time is up
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (ready > 0 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0) {
            return true;
        }
    }
    return !silent;
}
