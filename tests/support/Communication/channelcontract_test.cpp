// One contract, every channel kind, with the simulation driver's 24-byte records: what one
// node writes comes out at the other node, in order, none lost or repeated; several senders
// to one receiver deliver every record whole and once; a foreign stream cut inside a record
// costs only that record; closing drains what is left or counts it; a flood is held at the
// bound with every record accounted for; and a channel can be destroyed while traffic flows.

#include "channeltesthelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <ostream>
#include <random>

using namespace commtest;

namespace {

constexpr size_t RecordSize = 24;

std::unique_ptr<TACommunication> Open(const std::string& description)
{
    return TACommunication::New(description.c_str(), RecordSize);
}

// The two ends of a link between two nodes, with whatever the medium needs (a directory,
// a null-modem pair), and where b reads from.
struct Link {
    std::unique_ptr<TempDir> dir;
    std::unique_ptr<NullModem> modem;
    std::unique_ptr<TACommunication> a;
    std::unique_ptr<TACommunication> b;
    std::string bDescription;   // b's own description, to open b again
    bool givesBack = false;     // the medium takes back what b took and did not read
    std::string bDrop;      // HDD: the drop b takes
    uint16_t bPort = 0;     // SOC: the port b listens on
    int bSlot = -1;         // RAM: the slot b takes from
};

// n senders and one receiver on one medium.
struct FanIn {
    std::unique_ptr<TempDir> dir;
    std::vector<std::unique_ptr<TACommunication>> senders;
    std::unique_ptr<TACommunication> receiver;
};

struct Kind {
    const char* name;
    bool fast;      // a frame crosses within milliseconds (no polling on the medium)
    bool streams;   // the medium has streams of its own (connections, drops, blocks)
    Link (*make)();
    FanIn (*fanIn)(int senders);
};

void PrintTo(const Kind& kind, std::ostream* out)
{
    *out << kind.name;
}

Link MakeRam()
{
    Link link;
    link.a = Open("RAM 10 11");
    link.bDescription = "RAM 11 10";
    link.b = Open(link.bDescription);
    link.bSlot = 10;
    link.givesBack = true;
    return link;
}

FanIn FanInRam(int senders)
{
    FanIn fan;
    for (int i = 0; i < senders; ++i)
        fan.senders.push_back(Open("RAM 100 " + std::to_string(110 + i)));
    fan.receiver = Open("RAM 101 100");
    return fan;
}

Link MakeHdd()
{
    Link link;
    link.dir = std::make_unique<TempDir>();
    link.a = Open("HDD " + *link.dir / "ab" + " " + *link.dir / "ba");
    link.bDescription = "HDD " + *link.dir / "ba" + " " + *link.dir / "ab";
    link.b = Open(link.bDescription);
    link.bDrop = *link.dir / "ab";
    link.givesBack = true;
    return link;
}

FanIn FanInHdd(int senders)
{
    FanIn fan;
    fan.dir = std::make_unique<TempDir>();
    for (int i = 0; i < senders; ++i)
        fan.senders.push_back(Open("HDD " + *fan.dir / "in" + " " + *fan.dir / ("back" + std::to_string(i))));
    fan.receiver = Open("HDD " + *fan.dir / "out" + " " + *fan.dir / "in");
    return fan;
}

std::vector<uint16_t> FreePorts(size_t count)
{
    std::vector<uint16_t> ports;
    while (ports.size() < count) {
        const uint16_t port = FreePort();
        if (std::find(ports.begin(), ports.end(), port) == ports.end())
            ports.push_back(port);
    }
    return ports;
}

std::string Soc(uint16_t remote, uint16_t local, int keep)
{
    return "SOC 127.0.0.1 " + std::to_string(remote) + " " + std::to_string(local) + " " + std::to_string(keep);
}

Link MakeSoc(int keep)
{
    const std::vector<uint16_t> ports = FreePorts(2);
    Link link;
    link.a = Open(Soc(ports[1], ports[0], keep));
    link.bDescription = Soc(ports[0], ports[1], keep);
    link.b = Open(link.bDescription);
    link.bPort = ports[1];
    return link;
}

FanIn FanInSoc(int senders, int keep)
{
    const std::vector<uint16_t> ports = FreePorts(static_cast<size_t>(senders) + 2);
    FanIn fan;
    for (int i = 0; i < senders; ++i)
        fan.senders.push_back(Open(Soc(ports[0], ports[2 + static_cast<size_t>(i)], keep)));
    fan.receiver = Open(Soc(ports[1], ports[0], keep));
    return fan;
}

Link MakeCom()
{
    Link link;
    link.modem = std::make_unique<NullModem>();
    link.a = Open("COM " + link.modem->First() + " 115200 8 N");
    link.bDescription = "COM " + link.modem->Second() + " 115200 8 N";
    link.b = Open(link.bDescription);
    return link;
}

// A serial line has one sender per end and no streams of its own.
const Kind kinds[] = {
    {"Ram", true, true, MakeRam, FanInRam},
    {"Hdd", false, true, MakeHdd, FanInHdd},
    {"SocKeep", true, true, [] { return MakeSoc(1); }, [](int n) { return FanInSoc(n, 1); }},
    {"SocReconnect", false, true, [] { return MakeSoc(0); }, [](int n) { return FanInSoc(n, 0); }},
    {"Com", false, false, MakeCom, nullptr},
};

// Puts bytes into link.b as one stream of a foreign sender (a block, a drop, a connection)
// and ends that stream; returns once b has taken it or the medium holds it.
void ForeignStream(Link& link, const Bytes& bytes)
{
    if (link.bSlot >= 0) {
        // A sender without records puts the bytes as one block.
        auto sender = TACommunication::New(("RAM " + std::to_string(link.bSlot) + " 250").c_str(), 1);
        sender->Write(bytes.data(), bytes.size());
        EXPECT_EQ(sender->Drain(5s), 0U) << "b did not take the block";
    } else if (!link.bDrop.empty()) {
        ASSERT_TRUE(Eventually([&] { return !std::filesystem::exists(link.bDrop); }));
        {
            std::ofstream file(link.bDrop + ".part", std::ios::binary);
            file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        }
        std::filesystem::rename(link.bDrop + ".part", link.bDrop);
    } else {
        RawSocket peer = RawSocket::Connect(link.bPort);
        ASSERT_TRUE(peer.SendAll(bytes));
    }
}

// Reads count records from channel; each must be a whole record.
std::vector<uint32_t> ReadSequences(TACommunication& channel, size_t count, std::chrono::milliseconds limit = 30s)
{
    return Sequences(ReadFor(channel, count * RecordSize, limit));
}

class ChannelContract : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override { link_ = GetParam().make(); }
    Link link_;
};

TEST_P(ChannelContract, BytesComeOutAtTheOtherNodeInOrderBothWays)
{
    Bytes forth;
    for (int i = 0; i < 600; ++i)
        forth.push_back(static_cast<uint8_t>(i * 13));
    const Bytes back = Records(100, 3);

    EXPECT_EQ(link_.a->Write(forth.data(), forth.size()), 600U);
    link_.b->Write(back.data(), back.size());

    EXPECT_EQ(ReadFor(*link_.b, forth.size()), forth);
    EXPECT_EQ(ReadFor(*link_.a, back.size()), back);
}

TEST_P(ChannelContract, TenThousandRecordsArriveNoneLostOrRepeated)
{
    constexpr uint32_t total = 10000;
    const Bytes expected = Records(0, total);
    std::thread writer([&] {
        // Bursts of 1 to 50 records, as the transmit timer hands them over.
        std::mt19937 random(7);
        size_t done = 0;
        while (done < expected.size()) {
            const size_t burst = std::min<size_t>(expected.size() - done, 24 * (1 + random() % 50));
            link_.a->Write(expected.data() + done, burst);
            done += burst;
            if (random() % 4 == 0)
                std::this_thread::sleep_for(100us);
        }
    });
    const Bytes got = ReadFor(*link_.b, expected.size(), 30s);
    writer.join();

    ASSERT_EQ(got.size(), expected.size());
    for (uint32_t i = 0; i < total; ++i)
        ASSERT_TRUE(std::equal(got.begin() + 24 * i, got.begin() + 24 * (i + 1), expected.begin() + 24 * i))
            << "record " << i;
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(link_.b->Available(), 0U) << "bytes arrived twice";
}

// Offered one by one from the producer's thread, as the transmit timer does, records
// arrive in order, none lost or repeated, whether the medium took them at once, queued
// them or held the producer back (an offer held back is made again).
TEST_P(ChannelContract, OfferedRecordsArriveNoneLostOrRepeated)
{
    constexpr uint32_t total = 3000;
    std::thread producer([&] {
        for (uint32_t i = 0; i < total; ++i) {
            const Bytes record = Record(i);
            const auto giveUp = std::chrono::steady_clock::now() + 20s;
            while (link_.a->Offer(record.data(), RecordSize, 64 * RecordSize) == TACommunication::TOffer::Busy) {
                ASSERT_LT(std::chrono::steady_clock::now(), giveUp) << "record " << i << " never taken";
                std::this_thread::sleep_for(100us);
            }
        }
    });
    const std::vector<uint32_t> got = ReadSequences(*link_.b, total, 60s);
    producer.join();
    EXPECT_EQ(got, Range(0, total));
    EXPECT_EQ(link_.a->Drain(5s), 0U);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(link_.b->Available(), 0U) << "records arrived twice";
}

TEST_P(ChannelContract, DestroyingWhileTrafficFlowsJoinsPromptly)
{
    std::atomic<bool> writing{true};
    std::thread writer([&] {
        uint32_t sequence = 0;
        while (writing) {
            const Bytes record = Record(sequence++);
            link_.a->Write(record.data(), 24);
            link_.b->Write(record.data(), 24);
            std::this_thread::sleep_for(50us);
        }
    });
    ReadFor(*link_.b, 24 * 20, 2s);

    auto started = std::chrono::steady_clock::now();
    writing = false;
    writer.join();
    link_.b.reset();   // its receive thread is busy with a's traffic
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);

    started = std::chrono::steady_clock::now();
    link_.a.reset();   // its send thread may be waiting for a peer that is gone
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
}

// A write wakes the idle threads of both ends: every frame crosses, one after another,
// however long the threads slept before it. How fast it crosses is a figure of the
// machine, measured by bench/channel_latency, not asserted here.
TEST_P(ChannelContract, FrameWakesIdleThreadsAndCrosses)
{
    if (!GetParam().fast)
        GTEST_SKIP() << "this medium is polled";
    // Warm up: the connection (if any) is made by the first frame.
    const Bytes first = Record(0);
    link_.a->Write(first.data(), 24);
    ASSERT_EQ(ReadFor(*link_.b, 24).size(), 24U);

    uint8_t place[24];
    for (uint32_t i = 1; i <= 300; ++i) {
        const Bytes record = Record(i);
        std::this_thread::sleep_for(2ms);   // the threads go idle between frames
        link_.a->Write(record.data(), 24);
        int got = 0;
        for (const auto deadline = std::chrono::steady_clock::now() + 10s;
             got < 24 && std::chrono::steady_clock::now() < deadline;) {
            got += link_.b->Read(place + got, 24 - got);
            if (got < 24)
                std::this_thread::sleep_for(10us);
        }
        ASSERT_EQ(got, 24) << "frame " << i << " did not cross";
        ASSERT_EQ(Bytes(place, place + 24), record) << "frame " << i;
    }
}

TEST_P(ChannelContract, SendersToOneReceiverDeliverEveryRecordWholeAndOnce)
{
    if (!GetParam().fanIn)
        GTEST_SKIP() << "one sender per end";
    link_ = Link();   // only the fan-in below
    constexpr int senders = 3;
    constexpr uint32_t each = 3000;
    FanIn fan = GetParam().fanIn(senders);
    // Sender k numbers its records from k * 1000000, in bursts of 1 to 40 records.
    std::vector<std::thread> writers;
    for (int k = 0; k < senders; ++k) {
        writers.emplace_back([&, k] {
            std::mt19937 random(static_cast<unsigned>(k + 1));
            const Bytes all = Records(static_cast<uint32_t>(k) * 1000000, each);
            for (size_t done = 0; done < all.size();) {
                const size_t burst = std::min<size_t>(all.size() - done, RecordSize * (1 + random() % 40));
                ASSERT_EQ(fan.senders[static_cast<size_t>(k)]->Write(all.data() + done, burst), burst);
                done += burst;
                if (random() % 3 == 0)
                    std::this_thread::sleep_for(200us);
            }
        });
    }
    const std::vector<uint32_t> got = ReadSequences(*fan.receiver, senders * each, 60s);
    for (auto& writer : writers)
        writer.join();

    ASSERT_EQ(got.size(), senders * each);
    // Every record once, and each sender's records in the order it wrote them.
    std::map<uint32_t, std::vector<uint32_t>> bySender;
    for (const uint32_t sequence : got)
        bySender[sequence / 1000000].push_back(sequence);
    ASSERT_EQ(bySender.size(), static_cast<size_t>(senders));
    for (const auto& [k, sequences] : bySender)
        EXPECT_EQ(sequences, Range(k * 1000000, each)) << "sender " << k;
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(fan.receiver->Available(), 0U) << "records arrived twice";
    EXPECT_FALSE(fan.receiver->TakeCutRecords().has_value());
}

TEST_P(ChannelContract, StreamCutInsideARecordCostsOnlyThatRecord)
{
    if (!GetParam().streams)
        GTEST_SKIP() << "the medium has no streams of its own";
    // 10 bytes of garbage alone; three records and the first 10 bytes of a fourth; then the
    // fourth and fifth whole. Each comes as a stream of its own from a foreign sender.
    const Bytes garbage = {0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
    Bytes cut = Records(0, 3);
    const Bytes fourth = Record(3);
    cut.insert(cut.end(), fourth.begin(), fourth.begin() + 10);
    ForeignStream(link_, garbage);
    ForeignStream(link_, cut);
    ForeignStream(link_, Records(3, 2));

    EXPECT_EQ(ReadSequences(*link_.b, 5), Range(0, 5));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(link_.b->Available(), 0U);
    const std::optional<TAString> reported = link_.b->TakeCutRecords();
    ASSERT_TRUE(reported.has_value());
    EXPECT_NE(reported->Find("ended 10 bytes into a 24-byte record"), -1) << reported->str();
    EXPECT_NE(reported->Find("2 cut records"), -1) << reported->str();
    EXPECT_FALSE(link_.b->TakeCutRecords().has_value()) << "reported twice";
}

TEST_P(ChannelContract, CloseWithABacklogDeliversItWithinTheDrainTime)
{
    constexpr uint32_t count = 3000;
    const Bytes all = Records(0, count);
    ASSERT_EQ(link_.a->Write(all.data(), all.size()), all.size());
    std::vector<uint32_t> got;
    std::thread reader([&] { got = ReadSequences(*link_.b, count); });
    EXPECT_EQ(link_.a->Drain(20s), 0U);
    link_.a.reset();   // closed: what it held has left
    reader.join();
    EXPECT_EQ(got, Range(0, count));
}

TEST_P(ChannelContract, FloodIsHeldAtTheBoundAndEveryRecordAccountedFor)
{
    if (!GetParam().streams)
        GTEST_SKIP() << "a serial line cannot hold its sender back";
    // Nobody reads b: a writes until 200 of its writes have been refused.
    uint32_t sequence = 0;
    std::vector<uint32_t> accepted;
    int refusals = 0;
    while (refusals < 200 && sequence < 2000000) {
        const Bytes record = Record(sequence);
        if (link_.a->Write(record.data(), RecordSize) == RecordSize) {
            accepted.push_back(sequence);
        } else {
            ++refusals;
            std::this_thread::sleep_for(100us);
        }
        ++sequence;
    }
    ASSERT_EQ(refusals, 200) << "the sender was never held back";
    EXPECT_EQ(link_.a->Refused(), 200U * RecordSize);
    EXPECT_LE(link_.b->Available(), TABuffer::DefaultLimit);
    EXPECT_EQ(link_.b->Available() % RecordSize, 0U);

    // Now b reads: every accepted record arrives, in order, and the drain leaves nothing.
    std::vector<uint32_t> got;
    std::thread reader([&] { got = ReadSequences(*link_.b, accepted.size(), 120s); });
    EXPECT_EQ(link_.a->Drain(120s), 0U);
    reader.join();
    EXPECT_EQ(got, accepted);
    EXPECT_EQ(link_.b->Discarded(), 0U);
}

// A receiver that stops while records flow: every record it took is read after the stop,
// in order, from the first on, none twice; where the medium can take back what was taken
// and not read (a mailbox, a drop), nothing is lost at all: the next receiver gets the rest.
TEST_P(ChannelContract, ReceiverStoppedWhileRecordsFlowHandsOverEverythingItTook)
{
    constexpr uint32_t total = 40000;
    std::atomic<bool> writing{true};
    std::thread writer([&] {
        for (uint32_t n = 0; n < total && writing;) {
            const Bytes burst = Records(n, std::min<uint32_t>(100, total - n));
            if (link_.a->Write(burst.data(), burst.size()) == burst.size())
                n += static_cast<uint32_t>(burst.size() / RecordSize);
            else
                std::this_thread::sleep_for(1ms);
        }
    });
    std::vector<uint32_t> got = ReadSequences(*link_.b, 2000);
    link_.b->StopReceiving();
    const size_t taken = link_.b->Available();
    const std::vector<uint32_t> rest = ReadSequences(*link_.b, taken / RecordSize, 5s);
    got.insert(got.end(), rest.begin(), rest.end());
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(link_.b->Available(), 0U) << "taken after the stop";
    EXPECT_EQ(got, Range(0, static_cast<uint32_t>(got.size()))) << "a record taken was lost or came twice";
    EXPECT_EQ(link_.b->Losses().Any(), false) << link_.b->Losses().Text().str();
    if (!link_.givesBack) {
        writing = false;
        writer.join();
        return;
    }
    link_.b.reset();
    link_.b = Open(link_.bDescription);
    const std::vector<uint32_t> after = ReadSequences(*link_.b, total - got.size(), 60s);
    writer.join();
    got.insert(got.end(), after.begin(), after.end());
    EXPECT_EQ(got, Range(0, total));
}

// A send-only channel on b's medium takes nothing from it: what a sends stays in the medium
// (or waits at a), and a receiver opened afterwards gets all of it.
TEST_P(ChannelContract, SendOnlyChannelNeverTakesFromItsMedium)
{
    link_.b.reset();
    auto sendOnly = TACommunication::New(link_.bDescription.c_str(), TCommOptions(RecordSize, nullptr, true));
    EXPECT_TRUE(sendOnly->SendOnly());
    const Bytes records = Records(0, 50);
    link_.a->Write(records.data(), records.size());
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(sendOnly->Available(), 0U);
    if (link_.modem)
        return;   // a serial line keeps nothing for a later reader
    sendOnly.reset();
    link_.b = Open(link_.bDescription);
    EXPECT_EQ(ReadSequences(*link_.b, 50), Range(0, 50));
}

INSTANTIATE_TEST_SUITE_P(Kinds, ChannelContract, ::testing::ValuesIn(kinds),
                         [](const auto& param) { return std::string(param.param.name); });

// A channel whose peer never takes anything: Drain gives up after its time and counts
// exactly what was written and not handed over.
TEST(ChannelDrain, WithNoPeerEveryRecordIsCountedAsNotDelivered)
{
    TempDir dir;
    const struct {
        const char* name;
        std::string description;
    } cases[] = {
        // The first block sits in slot 120, which nobody empties: it counts as not delivered.
        {"Ram", "RAM 120 121"},
        {"Soc", Soc(FreePort(), FreePort(), 1)},   // nobody listens on the remote port
        // The first batch becomes the drop "out", which nobody takes; the second cannot follow.
        {"Hdd", "HDD " + dir / "out" + " " + dir / "in"},
    };
    for (const auto& c : cases) {
        auto channel = Open(c.description);
        const Bytes first = Records(0, 500);
        ASSERT_EQ(channel->Write(first.data(), first.size()), first.size()) << c.name;
        if (std::string(c.name) == "Hdd") {
            ASSERT_TRUE(Eventually([&] { return std::filesystem::exists(dir / "out"); }));
            EXPECT_EQ(channel->Drain(1s), 0U) << "the drop carries the first batch";
        }
        const Bytes second = Records(500, 500);
        ASSERT_EQ(channel->Write(second.data(), second.size()), second.size()) << c.name;
        const size_t expected = std::string(c.name) == "Hdd" ? 500 * RecordSize : 1000 * RecordSize;
        EXPECT_EQ(channel->Drain(200ms), expected) << c.name;
        EXPECT_EQ(channel->Refused(), 0U) << c.name;
    }
}

TEST(ChannelDeadMedium, HddReadNameThatIsADirectoryIsReportedAndSendingGoesOn)
{
    CapturedReports reports;
    TempDir dir;
    std::filesystem::create_directory(dir / "in");
    auto channel = Open("HDD " + dir / "out" + " " + dir / "in");
    ASSERT_TRUE(Eventually([&] { return channel->ReceiveError().has_value(); }));
    EXPECT_EQ(channel->ReceiveError()->Operation(), "TCommHDD::Receive");
    EXPECT_EQ(channel->ReceiveError()->Message(), "unknown-Fatal-Error");
    ASSERT_TRUE(Eventually([&] { return reports.Count() == 1; }));
    const auto taken = reports.Taken();
    EXPECT_EQ(taken[0].text, "TAThread::Execute->TCommHDD::Receive unknown-Fatal-Error");
    EXPECT_EQ(taken[0].error.Detail(), "HDD read file '" + dir / "in" + "' is a directory");

    const Bytes records = Records(0, 4);
    channel->Write(records.data(), records.size());
    EXPECT_EQ(channel->Drain(5s), 0U);
    EXPECT_FALSE(channel->SendError().has_value());
}

TEST(ChannelDeadMedium, HddWriteNameThatIsADirectoryIsReportedAndCounted)
{
    CapturedReports reports;
    TempDir dir;
    std::filesystem::create_directory(dir / "out");
    auto channel = Open("HDD " + dir / "out" + " " + dir / "in");
    const Bytes records = Records(0, 10);
    channel->Write(records.data(), records.size());
    ASSERT_TRUE(Eventually([&] { return channel->SendError().has_value(); }));
    EXPECT_EQ(channel->SendError()->Operation(), "TCommHDD::Send");
    EXPECT_EQ(channel->SendError()->Detail(), "HDD write file '" + dir / "out" + "' is a directory");
    EXPECT_EQ(reports.Count(), 1U);
    // Nothing more can leave: the drain says so at once, with every byte counted.
    EXPECT_EQ(channel->Drain(60s), records.size());
}

TEST(ChannelDeadMedium, SocLocalPortInUseIsReportedOnceAndReceivingStartsWhenItIsFree)
{
    CapturedReports reports;
    const uint16_t local = FreePort();
    auto blocker = std::make_unique<RawSocket>(RawSocket::Listen(local));
    auto channel = Open(Soc(FreePort(), local, 1));
    ASSERT_TRUE(Eventually([&] { return reports.Count() == 1; }));
    EXPECT_NE(reports.Taken()[0].error.Detail().Find("local port " + std::to_string(local) + " cannot be bound"), -1)
        << reports.Taken()[0].error.Detail().str();
    std::this_thread::sleep_for(200ms);   // it keeps trying, every 50 ms
    EXPECT_EQ(reports.Count(), 1U) << "reported more than once";

    blocker.reset();
    RawSocket peer = RawSocket::Connect(local);
    ASSERT_TRUE(peer.SendAll(Records(0, 3)));
    EXPECT_EQ(ReadSequences(*channel, 3), Range(0, 3));
}

} // namespace
