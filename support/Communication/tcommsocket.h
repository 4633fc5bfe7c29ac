#pragma once
// TCP channel: two one-way connections. Bytes go out over a connection that this node opens
// to the remote port, and come in over connections that peers open to the local port.
// "SOC 127.0.0.1 5000 5001 1" and "SOC 127.0.0.1 5001 5000 1" talk to each other.
//
// Either direction rebuilds itself: the read side goes on listening and accepts the next
// peer, a closed write channel connects again on the next send step that has bytes.
// A send step carries at most 1000 bytes, cut at a record boundary (41 records of 24
// bytes): it peeks them, sends them and only then skips them, so bytes are neither lost
// nor repeated when a connection breaks between steps. When a connection breaks within
// a step, the records it took whole count as sent and the record it took only part of is
// sent again, whole, on the next connection (the peer drops the cut part); what the broken
// connection held unacknowledged is reported as possibly lost. With the keep-connection
// flag 0 every send step uses a connection of its own, closed once the peer's TCP has
// acknowledged all of it.
//
// Records leave in order: no new connection is made while the old one holds bytes the
// peer has not acknowledged. A peer that takes nothing for the stall time (100 s unless
// set otherwise) is reported (once per stall); the records wait on the same connection.
// "Delivered" (Drain) means acknowledged by the peer's TCP: the bytes have reached the
// peer's machine. Whether the program there has read them cannot be known from here.
//
// The remote address is a host name, a dotted IPv4 address or an IPv6 literal; the local
// port listens with the same family.
//
// The read side serves every connected peer at once (several senders may share one
// receiver); each connection is its own stream, so records of different peers never mix
// and a peer that leaves inside a record only loses that record (a cut record).
// It stops reading while the receive buffer is full (1 MiB; TCP then holds the senders
// back), so a flooding peer cannot exhaust memory.
//
// The local port listens on every address, or only on the loopback address when the remote address
// is one (the peer is then on this machine, and the port stays closed to the network).
// A local port that cannot be bound is reported once; the channel keeps trying. An accept
// that fails for want of descriptors or memory (EMFILE, ENFILE, ENOBUFS, ENOMEM) is reported
// once and tried again after a pause that doubles up to 2 s.
//
// Every connection is a byte stream that may come from anything: it is read record by
// record with the record check, sliding past bytes that do not make a valid record.
//
// Sending from the producer's thread (Offer): once a kept write connection stands and the
// send buffer is empty, the send thread hands the connection to the producer, which then
// writes each record to the socket itself without waiting (a real-time producer reaches
// the medium with no thread hand-off and no lock in between). A socket that cannot take
// the bytes now (EAGAIN) is back-pressure: nothing is taken and the producer offers again
// later. When the socket takes only part of the bytes, the offer counts as taken and the
// connection goes back to the send thread, which sends the rest first. Anything else hands the
// connection back to the send thread: a Write into the send buffer, a Drain, a broken
// connection (the send thread reports it, connects again and sends again whole the record
// that was cut). An offer while no connection stands asks the send thread to connect and
// is Busy. A handover carries the count of the producer's queued writes at that moment,
// so the producer never writes directly past bytes still waiting in the send buffer.
//
// Read-channel states: 0 created, 1 bound, 2 listening, 3 at least one peer connected, 5 closed.
// Write-channel states: 0 created, 4 connected, 5 closed.

#include "support/Communication/TCommSocket/sockaddr.h"
#include "support/Communication/TCommSocket/socket.h"
#include "support/Communication/tacommunication.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

class TCommSocket final : public TACommunication {
public:
    static constexpr size_t SendStep = 1000;
    static constexpr size_t ReceiveRoom = 128;
    static constexpr size_t ReceiveLimit = TABuffer::DefaultLimit;

    static constexpr std::chrono::milliseconds DefaultStall{100000};
    // The stall time of channels made from now on (tests); DefaultStall when not set.
    static void SetStallTime(std::chrono::milliseconds stall);

    // Throws TBaseError("SockAddr::SockAddr", "address") for a remote address that names no host.
    TCommSocket(const TAString& remoteAddress, uint16_t remotePort, uint16_t localPort, bool keepConnection,
                const TCommOptions& options = {});
    ~TCommSocket() override;

    TAString Where() const override;
    int ReadState() const { return readState_.load(); }
    int WriteState() const { return writeState_.load(); }

protected:
    bool Send() override;
    bool Receive() override;
    void Unblock() override;
    void UnblockReceive() override;
    void FinalReceive() override;
    size_t HeldBytes() const override;
    std::optional<TOffer> OfferDirect(const void* bytes, size_t count) override;
    void NotifySendData() override;

private:
    struct TConnection {
        Socket socket;
        SockAddr peer;
        TInbound stream;
    };

    void OpenListener();
    void AcceptPeer();
    // Reads what connection has; false when the peer has left (the connection is closed).
    bool ReadFrom(TConnection& connection);
    void ConnectWriteChannel();
    void CloseListener();
    void CloseWriteChannel();
    // The write connection broke: reports what it held unacknowledged, then closes it.
    void LoseWriteChannel(const TAString& why);
    // Waits until the peer has acknowledged everything sent (false: stopping).
    bool WaitAcknowledged();
    void ReportStall();
    // Send thread, before each send of a loop: a connection the peer closed is dropped
    // (onLost then settles what it took) and a new one tried; the stall clock restarts with
    // a new connection. Send: one stands; Again: none, after a pause; Stop: stopping.
    enum class TWriteStep { Send, Again, Stop };
    TWriteStep PrepareWrite(const std::function<void()>& onLost, std::chrono::steady_clock::time_point& idleSince);
    // Send thread: up to count bytes onto the connection, waiting a moment for room; the
    // bytes it took (0: none within the wait). A socket that has taken nothing since
    // idleSince for the stall time is told as a stall. Throws TBaseError when it fails.
    size_t SendAWhile(const uint8_t* bytes, size_t count, std::chrono::steady_clock::time_point& idleSince);
    // Send thread: the kept connection goes to the producer once it stands and nothing waits;
    // true to be called again at once.
    bool HandOver();
    // Send thread: sends what is left of a record the producer's socket took only in part.
    bool FinishRest();
    // Send thread: after a broken connection, what of the rest goes again on the next one.
    void RestartRest();
    // Producer: the connection goes back to the send thread (woken).
    void HandBack();
    // Producer: sends what the socket takes of bytes now; the bytes taken, or -1 (errno set).
    ssize_t SendNow(const uint8_t* bytes, size_t count);

    bool keepConnection_;
    std::atomic<int> readState_{5};
    std::atomic<int> writeState_{5};
    std::atomic<bool> bindReported_{false};
    std::chrono::milliseconds stall_;
    // A stall has been told and no byte has left since (either thread).
    std::atomic<bool> stallOn_{false};
    bool acceptReported_ = false;             // receive thread
    std::chrono::milliseconds acceptPause_{0};   // receive thread
    // Guards the handles between their owning thread (which creates and closes them)
    // and Unblock (which shuts them down from the destroying thread).
    mutable std::mutex handles_;
    Socket write_;        // send thread
    SockAddr remote_;
    Socket listen_;       // receive thread
    std::vector<TConnection> connections_;   // receive thread
    SockAddr local_;
    int wake_ = -1;       // eventfd: Unblock ends the receive thread's wait
    std::vector<uint8_t> stage_;   // receive thread

    // Who writes the write connection: the send thread, or the producer (Offer).
    enum TOwner : int { OwnerThread, OwnerProducer };
    std::atomic<int> owner_{OwnerThread};
    std::atomic<uint64_t> queued_{0};       // producer: writes queued so far (after each)
    uint64_t handoverMark_ = 0;             // queued_ when the send thread handed over
    std::atomic<bool> connectWanted_{false};
    std::atomic<int> lostCode_{0};          // errno of a send failure the producer met
    // The bytes of a record (or more) the socket took only in part, from the start of that
    // record, and how many of them have left on the current connection: the producer
    // fills them and hands the connection to the send thread, which sends them.
    std::vector<uint8_t> rest_;
    size_t restSent_ = 0;
    std::atomic<size_t> restLeft_{0};
    // Producer: since when (µs, steady clock) the socket has taken nothing; 0 = it takes.
    int64_t busySince_ = 0;
    bool stallAsked_ = false;               // producer
    std::atomic<bool> stallDue_{false};     // the send thread reports the stall
};
