#include "support/Communication/tacommunication.h"
#include "support/Communication/tacommunicationerror.h"

#include "channeltesthelpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

using namespace commtest;

namespace {

void ExpectError(const std::string& description, const char* operation, const char* message)
{
    try {
        TACommunication::New(description.c_str());
        ADD_FAILURE() << "'" << description << "' was accepted";
    } catch (const TBaseError& error) {
        EXPECT_EQ(error.Operation(), operation) << description;
        EXPECT_EQ(error.Message(), message) << description;
    }
}

Bytes FileBytes(const std::string& name)
{
    std::ifstream file(name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), {});
}

// Destroys channel on a thread of its own. A close that hangs on the FIFO (in an open that
// waits for a writer) is a failure; a writer then comes to release it so that the test ends.
void CloseWithoutHanging(std::unique_ptr<TACommunication>& channel, const std::string& fifo)
{
    std::atomic<bool> closed{false};
    std::thread closer([&] {
        channel.reset();
        closed = true;
    });
    if (!Eventually([&] { return closed.load(); }, 10s)) {
        ADD_FAILURE() << "closing the channel hangs on the FIFO " << fifo;
        while (!closed) {
            const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0)
                ::close(writer);
            std::this_thread::sleep_for(10ms);
        }
    }
    closer.join();
}

// True while this process has path open (the channel's receive thread holds its FIFO).
bool Holds(const std::string& path)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        std::error_code gone;
        if (std::filesystem::read_symlink(entry.path(), gone) == path)
            return true;
    }
    return false;
}

// Writes bytes into fifo as one writer's session: opened (which waits for the reader),
// written, closed.
void WriteSession(const std::string& fifo, const Bytes& bytes)
{
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(writer, 0) << std::strerror(errno);
    EXPECT_EQ(::write(writer, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(writer);
}

void PutFile(const std::string& name, const Bytes& bytes)
{
    std::ofstream file(name, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Drops bytes under name as a sender does: written elsewhere, then renamed.
void Drop(const std::string& name, const Bytes& bytes)
{
    PutFile(name + ".part", bytes);
    std::filesystem::rename(name + ".part", name);
}

TEST(TACommunication, UnknownOrEmptyKindIsAConfigError)
{
    for (const char* description : {"", "   ", "Simulation", "ram 1 2", "Hdd a b", "HDDX a b", "TCP 1 2"}) {
        try {
            TACommunication::New(description);
            ADD_FAILURE() << "'" << description << "' was accepted";
        } catch (const TACommunicationError& error) {
            EXPECT_EQ(error.Operation(), "TACommunication::New");
            EXPECT_EQ(error.Message(), "ConfigError");
        }
    }
}

TEST(TACommunication, MissingWordsAreAConfigError)
{
    for (const char* description : {"HDD a", "RAM 1", "SOC 127.0.0.1 5000 5001", "COM 1 9600 8"})
        ExpectError(description, "TACommunication::New", "ConfigError");
}

TEST(TACommunication, NumberWordsFollowTheNumberParserAndNameTheField)
{
    const struct {
        const char* description;
        const char* message;
        const char* detail;
    } cases[] = {
        {"RAM 256 1", "OutOfRange", "RAM send slot '256' is not a number from 0 to 255"},
        {"RAM 1 a", "Hex-Error", "RAM receive slot 'a' is not a number from 0 to 255"},
        {"SOC 127.0.0.1 65536 5001 1", "OutOfRange", "SOC remote port '65536' is not a number from 1 to 65535"},
        {"SOC 127.0.0.1 5000 70000 1", "OutOfRange", "SOC local port '70000' is not a number from 1 to 65535"},
        {"COM 1 -5 8 N", "OutOfRange", "COM bit rate '-5' is not a number from 0 to 4294967295"},
        {"COM 1 9600 300 N", "OutOfRange", "COM data bits '300' is not a number from 0 to 255"},
    };
    for (const auto& c : cases) {
        try {
            TACommunication::New(c.description);
            ADD_FAILURE() << "'" << c.description << "' was accepted";
        } catch (const TBaseError& error) {
            EXPECT_EQ(error.Operation(), "TAString::AsNum") << c.description;
            EXPECT_EQ(error.Message(), c.message) << c.description;
            EXPECT_EQ(error.Detail(), c.detail) << c.description;
        }
    }
    // Port 0 would be a port the system picks: no peer could connect to it.
    const struct {
        const char* description;
        const char* detail;
    } zero[] = {
        {"SOC 127.0.0.1 0 5001 1", "SOC remote port '0' is not a number from 1 to 65535"},
        {"SOC 127.0.0.1 5000 0 1", "SOC local port '0' is not a number from 1 to 65535"},
    };
    for (const auto& c : zero) {
        try {
            TACommunication::New(c.description);
            ADD_FAILURE() << "'" << c.description << "' was accepted";
        } catch (const TACommunicationError& error) {
            EXPECT_EQ(error.Operation(), "TACommunication::New") << c.description;
            EXPECT_EQ(error.Message(), "ConfigError") << c.description;
            EXPECT_EQ(error.Detail(), c.detail) << c.description;
        }
    }
    ExpectError("SOC no-such-host.invalid 5000 5001 1", "SockAddr::SockAddr", "address");
}

TEST(TACommunication, SerialPortThatDoesNotOpenIsAConnectError)
{
    ExpectError("COM /dev/quorvella-no-such-port 9600 8 N", "TRs232::TRs232", "ConnectError");
    ExpectError("COM 0 9600 8 N", "TRs232::TRs232", "ConnectError");
    Pty pty;
    ExpectError("COM " + pty.SlaveName() + " 9600 9 N", "TRs232::TRs232", "ConnectError");
    ExpectError("COM " + pty.SlaveName() + " 9600 8 X", "TRs232::TRs232", "ConnectError");
}

TEST(TACommunication, RamThreeThreeReturnsItsOwnFramesAndIgnoresFurtherWords)
{
    auto channel = TACommunication::New("RAM 3 3 and more words");
    const Bytes records = Records(1, 5);
    channel->Write(records.data(), records.size());
    EXPECT_EQ(ReadFor(*channel, records.size()), records);
}

TEST(TACommunication, ChannelsOnDifferentRamSlotsDoNotHearEachOther)
{
    auto first = TACommunication::New("RAM 20 21");
    auto second = TACommunication::New("RAM 22 23");
    const Bytes record = Record(9);
    first->Write(record.data(), 24);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(second->Available(), 0U);
}

TEST(TCommHDD, LoopbackDropsTheFileUnderItsFinalNameAndTakesItBack)
{
    TempDir dir;
    const std::string name = dir / "a.txt";
    auto channel = TACommunication::New(("HDD " + name + " " + name).c_str(), 24);
    const Bytes records = Records(0, 100);
    channel->Write(records.data(), records.size());
    EXPECT_EQ(ReadFor(*channel, records.size()), records);
    EXPECT_TRUE(Eventually([&] { return !std::filesystem::exists(name); })) << "the drop was not deleted";
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 0) << "a temporary file was left";
}

TEST(TCommHDD, SenderWaitsUntilThePeerHasTakenTheLastDrop)
{
    TempDir dir;
    auto channel = TACommunication::New(("HDD " + dir / "out" + " " + dir / "in").c_str(), 24);
    const Bytes first = Records(0, 3);
    channel->Write(first.data(), first.size());
    ASSERT_TRUE(Eventually([&] { return std::filesystem::exists(dir / "out"); }));
    EXPECT_EQ(FileBytes(dir / "out"), first);

    const Bytes second = Records(3, 2);
    channel->Write(second.data(), second.size());
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(FileBytes(dir / "out"), first) << "a drop the peer has not taken was overwritten";

    std::filesystem::remove(dir / "out");   // the peer takes it
    ASSERT_TRUE(Eventually([&] { return std::filesystem::exists(dir / "out"); }));
    EXPECT_EQ(FileBytes(dir / "out"), second);
}

TEST(TCommHDD, ADropOfAnotherProgramIsNeverReplaced)
{
    // Another program's drop (not a record multiple: it is not ours to judge) waits under
    // the write name; the channel's own drop follows only once it is gone.
    TempDir dir;
    const Bytes foreign = {1, 2, 3, 4, 5};
    PutFile(dir / "out", foreign);
    auto channel = TACommunication::New(("HDD " + dir / "out" + " " + dir / "in").c_str(), 24);
    const Bytes records = Records(0, 2);
    channel->Write(records.data(), records.size());
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(FileBytes(dir / "out"), foreign);
    EXPECT_EQ(channel->Drain(0ms), records.size());
    std::filesystem::remove(dir / "out");
    EXPECT_EQ(channel->Drain(5s), 0U);
    EXPECT_EQ(FileBytes(dir / "out"), records);
}

TEST(TCommHDD, DropThatDoesNotFitWaitsWhereItIsUntilThereIsRoom)
{
    TempDir dir;
    auto channel = TACommunication::New(("HDD " + dir / "out" + " " + dir / "in").c_str(), 24);
    // 40000 records (960000 bytes) fill the receive buffer but for 88576 bytes; a second
    // drop of 5000 records (120000 bytes) does not fit and stays.
    const Bytes first = Records(0, 40000);
    Drop(dir / "in", first);
    ASSERT_TRUE(Eventually([&] { return !std::filesystem::exists(dir / "in"); }));
    EXPECT_EQ(channel->Available(), first.size());
    const Bytes second = Records(40000, 5000);
    Drop(dir / "in", second);
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(std::filesystem::exists(dir / "in"));
    EXPECT_EQ(channel->Available(), first.size());

    Bytes all = first;
    all.insert(all.end(), second.begin(), second.end());
    EXPECT_EQ(ReadFor(*channel, all.size()), all);
    EXPECT_TRUE(Eventually([&] { return !std::filesystem::exists(dir / "in"); }));
}

TEST(TCommHDD, DropLargerThanTheReceiveBufferIsTakenInPiecesOrPutBack)
{
    // 100000 records (2400000 bytes) are more than the 1 MiB receive buffer holds.
    const Bytes drop = Records(0, 100000);
    {
        TempDir dir;
        auto channel = TACommunication::New(("HDD " + dir / "out" + " " + dir / "in").c_str(), 24);
        Drop(dir / "in", drop);
        EXPECT_EQ(ReadFor(*channel, drop.size(), 30s), drop);
        EXPECT_TRUE(Eventually([&] { return !std::filesystem::exists(dir / "in"); }));
    }
    {
        // Closed with the receive buffer full: 43690 whole records (1048560 bytes) fit in
        // 1 MiB, and 1000 of them were read. The drop then holds exactly the others: the
        // 42690 taken and not read, the start of a cut-off one and the rest of the file.
        TempDir dir;
        auto channel = TACommunication::New(("HDD " + dir / "out" + " " + dir / "in").c_str(), 24);
        Drop(dir / "in", drop);
        ASSERT_TRUE(Eventually([&] { return channel->Available() == 1048560; }));
        const Bytes read = ReadFor(*channel, 24000);
        EXPECT_EQ(read, Bytes(drop.begin(), drop.begin() + 24000));
        channel->StopReceiving();
        channel.reset();
        const Bytes rest(drop.begin() + 24000, drop.end());
        EXPECT_EQ(FileBytes(dir / "in"), rest);
        // The node that reads next starts where this one stopped.
        auto next = TACommunication::New(("HDD " + dir / "out" + " " + dir / "in").c_str(), 24);
        EXPECT_EQ(ReadFor(*next, rest.size(), 30s), rest);
        EXPECT_FALSE(next->TakeCutRecords().has_value());
    }
}

TEST(TCommHDD, ReceiverTakesAWholeDropOfManyPiecesAndDeletesIt)
{
    TempDir dir;
    auto channel = TACommunication::New(("HDD " + dir / "out" + " " + dir / "in").c_str());
    // 3000 bytes: two full 1024-byte pieces and a short one.
    Bytes drop(3000);
    for (size_t i = 0; i < drop.size(); ++i)
        drop[i] = static_cast<uint8_t>(i % 253);
    PutFile(dir / "inWR", drop);
    std::filesystem::rename(dir / "inWR", dir / "in");
    EXPECT_EQ(ReadFor(*channel, drop.size()), drop);
    EXPECT_TRUE(Eventually([&] { return !std::filesystem::exists(dir / "in"); }));
}

TEST(TCommHDD, BytesThatCannotBeDroppedYetAreKeptNotLost)
{
    TempDir dir;
    const std::string folder = dir / "later";
    auto channel = TACommunication::New(("HDD " + folder + "/out " + folder + "/in").c_str(), 24);
    const Bytes records = Records(0, 10);
    channel->Write(records.data(), records.size());
    std::this_thread::sleep_for(60ms);   // the drop file cannot be created: no directory
    std::filesystem::create_directory(folder);
    ASSERT_TRUE(Eventually([&] { return std::filesystem::exists(folder + "/out"); }));
    EXPECT_EQ(FileBytes(folder + "/out"), records);
}

TEST(TCommHDD, ReadNameThatIsAFifoIsReadAsAStreamAndNeverHoldsUpAClose)
{
    TempDir dir;
    const std::string fifo = dir / "in";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    {
        // Nobody ever writes: the channel still closes.
        auto channel = TACommunication::New(("HDD " + dir / "out" + " " + fifo).c_str(), 24);
        EXPECT_TRUE(Eventually([&] { return Holds(fifo); })) << "the FIFO was never opened for reading";
        CloseWithoutHanging(channel, fifo);
    }
    auto channel = TACommunication::New(("HDD " + dir / "out" + " " + fifo).c_str(), 24);
    // Three records and 10 bytes of a fourth, then a second session with two records.
    Bytes first = Records(0, 3);
    const Bytes fourth = Record(3);
    first.insert(first.end(), fourth.begin(), fourth.begin() + 10);
    WriteSession(fifo, first);
    const Bytes expected = Records(0, 3);
    EXPECT_EQ(ReadFor(*channel, expected.size()), expected);
    ASSERT_TRUE(Eventually([&] { return channel->TakeCutRecords().has_value(); })) << "the cut record was not noted";
    WriteSession(fifo, Records(3, 2));
    EXPECT_EQ(ReadFor(*channel, 48), Records(3, 2));

    struct stat info {};
    ASSERT_EQ(::stat(fifo.c_str(), &info), 0) << "the FIFO was deleted";
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_FALSE(channel->ReceiveError().has_value());
    CloseWithoutHanging(channel, fifo);
}

TEST(TCommHDD, NamesThatCannotCarryDropsEndTheirThreadWithTheReason)
{
    CapturedReports reports;
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    const struct {
        std::string description;
        bool send;   // the send thread fails (else the receive thread)
        std::string detail;
    } cases[] = {
        {"HDD " + dir / "out /dev/null", false, "HDD read file '/dev/null' is not a regular file or a FIFO"},
        {"HDD /dev/null " + dir / "in", true, "HDD write file '/dev/null' is not a regular file"},
        {"HDD " + dir / "fifo " + dir / "in", true, "HDD write file '" + dir / "fifo" + "' is a FIFO, not a drop file"},
    };
    for (const auto& c : cases) {
        auto channel = TACommunication::New(c.description.c_str(), 24);
        const Bytes records = Records(0, 2);
        channel->Write(records.data(), records.size());
        const auto failed = [&] { return c.send ? channel->SendError() : channel->ReceiveError(); };
        ASSERT_TRUE(Eventually([&] { return failed().has_value(); })) << c.description;
        EXPECT_EQ(failed()->Message(), "unknown-Fatal-Error") << c.description;
        EXPECT_EQ(failed()->Detail(), c.detail) << c.description;
        if (c.send) {
            EXPECT_EQ(channel->Drain(60s), records.size()) << "what could not leave is counted";
        }
    }
    EXPECT_EQ(reports.Count(), 3U);
}

} // namespace
