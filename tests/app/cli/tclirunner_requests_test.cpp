// A device on a real channel asks the runner for groups while it runs.
#include "app/cli/tclirunner.h"
#include "clirunfixture.h"

#include "can/qtcanbus/qtcanbusdriverentry.h"
#include "can/tcanadapters.h"
#include "can/tcanchannel.h"
#include "engine/trunengine.h"
#include "tests/can/qtcanbus/virtualbus.h"
#include "tests/engine/ascframelines.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

using TBytes = std::array<uint8_t, 8>;

TCanFrame Request(uint32_t id, uint32_t pgn)
{
    return TCanFrame(id, {uint8_t(pgn), uint8_t(pgn >> 8), uint8_t(pgn >> 16), 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
}

using clitest::Slurp;

using asctest::AscFrames;
using asctest::TAscLine;

struct TChannelPair {
    const char* what;
    std::string runner;   // the runner's channel description
    std::string peer;     // the device's
};

// Two seconds in real time. Once the device has seen the runner's first broadcast
// transfer end it asks for the vehicle identification (to all), the engine hours (to the runner, 0x00) and
// a group the runner does not send (to the runner), and records what comes back. The
// runner's ASC output log (--log-rx) holds the three requests as "Rx" lines, each
// followed within 10 ms of run time by its answer.
TEST(TCliRunnerRequests, PeerOnARealChannelGetsTransferHoursFrameAndRefusal)
{
    const std::string bus = "QtCanBus " + virtualbus::Description(virtualbus::TestPort());
    const TChannelPair pairs[] = {
        {"simulation RAM channels", "Simulation RAM 1 2", "Simulation RAM 2 1"},
        {"Qt's virtual CAN bus", bus, bus},
    };
    for (const TChannelPair& pair : pairs) {
        SCOPED_TRACE(pair.what);
        TCanAdapters adapters(QtCanBusDriverTable());
        TCanChannel* peer = adapters.OpenChannel(TAString(pair.peer));
        ASSERT_NE(peer, nullptr);

        const std::string logPath = (std::filesystem::temp_directory_path() /
                                     ("qv_requests_" + std::to_string(::getpid()) + ".asc")).string();
        const TCliParse parsed =
            ParseCommandLine({"--duration", "2", "--starter", "--channel", TAString(pair.runner), "--log-out",
                              TAString(logPath), "--log-format", "asc", "--log-rx"});
        ASSERT_EQ(parsed.Error, "");
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        std::atomic<int> stop{0};
        int status = -1;
        std::thread run([&] { status = TCliRunner(parsed.Options, out, err).Run(stop); });

        std::vector<TCanFrame> received;
        bool asked = false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        std::atomic<bool> done{false};
        std::thread waiter([&] {
            run.join();
            done = true;
        });
        while (std::chrono::steady_clock::now() < deadline) {
            const TCanFrame f = peer->Read();
            if (f.IsNone()) {
                if (done) break;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            received.push_back(f);
            // J1939 allows one broadcast transfer per source at a time: the device asks
            // once the schedule's vehicle identification (12..412 ms) is complete, so
            // that the answer's transfer need not wait for it.
            if (!asked && f.Id == 0x18EBFF00u && f.Data[0] == 4) {
                peer->Write(Request(0x18EAFF21, 0xFEEC));
                peer->Write(Request(0x18EA0021, 0xFEE5));
                peer->Write(Request(0x18EA0021, 0xFECA));
                asked = true;
            }
        }
        waiter.join();
        // What the runner's transmit buffer sent last may still be on its way.
        for (int idle = 0; idle < 200; ++idle) {
            const TCanFrame f = peer->Read();
            if (f.IsNone()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            received.push_back(f);
            idle = 0;
        }
        adapters.CloseChannel(peer);
        const std::string report = Slurp(out);
        const std::string errors = Slurp(err);

        EXPECT_EQ(status, 0) << errors;
        EXPECT_NE(report.find("J1939 Requests: 3 received, 2 answered, 1 refused"), std::string::npos) << report;
        int vinAnnouncements = 0, hours = 0, nacks = 0;
        for (const TCanFrame& f : received) {
            if (f.Id == 0x18ECFF00u && f.Data[5] == 0xEC && f.Data[6] == 0xFE) ++vinAnnouncements;
            if (f.Id == 0x18FEE500u) ++hours;
            if (f.Id == 0x18E8FF00u) {
                ++nacks;
                EXPECT_EQ(f.Data, (TBytes{0x01, 0xFF, 0xFF, 0xFF, 0x21, 0xCA, 0xFE, 0x00}));
            }
        }
        // The schedule's in 2 s: the VIN transfer at 12 ms, HOURS at 10 and 1010 ms.
        EXPECT_EQ(vinAnnouncements, 1 + 1);
        EXPECT_EQ(hours, 2 + 1);
        EXPECT_EQ(nacks, 1);

        // Every frame the runner sent is a "Tx" line (the peer saw each of them), and the
        // requests are "Rx" lines.
        const std::vector<TAscLine> lines = AscFrames(logPath);
        std::remove(logPath.c_str());
        std::vector<TAscLine> rx;
        size_t tx = 0;
        for (const TAscLine& l : lines) {
            if (l.Direction == "Rx") rx.push_back(l);
            if (l.Direction == "Tx") ++tx;
        }
        EXPECT_EQ(tx, received.size());
        EXPECT_NE(report.find("output log: " + std::to_string(tx + rx.size()) + " frames written, 3 of them received"),
                  std::string::npos)
            << report;
        ASSERT_EQ(rx.size(), 3u);
        // Single-frame answers leave within 10 ms of the request on the log's one clock; a
        // transfer keeps the schedule's lead (it must not overlap one of ours on its way).
        const struct {
            uint32_t request;
            uint8_t pgn;      // low byte of the PGN asked for
            uint32_t answer;
            int64_t within;   // µs after the request
        } requests[] = {{0x18EAFF21, 0xEC, 0x18ECFF00, TRunEngine::TransmitLead + 10000},
                        {0x18EA0021, 0xE5, 0x18FEE500, 10000},
                        {0x18EA0021, 0xCA, 0x18E8FF00, 10000}};
        for (size_t k = 0; k < 3; ++k) {
            SCOPED_TRACE(k);
            EXPECT_EQ(rx[k].Id, requests[k].request);
            EXPECT_EQ(rx[k].Data, (TBytes{requests[k].pgn, 0xFE, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
            int answers = 0;
            for (const TAscLine& l : lines) {
                if (l.Direction != "Tx" || l.Id != requests[k].answer || l.Time < rx[k].Time ||
                    l.Time > rx[k].Time + requests[k].within)
                    continue;
                // The transfer's announcement names the vehicle identification.
                if (requests[k].answer == 0x18ECFF00 && l.Data[5] != 0xEC) continue;
                ++answers;
            }
            EXPECT_EQ(answers, 1);
        }
    }
}

}  // namespace
