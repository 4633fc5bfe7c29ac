// One contract, every channel kind: what one node writes comes out at the other node, in
// order, none lost or repeated, and a channel can be destroyed while traffic flows.

#include "channeltesthelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <ostream>
#include <random>

using namespace commtest;

namespace {

// The two ends of a link between two nodes, with whatever the medium needs (a directory,
// a null-modem pair).
struct Link {
    std::unique_ptr<TempDir> dir;
    std::unique_ptr<NullModem> modem;
    std::unique_ptr<TACommunication> a;
    std::unique_ptr<TACommunication> b;
};

struct Kind {
    const char* name;
    bool fast;   // a frame crosses within milliseconds (no polling on the medium)
    Link (*make)();
};

void PrintTo(const Kind& kind, std::ostream* out)
{
    *out << kind.name;
}

Link MakeRam()
{
    Link link;
    link.a = TACommunication::New("RAM 10 11");
    link.b = TACommunication::New("RAM 11 10");
    return link;
}

Link MakeHdd()
{
    Link link;
    link.dir = std::make_unique<TempDir>();
    link.a = TACommunication::New(("HDD " + *link.dir / "ab" + " " + *link.dir / "ba").c_str());
    link.b = TACommunication::New(("HDD " + *link.dir / "ba" + " " + *link.dir / "ab").c_str());
    return link;
}

Link MakeSoc(int keep)
{
    const std::string portA = std::to_string(FreePort());
    std::string portB = std::to_string(FreePort());
    while (portB == portA)
        portB = std::to_string(FreePort());
    const std::string flag = std::to_string(keep);
    Link link;
    link.a = TACommunication::New(("SOC 127.0.0.1 " + portB + " " + portA + " " + flag).c_str());
    link.b = TACommunication::New(("SOC 127.0.0.1 " + portA + " " + portB + " " + flag).c_str());
    return link;
}

Link MakeCom()
{
    Link link;
    link.modem = std::make_unique<NullModem>();
    link.a = TACommunication::New(("COM " + link.modem->First() + " 115200 8 N").c_str());
    link.b = TACommunication::New(("COM " + link.modem->Second() + " 115200 8 N").c_str());
    return link;
}

const Kind kinds[] = {
    {"Ram", true, MakeRam},
    {"Hdd", false, MakeHdd},
    {"SocKeep", true, [] { return MakeSoc(1); }},
    {"SocReconnect", false, [] { return MakeSoc(0); }},
    {"Com", false, MakeCom},
};

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

    EXPECT_EQ(link_.a->Write(forth.data(), static_cast<int>(forth.size())), 600);
    link_.b->Write(back.data(), static_cast<int>(back.size()));

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
            link_.a->Write(expected.data() + done, static_cast<int>(burst));
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
    EXPECT_EQ(link_.b->Available(), 0) << "bytes arrived twice";
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

TEST_P(ChannelContract, FrameCrossesWithinTwoMillisecondsMostOfTheTime)
{
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "timing is not meaningful under a sanitizer";
#endif
    if (!GetParam().fast)
        GTEST_SKIP() << "this medium is polled";
    // The target holds on an idle machine; with other work queued for the cores, the wake-up
    // of a thread waits for a time slice and the figure measures the scheduler instead.
    double load = 0;
    if (std::FILE* file = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(file, "%lf", &load) != 1)
            load = 0;
        std::fclose(file);
    }
    if (load >= 1.0)
        GTEST_SKIP() << "machine not idle (load " << load << ")";
    // Warm up: the connection (if any) is made by the first frame.
    const Bytes first = Record(0);
    link_.a->Write(first.data(), 24);
    ASSERT_EQ(ReadFor(*link_.b, 24).size(), 24U);

    std::vector<double> latencies;
    uint8_t place[24];
    for (uint32_t i = 1; i <= 300; ++i) {
        const Bytes record = Record(i);
        std::this_thread::sleep_for(2ms);   // the threads go idle between frames
        const auto start = std::chrono::steady_clock::now();
        link_.a->Write(record.data(), 24);
        int got = 0;
        while (got < 24 && std::chrono::steady_clock::now() - start < 1s) {
            got += link_.b->Read(place + got, 24 - got);
            if (got < 24)
                std::this_thread::sleep_for(10us);
        }
        latencies.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        ASSERT_EQ(got, 24);
    }
    std::sort(latencies.begin(), latencies.end());
    EXPECT_LT(latencies[latencies.size() * 99 / 100], 2.0)
        << "p99 in ms; median " << latencies[latencies.size() / 2] << ", max " << latencies.back();
}

INSTANTIATE_TEST_SUITE_P(Kinds, ChannelContract, ::testing::ValuesIn(kinds),
                         [](const auto& param) { return std::string(param.param.name); });

} // namespace
