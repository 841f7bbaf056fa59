#pragma once
// A TCP proxy on loopback in front of a server, which can stop carrying the data of its first
// connection while it goes on carrying every later one (the first that carried data: one closed
// before it carried anything, such as a look whether the address answers, does not count): what a
// client sees of a firewall or NAT that dropped one flow, or of a half-open socket after a network
// change. The held connection stays open at both ends; nothing reaches either side.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class CHoldingProxy {
  public:
    // Listens on a free loopback port and forwards each connection to 127.0.0.1:`targetPort`.
    explicit CHoldingProxy(int targetPort);
    ~CHoldingProxy();
    CHoldingProxy(const CHoldingProxy&) = delete;
    CHoldingProxy& operator=(const CHoldingProxy&) = delete;

    int Port() const { return m_port; }
    // From now on the first connection carries nothing; later ones are not touched.
    void HoldFirst() { m_holdFirst = true; }
    // Closes both ends of the first connection (the server then sees it go).
    void DropFirst();

  private:
    struct CPair {
        int client = -1;
        int server = -1;
    };
    void Run();

    int m_listener = -1;
    int m_port = 0;
    int m_targetPort = 0;
    int m_wake[2] = {-1, -1};  // a pipe that ends the thread's wait
    std::atomic<bool> m_holdFirst{false};
    size_t m_first = SIZE_MAX;  // the index of the first pair that carried data
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::vector<CPair> m_pairs;  // in the order accepted
    std::thread m_thread;
};
