// Offering records to a TCP channel from the producer's thread: what the socket took has
// left and arrives once, in order, with what was queued by Write in between; a socket that
// takes nothing holds the producer back without keeping anything; a peer that goes away
// costs only what its connection held; a channel stops promptly while its medium is full.
// The peer is a plain socket driven by the test.

#include "support/Communication/tcommsocket.h"

#include "channeltesthelpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <sys/ioctl.h>
#include <random>
#include <thread>

using namespace commtest;

namespace {

using TOffer = TACommunication::TOffer;

std::string Soc(uint16_t remote, uint16_t local, int keep)
{
    return "SOC 127.0.0.1 " + std::to_string(remote) + " " + std::to_string(local) + " " + std::to_string(keep);
}

// Offers record sequence until the channel takes it (or queues it); counts the refusals.
TOffer OfferUntilTaken(TACommunication& channel, uint32_t sequence, uint64_t& busy)
{
    const Bytes record = Record(sequence);
    for (;;) {
        const TOffer offer = channel.Offer(record.data(), record.size());
        if (offer != TOffer::Busy)
            return offer;
        ++busy;
        std::this_thread::sleep_for(100us);
    }
}

// A producer that offers (and now and then writes) records to a peer that reads at its
// own pace: every record arrives once, in order, whichever way it left.
TEST(TCommSocketOffer, EveryRecordArrivesOnceAndInOrderWhateverThePeersPace)
{
    const struct {
        const char* name;
        uint32_t records;
        int writeEvery;          // every n-th record goes through Write instead (0: none)
        size_t peerPiece;        // bytes the peer reads at a time
        std::chrono::microseconds peerPause;   // between its reads
        bool expectTaken;        // the socket took records from the producer's thread
    } cases[] = {
        {"offers to a fast peer", 5000, 0, 4096, 0us, true},
        {"offers and writes mixed", 5000, 7, 4096, 0us, true},
        {"a slow peer: the sender's socket holds a backlog", 10000, 0, 100, 100us, true},
        {"a slow peer and writes mixed", 10000, 13, 100, 100us, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const uint16_t remote = FreePort();
        // The peer keeps the kernel's receive window. A window of a few kB (SO_RCVBUF 4096)
        // stalled the slow peer's connection for seconds now and then: the sender takes half
        // the largest window as its segment size, and while the window it is told stays
        // below one segment it waits for its zero-window probe timer, which backs off.
        RawSocket listener = RawSocket::Listen(remote);
        auto channel = TACommunication::New(Soc(remote, FreePort(), 1).c_str(), 24);
        Bytes got;
        std::thread peer([&] {
            RawSocket connection = listener.Accept(10s);
            ASSERT_TRUE(connection.Valid());
            while (got.size() < c.records * 24u) {
                const Bytes piece = connection.Receive(std::min<size_t>(c.peerPiece, c.records * 24u - got.size()), 10s);
                if (piece.empty())
                    break;
                got.insert(got.end(), piece.begin(), piece.end());
                if (c.peerPause.count() > 0)
                    std::this_thread::sleep_for(c.peerPause);
            }
        });
        uint64_t busy = 0;
        uint64_t taken = 0;
        for (uint32_t i = 0; i < c.records; ++i) {
            if (c.writeEvery > 0 && i % static_cast<uint32_t>(c.writeEvery) == 0) {
                const Bytes record = Record(i);
                ASSERT_EQ(channel->Write(record.data(), record.size()), 24U);
                continue;
            }
            if (OfferUntilTaken(*channel, i, busy) == TOffer::Taken)
                ++taken;
        }
        EXPECT_EQ(channel->Drain(20s), 0U);
        peer.join();
        EXPECT_EQ(Sequences(got), Range(0, c.records));
        EXPECT_EQ(taken > 0, c.expectTaken) << "taken " << taken << ", refused " << busy;
        EXPECT_EQ(channel->Refused(), 0U);
    }
}

// While nothing can take the records (nobody listens, or the peer reads nothing), offers
// are refused and nothing is kept: no record waits in the channel and a drain owes none.
// Once the peer reads, exactly the records taken arrive.
TEST(TCommSocketOffer, ASocketThatTakesNothingRefusesOffersAndKeepsNothing)
{
    const struct {
        const char* name;
        bool listen;            // a peer accepts connections on the remote port
        bool expectSomeTaken;   // before its buffers fill, the socket takes records
    } cases[] = {
        {"nobody listens", false, false},
        {"the peer reads nothing", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const uint16_t remote = FreePort();
        RawSocket listener;
        if (c.listen)
            listener = RawSocket::Listen(remote);
        auto channel = TACommunication::New(Soc(remote, FreePort(), 1).c_str(), 24);
        uint32_t taken = 0;
        int refusedInARow = 0;
        // Offers until 300 offers in a row, 1 ms apart, were refused.
        while (refusedInARow < 300 && taken < 5000000) {
            const Bytes record = Record(taken);
            const TOffer offer = channel->Offer(record.data(), record.size());
            ASSERT_NE(offer, TOffer::Queued) << "a kept connection queues nothing";
            if (offer == TOffer::Taken) {
                ++taken;
                refusedInARow = 0;
            } else {
                ++refusedInARow;
                std::this_thread::sleep_for(1ms);
            }
        }
        EXPECT_EQ(refusedInARow, 300) << "the producer was never held back";
        EXPECT_EQ(taken > 0, c.expectSomeTaken) << taken;
        EXPECT_EQ(channel->SendWaiting(), 0U);
        EXPECT_EQ(channel->Refused(), 0U);
        if (!c.listen) {
            EXPECT_EQ(channel->Drain(100ms), 0U);
            continue;
        }
        RawSocket connection = listener.Accept();
        ASSERT_TRUE(connection.Valid());
        const Bytes got = connection.Receive(taken * 24u, 20s);
        EXPECT_EQ(Sequences(got), Range(0, taken));
        EXPECT_EQ(channel->Drain(5s), 0U);
        EXPECT_TRUE(connection.Receive(24, 200ms).empty()) << "a refused record left";
    }
}

// The peer closes its connection and accepts a new one while records are offered: the
// channel connects again and goes on; every record arrives at most once, in order, and the
// records lost with the closed connection are the ones it was holding (reported).
TEST(TCommSocketOffer, PeerThatClosesAndAcceptsAgainGetsTheRestInOrder)
{
    CapturedReports reports;
    const uint16_t remote = FreePort();
    RawSocket listener = RawSocket::Listen(remote);
    auto channel = TACommunication::New(Soc(remote, FreePort(), 1).c_str(), 24);
    constexpr uint32_t total = 4000;
    std::atomic<bool> offering{true};
    std::atomic<bool> closed{false};
    std::thread producer([&] {
        uint64_t busy = 0;
        for (uint32_t i = 0; i < total && offering; ++i) {
            // Half of them first; the rest once the peer has closed its first connection.
            while (i == total / 2 && !closed)
                std::this_thread::sleep_for(1ms);
            OfferUntilTaken(*channel, i, busy);
            if (i % 50 == 0)
                std::this_thread::sleep_for(1ms);
        }
    });
    Bytes first;
    int unread = 0;   // bytes the peer's TCP had taken (acknowledged) and its program never read
    {
        RawSocket connection = listener.Accept(10s);
        ASSERT_TRUE(connection.Valid());
        first = connection.Receive(1000 * 24, 10s);
        std::this_thread::sleep_for(100ms);   // what the producer offered so far has come
        ::ioctl(connection.Handle(), FIONREAD, &unread);
    }   // closed after 1000 records
    closed = true;
    RawSocket second = listener.Accept(10s);
    ASSERT_TRUE(second.Valid());
    // Until the last record has come.
    Bytes rest;
    for (const auto end = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < end;) {
        const Bytes piece = second.Receive(24, 100ms);
        rest.insert(rest.end(), piece.begin(), piece.end());
        uint32_t last = 0;
        if (rest.size() >= 24 && rest.size() % 24 == 0 && IsRecord(rest.data() + rest.size() - 24, last) &&
            last == total - 1)
            break;
    }
    producer.join();
    EXPECT_EQ(channel->Drain(5s), 0U);

    const std::vector<uint32_t> before = Sequences(first);
    const std::vector<uint32_t> after = Sequences(rest);
    ASSERT_EQ(before, Range(0, 1000));
    ASSERT_FALSE(after.empty());
    // What the second connection brought follows on: the records in between were the
    // closed connection's, nothing comes twice or out of order, and the last one arrives.
    EXPECT_GE(after.front(), 1000U);
    EXPECT_EQ(after, Range(after.front(), static_cast<uint32_t>(after.size())));
    EXPECT_EQ(after.back(), total - 1);
    // Acknowledged by the peer's TCP counts as delivered (nothing here can know what its
    // program read); anything lost beyond what it held unread is reported.
    const uint32_t lost = after.front() - 1000;
    if (lost > static_cast<uint32_t>(unread) / 24 + 1) {
        ASSERT_GE(reports.Count(), 1U) << lost << " records were lost without a word; the peer held " << unread
                                       << " bytes unread";
        EXPECT_NE(reports.Taken()[0].error.Message().Find("Connection lost"), -1);
    }
}

// Bytes that "Connection lost" reports say the broken connection held.
size_t ReportedLostBytes(const CapturedReports& reports)
{
    size_t bytes = 0;
    for (const auto& report : reports.Taken()) {
        const std::string text = report.error.Detail().str();
        const size_t with = text.find(" with ");
        if (report.error.Message().Find("Connection lost") == -1 || with == std::string::npos) continue;
        bytes += std::stoul(text.substr(with + 6));
    }
    return bytes;
}

// The peer reads every record it was sent and closes; a record leaves into the closed
// connection before its reset comes back, and the reset throws it away on the peer's side.
// Every record still arrives on the next connection or is reported lost, whichever thread
// sent it.
TEST(TCommSocketOffer, ARecordSentAfterThePeerClosedArrivesOrIsReported)
{
    const struct {
        const char* name;
        bool offered;   // the records after the close: offered by the producer, or written
    } cases[] = {
        {"offered", true},
        {"written", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CapturedReports reports;
        const uint16_t remote = FreePort();
        RawSocket listener = RawSocket::Listen(remote);
        auto channel = TACommunication::New(Soc(remote, FreePort(), 1).c_str(), 24);
        uint64_t busy = 0;
        const auto send = [&](uint32_t sequence) {
            if (c.offered) {
                EXPECT_EQ(OfferUntilTaken(*channel, sequence, busy), TOffer::Taken);
            } else {
                const Bytes record = Record(sequence);
                EXPECT_EQ(channel->Write(record.data(), record.size()), record.size());
            }
        };
        for (uint32_t i = 0; i < 30; ++i) OfferUntilTaken(*channel, i, busy);
        Bytes first;
        {
            RawSocket connection = listener.Accept(10s);
            ASSERT_TRUE(connection.Valid());
            first = connection.Receive(30 * 24, 10s);
        }   // closed with nothing unread
        std::this_thread::sleep_for(50ms);   // the close has reached the channel
        send(30);                            // into the closed connection
        std::this_thread::sleep_for(50ms);   // its reset has come back
        for (uint32_t i = 31; i < 60; ++i) send(i);
        Bytes rest;
        RawSocket second = listener.Accept(10s);
        ASSERT_TRUE(second.Valid());
        for (const auto end = std::chrono::steady_clock::now() + 10s;
             std::chrono::steady_clock::now() < end && (rest.empty() || Sequences(rest).back() != 59);) {
            const Bytes piece = second.Receive(24, 100ms);
            rest.insert(rest.end(), piece.begin(), piece.end());
        }
        EXPECT_EQ(channel->Drain(5s), 0U);
        ASSERT_EQ(Sequences(first), Range(0, 30));
        const std::vector<uint32_t> after = Sequences(rest);
        ASSERT_FALSE(after.empty());
        EXPECT_EQ(after, Range(after.front(), static_cast<uint32_t>(after.size())));
        EXPECT_EQ(after.back(), 59U);
        const size_t missing = after.front() - 30;
        EXPECT_GE(ReportedLostBytes(reports), missing * 24) << missing << " records were lost without a word";
    }
}

// Records written (not offered) until the socket is full and the send thread is held
// inside its step; the peer reads 1000 of them and closes without reading what it holds.
// The next connection brings the rest once, whole and in order, from the record the
// broken connection cut: every record arrived, was held unread by the closed peer, or was
// reported lost with the broken connection, none of them twice.
TEST(TCommSocketOffer, PeerThatClosesWhileTheSendThreadIsHeldCostsOnlyWhatItHeld)
{
    CapturedReports reports;
    const uint16_t remote = FreePort();
    RawSocket listener = RawSocket::Listen(remote);
    auto channel = TACommunication::New(Soc(remote, FreePort(), 1).c_str(), 24);
    constexpr uint32_t batch = 20000;
    uint32_t written = 0;
    const auto write = [&] {
        const Bytes records = Records(written, batch);
        ASSERT_EQ(channel->Write(records.data(), records.size()), records.size());
        written += batch;
    };
    write();
    RawSocket first = listener.Accept(10s);
    ASSERT_TRUE(first.Valid());
    // Full: a batch written 20 ms ago still waits in the channel.
    while (written < 2000000) {
        write();
        std::this_thread::sleep_for(20ms);
        if (channel->SendWaiting() >= size_t{batch} * 24)
            break;
    }
    ASSERT_GE(channel->SendWaiting(), size_t{batch} * 24) << "the socket never filled";
    ASSERT_EQ(Sequences(first.Receive(1000 * 24, 10s)), Range(0, 1000));
    std::this_thread::sleep_for(50ms);   // the room those reads made is filled again
    int unread = 0;
    ::ioctl(first.Handle(), FIONREAD, &unread);
    first.Close();   // with bytes unread: the connection is reset

    RawSocket second = listener.Accept(10s);
    ASSERT_TRUE(second.Valid());
    Bytes rest;
    for (const auto end = std::chrono::steady_clock::now() + 20s; std::chrono::steady_clock::now() < end;) {
        const Bytes piece = second.Receive(1 << 20, 100ms);
        rest.insert(rest.end(), piece.begin(), piece.end());
        uint32_t last = 0;
        if (rest.size() % 24 == 0 && !rest.empty() && IsRecord(rest.data() + rest.size() - 24, last) && last == written - 1)
            break;
    }
    EXPECT_EQ(channel->Drain(5s), 0U);
    const std::vector<uint32_t> after = Sequences(rest);
    ASSERT_FALSE(after.empty());
    EXPECT_EQ(after, Range(after.front(), written - after.front()));
    // The bytes the closed connection held, unread by the peer or unacknowledged, end
    // inside the record the next connection starts with.
    const uint32_t missing = after.front() - 1000;
    const size_t held = static_cast<size_t>(unread) + ReportedLostBytes(reports);
    EXPECT_EQ(missing, held / 24) << unread << " bytes unread, " << ReportedLostBytes(reports) << " reported lost";
}

// A channel is destroyed while its socket is full, part of a record waits to be sent and
// Write has queued more: the threads end promptly, and a drain before counts every byte
// that had not left.
TEST(TCommSocketOffer, StopWhileTheSocketIsFullEndsPromptlyAndCountsWhatWaits)
{
    const struct {
        const char* name;
        uint32_t written;   // records queued by Write after the socket filled
    } cases[] = {
        {"only offered records", 0},
        {"offered, then written", 500},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const uint16_t remote = FreePort();
        RawSocket listener = RawSocket::Listen(remote);
        auto channel = TACommunication::New(Soc(remote, FreePort(), 1).c_str(), 24);
        RawSocket connection;
        uint32_t taken = 0;
        int refusedInARow = 0;
        while (refusedInARow < 100) {
            const Bytes record = Record(taken);
            if (channel->Offer(record.data(), record.size()) == TOffer::Taken) {
                ++taken;
                refusedInARow = 0;
                if (!connection.Valid())
                    connection = listener.Accept();
            } else {
                ++refusedInARow;
                std::this_thread::sleep_for(1ms);
            }
        }
        ASSERT_TRUE(connection.Valid());
        const Bytes more = Records(taken, c.written);
        if (c.written > 0) {
            ASSERT_EQ(channel->Write(more.data(), more.size()), more.size());
        }
        const size_t owed = channel->Drain(100ms);
        EXPECT_GE(owed, size_t{c.written} * 24) << "queued records counted as gone";

        const auto started = std::chrono::steady_clock::now();
        channel.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);

        // What arrives is a prefix of what was handed over, every record once; what did not
        // arrive was owed by the drain.
        const Bytes got = connection.Receive((taken + c.written) * 24u, 5s);
        const std::vector<uint32_t> sequences = Sequences(Bytes(got.begin(), got.end() - static_cast<std::ptrdiff_t>(got.size() % 24)));
        EXPECT_EQ(sequences, Range(0, static_cast<uint32_t>(sequences.size())));
        EXPECT_GE(got.size() + owed, size_t{taken + c.written} * 24) << "bytes vanished unowed";
    }
}

// A peer that takes nothing for the stall time while records are offered is reported once
// per stall; when it reads again every record taken arrives, in order, and a new stall is
// reported again.
TEST(TCommSocketOffer, PeerThatStallsIsReportedOncePerStall)
{
    TCommSocket::SetStallTime(300ms);
    CapturedReports reports;
    const uint16_t remote = FreePort();
    RawSocket listener = RawSocket::Listen(remote);
    auto channel = TACommunication::New(Soc(remote, FreePort(), 1).c_str(), 24);
    TCommSocket::SetStallTime(TCommSocket::DefaultStall);
    const auto stalls = [&] {
        const auto taken = reports.Taken();
        return std::count_if(taken.begin(), taken.end(),
                             [](const auto& r) { return r.error.Message() == "Peer not reading"; });
    };
    RawSocket peer;
    uint32_t taken = 0;
    Bytes got;
    for (const long expected : {1L, 2L}) {
        SCOPED_TRACE(expected);
        // Offers every 1 ms until the stall has been reported.
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (stalls() < expected && std::chrono::steady_clock::now() < deadline) {
            const Bytes record = Record(taken);
            if (channel->Offer(record.data(), record.size()) == TOffer::Taken)
                ++taken;
            else
                std::this_thread::sleep_for(1ms);
            if (!peer.Valid())
                peer = listener.Accept(0ms);
        }
        ASSERT_EQ(stalls(), expected) << "the stall was not reported once";
        ASSERT_TRUE(peer.Valid());
        // The peer reads what was taken so far: the stall ends.
        const Bytes piece = peer.Receive(taken * 24u - got.size(), 30s);
        got.insert(got.end(), piece.begin(), piece.end());
        ASSERT_EQ(got.size(), taken * 24u);
    }
    EXPECT_EQ(Sequences(got), Range(0, taken));
    EXPECT_EQ(channel->Drain(5s), 0U);
}

} // namespace
