#pragma once
// A TCP listener on loopback that takes connections and never answers them: the kernel
// completes each handshake into the backlog, and nobody reads. What a client sees of a server
// that hangs before its first reply.

class CSilentServer {
  public:
    CSilentServer();
    ~CSilentServer();
    CSilentServer(const CSilentServer&) = delete;
    CSilentServer& operator=(const CSilentServer&) = delete;

    int Port() const { return m_port; }

  private:
    int m_socket = -1;
    int m_port = 0;
};
