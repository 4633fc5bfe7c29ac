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

} // namespace

TCommSocket::TCommSocket(const TAString& remoteAddress, uint16_t remotePort, uint16_t localPort,
                         bool keepConnection, size_t recordSize)
    : TACommunication(std::nullopt, ReceiveIdle, recordSize), keepConnection_(keepConnection),
      remote_(remoteAddress, remotePort),
      local_(remote_.IsLoopback() ? SockAddr("127.0.0.1", localPort) : SockAddr::Any(localPort)),
      wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), stage_(StageSize)
{
    if (wake_ < 0)
        throw TBaseError("TCommSocket::TCommSocket", "eventfd");
    StartThreads();
}

TCommSocket::~TCommSocket()
{
    StopThreads();
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
            listen_.create();
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
    try {
        if (!listen_.accept(connection.socket, connection.peer))
            return;
    } catch (const TSocketError&) {
        return;   // the peer gave up before it was accepted
    }
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
    if (IsStopping())
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
            write_.create();
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

bool TCommSocket::Send()
{
    TABuffer& buffer = SendBuffer();
    const size_t unit = RecordSize();
    size_t step = std::min(buffer.Count(), std::max(SendStep / unit, size_t{1}) * unit);
    step -= step % unit;
    if (step == 0)
        return false;
    std::vector<uint8_t> stage(step);
    buffer.Peek(stage.data(), step);
    size_t start = 0;   // the first byte of the stage not yet sent whole on some connection
    size_t done = 0;    // bytes of the stage the current connection has taken
    while (start + done < step) {
        if (IsStopping()) {
            buffer.Skip(done - done % unit);
            return false;
        }
        if (writeState_ == 4 && write_.peerClosed())
            CloseWriteChannel();
        if (writeState_ == 5)
            ConnectWriteChannel();
        if (writeState_ != 4) {
            if (!PauseSend(ConnectRetryPause))
                return false;
            continue;
        }
        try {
            while (start + done < step) {
                const size_t left = step - start - done;
                done += static_cast<size_t>(
                    write_.send(stage.data() + start + done, static_cast<int>(left), static_cast<int>(1 + left / 10)));
            }
        } catch (const TBaseError&) {
            CloseWriteChannel();
            // Records the connection took whole count as sent; the one it took only part of
            // goes again, whole, on the next connection.
            const size_t whole = done - done % unit;
            buffer.Skip(whole);
            start += whole;
            done = 0;
        }
    }
    buffer.Skip(done);
    if (!keepConnection_)
        CloseWriteChannel();
    return true;
}
