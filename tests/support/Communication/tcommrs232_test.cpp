#include "support/Communication/tcommrs232.h"
#include "support/Communication/trs232.h"

#include "channeltesthelpers.h"

#include <gtest/gtest.h>

#include <QThread>

using namespace commtest;

#if defined(__SANITIZE_THREAD__)
// The installed Qt is not built with ThreadSanitizer: a QThread signals its end through a
// QWaitCondition under a futex-based QMutex that the checker cannot see, so destroying the
// QThread after wait() looks like a race inside Qt. Only reports that involve Qt destroying
// its own wait condition are suppressed.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:QWaitCondition::~QWaitCondition\n";
}
#endif

namespace {

Bytes ReadMaster(int master, size_t want)
{
    Bytes got;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    uint8_t piece[256];
    while (got.size() < want && std::chrono::steady_clock::now() < deadline) {
        const ssize_t n = ::read(master, piece, sizeof piece);
        if (n > 0)
            got.insert(got.end(), piece, piece + n);
        else
            std::this_thread::sleep_for(1ms);
    }
    return got;
}

// A port is used from a thread that Qt started, as the channel does.
template <typename Body>
void OnQtThread(Body body)
{
    std::unique_ptr<QThread> thread(QThread::create(body));
    thread->start();
    thread->wait();
}

TEST(TRs232, PortWordNamesTheDevice)
{
    EXPECT_EQ(TRs232::DevicePath("1"), "/dev/ttyS0");
    EXPECT_EQ(TRs232::DevicePath("2"), "/dev/ttyS1");
    EXPECT_EQ(TRs232::DevicePath("12"), "/dev/ttyS11");
    EXPECT_EQ(TRs232::DevicePath("/dev/pts/4"), "/dev/pts/4");
    EXPECT_EQ(TRs232::DevicePath("/dev/ttyUSB0"), "/dev/ttyUSB0");
    for (const char* word : {"0", "-1", "1.5", "COM1", ""})
        EXPECT_EQ(TRs232::DevicePath(word), "") << word;
}

TEST(TRs232, CarriesBytesBothWays)
{
    OnQtThread([] {
        Pty pty;
        TRs232 port(pty.SlaveName().c_str(), 19200, 8, 'n');
        const Bytes out = {1, 2, 3, 0x7F, 0x0A, 0xFF};
        EXPECT_EQ(port.Write(out.data(), 6), 6);
        while (port.Pending() > 0)
            port.Flush();
        EXPECT_EQ(ReadMaster(pty.Master(), 6), out);
        ASSERT_EQ(::write(pty.Master(), out.data(), out.size()), 6);
        Bytes in(6);
        EXPECT_TRUE(Eventually([&] { return port.Read(in.data(), 6) == 6; }));
        EXPECT_EQ(in, out);
    });
}

TEST(TRs232, ReadAndWriteReturnMinusOneOnceThePortFailed)
{
    OnQtThread([] {
        Pty pty;
        TRs232 port(pty.SlaveName().c_str(), 9600, 8, 'N');
        pty.CloseMaster();   // the device is gone
        Bytes got(3);
        ASSERT_TRUE(Eventually([&] { return port.Read(got.data(), 3) == -1; }));
        EXPECT_TRUE(port.Failed());
        EXPECT_EQ(port.Read(got.data(), 3), -1);
        EXPECT_EQ(port.Write(got.data(), 3), -1);
    });
}

TEST(TCommRs232, VanishedDeviceIsReportedAndWhatCouldNotLeaveIsCounted)
{
    CapturedReports reports;
    auto pty = std::make_unique<Pty>();
    TCommRs232 channel(pty->SlaveName().c_str(), 115200, 8, 'N', 24);
    const Bytes record = Record(1);
    channel.Write(record.data(), 24);
    EXPECT_EQ(ReadMaster(pty->Master(), 24), record);

    pty.reset();
    ASSERT_TRUE(Eventually([&] { return channel.ReceiveError().has_value(); }));
    EXPECT_TRUE(channel.PortFailed());
    EXPECT_EQ(channel.ReceiveError()->Operation(), "TCommRs232::Receive");
    EXPECT_EQ(channel.ReceiveError()->Message(), "PortError");
    ASSERT_TRUE(Eventually([&] { return reports.Count() == 1; }));
    EXPECT_EQ(reports.Taken()[0].text, "TAThread::Execute->TCommRs232::Receive PortError");
    // Written bytes cannot leave any more: the drain says so at once and counts all 100.
    for (int i = 0; i < 100; ++i)
        channel.Write(record.data(), 24);
    EXPECT_EQ(channel.Drain(60s), 2400U);
    EXPECT_EQ(channel.Available(), 0U);
}

TEST(TCommRs232, FloodWithNobodyReadingIsHeldAtTheBoundAndWhatIsDroppedIsCounted)
{
    CapturedReports reports;
    Pty pty;
    TCommRs232 channel(pty.SlaveName().c_str(), 115200, 8, 'N', 24);
    // 50000 records (1200000 bytes) come; 43690 whole records (1048560 bytes) fit under
    // the 1 MiB bound, the other 6310 (151440 bytes) are dropped whole.
    const Bytes all = Records(0, 50000);
    for (size_t done = 0; done < all.size();) {
        const ssize_t put = ::write(pty.Master(), all.data() + done, std::min<size_t>(4096, all.size() - done));
        if (put > 0) {
            done += static_cast<size_t>(put);
            continue;
        }
        ASSERT_TRUE(Eventually([&] {
            pollfd wait{pty.Master(), POLLOUT, 0};
            return ::poll(&wait, 1, 0) > 0 || channel.ReceiveError().has_value();
        })) << "the channel stopped reading at byte " << done;
        ASSERT_FALSE(channel.ReceiveError().has_value());
    }
    ASSERT_TRUE(Eventually([&] { return channel.Available() + channel.Discarded() == all.size(); }, 30s))
        << channel.Available() << " + " << channel.Discarded();
    EXPECT_EQ(channel.Available(), 1048560U);
    EXPECT_EQ(channel.Discarded(), 151440U);
    EXPECT_EQ(ReadFor(channel, 1048560, 30s), Bytes(all.begin(), all.begin() + 1048560));
    ASSERT_EQ(reports.Count(), 1U) << "the loss is reported once";
    EXPECT_EQ(reports.Taken()[0].text, "TACommunication::Receive Receive buffer full");
    EXPECT_NE(reports.Taken()[0].error.Detail().Find("dropped in whole records"), -1)
        << reports.Taken()[0].error.Detail().str();
}

} // namespace

// An open that fails names the port and says why: missing, busy, bad settings.
TEST(TCommRs232, OpenErrorsNameThePortAndTheReason)
{
    Pty pty;
    const std::string slave = pty.SlaveName();
    auto holder = TACommunication::New(("COM " + slave + " 9600 8 N").c_str());   // holds the port
    const struct {
        std::string description;
        std::string detail;   // the detail begins with this
    } cases[] = {
        {"COM /dev/quorvella-no-such-port 9600 8 N", "COM port '/dev/quorvella-no-such-port': missing"},
        {"COM 0 9600 8 N", "COM port '0': not a port number from 1 or a device path"},
        {"COM 7 9600 9 N", "COM port '7' (/dev/ttyS6): bad settings: 9 data bits (5 to 8 are possible)"},
        {"COM " + slave + " 9600 8 X", "COM port '" + slave + "': bad settings: parity 'X' (N, E, O, M or S)"},
        {"COM " + slave + " 9600 8 N", "COM port '" + slave + "': busy or not permitted"},
    };
    for (const auto& c : cases) {
        try {
            TACommunication::New(c.description.c_str());
            ADD_FAILURE() << "'" << c.description << "' was accepted";
        } catch (const TBaseError& error) {
            EXPECT_EQ(error.Operation(), "TRs232::TRs232") << c.description;
            EXPECT_EQ(error.Message(), "ConnectError") << c.description;
            EXPECT_EQ(error.Detail().Find(c.detail), 0) << c.description << ": " << error.Detail().str();
        }
    }
}

// A send-only serial channel carries its sends and never takes from the line.
TEST(TCommRs232, SendOnlyChannelNeverTakesFromTheLine)
{
    Pty pty;
    auto channel = TACommunication::New(("COM " + pty.SlaveName() + " 115200 8 N").c_str(), TCommOptions(24, nullptr, true));
    const Bytes records = Records(0, 20);
    ASSERT_EQ(::write(pty.Master(), records.data(), records.size()), static_cast<ssize_t>(records.size()));
    channel->Write(records.data(), records.size());
    EXPECT_EQ(ReadMaster(pty.Master(), records.size()), records);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(channel->Available(), 0U);
}
