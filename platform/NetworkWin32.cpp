#include "platform/Network.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cmath>
#include <memory>

#include "platform/Clock.h"

namespace {

// Winsock for as long as this lives (its start and cleanup are counted per process).
class CWinsock {
  public:
    CWinsock() { m_started = WSAStartup(MAKEWORD(2, 2), &m_data) == 0; }
    ~CWinsock() {
        if (m_started) {
            WSACleanup();
        }
    }
    CWinsock(const CWinsock&) = delete;
    CWinsock& operator=(const CWinsock&) = delete;
    bool Started() const { return m_started; }

  private:
    WSADATA m_data{};
    bool m_started = false;
};

// A socket, closed with closesocket.
class CSocket {
  public:
    explicit CSocket(SOCKET socket) : m_socket(socket) {}
    ~CSocket() {
        if (m_socket != INVALID_SOCKET) {
            closesocket(m_socket);
        }
    }
    CSocket(const CSocket&) = delete;
    CSocket& operator=(const CSocket&) = delete;
    SOCKET Get() const { return m_socket; }

  private:
    SOCKET m_socket;
};

}  // namespace

bool TcpAddressAnswers(const std::string& host, const std::string& port, double seconds) {
    const CWinsock winsock;
    if (!winsock.Started()) {
        return true;
    }
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
        const CSocket socket(
            ::socket(address->ai_family, address->ai_socktype, address->ai_protocol));
        if (socket.Get() == INVALID_SOCKET) {
            return true;
        }
        u_long nonBlocking = 1;
        if (ioctlsocket(socket.Get(), static_cast<long>(FIONBIO), &nonBlocking) != 0) {
            return true;
        }
        if (connect(socket.Get(), address->ai_addr, static_cast<int>(address->ai_addrlen)) == 0) {
            return true;
        }
        if (WSAGetLastError() != WSAEWOULDBLOCK) {
            continue;  // refused or unreachable at once
        }
        // Windows shows a connection made as writable, and one refused in the exception set.
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(socket.Get(), &writable);
        FD_SET(socket.Get(), &failed);
        const double left = std::max(0.0, deadline - MonotonicSeconds());
        const long milliseconds = static_cast<long>(std::ceil(left * 1000));
        timeval wait{milliseconds / 1000, (milliseconds % 1000) * 1000};
        const int ready = select(0, nullptr, &writable, &failed, &wait);
        if (ready == 0) {
            silent = true;
            break;  // the time is up
        }
        if (ready > 0 && FD_ISSET(socket.Get(), &writable)) {
            return true;
        }
    }
    return !silent;
}
