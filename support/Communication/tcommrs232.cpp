#include "support/Communication/tcommrs232.h"

#include "support/Communication/trs232.h"

#include <QThread>

#include <cerrno>
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

TCommRs232::TCommRs232(const TAString& port, uint32_t bitRate, uint8_t dataBits, char parity)
    : TACommunication(std::nullopt, std::nullopt), port_(port), bitRate_(bitRate), dataBits_(dataBits),
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
    });
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
    ::close(wake_);
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
    const int count = buffer.Count();
    if (count == 0) {
        rs232_->Flush();
        return;
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(count));
    if (buffer.Read(bytes.data(), count) < count)
        throw TBaseError("TCommRs232::Send", "Fatal-Error");
    // A failed port drops the bytes: they could never leave.
    rs232_->Write(bytes.data(), count);
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

    uint8_t bytes[ReceiveStep];
    const int got = rs232_->Read(bytes, ReceiveStep);
    if (got > 0) {
        if (ReceiveBuffer().Write(bytes, got) < got)
            throw TBaseError("TCommRs232::Receive", "Fatal-Error");
        return true;
    }
    if (rs232_->Failed())
        portFailed_ = true;

    // Sleep until bytes arrive, the device takes more output, or Write / the destructor signals.
    pollfd waits[2] = {{wake_, POLLIN, 0}, {-1, 0, 0}};
    nfds_t count = 1;
    if (!rs232_->Failed()) {
        waits[1] = {rs232_->Handle(), static_cast<short>(POLLIN | (rs232_->Pending() > 0 ? POLLOUT : 0)), 0};
        count = 2;
    }
    if (IsStopping())
        return false;
    if (::poll(waits, count, -1) < 0 && errno != EINTR)
        return false;
    return true;
}
