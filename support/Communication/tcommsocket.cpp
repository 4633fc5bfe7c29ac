#include "support/Communication/tcommsocket.h"

#include "support/Communication/TCommSocket/tsocketerror.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

constexpr auto ReceiveIdle = 50ms;
constexpr auto ConnectRetryPause = 20ms;
constexpr int ConnectTimeoutMs = 3000;
constexpr size_t StageSize = 64 * 1024;
constexpr auto AcknowledgeLook = 5ms;
constexpr auto LongestAcceptPause = std::chrono::milliseconds(2000);

std::mutex stallMutex;
std::chrono::milliseconds stallTime = TCommSocket::DefaultStall;

std::chrono::milliseconds StallTime()
{
    std::lock_guard guard(stallMutex);
    return stallTime;
}

bool OutOfResources(int code)
{
    return code == EMFILE || code == ENFILE || code == ENOBUFS || code == ENOMEM;
}

} // namespace

void TCommSocket::SetStallTime(std::chrono::milliseconds stall)
{
    std::lock_guard guard(stallMutex);
    stallTime = stall;
}

TCommSocket::TCommSocket(const TAString& remoteAddress, uint16_t remotePort, uint16_t localPort,
                         bool keepConnection, const TCommOptions& options)
    : TACommunication(std::nullopt, ReceiveIdle, options), keepConnection_(keepConnection), stall_(StallTime()),
      remote_(remoteAddress, remotePort),
      local_(remote_.IsLoopback() ? SockAddr::Loopback(localPort, remote_.Family())
                                  : SockAddr::Any(localPort, remote_.Family())),
      wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), stage_(StageSize)
{
    if (wake_ < 0)
        throw TBaseError("TCommSocket::TCommSocket", "eventfd");
    StartThreads();
}

TCommSocket::~TCommSocket()
{
    StopThreads();
    ReportUnread();
    ::close(wake_);
}

TAString TCommSocket::Where() const
{
    return "SOC " + remote_.Address() + " " + TAString(static_cast<int32_t>(remote_.Port())) + " "
           + TAString(static_cast<int32_t>(local_.Port())) + " " + (keepConnection_ ? "1" : "0");
}

void TCommSocket::Unblock()
{
    std::lock_guard guard(handles_);
    listen_.shutdown();
    for (auto& connection : connections_)
        connection.socket.shutdown();
    write_.shutdown();
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);
}

void TCommSocket::UnblockReceive()
{
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);
}

void TCommSocket::FinalReceive()
{
    // Peers that have connected and not been accepted yet count as well.
    for (;;) {
        if (readState_ != 2 && readState_ != 3)
            break;
        pollfd wait{listen_.Handle(), POLLIN, 0};
        if (::poll(&wait, 1, 0) != 1 || !(wait.revents & POLLIN))
            break;
        const size_t before = connections_.size();
        AcceptPeer();
        if (connections_.size() == before)
            break;
    }
    for (auto& connection : connections_) {
        // What the connection has brought so far, as far as it fits.
        for (;;) {
            const size_t may = std::min(MayReceive(connection.stream), stage_.size());
            if (may == 0)
                break;
            const ssize_t got = ::recv(connection.socket.Handle(), stage_.data(), may, MSG_DONTWAIT);
            if (got <= 0)
                break;
            Deliver(connection.stream, stage_.data(), static_cast<size_t>(got));
        }
    }
}

size_t TCommSocket::HeldBytes() const
{
    std::lock_guard guard(handles_);
    return restLeft_.load(std::memory_order_relaxed) + static_cast<size_t>(write_.unacknowledged());
}

void TCommSocket::CloseListener()
{
    std::lock_guard guard(handles_);
    listen_.close();
    readState_ = 5;
}

void TCommSocket::CloseWriteChannel()
{
    std::lock_guard guard(handles_);
    write_.close();
    writeState_ = 5;
}

void TCommSocket::OpenListener()
{
    try {
        {
            std::lock_guard guard(handles_);
            if (IsStopping())
                return;
            listen_.create(local_.Family());
        }
        readState_ = 0;
        listen_.bind(local_);
        readState_ = 1;
        listen_.listen();
        readState_ = 2;
    } catch (const TSocketError& error) {
        switch (error.Kind()) {
        case TSocketError::Create:
            break;
        case TSocketError::Bind:
            if (!bindReported_.exchange(true))
                TAThread::Report("TCommSocket::ConnectReadChannel bind",
                                 TBaseError(error.Operation(), error.Message(),
                                            Where() + ": local port " + TAString(static_cast<int32_t>(local_.Port()))
                                                + " cannot be bound (" + std::strerror(error.Code())
                                                + "); nothing is received until it can"));
            [[fallthrough]];
        case TSocketError::Listen:
            CloseListener();
            break;
        default:
            throw TBaseError("TCommSocket::ConnectReadChannel", "Fatal");
        }
        readState_ = 5;
    }
}

void TCommSocket::AcceptPeer()
{
    TConnection connection;
    connection.stream.resync = true;
    try {
        if (!listen_.accept(connection.socket, connection.peer))
            return;
    } catch (const TSocketError& error) {
        if (!OutOfResources(error.Code()))
            return;   // the peer gave up before it was accepted
        // The peer stays queued; trying again at once would spin.
        acceptPause_ = std::min(std::max(acceptPause_ * 2, std::chrono::milliseconds(50)), LongestAcceptPause);
        if (!acceptReported_) {
            acceptReported_ = true;
            TAThread::Report("TCommSocket::Receive accept",
                             TBaseError("Socket::accept", "accept",
                                        Where() + ": a peer cannot be accepted (" + std::strerror(error.Code())
                                            + "); it waits, and accepting is tried again after a pause"));
        }
        PauseReceive(acceptPause_);
        return;
    }
    acceptPause_ = std::chrono::milliseconds(0);
    std::lock_guard guard(handles_);
    if (IsStopping())
        return;
    connections_.push_back(std::move(connection));
    readState_ = 3;
}

bool TCommSocket::ReadFrom(TConnection& connection)
{
    const size_t may = std::min(MayReceive(connection.stream), stage_.size());
    if (may == 0)
        return true;
    const ssize_t got = ::recv(connection.socket.Handle(), stage_.data(), may, MSG_DONTWAIT);
    if (got > 0) {
        Deliver(connection.stream, stage_.data(), static_cast<size_t>(got));
        return true;
    }
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return true;
    // The peer closed (or reset) its connection: its stream ends here.
    EndStream(connection.stream, "SOC connection from " + connection.peer.Address() + ":"
                                     + TAString(static_cast<int32_t>(connection.peer.Port())));
    return false;
}

bool TCommSocket::Receive()
{
    if (ReceiveStopping())
        return false;
    // Flow control: Read wakes this thread once the application has taken bytes.
    if (MayReceive(TInbound{}) < ReceiveRoom)
        return false;
    if (readState_ == 5)
        OpenListener();
    if (readState_ != 2 && readState_ != 3)
        return false;

    std::vector<pollfd> waits;
    waits.reserve(connections_.size() + 2);
    waits.push_back({wake_, POLLIN, 0});
    waits.push_back({listen_.Handle(), POLLIN, 0});
    for (const auto& connection : connections_)
        waits.push_back({connection.socket.Handle(), POLLIN, 0});
    if (::poll(waits.data(), waits.size(), -1) < 0)
        return errno == EINTR;
    if (ReceiveStopping())
        return false;

    for (size_t i = 0; i < connections_.size();) {
        if (waits[i + 2].revents != 0 && !ReadFrom(connections_[i])) {
            std::lock_guard guard(handles_);
            connections_.erase(connections_.begin() + static_cast<std::ptrdiff_t>(i));
            waits.erase(waits.begin() + static_cast<std::ptrdiff_t>(i + 2));
            continue;
        }
        ++i;
    }
    if (waits[1].revents & (POLLERR | POLLHUP | POLLNVAL)) {
        CloseListener();
        return false;
    }
    if (waits[1].revents & POLLIN)
        AcceptPeer();
    readState_ = connections_.empty() ? 2 : 3;
    return true;
}

void TCommSocket::ConnectWriteChannel()
{
    if (writeState_ == 4)
        return;
    try {
        {
            std::lock_guard guard(handles_);
            if (IsStopping())
                return;
            write_.create(remote_.Family());
        }
        writeState_ = 0;
        write_.connect(remote_, ConnectTimeoutMs, [this] { return IsStopping(); });
        write_.setNoDelay();
        std::lock_guard guard(handles_);
        if (IsStopping())
            return;
        writeState_ = 4;
    } catch (const TSocketError& error) {
        switch (error.Kind()) {
        case TSocketError::Create:
            break;
        case TSocketError::Connect:
            CloseWriteChannel();
            break;
        default:
            throw TBaseError("TCommSocket::ConnectWriteChannel", "Fatal");
        }
        writeState_ = 5;
    }
}

void TCommSocket::LoseWriteChannel(const TAString& why)
{
    const int held = write_.unacknowledged();
    CloseWriteChannel();
    if (held > 0)
        TAThread::Report("TCommSocket::Send Connection lost",
                         TBaseError("TCommSocket::Send", "Connection lost",
                                    Where() + ": the connection broke (" + why + ") with "
                                        + TAString(std::to_string(held))
                                        + " bytes sent but not acknowledged by the peer; they may not have arrived"));
}

void TCommSocket::ReportStall()
{
    if (stallOn_.exchange(true))
        return;
    TAThread::Report("TCommSocket::Send Peer not reading",
                     TBaseError("TCommSocket::Send", "Peer not reading",
                                Where() + ": the peer has taken nothing for "
                                    + TAString(static_cast<double>(stall_.count()) / 1000.0, 0, 1)
                                    + " s; the records wait on the same connection (a new one could overtake them)"));
}

bool TCommSocket::WaitAcknowledged()
{
    auto waited = std::chrono::milliseconds(0);
    while (write_.unacknowledged() > 0) {
        if (write_.peerClosed()) {
            LoseWriteChannel("closed by the peer");
            return true;
        }
        if (!PauseSend(AcknowledgeLook))
            return false;
        waited += AcknowledgeLook;
        if (waited >= stall_)
            ReportStall();
    }
    return true;
}

void TCommSocket::NotifySendData()
{
    // Bytes wait in the send buffer (or a Drain wants everything out): they follow what
    // has left directly, so the send thread writes from here on.
    queued_.fetch_add(1, std::memory_order_release);
    if (owner_.load(std::memory_order_relaxed) == OwnerProducer)
        owner_.store(OwnerThread, std::memory_order_release);
    TACommunication::NotifySendData();
}

void TCommSocket::HandBack()
{
    owner_.store(OwnerThread, std::memory_order_release);
    WakeSend();
}

ssize_t TCommSocket::SendNow(const uint8_t* bytes, size_t count)
{
    for (;;) {
        const ssize_t sent = ::send(write_.Handle(), bytes, count, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0 || errno != EINTR)
            return sent;
    }
}

std::optional<TACommunication::TOffer> TCommSocket::OfferDirect(const void* bytes, size_t count)
{
    if (!keepConnection_)
        return std::nullopt;   // every send step has a connection of its own: the send thread's work
    if (owner_.load(std::memory_order_acquire) != OwnerProducer) {
        // No connection stands yet, or the send thread still has bytes to send on it.
        if (!connectWanted_.exchange(true))
            WakeSend();
        return TOffer::Busy;
    }
    if (handoverMark_ != queued_.load(std::memory_order_relaxed)) {
        // Bytes were queued after the send thread looked: they go first, from the send thread.
        HandBack();
        return TOffer::Busy;
    }
    const auto busy = [this] {
        const int64_t now = std::chrono::duration_cast<std::chrono::microseconds>(
                                std::chrono::steady_clock::now().time_since_epoch())
                                .count();
        if (busySince_ == 0) {
            busySince_ = now;
        } else if (!stallAsked_ && now - busySince_ >= stall_.count() * 1000) {
            stallAsked_ = true;
            stallDue_ = true;
            WakeSend();
        }
        return TOffer::Busy;
    };
    const auto failed = [this](int code) {
        lostCode_ = code;
        connectWanted_ = true;
        HandBack();
        return TOffer::Busy;
    };
    const auto* from = static_cast<const uint8_t*>(bytes);
    const ssize_t sent = SendNow(from, count);
    if (sent < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK ? busy() : failed(errno);
    busySince_ = 0;
    stallAsked_ = false;
    if (stallOn_.load(std::memory_order_relaxed))
        stallOn_.store(false, std::memory_order_relaxed);   // the peer takes again: a new stall is told again
    const auto taken = static_cast<size_t>(sent);
    if (taken < count) {
        // The socket took part: the send thread sends the rest as soon as the socket has
        // room (and again whole, from the start of the record it cut, should the
        // connection break), before anything else.
        const size_t unit = RecordSize();
        const size_t start = taken - taken % unit;
        rest_.assign(from + start, from + count);
        restSent_ = taken - start;
        restLeft_.store(count - taken, std::memory_order_relaxed);
        HandBack();
    }
    return TOffer::Taken;
}

void TCommSocket::RestartRest()
{
    // The connection broke: the records of the rest that left whole count as sent; the one
    // it cut goes again, whole, on the next connection.
    const size_t unit = RecordSize();
    const size_t whole = restSent_ - restSent_ % unit;
    rest_.erase(rest_.begin(), rest_.begin() + static_cast<std::ptrdiff_t>(whole));
    restSent_ = 0;
    restLeft_.store(rest_.size(), std::memory_order_relaxed);
}

TCommSocket::TWriteStep TCommSocket::PrepareWrite(const std::function<void()>& onLost,
                                                  std::chrono::steady_clock::time_point& idleSince)
{
    const bool lost = writeState_ == 4 && write_.peerClosed();
    if (lost) {
        LoseWriteChannel("closed by the peer");
        onLost();
    }
    if (writeState_ == 5)
        ConnectWriteChannel();
    const bool up = writeState_ == 4;
    if (lost || !up)
        idleSince = std::chrono::steady_clock::now();   // a stall is judged on one connection
    if (up)
        return TWriteStep::Send;
    return PauseSend(ConnectRetryPause) ? TWriteStep::Again : TWriteStep::Stop;
}

size_t TCommSocket::SendAWhile(const uint8_t* bytes, size_t count, std::chrono::steady_clock::time_point& idleSince)
{
    // Short waits, so that a stop is noticed; the stall is judged over all of them.
    const auto stallTime = std::chrono::seconds(std::max<int64_t>(1, (stall_.count() + 999) / 1000));
    try {
        const auto sent = static_cast<size_t>(write_.send(bytes, static_cast<int>(count), 1));
        idleSince = std::chrono::steady_clock::now();
        stallOn_ = false;
        return sent;
    } catch (const TSocketError& error) {
        if (error.Kind() != TSocketError::SendTimeout)
            throw;
        if (std::chrono::steady_clock::now() - idleSince >= stallTime)
            ReportStall();
        return 0;
    }
}

bool TCommSocket::FinishRest()
{
    auto idleSince = std::chrono::steady_clock::now();
    while (restSent_ < rest_.size()) {
        if (IsStopping())
            return false;
        const TWriteStep next = PrepareWrite([this] { RestartRest(); }, idleSince);
        if (next == TWriteStep::Stop)
            return false;
        if (next == TWriteStep::Again)
            continue;
        try {
            restSent_ += SendAWhile(rest_.data() + restSent_, rest_.size() - restSent_, idleSince);
        } catch (const TBaseError& error) {
            LoseWriteChannel(error.Message());
            RestartRest();
            idleSince = std::chrono::steady_clock::now();
        }
        restLeft_.store(rest_.size() - restSent_, std::memory_order_relaxed);
    }
    rest_.clear();
    restSent_ = 0;
    restLeft_.store(0, std::memory_order_relaxed);
    return true;
}

bool TCommSocket::HandOver()
{
    if (IsStopping())
        return false;
    if (writeState_ == 4 && write_.peerClosed())
        LoseWriteChannel("closed by the peer");
    if (writeState_ != 4) {
        if (!connectWanted_.load())
            return false;   // nobody offers anything: no connection is made
        ConnectWriteChannel();
        if (writeState_ != 4)
            return PauseSend(ConnectRetryPause);
    }
    // The count first: a write queued after it makes the producer hand the connection back.
    const uint64_t mark = queued_.load(std::memory_order_acquire);
    if (SendBuffer().Count() != 0)
        return true;
    connectWanted_ = false;
    handoverMark_ = mark;
    owner_.store(OwnerProducer, std::memory_order_release);
    return false;
}

bool TCommSocket::Send()
{
    if (stallDue_.exchange(false))
        ReportStall();
    if (owner_.load(std::memory_order_acquire) == OwnerProducer)
        return false;   // the producer writes the connection itself
    if (const int code = lostCode_.exchange(0); code != 0 && writeState_ == 4) {
        LoseWriteChannel(std::strerror(code));
        RestartRest();
    }
    if (!rest_.empty() && !FinishRest())
        return false;
    TABuffer& buffer = SendBuffer();
    const size_t unit = RecordSize();
    size_t step = std::min(buffer.Count(), std::max(SendStep / unit, size_t{1}) * unit);
    step -= step % unit;
    if (step == 0)
        return keepConnection_ ? HandOver() : false;
    std::vector<uint8_t> stage(step);
    buffer.Peek(stage.data(), step);
    size_t start = 0;   // the first byte of the stage not yet sent whole on some connection
    size_t done = 0;    // bytes of the stage the current connection has taken
    // The connection broke: the records it took whole count as sent; the one it took only
    // part of goes again, whole, on the next connection.
    const auto broke = [&] {
        const size_t whole = done - done % unit;
        buffer.Skip(whole);
        start += whole;
        done = 0;
    };
    auto idleSince = std::chrono::steady_clock::now();
    while (start + done < step) {
        if (IsStopping()) {
            buffer.Skip(done - done % unit);
            return false;
        }
        const TWriteStep next = PrepareWrite(broke, idleSince);
        if (next == TWriteStep::Stop)
            return false;
        if (next == TWriteStep::Again)
            continue;
        try {
            done += SendAWhile(stage.data() + start + done, step - start - done, idleSince);
        } catch (const TBaseError& error) {
            LoseWriteChannel(error.Message());
            broke();
            idleSince = std::chrono::steady_clock::now();
        }
    }
    buffer.Skip(done);
    if (!keepConnection_) {
        // The next step's connection must not overtake what this one still holds.
        if (!WaitAcknowledged())
            return false;
        CloseWriteChannel();
    }
    return true;
}
