#pragma once
// A TCP listener on loopback that never answers. Accepting: the kernel completes each handshake
// into the backlog, and nobody reads: what a client sees of a server that hangs before its first
// reply. Dropping: the backlog is full from the start (one connection of its own that is never
// accepted), so the kernel drops every new handshake: what a client sees of an address that no
// host answers, or of a firewall that drops.

class CSilentServer {
  public:
    enum class Handshakes { Accepted, Dropped };

    explicit CSilentServer(Handshakes handshakes = Handshakes::Accepted);
    ~CSilentServer();
    CSilentServer(const CSilentServer&) = delete;
    CSilentServer& operator=(const CSilentServer&) = delete;

    int Port() const { return m_port; }

  private:
    int m_socket = -1;
    int m_filler = -1;  // the connection that fills the backlog
    int m_port = 0;
};
