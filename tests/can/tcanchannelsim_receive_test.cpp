// The receiving side of the simulation channel, through the real channel and its real
// communication channels: records are checked (a byte stream finds its way back after
// garbage or a lost byte), entries after the first only send, and a close hands every
// frame it took to the program or gives it back to the medium.

#include "can/sim/tcanchannelsim.h"
#include "can/sim/tsimframerecord.h"
#include "can/tcanadapters.h"

#include "../support/Communication/channeltesthelpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <set>
#include <thread>

using namespace commtest;

#if defined(__SANITIZE_THREAD__)
// The serial channel's port thread is a QThread, and the installed Qt is not built with
// ThreadSanitizer: a QThread signals its end through a QWaitCondition under a futex-based
// QMutex that the checker cannot see, so destroying the QThread after wait() looks like a
// race inside Qt. Only reports of Qt destroying its own wait condition are suppressed.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:QWaitCondition::~QWaitCondition\n";
}
#endif

namespace {

// Frame n of a test: a J1939 identifier with n in its lower bits, n in the data, Dlc 1..8
// and every fourth frame an 11-bit identifier.
TCanFrame Frame(uint32_t n)
{
    const bool standard = n % 4 == 3;
    const uint32_t id = standard ? (0x100u + n % 0x700u) : (0x18FE0000u | (n & 0xFFFFu));
    std::array<uint8_t, 8> data{};
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(n >> (8 * (i % 4)));
    const uint8_t dlc = static_cast<uint8_t>(1 + n % 8);
    for (size_t i = dlc; i < data.size(); ++i) data[i] = 0;
    return TCanFrame(id, data, dlc, 0, !standard);
}

Bytes RecordOf(const TCanFrame& frame)
{
    const TSimFrameRecord::Bytes record = TSimFrameRecord::Encode(frame);
    return Bytes(record.begin(), record.end());
}

Bytes RecordsOf(uint32_t first, uint32_t count)
{
    Bytes all;
    for (uint32_t n = first; n < first + count; ++n) {
        const Bytes one = RecordOf(Frame(n));
        all.insert(all.end(), one.begin(), one.end());
    }
    return all;
}

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Reads frames until count have come or the time is up; read errors are collected.
std::vector<TCanFrame> ReadFrames(TCanChannel& channel, size_t count, std::vector<TBaseError>* errors = nullptr,
                                  std::chrono::milliseconds limit = 10s)
{
    std::vector<TCanFrame> frames;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (frames.size() < count && std::chrono::steady_clock::now() < deadline) {
        try {
            const TCanFrame frame = channel.Read();
            if (frame.IsNone())
                std::this_thread::sleep_for(1ms);
            else
                frames.push_back(frame);
        } catch (const TBaseError& e) {
            if (errors) errors->push_back(e);
        }
    }
    return frames;
}

// The frame number read back from a frame (its identifier, its data) and whether the frame
// is exactly Frame(n) apart from its time.
bool IsFrame(const TCanFrame& got, uint32_t n)
{
    const TCanFrame want = Frame(n);
    return got.Id == want.Id && got.Dlc == want.Dlc && got.Extended == want.Extended && got.Data == want.Data;
}

void ExpectFrames(const std::vector<TCanFrame>& got, uint32_t first, uint32_t count, const std::string& what)
{
    ASSERT_EQ(got.size(), count) << what;
    for (uint32_t i = 0; i < count; ++i)
        EXPECT_TRUE(IsFrame(got[i], first + i)) << what << ": frame " << i << " id " << std::hex << got[i].Id;
}

void PutFile(const std::string& name, const Bytes& bytes)
{
    {
        std::ofstream file(name + ".part", std::ios::binary);
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    std::filesystem::rename(name + ".part", name);
}

Bytes FileBytes(const std::string& name)
{
    std::ifstream file(name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), {});
}

} // namespace

// Bytes that come from something else than a sender of records, on every medium: what is
// not a valid record is refused and counted, and the records behind it come whole and in
// line. A byte stream slides forward to the next valid record; a mailbox block refuses the
// invalid record and keeps its line.
TEST(TCanChannelSimReceive, InvalidBytesAreRefusedCountedAndFollowedByAlignedRecords)
{
    Bytes allOnes = RecordOf(Frame(100));
    std::fill(allOnes.begin(), allOnes.begin() + 4, 0xFF);   // identifier 0xFFFFFFFF
    Bytes longDlc = RecordOf(Frame(101));
    longDlc[12] = 9;
    Bytes unknownFlag = RecordOf(Frame(102));
    unknownFlag[13] |= 0x80;
    Bytes tooLargeStandard = RecordOf(Frame(3));   // 11-bit, identifier 0x800 does not fit
    tooLargeStandard[0] = 0x00;
    tooLargeStandard[1] = 0x08;
    Bytes lostByte = RecordOf(Frame(103));
    lostByte.erase(lostByte.begin() + 6);   // one data byte lost on the line
    const Bytes garbage = {0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06};

    const struct {
        const char* name;
        Bytes bad;
        const char* losses;   // the totals at the end, for a byte stream
    } cases[] = {
        {"identifier 0xFFFFFFFF", allOnes, "24 bytes skipped between records"},
        {"length 9", longDlc, "24 bytes skipped between records"},
        {"unknown flag", unknownFlag, "24 bytes skipped between records"},
        {"11-bit identifier 0x800", tooLargeStandard, "24 bytes skipped between records"},
        {"a lost byte", lostByte, "23 bytes skipped between records"},
        {"10 bytes of garbage", garbage, "10 bytes skipped between records"},
    };
    for (const auto& c : cases) {
        // A serial line: three records, the bad bytes, three records, as one stream.
        Pty line;
        TCanChannelSim channel("COM " + TAString(line.SlaveName()) + " 115200 8 N");
        const Bytes stream = Join({RecordsOf(0, 3), c.bad, RecordsOf(3, 3)});
        ASSERT_EQ(::write(line.Master(), stream.data(), stream.size()), static_cast<ssize_t>(stream.size()));
        ExpectFrames(ReadFrames(channel, 6), 0, 6, std::string("COM, ") + c.name);
        const std::optional<TBaseError> losses = channel.ReceiveLosses();
        ASSERT_TRUE(losses.has_value()) << c.name;
        EXPECT_EQ(losses->Message(), "Frames lost on receiving");
        EXPECT_NE(losses->Detail().Find(c.losses), -1) << c.name << ": " << losses->Detail().str();
    }
    for (const auto& c : cases) {
        // A TCP connection of a foreign sender.
        const uint16_t port = FreePort();
        TCanChannelSim channel("SOC 127.0.0.1 " + TAString(static_cast<int32_t>(FreePort())) + " " +
                               TAString(static_cast<int32_t>(port)) + " 1");
        RawSocket peer = RawSocket::Connect(port);
        ASSERT_TRUE(peer.SendAll(Join({RecordsOf(0, 3), c.bad, RecordsOf(3, 3)})));
        ExpectFrames(ReadFrames(channel, 6), 0, 6, std::string("SOC, ") + c.name);
        ASSERT_TRUE(channel.ReceiveLosses().has_value()) << c.name;
        EXPECT_NE(channel.ReceiveLosses()->Detail().Find(c.losses), -1) << channel.ReceiveLosses()->Detail().str();
    }
    {
        // A mailbox block with three invalid records among six valid ones.
        TCanChannelSim channel("RAM 71 70");
        auto sender = TACommunication::New("RAM 70 250", 1);
        const Bytes block = Join({RecordsOf(0, 2), allOnes, RecordsOf(2, 2), longDlc, unknownFlag, RecordsOf(4, 2)});
        sender->Write(block.data(), block.size());
        ExpectFrames(ReadFrames(channel, 6), 0, 6, "RAM");
        ASSERT_TRUE(channel.ReceiveLosses().has_value());
        EXPECT_EQ(channel.ReceiveLosses()->Detail(), "RAM 71 70: 3 invalid records refused");
    }
}

// A stream arrives in pieces of any size. After bad bytes, a window that looks like a
// record but lies across two real ones must not be taken just because nothing follows it
// yet: it waits for the record behind it, and the real records come in line.
TEST(TCanChannelSimReceive, WindowAcrossTwoRecordsIsNotTakenWhileItsFollowerIsMissing)
{
    // Record 3's identifier 0x1234 and data bytes 6..7 (8, 2) make the 24 bytes from
    // two bytes before it look like a valid record of identifier 0x12340000.
    const TCanFrame three(0x1234, {1, 2, 3, 4, 5, 6, 8, 2}, 8, 3);
    const Bytes first = Join({RecordsOf(0, 3), Bytes{0x55, 0x00, 0x00}, RecordOf(three)});
    const size_t split = first.size() - 2;   // the window ends where this piece ends
    for (const char* medium : {"COM", "SOC"}) {
        SCOPED_TRACE(medium);
        std::unique_ptr<Pty> line;
        std::unique_ptr<TCanChannelSim> channel;
        RawSocket peer;
        const uint16_t port = FreePort();
        if (std::string(medium) == "COM") {
            line = std::make_unique<Pty>();
            channel = std::make_unique<TCanChannelSim>("COM " + TAString(line->SlaveName()) + " 115200 8 N");
        } else {
            channel = std::make_unique<TCanChannelSim>("SOC 127.0.0.1 " + TAString(static_cast<int32_t>(FreePort())) +
                                                       " " + TAString(static_cast<int32_t>(port)) + " 1");
            peer = RawSocket::Connect(port);
        }
        auto send = [&](const Bytes& bytes) {
            if (line)
                ASSERT_EQ(::write(line->Master(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
            else
                ASSERT_TRUE(peer.SendAll(bytes));
        };
        send(Bytes(first.begin(), first.begin() + static_cast<std::ptrdiff_t>(split)));
        const std::vector<TCanFrame> before = ReadFrames(*channel, 4, nullptr, 300ms);
        EXPECT_EQ(before.size(), 3u) << "a frame was taken from a window across two records";
        send(Join({Bytes(first.begin() + static_cast<std::ptrdiff_t>(split), first.end()), RecordsOf(4, 2)}));
        const std::vector<TCanFrame> after = ReadFrames(*channel, 3);
        ASSERT_EQ(after.size(), 3u);
        EXPECT_EQ(after[0].Id, three.Id);
        EXPECT_EQ(after[0].Data, three.Data);
        EXPECT_TRUE(IsFrame(after[1], 4));
        EXPECT_TRUE(IsFrame(after[2], 5));
    }
}

// A stream whose sender marks its records (flags) marks all of them: an unmarked record in
// it is bytes out of line and is not passed on as a frame, while a sender that knows no
// flags is still understood.
TEST(TCanChannelSimReceive, UnmarkedRecordsAreFramesOnlyFromSendersThatNeverMark)
{
    Bytes old = RecordOf(Frame(0));
    old[13] = 0;   // a sender of the old format: 29 bits, 8 bytes
    old[12] = 8;
    TSimFrameRecord::Bytes record{};
    std::copy(old.begin(), old.end(), record.begin());
    uint8_t fresh = 0;
    EXPECT_TRUE(TSimFrameRecord::Valid(record, fresh)) << "an old-format sender";
    uint8_t marked = 0;
    const TSimFrameRecord::Bytes first = TSimFrameRecord::Encode(Frame(1));
    ASSERT_TRUE(TSimFrameRecord::Valid(first, marked));
    EXPECT_FALSE(TSimFrameRecord::Valid(record, marked)) << "after a marked record";
}

// Three entries sharing one inbox: only the first reads, so every record dropped into the
// inbox reaches the program; the others only carry the frames written to their own drops.
TEST(TCanChannelSimReceive, EntriesAfterTheFirstOnlySend)
{
    TempDir dir;
    const TAString in(dir / "in");
    TCanChannelSim channel("HDD " + TAString(dir / "out1") + " " + in + ",HDD " + TAString(dir / "out2") + " " + in +
                           ",HDD " + TAString(dir / "out3") + " " + in);
    ASSERT_EQ(channel.EntryCount(), 3);
    std::vector<TCanFrame> got;
    for (uint32_t drop = 0; drop < 16; ++drop) {
        ASSERT_TRUE(Eventually([&] { return !std::filesystem::exists(dir / "in"); }, 10s)) << "drop " << drop;
        PutFile(dir / "in", RecordsOf(drop * 100, 100));
    }
    got = ReadFrames(channel, 1600);
    ExpectFrames(got, 0, 1600, "three HDD entries on one inbox");

    channel.Write(Frame(7));
    EXPECT_EQ(channel.Drain(5s), 0U);
    for (const char* out : {"out1", "out2", "out3"}) EXPECT_EQ(FileBytes(dir / out), RecordOf(Frame(7))) << out;
}

// A receiver closed while traffic flows: the frames it took reach the program (read at the
// close) or go back to the medium, where the next receiver finds them; none is lost or
// comes twice.
TEST(TCanChannelSimReceive, ReceiverClosedWhileTrafficFlowsLosesNothing)
{
    TempDir dir;
    const struct {
        const char* name;
        std::string sender;     // a TACommunication description
        std::string receiver;   // after "Simulation "
    } cases[] = {
        {"RAM", "RAM 80 251", "RAM 81 80"},
        {"HDD", "HDD " + dir / "ab" + " " + dir / "unused", "HDD " + dir / "ba" + " " + dir / "ab"},
    };
    for (const auto& c : cases) {
        constexpr uint32_t total = 60000;
        auto sender = TACommunication::New(c.sender.c_str(), TSimFrameRecord::Size);
        std::atomic<bool> stop{false};
        std::thread writer([&] {
            for (uint32_t n = 0; n < total && !stop;) {
                const Bytes burst = RecordsOf(n, std::min<uint32_t>(200, total - n));
                if (sender->Write(burst.data(), burst.size()) == burst.size())
                    n += static_cast<uint32_t>(burst.size() / 24);
                else
                    std::this_thread::sleep_for(1ms);
            }
        });
        std::vector<TCanFrame> got;
        {
            TCanAdapters adapters;
            TCanChannel* first = adapters.OpenChannel(("Simulation " + c.receiver).c_str());
            got = ReadFrames(*first, 5000);
            TCanAdapters::TClosing closing;
            closing.received = [&](const TCanFrame& frame) { got.push_back(frame); };
            closing.error = [&](const TBaseError& e) { ADD_FAILURE() << c.name << ": " << e.Detail().str(); };
            adapters.CloseChannel(first, 100ms, closing);
        }
        {
            TCanChannelSim next(c.receiver.c_str());
            const std::vector<TCanFrame> rest = ReadFrames(next, total - got.size(), nullptr, 60s);
            got.insert(got.end(), rest.begin(), rest.end());
        }
        stop = true;
        writer.join();
        ExpectFrames(got, 0, total, c.name);
    }
}

// A socket receiver that stops receiving hands over every frame it took; the sender's
// records arrive in order, none twice.
TEST(TCanChannelSimReceive, SocketReceiverHandsOverWhatItTookAtTheClose)
{
    const uint16_t port = FreePort();
    auto sender = TACommunication::New(("SOC 127.0.0.1 " + std::to_string(port) + " " +
                                        std::to_string(FreePort()) + " 1").c_str(),
                                       TSimFrameRecord::Size);
    TCanAdapters adapters;
    TCanChannel* channel =
        adapters.OpenChannel(("Simulation SOC 127.0.0.1 " + std::to_string(FreePort()) + " " + std::to_string(port) + " 1").c_str());
    const Bytes all = RecordsOf(0, 20000);
    ASSERT_EQ(sender->Write(all.data(), all.size()), all.size());
    std::vector<TCanFrame> got = ReadFrames(*channel, 2000);
    TCanAdapters::TClosing closing;
    closing.received = [&](const TCanFrame& frame) { got.push_back(frame); };
    closing.error = [&](const TBaseError& e) { ADD_FAILURE() << e.Detail().str(); };
    adapters.CloseChannel(channel, 100ms, closing);
    ASSERT_GE(got.size(), 2000U);
    ExpectFrames(got, 0, static_cast<uint32_t>(got.size()), "SOC");
}
