#include "can/qtcanbus/tcanchannelqtcanbus.h"

#include "can/qtcanbus/tqtcanbusthread.h"
#include "support/tbaseerror.h"

#include <chrono>
#include <utility>

namespace {

constexpr const char* OpenOperation = "TCanChannelQtCanBus::TCanChannelQtCanBus";

uint32_t ParseBitRate(const TAString& word)
{
    const auto fail = [&word]() {
        return TBaseError(OpenOperation, "Bit rate invalid: '" + word +
                                             "'; give the bit rate in bit/s, for example 250000");
    };
    for (int i = 0; i < word.Length(); ++i)
        if (word[i] < '0' || word[i] > '9') throw fail();
    uint32_t rate = 0;
    try {
        rate = word.AsUInt32(TAString::nmDec);
    } catch (const TBaseError&) {
        throw fail();
    }
    if (rate == 0) throw fail();
    return rate;
}

} // namespace

TCanChannelQtCanBus::TCanChannelQtCanBus(const TAString& text) : TCanChannelQtCanBus(text, DefaultClock()) {}

TCanChannelQtCanBus::TCanChannelQtCanBus(const TAString& text, Clock clock)
    : port_(std::make_shared<TQtCanBusPort>()), clock_(std::move(clock))
{
    if (text.Word(0).IsEmpty() || text.Word(1).IsEmpty())
        throw TBaseError(OpenOperation, "Description incomplete: '" + text +
                                            "'; give a plugin and an interface, for example"
                                            " QtCanBus socketcan can0 250000");
    port_->Plugin = text.Word(0).str();
    port_->Interface = text.Word(1).str();
    if (!text.Word(2).IsEmpty()) port_->BitRate = ParseBitRate(text.Word(2));

    TQtCanBusThread& thread = TQtCanBusThread::Instance();
    thread.Open(port_);
    std::unique_lock lock(port_->Mutex);
    const bool settled = port_->Changed.wait_for(lock, std::chrono::milliseconds(OpenTimeoutMs), [this] {
        return port_->State != TQtCanBusPort::psOpening;
    });
    if (!settled) {
        port_->CloseRequested = true;
        lock.unlock();
        thread.Wake();
        throw TBaseError(OpenOperation, "Connect timeout: " + port_->Plugin + " " + port_->Interface +
                                            " did not connect within " +
                                            std::to_string(OpenTimeoutMs / 1000) +
                                            " s; check the interface and its cabling");
    }
    if (port_->State != TQtCanBusPort::psOpen) {
        const std::string failure = port_->Failure;
        throw TBaseError(OpenOperation, failure.empty() ? std::string("Connect failed") : failure);
    }
}

TCanChannelQtCanBus::~TCanChannelQtCanBus()
{
    {
        std::lock_guard lock(port_->Mutex);
        port_->CloseRequested = true;
    }
    TQtCanBusThread::Instance().Wake();
    std::unique_lock lock(port_->Mutex);
    port_->Changed.wait_for(lock, std::chrono::milliseconds(CloseTimeoutMs), [this] {
        return port_->State == TQtCanBusPort::psClosed || port_->State == TQtCanBusPort::psFailed;
    });
}

TCanFrame TCanChannelQtCanBus::Read()
{
    TCanFrame frame;
    {
        std::lock_guard lock(port_->Mutex);
        if (port_->Dropped > 0 && !port_->DropTold) {
            port_->DropTold = true;
            throw TBaseError("TCanChannelQtCanBus::Read", "Receive queue full",
                             port_->Plugin + " " + port_->Interface + ": " + std::to_string(port_->Dropped) +
                                 " received frames were dropped because they were not read in time (the queue holds " +
                                 std::to_string(TQtCanBusPort::ReceiveCapacity) +
                                 "); the total follows at the end");
        }
        if (port_->Received.empty()) return frame;
        frame = port_->Received.front();
        port_->Received.pop_front();
    }
    frame.Time = clock_();
    return frame;
}

void TCanChannelQtCanBus::Write(const TCanFrame& frame)
{
    std::string error;
    bool wake = false;
    {
        std::lock_guard lock(port_->Mutex);
        if (port_->Send.size() >= TQtCanBusPort::SendCapacity)
            throw TBaseError("TCanChannelQtCanBus::Write",
                             "Send queue full: " + port_->Plugin + " " + port_->Interface +
                                 " takes no frames; check the interface and its cabling");
        wake = port_->Send.empty();
        port_->Send.push_back(frame);
        error.swap(port_->Error);
    }
    if (wake) TQtCanBusThread::Instance().Wake();
    if (!error.empty()) throw TBaseError("TCanChannelQtCanBus::Write", error);
}

void TCanChannelQtCanBus::StopReceiving()
{
    std::lock_guard lock(port_->Mutex);
    port_->ReceiveStopped = true;
}

std::optional<TBaseError> TCanChannelQtCanBus::ReceiveLosses() const
{
    std::lock_guard lock(port_->Mutex);
    if (port_->Dropped == 0) return std::nullopt;
    return TBaseError("TCanChannelQtCanBus::Read", "Frames lost on receiving",
                      port_->Plugin + " " + port_->Interface + ": " + std::to_string(port_->Dropped) +
                          " received frames dropped because they were not read in time");
}

uint64_t TCanChannelQtCanBus::DroppedFrames() const
{
    std::lock_guard lock(port_->Mutex);
    return port_->Dropped;
}

TCanChannelQtCanBus::Clock TCanChannelQtCanBus::DefaultClock()
{
    return [] {
        using namespace std::chrono;
        return static_cast<int64_t>(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
    };
}
