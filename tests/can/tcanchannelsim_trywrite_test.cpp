// TryWrite of the simulation channel, as the transmit timer calls it: a frame counts as
// taken only when entry 0's medium took it (a socket) or queued it within the bound (a
// mailbox); a refused frame is not kept anywhere, and the frames taken arrive at every
// entry's peer once and in order.

#include "can/sim/tcanchannelsim.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

uint16_t FreePort()
{
    const int handle = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(handle, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    ::getsockname(handle, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(handle);
    return ntohs(address.sin_port);
}

TCanFrame Numbered(int n)
{
    return TCanFrame(0x18FEF100u, {static_cast<uint8_t>(n & 0xFF), static_cast<uint8_t>(n >> 8)}, 8, 0);
}

// The numbers of the frames reader brings within limit, until want have come.
std::vector<int> Numbers(TCanChannel& reader, size_t want, std::chrono::milliseconds limit = 10s)
{
    std::vector<int> numbers;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (numbers.size() < want && std::chrono::steady_clock::now() < end) {
        const TCanFrame frame = reader.Read();
        if (frame.IsNone()) {
            std::this_thread::sleep_for(500us);
            continue;
        }
        numbers.push_back(frame.Data[0] | (frame.Data[1] << 8));
    }
    return numbers;
}

std::vector<int> Range(int count)
{
    std::vector<int> numbers(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) numbers[static_cast<size_t>(i)] = i;
    return numbers;
}

std::string Soc(uint16_t remote, uint16_t local)
{
    return "SOC 127.0.0.1 " + std::to_string(remote) + " " + std::to_string(local) + " 1";
}

TEST(TCanChannelSimTryWrite, FramesTakenArriveOnceInOrderAndRefusedOnesAreNotKept)
{
    const uint16_t p1 = FreePort(), p2 = FreePort(), p3 = FreePort();
    const struct {
        const char* name;
        std::string sender;
        std::vector<std::string> readers;   // each gets every frame taken
        int frames;
    } cases[] = {
        {"socket pair", Soc(p1, p2), {Soc(p2, p1)}, 3000},
        {"socket with a mailbox copy", Soc(p3, FreePort()) + ",RAM 70 71", {Soc(FreePort(), p3), "RAM 71 70"}, 3000},
        {"mailbox pair", "RAM 72 73", {"RAM 73 72"}, 3000},
        {"nobody listens", Soc(FreePort(), FreePort()), {}, 200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::unique_ptr<TCanChannelSim>> readers;
        for (const auto& reader : c.readers) readers.push_back(std::make_unique<TCanChannelSim>(reader.c_str()));
        TCanChannelSim sender(c.sender.c_str());
        int taken = 0;
        int refused = 0;
        // Each frame is offered until taken, as the transmit buffer does; with nobody
        // listening, each is offered for 1 ms.
        for (int i = 0; i < c.frames; ++i) {
            const auto giveUp = std::chrono::steady_clock::now() + (c.readers.empty() ? 1ms : 10s);
            while (!sender.TryWrite(Numbered(i)) && std::chrono::steady_clock::now() < giveUp) {
                ++refused;
                std::this_thread::sleep_for(50us);
            }
            if (std::chrono::steady_clock::now() < giveUp) ++taken;
        }
        if (c.readers.empty()) {
            EXPECT_EQ(taken, 0) << "a frame counted as taken while nothing could take it";
            EXPECT_GT(refused, 0);
            EXPECT_EQ(sender.Drain(0ms), 0U) << "refused frames were kept";
            continue;
        }
        EXPECT_EQ(taken, c.frames);
        for (auto& reader : readers) EXPECT_EQ(Numbers(*reader, static_cast<size_t>(c.frames)), Range(c.frames));
        EXPECT_EQ(sender.Drain(2s), 0U);
        for (auto& reader : readers) EXPECT_TRUE(Numbers(*reader, 1, 100ms).empty()) << "a frame came twice";
    }
}

// A reader sleeps on the arrival handle instead of polling: it becomes readable when a
// frame has come, and stays quiet while nothing comes once it was reset.
TEST(TCanChannelSimArrival, HandleWakesTheReaderForEveryFrameAndOnlyThen)
{
    const uint16_t p1 = FreePort(), p2 = FreePort();
    const struct {
        const char* name;
        std::string sender, reader;
    } cases[] = {
        {"socket pair", Soc(p1, p2), Soc(p2, p1)},
        {"mailbox pair", "RAM 74 75", "RAM 75 74"},
    };
    const auto readable = [](int handle, int ms) {
        pollfd wait{handle, POLLIN, 0};
        return ::poll(&wait, 1, ms) == 1;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TCanChannelSim reader(c.reader.c_str());
        TCanChannelSim sender(c.sender.c_str());
        const int handle = reader.ArrivalHandle();
        ASSERT_GE(handle, 0);
        EXPECT_FALSE(readable(handle, 50)) << "readable with nothing received";
        for (int i = 0; i < 20; ++i) {
            for (const auto giveUp = std::chrono::steady_clock::now() + 10s;
                 !sender.TryWrite(Numbered(i)) && std::chrono::steady_clock::now() < giveUp;)
                std::this_thread::sleep_for(100us);
            ASSERT_TRUE(readable(handle, 10000)) << "frame " << i << " did not wake the reader";
            uint64_t count = 0;
            ASSERT_EQ(::read(handle, &count, sizeof count), static_cast<ssize_t>(sizeof count));
            EXPECT_EQ(Numbers(reader, 1), std::vector<int>{i});
            EXPECT_FALSE(readable(handle, 0)) << "readable again without a frame";
        }
    }
}

} // namespace
