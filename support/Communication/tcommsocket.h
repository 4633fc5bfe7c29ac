#pragma once
// TCP channel: two one-way connections. Bytes go out over a connection that this node opens
// to the remote port, and come in over a connection that the peer opens to the local port.
// "SOC 127.0.0.1 5000 5001 1" and "SOC 127.0.0.1 5001 5000 1" talk to each other.
//
// Either direction rebuilds itself: a closed read channel accepts the next peer on the next
// receive step, a closed write channel connects again on the next send step that has bytes.
// A send step carries at most 1000 bytes: it peeks them, sends them and only then skips them,
// so bytes are neither lost nor repeated when a connection breaks between steps. With the
// keep-connection flag 0 every send step uses a connection of its own.
//
// The receive side stops reading from the socket while more than 1 MiB waits in the receive
// buffer (TCP then holds the sender back), so a flooding peer cannot exhaust memory.
//
// The local port listens on every address, or only on 127.0.0.1 when the remote address is a
// loopback address (the peer is then on this machine, and the port stays closed to the network).
//
// Read-channel states: 0 created, 1 bound, 2 listening, 3 peer accepted, 5 closed.
// Write-channel states: 0 created, 4 connected, 5 closed.

#include "support/Communication/TCommSocket/sockaddr.h"
#include "support/Communication/TCommSocket/socket.h"
#include "support/Communication/tacommunication.h"

#include <atomic>
#include <cstdint>
#include <mutex>

class TCommSocket final : public TACommunication {
public:
    static constexpr int SendStep = 1000;
    static constexpr int ReceiveRoom = 128;
    static constexpr int ReceiveLimit = 1 << 20;

    // Throws TBaseError("SockAddr::SockAddr", "address") for a remote address that is not dotted IPv4.
    TCommSocket(const TAString& remoteAddress, uint16_t remotePort, uint16_t localPort, bool keepConnection);
    ~TCommSocket() override;

    int ReadState() const { return readState_.load(); }
    int WriteState() const { return writeState_.load(); }

protected:
    bool Send() override;
    bool Receive() override;
    void Unblock() override;

private:
    void ConnectReadChannel();
    void ConnectWriteChannel();
    void CloseReadChannel();
    void CloseWriteChannel();

    bool keepConnection_;
    std::atomic<int> readState_{5};
    std::atomic<int> writeState_{5};
    // Guards the three handles between their owning thread (which creates and closes them)
    // and Unblock (which shuts them down from the destroying thread).
    std::mutex handles_;
    Socket write_;        // send thread
    SockAddr remote_;
    Socket listen_;       // receive thread
    Socket accepted_;     // receive thread
    SockAddr local_;
    SockAddr peer_;
};
