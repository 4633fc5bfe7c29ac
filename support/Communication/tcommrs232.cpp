#include "support/Communication/tcommrs232.h"

#include "support/Communication/trs232.h"
#include "support/Communication/trs232error.h"

#include <QThread>

#include <cerrno>
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

namespace {

// Runs the port's thread as a QThread: QSerialPort expects a thread that Qt started.
// The end of the body is also announced through a standard mutex, so that the join is a
// synchronisation point that thread checkers can see.
TAThread::TJoin QtLauncher(std::function<void()> body)
{
    struct TDone {
        std::mutex mutex;
        std::condition_variable changed;
        bool done = false;
    };
    auto done = std::make_shared<TDone>();
    std::shared_ptr<QThread> thread(QThread::create([body = std::move(body), done] {
        body();
        std::lock_guard guard(done->mutex);
        done->done = true;
        done->changed.notify_all();
    }));
    thread->start();
    return [thread, done] {
        {
            std::unique_lock lock(done->mutex);
            done->changed.wait(lock, [&] { return done->done; });
        }
        thread->wait();
    };
}

} // namespace

TCommRs232::TCommRs232(const TAString& port, uint32_t bitRate, uint8_t dataBits, char parity,
                       const TCommOptions& options)
    : TACommunication(std::nullopt, std::nullopt, options), port_(port), bitRate_(bitRate), dataBits_(dataBits),
      parity_(parity), wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (wake_ < 0)
        throw TBaseError("TCommRs232::TCommRs232", "eventfd");
    auto opened = opened_.get_future();
    // The port is closed on its own thread too, when the thread's loop has ended.
    StartThreads([this](std::function<void()> body) {
        return QtLauncher([this, body = std::move(body)] {
            body();
            rs232_.reset();
        });
    }, true);
    try {
        opened.get();
    } catch (...) {
        StopThreads();
        ::close(wake_);
        throw;
    }
}

TCommRs232::~TCommRs232()
{
    StopThreads();
    ReportUnread();
    ::close(wake_);
}

TAString TCommRs232::Where() const
{
    return "COM " + port_ + " " + TAString(std::to_string(bitRate_)) + " " + TAString(static_cast<int32_t>(dataBits_))
           + " " + TAString(parity_);
}

void TCommRs232::Signal()
{
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);
}

void TCommRs232::NotifySendData()
{
    Signal();
}

void TCommRs232::Unblock()
{
    Signal();
}

bool TCommRs232::Send()
{
    return false;
}

void TCommRs232::Carry()
{
    TABuffer& buffer = SendBuffer();
    const auto queued = static_cast<size_t>(std::max<int64_t>(rs232_->Pending(), 0));
    size_t count = 0;
    if (queued < PortQueue) {
        count = std::min(buffer.Count(), std::max(PortQueue - queued, RecordSize()));
        count -= count % RecordSize();
    }
    if (count > 0) {
        std::vector<uint8_t> bytes(count);
        buffer.Peek(bytes.data(), count);
        // Held before they leave the buffer, so that a Drain never finds them nowhere.
        pending_ = queued + count;
        buffer.Skip(count);
        if (rs232_->Write(bytes.data(), static_cast<int>(count)) < 0)
            PortFailedError();
    } else {
        rs232_->Flush();
    }
    pending_ = static_cast<size_t>(std::max<int64_t>(rs232_->Pending(), 0));
    NoteSendProgress();
}

void TCommRs232::PortFailedError()
{
    portFailed_ = true;
    throw TRs232Error("TCommRs232::Receive", "PortError", Where() + ": the port reported an error (" + rs232_->ErrorText()
                                                              + "); nothing more is sent or received");
}

bool TCommRs232::Receive()
{
    if (!rs232_ && !portFailed_) {
        try {
            rs232_ = std::make_unique<TRs232>(port_, bitRate_, dataBits_, parity_);
            opened_.set_value();
        } catch (...) {
            portFailed_ = true;
            opened_.set_exception(std::current_exception());
            return false;
        }
    }
    if (!rs232_) {
        return false;
    }

    uint64_t wakes = 0;
    while (::read(wake_, &wakes, sizeof wakes) > 0) {
    }
    Carry();

    // A send-only channel, or one whose receiving has stopped, takes nothing from the line;
    // when the stop comes, what the line has brought until then is still taken.
    bool taking = !SendOnly() && !finalTaken_;
    if (taking && ReceiveStopping()) {
        uint8_t rest[ReceiveStep];
        for (int n = rs232_->Read(rest, ReceiveStep); n > 0; n = rs232_->Read(rest, ReceiveStep))
            Deliver(stream_, rest, static_cast<size_t>(n));
        finalTaken_ = true;
        taking = false;
        ReceiveStopped();
    }
    uint8_t bytes[ReceiveStep];
    const int got = taking ? rs232_->Read(bytes, ReceiveStep) : 0;
    if (got > 0) {
        // A serial line cannot wait: records beyond the receive buffer's room are dropped and counted.
        Deliver(stream_, bytes, static_cast<size_t>(got));
        return true;
    }
    if (got < 0 || rs232_->Failed())
        PortFailedError();

    // More records wait and the port's queue has room: no sleep.
    if (SendBuffer().Count() >= RecordSize() && rs232_->Pending() < static_cast<int64_t>(PortQueue))
        return true;
    // Sleep until bytes arrive, the device takes more output, or Write / the destructor signals.
    // What a Drain sees and whether to wake for the output queue come from one look at the
    // queue: a queue that emptied since Carry looked must not leave a stale count behind a
    // sleep that no longer waits for output.
    const int64_t queued = rs232_->Pending();
    pending_ = static_cast<size_t>(std::max<int64_t>(queued, 0));
    NoteSendProgress();
    pollfd waits[2] = {{wake_, POLLIN, 0},
                       {rs232_->Handle(), static_cast<short>((taking ? POLLIN : 0) | (queued > 0 ? POLLOUT : 0)), 0}};
    if (IsStopping())
        return false;
    if (::poll(waits, waits[1].events != 0 ? 2 : 1, -1) < 0 && errno != EINTR)
        return false;
    return true;
}
