// TCP faults: peers that close and come back, send garbage or flood, and destruction while
// calls are blocked. Peers are plain sockets on 127.0.0.1 driven by the test.

#include "support/Communication/tcommsocket.h"

#include "channeltesthelpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <sys/resource.h>
#include <netinet/tcp.h>
#include <random>

using namespace commtest;

namespace {

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

TEST(TCommSocket, PeerThatLeavesInsideARecordLosesOnlyThatRecordAndTheNextPeerIsAligned)
{
    const uint16_t local = FreePort();
    auto channel = TACommunication::New(Soc(FreePort(), local, 1).c_str(), 24);
    const Bytes records = Records(0, 100);
    // The first peer stops 10 bytes into record 50; the second sends records 50 to 99 whole.
    const auto cut = records.begin() + 50 * 24 + 10;
    {
        RawSocket first = RawSocket::Connect(local);
        ASSERT_TRUE(first.SendAll(Bytes(records.begin(), cut)));
    }
    ASSERT_TRUE(Eventually([&] { return channel->Available() == 50 * 24; }));
    {
        RawSocket second = RawSocket::Connect(local);
        ASSERT_TRUE(second.SendAll(Bytes(records.begin() + 50 * 24, records.end())));
    }
    EXPECT_EQ(ReadFor(*channel, records.size()), records);
    const std::optional<TAString> cutRecords = channel->TakeCutRecords();
    ASSERT_TRUE(cutRecords.has_value());
    EXPECT_NE(cutRecords->Find("ended 10 bytes into a 24-byte record; those bytes were dropped"), -1)
        << cutRecords->str();
}

TEST(TCommSocket, RecordsOfPeersSendingAtOnceNeverMix)
{
    // Two peers stay connected and send in turns, each record in two pieces.
    const uint16_t local = FreePort();
    auto channel = TACommunication::New(Soc(FreePort(), local, 1).c_str(), 24);
    RawSocket first = RawSocket::Connect(local);
    RawSocket second = RawSocket::Connect(local);
    const Bytes a = Record(1);
    const Bytes b = Record(2);
    ASSERT_TRUE(first.SendAll(Bytes(a.begin(), a.begin() + 7)));
    ASSERT_TRUE(second.SendAll(Bytes(b.begin(), b.begin() + 13)));
    std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(second.SendAll(Bytes(b.begin() + 13, b.end())));
    ASSERT_TRUE(first.SendAll(Bytes(a.begin() + 7, a.end())));
    // Both whole, in whichever order they were completed.
    const Bytes got = ReadFor(*channel, 48);
    ASSERT_EQ(got.size(), 48U);
    const Bytes one(got.begin(), got.begin() + 24);
    const Bytes other(got.begin() + 24, got.end());
    EXPECT_TRUE((one == a && other == b) || (one == b && other == a));
    EXPECT_FALSE(channel->TakeCutRecords().has_value());
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
    channel->Write(first.data(), first.size());
    Bytes got;
    while (got.size() < first.size()) {
        RawSocket peer = listener.Accept();
        ASSERT_TRUE(peer.Valid());
        const Bytes part = peer.Receive(first.size() - got.size(), 2s);
        got.insert(got.end(), part.begin(), part.end());
    }
    std::this_thread::sleep_for(20ms);   // the close has reached the channel

    channel->Write(second.data(), second.size());
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
    // Plain bytes: steps of at most 1000 bytes, 1000, 1000, 1000, 1000, 500.
    // 24-byte records: steps of at most 41 records (984 bytes), 4 x 984 and 36 records (864).
    const struct {
        size_t recordSize;
        size_t total;
        std::vector<size_t> connections;
    } cases[] = {
        {1, 4500, {1000, 1000, 1000, 1000, 500}},
        {24, 4800, {984, 984, 984, 984, 864}},
    };
    for (const auto& c : cases) {
        const uint16_t remote = FreePort();
        RawSocket listener = RawSocket::Listen(remote);
        auto channel = TACommunication::New(Soc(remote, FreePort(), 0).c_str(), c.recordSize);
        Bytes bytes(c.total);
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<uint8_t>(i % 241);
        channel->Write(bytes.data(), bytes.size());

        Bytes got;
        std::vector<size_t> sizes;
        while (got.size() < bytes.size()) {
            RawSocket peer = listener.Accept();
            ASSERT_TRUE(peer.Valid());
            const Bytes part = peer.Receive(bytes.size(), 2s);   // up to the channel's close
            sizes.push_back(part.size());
            got.insert(got.end(), part.begin(), part.end());
        }
        EXPECT_EQ(sizes, c.connections) << "records of " << c.recordSize;
        EXPECT_EQ(got, bytes);
    }
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
    channel->Write(records.data() + 24, records.size() - 24);
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
    EXPECT_LE(channel->Available(), TCommSocket::ReceiveLimit);

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
        RawSocket peer = listener.Accept();
        // Enough to fill the kernel's buffers of both ends and the channel's own.
        const Bytes lots(64u << 10, 0x55);
        const auto until = std::chrono::steady_clock::now() + 300ms;
        while (std::chrono::steady_clock::now() < until)
            if (channel->Write(lots.data(), lots.size()) == 0)
                std::this_thread::sleep_for(1ms);
        EXPECT_LT(Timed([&] { channel.reset(); }), 500ms);
    }
}

} // namespace

namespace {

// Sets the stall time of the channels made while it lives.
class StallTime {
public:
    explicit StallTime(std::chrono::milliseconds stall) { TCommSocket::SetStallTime(stall); }
    ~StallTime() { TCommSocket::SetStallTime(TCommSocket::DefaultStall); }
    StallTime(const StallTime&) = delete;
    StallTime& operator=(const StallTime&) = delete;
};

} // namespace

// The remote address may be a host name or an IPv6 literal; two channels that mirror each
// other exchange records either way.
TEST(TCommSocket, HostNamesAndIpv6LiteralsOpenAndCarryRecords)
{
    for (const char* host : {"localhost", "::1", "[::1]", "127.0.0.1"}) {
        const uint16_t a = FreePort();
        const uint16_t b = FreePort();
        std::unique_ptr<TACommunication> left;
        std::unique_ptr<TACommunication> right;
        try {
            left = TACommunication::New(("SOC " + std::string(host) + " " + std::to_string(b) + " " +
                                         std::to_string(a) + " 1").c_str(), 24);
            right = TACommunication::New(("SOC " + std::string(host) + " " + std::to_string(a) + " " +
                                          std::to_string(b) + " 1").c_str(), 24);
        } catch (const TBaseError& error) {
            ADD_FAILURE() << host << ": " << error.Operation().str() << " " << error.Message().str() << " "
                          << error.Detail().str();
            continue;
        }
        const Bytes forth = Records(0, 50);
        const Bytes back = Records(50, 50);
        left->Write(forth.data(), forth.size());
        right->Write(back.data(), back.size());
        EXPECT_EQ(ReadFor(*right, forth.size()), forth) << host;
        EXPECT_EQ(ReadFor(*left, back.size()), back) << host;
    }
}

TEST(TCommSocket, UnknownHostSaysWhy)
{
    try {
        TACommunication::New("SOC no-such-host.invalid 5000 5001 1", 24);
        ADD_FAILURE() << "accepted";
    } catch (const TBaseError& error) {
        EXPECT_EQ(error.Operation(), "SockAddr::SockAddr");
        EXPECT_EQ(error.Message(), "address");
        EXPECT_EQ(error.Detail().Find("'no-such-host.invalid': "), 0) << error.Detail().str();
    }
}

// A receiver that stops reading for longer than the stall time: the sender says so once,
// opens no second connection (which could overtake the first), and when the receiver reads
// again every record comes, in order. "Delivered" waits for the peer's acknowledgement.
TEST(TCommSocket, StalledPeerIsReportedAndRecordsStayInOrder)
{
    const StallTime stall(1000ms);
    CapturedReports reports;
    const uint16_t port = FreePort();
    RawSocket listener = RawSocket::Listen(port);
    auto channel = TACommunication::New(Soc(port, FreePort(), 1).c_str(), 24);
    // Records go out until the buffers on the way are full and the peer has read nothing for
    // the stall time.
    const auto stalls = [&] {
        const auto taken = reports.Taken();
        return std::count_if(taken.begin(), taken.end(),
                             [](const auto& r) { return r.error.Message() == "Peer not reading"; });
    };
    uint32_t written = 0;
    RawSocket peer;
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (stalls() == 0 && std::chrono::steady_clock::now() < deadline) {
        const Bytes burst = Records(written, 1000);
        if (channel->Write(burst.data(), burst.size()) == burst.size())
            written += 1000;
        else
            std::this_thread::sleep_for(20ms);
        if (!peer.Valid())
            peer = listener.Accept(0ms);
    }
    ASSERT_EQ(stalls(), 1) << "the stall was not reported";
    ASSERT_TRUE(peer.Valid());
    EXPECT_GT(channel->Drain(0ms), 0U) << "bytes the peer has not acknowledged count as not delivered";
    // No second connection was opened meanwhile.
    EXPECT_FALSE(listener.Accept(200ms).Valid()) << "a second connection could overtake the first";

    // Reading resumes: every record written comes, in order, each once.
    const Bytes got = peer.Receive(size_t{written} * 24, 120s);
    ASSERT_EQ(got.size(), size_t{written} * 24);
    for (size_t at = 0; at < got.size(); at += 24) {
        uint32_t sequence = 0;
        ASSERT_TRUE(IsRecord(got.data() + at, sequence)) << at;
        ASSERT_EQ(sequence, at / 24) << "out of order";
    }
    EXPECT_EQ(channel->Drain(10s), 0U);
    EXPECT_EQ(stalls(), 1) << "told once per stall";
}

// Out of descriptors when a peer connects: accepting backs off (no spinning) and says so
// once; once descriptors are free again the peer is accepted and its records come.
TEST(TCommSocket, AcceptWithoutDescriptorsBacksOffAndIsReported)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer's runtime needs descriptors of its own: with none left it reports its own failures";
#endif
    CapturedReports reports;
    const uint16_t local = FreePort();
    auto channel = TACommunication::New(Soc(FreePort(), local, 1).c_str(), 24);
    ASSERT_TRUE(Eventually([&] { return dynamic_cast<TCommSocket&>(*channel).ReadState() == 2; }));
    // The peer's socket is made before the descriptors run out; it connects after.
    RawSocket peer(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ASSERT_TRUE(peer.Valid());
    // Fill every free descriptor number below the current soft limit.
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    std::vector<int> fillers;
    for (;;) {
        const int fd = ::dup(0);
        if (fd < 0) break;
        fillers.push_back(fd);
        if (fillers.size() > 100000) break;
    }
    ASSERT_EQ(errno, EMFILE);
    const sockaddr_in address = RawSocket::Loopback(local);
    const int connected = ::connect(peer.Handle(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    const bool told = Eventually([&] { return reports.Count() >= 1; }, 5s);
    std::this_thread::sleep_for(500ms);
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    for (const int fd : fillers) ::close(fd);
    ASSERT_EQ(connected, 0);
    ASSERT_TRUE(told) << "EMFILE was not reported";
    EXPECT_EQ(reports.Count(), 1U);
    EXPECT_EQ(reports.Taken()[0].error.Operation(), "Socket::accept");
    EXPECT_NE(reports.Taken()[0].error.Detail().Find("Too many open files"), -1);
    // Backing off: far less than the half second of CPU a spinning thread would use.
    const auto cpu = [](const rusage& u) {
        return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000000L + u.ru_utime.tv_usec + u.ru_stime.tv_usec;
    };
    EXPECT_LT(cpu(after) - cpu(before), 250000L);
    ASSERT_TRUE(peer.SendAll(Records(0, 3)));
    EXPECT_EQ(ReadFor(*channel, 72), Records(0, 3));
}

// "localhost" in one program and "127.0.0.1" in the other meet: a name takes its IPv4 address.
TEST(TCommSocket, LocalhostMeetsAPeerThatWritesTheIpv4Address)
{
    const uint16_t a = FreePort();
    const uint16_t b = FreePort();
    auto named = TACommunication::New(("SOC localhost " + std::to_string(b) + " " + std::to_string(a) + " 1").c_str(), 24);
    auto dotted = TACommunication::New(Soc(a, b, 1).c_str(), 24);
    const Bytes forth = Records(0, 20);
    const Bytes back = Records(20, 20);
    named->Write(forth.data(), forth.size());
    dotted->Write(back.data(), back.size());
    EXPECT_EQ(ReadFor(*dotted, forth.size()), forth);
    EXPECT_EQ(ReadFor(*named, back.size()), back);
}
