#pragma once
// One IPv4 or IPv6 stream socket handle, owned (closed by the destructor). Every failure throws a
// TSocketError with the operation, the message and the kind below; programming checks
// (an operation on a closed socket, create on an open one) throw kind Check.
//
//   create   "create"  1        bind    "bind"   3       connect "connect" 5
//   send     "timeout" 6 (not writable within the time-out), "connection" 7 (send failed)
//   accept   "accept"  13       listen  "listen" 14
//   receive  "select error --> endless" 19, "timeout" 20, "error" 21
//
// shutdown() may be called from another thread while this socket's owner is blocked in
// accept, receive or send: it releases that call. Everything else belongs to the owner.

#include "support/Communication/TCommSocket/sockaddr.h"

#include <functional>
#include <sys/socket.h>

class Socket {
public:
    Socket() = default;
    ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;

    // Room for connections not yet accepted. A sender that opens a connection for every send step
    // may run ahead of its receiver; when the queue is full its connection requests are dropped
    // and each costs a one-second retransmission, so the queue is as long as the system allows.
    static constexpr int Backlog = SOMAXCONN;

    bool IsOpen() const { return handle_ >= 0; }
    int Handle() const { return handle_; }

    void create(int family = AF_INET);
    // Binds with SO_REUSEADDR, so a port can be bound again at once after a close.
    void bind(const SockAddr& local);
    void listen();
    // Accepts one peer into target (which must be closed). Returns false when the wait was
    // ended by shutdown() (no peer accepted).
    bool accept(Socket& target, SockAddr& peer);
    // Connects within timeoutMs; cancelled (a connect failure) as soon as cancel() is true.
    void connect(const SockAddr& remote, int timeoutMs, const std::function<bool()>& cancel);
    // Sends at most count bytes once writable within timeoutSeconds; returns the bytes sent.
    int send(const void* bytes, int count, int timeoutSeconds);
    // Receives at most size bytes, waiting timeoutSeconds (-1: no time-out) for data.
    // Returns 0 when the peer has closed the connection (or shutdown() was called).
    int receive(void* place, int size, int timeoutSeconds);
    // True when the peer has closed or reset the connection; discards bytes it sent.
    bool peerClosed();
    // Bytes sent that the peer's TCP has not acknowledged yet (SIOCOUTQ); 0 when closed.
    int unacknowledged() const;
    void setNoDelay();
    void shutdown();
    void close();

private:
    void Require(bool open, const char* check) const;

    int handle_ = -1;
};
