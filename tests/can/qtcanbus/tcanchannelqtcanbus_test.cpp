#include "can/qtcanbus/tcanchannelqtcanbus.h"

#include "support/tbaseerror.h"
#include "tests/can/qtcanbus/virtualbus.h"

#include <gtest/gtest.h>

#include <linux/can.h>
#include <net/if.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono;
using virtualbus::BackwardBase;
using virtualbus::ForwardBase;

constexpr uint32_t FrameCount = 10000;
const char* const OpenOperation = "TCanChannelQtCanBus::TCanChannelQtCanBus";

std::unique_ptr<TCanChannelQtCanBus> OpenBus(int channel = 0,
                                             TCanChannelQtCanBus::Clock clock = TCanChannelQtCanBus::DefaultClock())
{
    return std::make_unique<TCanChannelQtCanBus>(virtualbus::Description(virtualbus::TestPort(), channel).c_str(),
                                                 std::move(clock));
}

// The error that opening text throws; fails the test when it opens.
TBaseError OpenError(const std::string& text)
{
    try {
        TCanChannelQtCanBus channel(text.c_str());
    } catch (const TBaseError& e) {
        return e;
    }
    ADD_FAILURE() << "'" << text << "' opened";
    return TBaseError();
}

bool StartsWith(const TAString& text, const std::string& prefix)
{
    return text.str().rfind(prefix, 0) == 0;
}

bool Contains(const TAString& text, const std::string& part)
{
    return text.str().find(part) != std::string::npos;
}

// Sends until the other channel has seen a frame: the bus server learns of a client
// only after the client has connected, so frames sent before that reach nobody.
bool WaitUntilLinked(TCanChannelQtCanBus& from, TCanChannelQtCanBus& to)
{
    const auto deadline = steady_clock::now() + seconds(5);
    while (steady_clock::now() < deadline) {
        from.Write(TCanFrame(virtualbus::HelloId, {}));
        std::this_thread::sleep_for(milliseconds(20));
        bool seen = false;
        for (TCanFrame f = to.Read(); !f.IsNone(); f = to.Read()) seen = true;
        if (seen) {
            // Drain the hellos still under way.
            std::this_thread::sleep_for(milliseconds(50));
            while (!to.Read().IsNone()) {}
            return true;
        }
    }
    return false;
}

// Reads count numbered frames from base, in order, within the deadline; the number
// that arrived in order before the first wrong frame or the deadline.
uint32_t ReceiveNumbered(TCanChannelQtCanBus& channel, uint32_t base, uint32_t count,
                         steady_clock::time_point deadline)
{
    uint32_t received = 0;
    while (received < count && steady_clock::now() < deadline) {
        TCanFrame f = channel.Read();
        if (f.IsNone()) {
            std::this_thread::sleep_for(milliseconds(1));
            continue;
        }
        if (f.Id == virtualbus::HelloId) continue;
        if (!virtualbus::IsNumbered(f, base, received)) return received;
        ++received;
    }
    return received;
}

// A child process that is killed if it is still running when the guard goes.
class TChild {
public:
    explicit TChild(const std::vector<std::string>& args)
    {
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
    }
    ~TChild()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    TChild(const TChild&) = delete;
    TChild& operator=(const TChild&) = delete;

    bool Started() const { return pid_ > 0; }
    // The exit code, or -1 when it has not ended by the deadline (or died by a signal).
    int Wait(steady_clock::time_point deadline)
    {
        while (pid_ > 0) {
            int status = 0;
            const pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            if (steady_clock::now() > deadline) return -1;
            std::this_thread::sleep_for(milliseconds(10));
        }
        return -1;
    }

private:
    pid_t pid_ = -1;
};

} // namespace

TEST(TCanChannelQtCanBus, TwoChannelsExchangeTenThousandFramesEachWayInOrder)
{
    auto a = OpenBus();
    auto b = OpenBus();
    ASSERT_TRUE(WaitUntilLinked(*a, *b));
    ASSERT_TRUE(WaitUntilLinked(*b, *a));

    // Writes come from a thread of their own, as from the transmit timer.
    std::thread writer([&] {
        for (uint32_t i = 0; i < FrameCount; ++i) {
            a->Write(virtualbus::Numbered(ForwardBase, i));
            b->Write(virtualbus::Numbered(BackwardBase, i));
        }
    });
    const auto deadline = steady_clock::now() + seconds(30);
    uint32_t atB = 0;
    uint32_t atA = 0;
    while ((atB < FrameCount || atA < FrameCount) && steady_clock::now() < deadline) {
        const uint32_t b0 = atB;
        const uint32_t a0 = atA;
        for (TCanFrame f = b->Read(); !f.IsNone(); f = b->Read()) {
            ASSERT_TRUE(virtualbus::IsNumbered(f, ForwardBase, atB)) << "frame " << atB << " at b";
            ++atB;
        }
        for (TCanFrame f = a->Read(); !f.IsNone(); f = a->Read()) {
            ASSERT_TRUE(virtualbus::IsNumbered(f, BackwardBase, atA)) << "frame " << atA << " at a";
            ++atA;
        }
        if (atB == b0 && atA == a0) std::this_thread::sleep_for(milliseconds(1));
    }
    writer.join();
    EXPECT_EQ(atB, FrameCount);
    EXPECT_EQ(atA, FrameCount);
    EXPECT_EQ(a->DroppedFrames(), 0u);
    EXPECT_EQ(b->DroppedFrames(), 0u);
}

TEST(TCanChannelQtCanBus, ReceivedFrameCarriesReadersClockAndWholeExtendedIdentifier)
{
    std::atomic<int64_t> clock{0};
    auto a = OpenBus();
    auto b = OpenBus(0, [&clock] { return clock.load(); });
    ASSERT_TRUE(WaitUntilLinked(*a, *b));

    // Priority 6, PGN 65265 (0xFEF1), source address 0: all 29 bits set where they may be.
    TCanFrame sent(0x18FEF100u, {0xF3, 0x15, 0x00, 0x0C, 0xFF, 0xFF, 0xFF, 0xFF}, 8, 123456);
    a->Write(sent);
    a->Write(TCanFrame(0x1FFFFFFFu, {1, 2, 3, 4, 5, 6, 7, 8}, 8));
    clock = 4711;
    TCanFrame got;
    const auto deadline = steady_clock::now() + seconds(5);
    while ((got = b->Read()).IsNone() && steady_clock::now() < deadline) std::this_thread::sleep_for(milliseconds(1));
    EXPECT_EQ(got.Id, 0x18FEF100u);
    EXPECT_EQ(got.Data, sent.Data);
    EXPECT_EQ(got.Dlc, 8);       // received frames carry their own length
    EXPECT_EQ(got.Time, 4711);   // the reader's clock, not the sender's 123456
    while ((got = b->Read()).IsNone() && steady_clock::now() < deadline) std::this_thread::sleep_for(milliseconds(1));
    EXPECT_EQ(got.Id, 0x1FFFFFFFu);
    EXPECT_TRUE(b->Read().IsNone());
}

TEST(TCanChannelQtCanBus, FramesOnOtherVirtualChannelDoNotArrive)
{
    auto a = OpenBus(0);
    auto b = OpenBus(0);
    auto other = OpenBus(1);
    ASSERT_TRUE(WaitUntilLinked(*a, *b));
    a->Write(virtualbus::Numbered(ForwardBase, 7));
    EXPECT_EQ(ReceiveNumbered(*b, ForwardBase, 1, steady_clock::now() + seconds(5)), 0u);
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_TRUE(other->Read().IsNone());
}

TEST(TCanChannelQtCanBus, TwoProcessesExchangeTenThousandFramesEachWayInOrder)
{
    auto channel = OpenBus();
    TChild peer({QV_QTCANBUS_PEER, virtualbus::Description(virtualbus::TestPort()), std::to_string(FrameCount)});
    ASSERT_TRUE(peer.Started());

    // The peer says Hello until it has a Go; it sends no numbered frame before.
    const auto deadline = steady_clock::now() + seconds(30);
    bool linked = false;
    while (!linked && steady_clock::now() < deadline) {
        for (TCanFrame f = channel->Read(); !f.IsNone(); f = channel->Read())
            linked = linked || f.Id == virtualbus::HelloId;
        std::this_thread::sleep_for(milliseconds(1));
    }
    ASSERT_TRUE(linked) << "the peer never said hello";
    channel->Write(TCanFrame(virtualbus::GoId, {}));
    for (uint32_t i = 0; i < FrameCount; ++i) channel->Write(virtualbus::Numbered(ForwardBase, i));
    EXPECT_EQ(ReceiveNumbered(*channel, BackwardBase, FrameCount, deadline), FrameCount);
    EXPECT_EQ(peer.Wait(deadline), 0) << "exit code of the peer (1 wrong frame, 2 not opened, 3 timeout)";
}

TEST(TCanChannelQtCanBus, SocketCanWithoutKernelSupportOrInterfaceFailsClearly)
{
    const int fd = ::socket(PF_CAN, SOCK_RAW, CAN_RAW);
    const bool kernelHasCan = fd >= 0;
    if (fd >= 0) ::close(fd);
    if (kernelHasCan && if_nametoindex("can0") != 0) GTEST_SKIP() << "this machine has a can0";

    const TBaseError e = OpenError("socketcan can0");
    EXPECT_EQ(e.Operation(), OpenOperation);
    if (kernelHasCan)
        EXPECT_TRUE(StartsWith(e.Message(), "Interface not found: 'can0'")) << e.Message().str();
    else
        EXPECT_TRUE(StartsWith(e.Message(), "SocketCAN not available: ")) << e.Message().str();
    EXPECT_TRUE(Contains(e.Message(), "can_raw") || kernelHasCan) << e.Message().str();
}

TEST(TCanChannelQtCanBus, UnknownPluginNamesTheAvailableOnes)
{
    const TBaseError e = OpenError("nosuchplugin can0");
    EXPECT_EQ(e.Operation(), OpenOperation);
    EXPECT_TRUE(StartsWith(e.Message(), "Plugin unknown: 'nosuchplugin'; available plugins: ")) << e.Message().str();
    EXPECT_TRUE(Contains(e.Message(), "virtualcan")) << e.Message().str();
    EXPECT_TRUE(Contains(e.Message(), "socketcan")) << e.Message().str();
    // Plugin names are compared exactly.
    EXPECT_TRUE(StartsWith(OpenError("VirtualCAN can0").Message(), "Plugin unknown: 'VirtualCAN'"));
}

TEST(TCanChannelQtCanBus, VirtualChannelOutOfRangeNamesTheAvailableInterfaces)
{
    const TBaseError e = OpenError(virtualbus::Description(virtualbus::TestPort(), 7));
    EXPECT_EQ(e.Operation(), OpenOperation);
    EXPECT_TRUE(StartsWith(e.Message(), "Interface not found: ")) << e.Message().str();
    EXPECT_TRUE(Contains(e.Message(), "available interfaces: can0, can1")) << e.Message().str();
}

TEST(TCanChannelQtCanBus, IncompleteDescriptionOrBadBitRateIsRefusedBeforeAnyDevice)
{
    for (const char* text : {"", "   ", "socketcan", "socketcan\t"}) {
        const TBaseError e = OpenError(text);
        EXPECT_EQ(e.Operation(), OpenOperation);
        EXPECT_TRUE(StartsWith(e.Message(), "Description incomplete: ")) << "'" << text << "': " << e.Message().str();
    }
    for (const char* text : {"socketcan can0 abc", "socketcan can0 0", "socketcan can0 -250000",
                             "socketcan can0 250k", "socketcan can0 4294967296", "socketcan can0 x3D090"}) {
        const TBaseError e = OpenError(text);
        EXPECT_EQ(e.Operation(), OpenOperation);
        EXPECT_TRUE(StartsWith(e.Message(), "Bit rate invalid: ")) << "'" << text << "': " << e.Message().str();
    }
}

// A receive queue that overflows because nobody reads: the first Read after it says so
// (once), the frames still waiting follow in order, and the total is told at the end.
TEST(TCanChannelQtCanBus, ReceiveQueueOverflowIsReportedAndCounted)
{
    auto a = OpenBus();
    auto b = OpenBus();
    ASSERT_TRUE(WaitUntilLinked(*a, *b));
    constexpr uint32_t extra = 1000;
    const uint32_t total = static_cast<uint32_t>(TQtCanBusPort::ReceiveCapacity) + extra;
    for (uint32_t i = 0; i < total;) {
        try {
            a->Write(virtualbus::Numbered(ForwardBase, i));
            ++i;
        } catch (const TBaseError&) {
            std::this_thread::sleep_for(milliseconds(5));   // the device has not taken the queue yet
        }
    }
    const auto deadline = steady_clock::now() + seconds(60);
    while (b->DroppedFrames() < extra && steady_clock::now() < deadline) std::this_thread::sleep_for(milliseconds(10));
    ASSERT_EQ(b->DroppedFrames(), extra);

    try {
        b->Read();
        ADD_FAILURE() << "the overflow was not told";
    } catch (const TBaseError& e) {
        EXPECT_EQ(e.Operation(), "TCanChannelQtCanBus::Read");
        EXPECT_EQ(e.Message(), "Receive queue full");
        EXPECT_TRUE(Contains(e.Detail(), "1000 received frames were dropped")) << e.Detail().str();
    }
    uint32_t next = extra;   // the oldest went first
    for (TCanFrame f = b->Read(); !f.IsNone(); f = b->Read()) {
        ASSERT_TRUE(virtualbus::IsNumbered(f, ForwardBase, next)) << "frame " << next;
        ++next;
    }
    EXPECT_EQ(next, total);
    const std::optional<TBaseError> losses = b->ReceiveLosses();
    ASSERT_TRUE(losses.has_value());
    EXPECT_EQ(losses->Message(), "Frames lost on receiving");
    EXPECT_TRUE(Contains(losses->Detail(), ": 1000 received frames dropped")) << losses->Detail().str();
    EXPECT_FALSE(a->ReceiveLosses().has_value());
}
