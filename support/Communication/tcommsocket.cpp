#include "support/Communication/tcommsocket.h"

#include "support/Communication/TCommSocket/tsocketerror.h"

#include <algorithm>

namespace {

using namespace std::chrono_literals;

constexpr auto ReceiveIdle = 50ms;
constexpr auto ConnectRetryPause = 20ms;
constexpr int ConnectTimeoutMs = 3000;

} // namespace

TCommSocket::TCommSocket(const TAString& remoteAddress, uint16_t remotePort, uint16_t localPort,
                         bool keepConnection)
    : TACommunication(std::nullopt, ReceiveIdle), keepConnection_(keepConnection),
      remote_(remoteAddress, remotePort),
      local_(remote_.IsLoopback() ? SockAddr("127.0.0.1", localPort) : SockAddr::Any(localPort))
{
    StartThreads();
}

TCommSocket::~TCommSocket()
{
    StopThreads();
}

void TCommSocket::Unblock()
{
    std::lock_guard guard(handles_);
    listen_.shutdown();
    accepted_.shutdown();
    write_.shutdown();
}

void TCommSocket::CloseReadChannel()
{
    std::lock_guard guard(handles_);
    accepted_.close();
    listen_.close();
    readState_ = 5;
}

void TCommSocket::CloseWriteChannel()
{
    std::lock_guard guard(handles_);
    write_.close();
    writeState_ = 5;
}

void TCommSocket::ConnectReadChannel()
{
    if (readState_ == 3)
        return;
    try {
        if (readState_ == 5) {
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
        }
        {
            // From here on a shutdown by Unblock releases the accept.
            std::lock_guard guard(handles_);
            if (IsStopping())
                return;
        }
        Socket peer;
        if (!listen_.accept(peer, peer_)) {
            CloseReadChannel();
            return;
        }
        std::lock_guard guard(handles_);
        if (IsStopping())
            return;
        accepted_ = std::move(peer);
        readState_ = 3;
    } catch (const TSocketError& error) {
        switch (error.Kind()) {
        case TSocketError::Create:
            break;
        case TSocketError::Bind:
        case TSocketError::Listen:
        case TSocketError::Accept:
            CloseReadChannel();
            break;
        default:
            throw TBaseError("TCommSocket::ConnectReadChannel", "Fatal");
        }
        readState_ = 5;
    }
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

bool TCommSocket::Receive()
{
    TABuffer& buffer = ReceiveBuffer();
    // Flow control: Read wakes this thread once the application has taken bytes.
    if (buffer.Count() > ReceiveLimit)
        return false;
    ConnectReadChannel();
    if (readState_ != 3)
        return false;
    const int room = std::max(ReceiveRoom, buffer.ContiguousFree());
    uint8_t* place = buffer.GetDirectWrite(room);
    int got = 0;
    try {
        got = accepted_.receive(place, room, -1);
    } catch (const TBaseError&) {
        CloseReadChannel();
        return false;
    }
    if (got > 0) {
        buffer.SetNDirectWrite(got);
        return true;
    }
    // The peer closed its connection: the listening socket stays open, so a peer that
    // has already connected again (it may have sent data too) is accepted next.
    {
        std::lock_guard guard(handles_);
        accepted_.close();
        readState_ = 2;
    }
    return true;
}

bool TCommSocket::Send()
{
    TABuffer& buffer = SendBuffer();
    const int step = std::min(buffer.Count(), SendStep);
    if (step == 0)
        return false;
    uint8_t stage[SendStep];
    int sent = 0;
    while (sent < step) {
        if (IsStopping() || buffer.Count() == 0)
            return false;
        if (writeState_ == 4 && write_.peerClosed())
            CloseWriteChannel();
        if (writeState_ == 5)
            ConnectWriteChannel();
        if (writeState_ != 4) {
            if (!PauseSend(ConnectRetryPause))
                return false;
            continue;
        }
        const int part = buffer.Peek(stage, step - sent);
        int done = 0;
        try {
            while (done < part)
                done += write_.send(stage + done, part - done, 1 + part / 10);
        } catch (const TBaseError&) {
            CloseWriteChannel();
        }
        buffer.Skip(done);
        sent += done;
    }
    if (!keepConnection_)
        CloseWriteChannel();
    return true;
}
