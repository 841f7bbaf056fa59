#include "tests/support/SilentServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

CSilentServer::CSilentServer(Handshakes handshakes) {
    m_socket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;  // a free port of the system's choice
    socklen_t length = sizeof address;
    // A backlog of 0 holds one connection on Linux.
    const int backlog = handshakes == Handshakes::Dropped ? 0 : 16;
    if (m_socket < 0 ||
        bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(m_socket, backlog) != 0 ||
        getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("Cannot listen on loopback");
    }
    m_port = ntohs(address.sin_port);
    if (handshakes == Handshakes::Dropped) {
        m_filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_filler < 0 ||
            connect(m_filler, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            throw std::runtime_error("Cannot fill the listener's backlog");
        }
    }
}

CSilentServer::~CSilentServer() {
    if (m_filler >= 0) {
        close(m_filler);
    }
    if (m_socket >= 0) {
        close(m_socket);
    }
}
