#include "tests/support/HoldingProxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>

namespace {

void CloseIfOpen(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

// Moves what `from` has to `to`; false when `from` is at its end or either side failed.
bool Carry(int from, int to) {
    char buffer[65536];
    const ssize_t got = read(from, buffer, sizeof buffer);
    if (got <= 0) {
        return false;
    }
    for (ssize_t sent = 0; sent < got;) {
        const ssize_t n = write(to, buffer + sent, static_cast<size_t>(got - sent));
        if (n <= 0) {
            return false;
        }
        sent += n;
    }
    return true;
}

}  // namespace

CHoldingProxy::CHoldingProxy(int targetPort) : m_targetPort(targetPort) {
    m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_listener < 0 || pipe2(m_wake, O_CLOEXEC) != 0 ||
        bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(m_listener, 16) != 0 ||
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("Cannot listen on loopback");
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Run(); });
}

CHoldingProxy::~CHoldingProxy() {
    m_stop = true;
    const char wake = 0;
    [[maybe_unused]] const ssize_t written = write(m_wake[1], &wake, 1);
    m_thread.join();
    for (CPair& pair : m_pairs) {
        CloseIfOpen(pair.client);
        CloseIfOpen(pair.server);
    }
    CloseIfOpen(m_listener);
    CloseIfOpen(m_wake[0]);
    CloseIfOpen(m_wake[1]);
}

void CHoldingProxy::DropFirst() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_first < m_pairs.size()) {
            shutdown(m_pairs[m_first].client, SHUT_RDWR);
            shutdown(m_pairs[m_first].server, SHUT_RDWR);
        }
    }
    const char wake = 0;
    [[maybe_unused]] const ssize_t written = write(m_wake[1], &wake, 1);
}

void CHoldingProxy::Run() {
    while (!m_stop) {
        std::vector<pollfd> waits = {{m_listener, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        std::vector<size_t> owners;  // the pair of each wait after the first two
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (size_t i = 0; i < m_pairs.size(); ++i) {
                if (m_pairs[i].client < 0 || (i == m_first && m_holdFirst)) {
                    continue;
                }
                waits.push_back({m_pairs[i].client, POLLIN, 0});
                waits.push_back({m_pairs[i].server, POLLIN, 0});
                owners.push_back(i);
                owners.push_back(i);
            }
        }
        // A short wait, so that holding the first connection takes effect between two reads.
        if (poll(waits.data(), waits.size(), 20) < 0) {
            continue;
        }
        if (waits[1].revents != 0) {
            char drained[64];
            [[maybe_unused]] const ssize_t got = read(m_wake[0], drained, sizeof drained);
        }
        if (waits[0].revents & POLLIN) {
            const int client = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in target{};
            target.sin_family = AF_INET;
            target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            target.sin_port = htons(static_cast<uint16_t>(m_targetPort));
            std::lock_guard<std::mutex> lock(m_mutex);
            if (client >= 0 && server >= 0 &&
                connect(server, reinterpret_cast<sockaddr*>(&target), sizeof target) == 0) {
                m_pairs.push_back({client, server});
            } else {
                CPair failed{client, server};
                CloseIfOpen(failed.client);
                CloseIfOpen(failed.server);
            }
        }
        for (size_t w = 2; w < waits.size(); ++w) {
            if (waits[w].revents == 0) {
                continue;
            }
            std::lock_guard<std::mutex> lock(m_mutex);
            const size_t owner = owners[w - 2];
            CPair& pair = m_pairs[owner];
            if (pair.client < 0 || (owner == m_first && m_holdFirst)) {
                continue;
            }
            const bool fromClient = waits[w].fd == pair.client;
            if (!Carry(waits[w].fd, fromClient ? pair.server : pair.client)) {
                CloseIfOpen(pair.client);
                CloseIfOpen(pair.server);
            } else if (m_first == SIZE_MAX) {
                m_first = owner;
            }
        }
    }
}
