// TCP faults: peers that close and come back, send garbage or flood, and destruction while
// calls are blocked. Peers are plain sockets on 127.0.0.1 driven by the test.

#include "support/Communication/tcommsocket.h"

#include "channeltesthelpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <netinet/tcp.h>
#include <random>

using namespace commtest;

namespace {

// A plain blocking socket for the test's side of a connection.
class RawSocket {
public:
    RawSocket() = default;
    explicit RawSocket(int handle) : handle_(handle) {}
    ~RawSocket() { Close(); }
    RawSocket(RawSocket&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }
    RawSocket& operator=(RawSocket&& other) noexcept
    {
        std::swap(handle_, other.handle_);
        return *this;
    }

    static sockaddr_in Loopback(uint16_t port)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        return address;
    }

    static RawSocket Listen(uint16_t port)
    {
        RawSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const int yes = 1;
        ::setsockopt(socket.handle_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        const sockaddr_in address = Loopback(port);
        EXPECT_EQ(::bind(socket.handle_, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(::listen(socket.handle_, 5), 0);
        return socket;
    }

    // Connects, retrying while the channel does not listen yet.
    static RawSocket Connect(uint16_t port)
    {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        for (;;) {
            RawSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
            const sockaddr_in address = Loopback(port);
            if (::connect(socket.handle_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
                return socket;
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "could not connect to " << port;
                return socket;
            }
            std::this_thread::sleep_for(5ms);
        }
    }

    // The next peer within the time limit (an invalid socket if none came).
    RawSocket Accept(std::chrono::milliseconds limit = 5s)
    {
        pollfd wait{handle_, POLLIN, 0};
        if (::poll(&wait, 1, static_cast<int>(limit.count())) != 1)
            return RawSocket();
        return RawSocket(::accept4(handle_, nullptr, nullptr, SOCK_CLOEXEC));
    }

    bool Valid() const { return handle_ >= 0; }

    bool SendAll(const Bytes& bytes)
    {
        for (size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::send(handle_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }

    // Receives until want bytes, the peer's close, or the time limit.
    Bytes Receive(size_t want, std::chrono::milliseconds limit = 5s)
    {
        Bytes got;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        uint8_t piece[4096];
        while (got.size() < want && std::chrono::steady_clock::now() < deadline) {
            pollfd wait{handle_, POLLIN, 0};
            if (::poll(&wait, 1, 50) != 1)
                continue;
            const ssize_t n = ::recv(handle_, piece, std::min(sizeof piece, want - got.size()), 0);
            if (n <= 0)
                break;
            got.insert(got.end(), piece, piece + n);
        }
        return got;
    }

    void Close()
    {
        if (handle_ >= 0)
            ::close(handle_);
        handle_ = -1;
    }

private:
    int handle_ = -1;
};

std::string Soc(uint16_t remote, uint16_t local, int keep)
{
    return "SOC 127.0.0.1 " + std::to_string(remote) + " " + std::to_string(local) + " " + std::to_string(keep);
}

template <typename Action>
std::chrono::milliseconds Timed(Action action)
{
    const auto started = std::chrono::steady_clock::now();
    action();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
}

TEST(TCommSocket, ReadSideAcceptsTheNextPeerAfterAClose)
{
    const uint16_t local = FreePort();
    auto channel = TACommunication::New(Soc(FreePort(), local, 1).c_str());
    const Bytes records = Records(0, 100);
    // The first peer stops in the middle of record 50; the second sends the rest.
    const auto cut = records.begin() + 50 * 24 + 10;
    {
        RawSocket first = RawSocket::Connect(local);
        ASSERT_TRUE(first.SendAll(Bytes(records.begin(), cut)));
    }
    {
        RawSocket second = RawSocket::Connect(local);
        ASSERT_TRUE(second.SendAll(Bytes(cut, records.end())));
    }
    EXPECT_EQ(ReadFor(*channel, records.size()), records);
}

class TCommSocketWriteSide : public ::testing::TestWithParam<int> {};

TEST_P(TCommSocketWriteSide, PeerThatClosesAndAcceptsAgainGetsEveryByteOnce)
{
    const uint16_t remote = FreePort();
    RawSocket listener = RawSocket::Listen(remote);
    auto channel = TACommunication::New(Soc(remote, FreePort(), GetParam()).c_str());
    const Bytes first = Records(0, 30);
    const Bytes second = Records(30, 30);

    // The peer reads whatever comes until it has the first batch, then closes.
    channel->Write(first.data(), static_cast<int>(first.size()));
    Bytes got;
    while (got.size() < first.size()) {
        RawSocket peer = listener.Accept();
        ASSERT_TRUE(peer.Valid());
        const Bytes part = peer.Receive(first.size() - got.size(), 2s);
        got.insert(got.end(), part.begin(), part.end());
    }
    std::this_thread::sleep_for(20ms);   // the close has reached the channel

    channel->Write(second.data(), static_cast<int>(second.size()));
    while (got.size() < first.size() + second.size()) {
        RawSocket peer = listener.Accept();
        ASSERT_TRUE(peer.Valid()) << got.size() << " bytes came";
        const Bytes part = peer.Receive(first.size() + second.size() - got.size(), 2s);
        got.insert(got.end(), part.begin(), part.end());
    }
    Bytes expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(got, expected);

    // Nothing more follows on a new connection.
    RawSocket late = listener.Accept(100ms);
    if (late.Valid()) {
        EXPECT_TRUE(late.Receive(1, 100ms).empty());
    }
}

INSTANTIATE_TEST_SUITE_P(KeepFlag, TCommSocketWriteSide, ::testing::Values(1, 0));

TEST(TCommSocket, KeepFlagZeroOpensAConnectionForEverySendStep)
{
    const uint16_t remote = FreePort();
    RawSocket listener = RawSocket::Listen(remote);
    auto channel = TACommunication::New(Soc(remote, FreePort(), 0).c_str());
    Bytes bytes(4500);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i % 241);
    channel->Write(bytes.data(), static_cast<int>(bytes.size()));

    // Steps of at most 1000 bytes: 1000, 1000, 1000, 1000, 500.
    Bytes got;
    int connections = 0;
    while (got.size() < bytes.size()) {
        RawSocket peer = listener.Accept();
        ASSERT_TRUE(peer.Valid());
        ++connections;
        const Bytes part = peer.Receive(bytes.size(), 2s);   // up to the channel's close
        EXPECT_LE(part.size(), 1000U);
        got.insert(got.end(), part.begin(), part.end());
    }
    EXPECT_EQ(connections, 5);
    EXPECT_EQ(got, bytes);
}

TEST(TCommSocket, GarbageFromPeersIsCarriedAsBytesAndDisturbsNothing)
{
    const uint16_t remote = FreePort();
    const uint16_t local = FreePort();
    RawSocket listener = RawSocket::Listen(remote);
    auto channel = TACommunication::New(Soc(remote, local, 1).c_str());

    // A peer sends random bytes into the read side.
    std::mt19937 random(3);
    Bytes garbage(65536);
    for (auto& byte : garbage)
        byte = static_cast<uint8_t>(random());
    {
        RawSocket sender = RawSocket::Connect(local);
        ASSERT_TRUE(sender.SendAll(garbage));
    }
    EXPECT_EQ(ReadFor(*channel, garbage.size()), garbage);

    // The peer of the write side talks back, which it never should.
    const Bytes records = Records(0, 200);
    channel->Write(records.data(), 24);
    RawSocket peer = listener.Accept();
    ASSERT_TRUE(peer.Valid());
    ASSERT_TRUE(peer.SendAll(garbage));
    channel->Write(records.data() + 24, static_cast<int>(records.size()) - 24);
    EXPECT_EQ(peer.Receive(records.size()), records);
}

TEST(TCommSocket, FloodingPeerIsHeldBackAndLosesNothing)
{
    const uint16_t local = FreePort();
    auto channel = TACommunication::New(Soc(FreePort(), local, 1).c_str());
    constexpr size_t total = 24u << 20;   // more than the kernel buffers of both ends hold
    Bytes flood(total);
    for (size_t i = 0; i < total; ++i)
        flood[i] = static_cast<uint8_t>(i % 239);

    std::atomic<bool> sentAll{false};
    std::thread sender([&] {
        RawSocket socket = RawSocket::Connect(local);
        sentAll = socket.SendAll(flood);
    });
    std::this_thread::sleep_for(500ms);
    EXPECT_FALSE(sentAll) << "the sender was never held back";
    EXPECT_LE(channel->Available(), 2 * TCommSocket::ReceiveLimit);

    const Bytes got = ReadFor(*channel, total, 60s);
    sender.join();
    EXPECT_TRUE(sentAll);
    ASSERT_EQ(got.size(), total);
    EXPECT_TRUE(got == flood);
}

TEST(TCommSocket, DestructionReleasesBlockedCallsPromptly)
{
    // Receive thread in accept, send thread idle.
    {
        auto channel = TACommunication::New(Soc(FreePort(), FreePort(), 1).c_str());
        std::this_thread::sleep_for(20ms);
        EXPECT_LT(Timed([&] { channel.reset(); }), 500ms);
    }
    // Receive thread in receive on an idle connection.
    {
        const uint16_t local = FreePort();
        auto channel = TACommunication::New(Soc(FreePort(), local, 1).c_str());
        RawSocket peer = RawSocket::Connect(local);
        std::this_thread::sleep_for(20ms);
        EXPECT_LT(Timed([&] { channel.reset(); }), 500ms);
    }
    // Send thread retrying a connection nobody accepts.
    {
        auto channel = TACommunication::New(Soc(FreePort(), FreePort(), 1).c_str());
        const Bytes record = Record(1);
        channel->Write(record.data(), 24);
        std::this_thread::sleep_for(50ms);
        EXPECT_LT(Timed([&] { channel.reset(); }), 500ms);
    }
    // Send thread waiting for a peer that accepted but never reads.
    {
        const uint16_t remote = FreePort();
        RawSocket listener = RawSocket::Listen(remote);
        auto channel = TACommunication::New(Soc(remote, FreePort(), 1).c_str());
        const Bytes lots(32u << 20, 0x55);
        channel->Write(lots.data(), static_cast<int>(lots.size()));
        RawSocket peer = listener.Accept();
        std::this_thread::sleep_for(300ms);
        EXPECT_LT(Timed([&] { channel.reset(); }), 500ms);
    }
}

} // namespace
