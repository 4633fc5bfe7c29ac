#include "support/Communication/tacommunication.h"
#include "support/Communication/tacommunicationerror.h"

#include "channeltesthelpers.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

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

void PutFile(const std::string& name, const Bytes& bytes)
{
    std::ofstream file(name, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
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

TEST(TACommunication, NumberWordsFollowTheNumberParser)
{
    ExpectError("RAM 256 1", "TAString::AsNum", "OutOfRange");
    ExpectError("RAM 1 a", "TAString::AsNum", "Hex-Error");
    ExpectError("SOC 127.0.0.1 65536 5001 1", "TAString::AsNum", "OutOfRange");
    ExpectError("SOC localhost 5000 5001 1", "SockAddr::SockAddr", "address");
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
    channel->Write(records.data(), static_cast<int>(records.size()));
    EXPECT_EQ(ReadFor(*channel, records.size()), records);
}

TEST(TACommunication, ChannelsOnDifferentRamSlotsDoNotHearEachOther)
{
    auto first = TACommunication::New("RAM 20 21");
    auto second = TACommunication::New("RAM 22 23");
    const Bytes record = Record(9);
    first->Write(record.data(), 24);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(second->Available(), 0);
}

TEST(TCommHDD, LoopbackDropsTheFileUnderItsFinalNameAndTakesItBack)
{
    TempDir dir;
    const std::string name = dir / "a.txt";
    auto channel = TACommunication::New(("HDD " + name + " " + name).c_str());
    const Bytes records = Records(0, 100);
    channel->Write(records.data(), static_cast<int>(records.size()));
    EXPECT_EQ(ReadFor(*channel, records.size()), records);
    EXPECT_TRUE(Eventually([&] { return !std::filesystem::exists(name); })) << "the drop was not deleted";
    EXPECT_FALSE(std::filesystem::exists(name + "WR"));
}

TEST(TCommHDD, SenderWaitsUntilThePeerHasTakenTheLastDrop)
{
    TempDir dir;
    auto channel = TACommunication::New(("HDD " + dir / "out" + " " + dir / "in").c_str());
    const Bytes first = Records(0, 3);
    channel->Write(first.data(), static_cast<int>(first.size()));
    ASSERT_TRUE(Eventually([&] { return std::filesystem::exists(dir / "out"); }));
    EXPECT_EQ(FileBytes(dir / "out"), first);

    const Bytes second = Records(3, 2);
    channel->Write(second.data(), static_cast<int>(second.size()));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(FileBytes(dir / "out"), first) << "a drop the peer has not taken was overwritten";

    std::filesystem::remove(dir / "out");   // the peer takes it
    ASSERT_TRUE(Eventually([&] { return std::filesystem::exists(dir / "out"); }));
    EXPECT_EQ(FileBytes(dir / "out"), second);
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
    auto channel = TACommunication::New(("HDD " + folder + "/out " + folder + "/in").c_str());
    const Bytes records = Records(0, 10);
    channel->Write(records.data(), static_cast<int>(records.size()));
    std::this_thread::sleep_for(60ms);   // the drop file cannot be created: no directory
    std::filesystem::create_directory(folder);
    ASSERT_TRUE(Eventually([&] { return std::filesystem::exists(folder + "/out"); }));
    EXPECT_EQ(FileBytes(folder + "/out"), records);
}

} // namespace
