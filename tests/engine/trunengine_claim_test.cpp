// The simulated vehicle as a J1939 node, through the real engine on the manual clock:
// its address claim at Start, the wait before other traffic for addresses 128..247,
// requests for Address Claimed, contention by another node, and what a lost claim
// withdraws.
#include "engine/trunengine.h"

#include "engine/taddressclaim.h"
#include "engine/tlogrecorder.h"
#include "engine/trecordingcockpit.h"
#include "engine/ttimesource.h"
#include "fms/tcanframe.h"
#include "logs/tcanlogreader.h"
#include "runfakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <set>
#include <utility>
#include <string>
#include <unistd.h>

namespace {

using TBytes = std::array<uint8_t, 8>;

constexpr uint64_t OurName = 0x1000000000000001ull;
constexpr TBytes OurNameBytes = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10};

TBytes NameBytes(uint64_t name)
{
    TBytes b{};
    for (size_t i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(name >> (8 * i));
    return b;
}

TCanFrame Claim(uint8_t sa, uint64_t name)
{
    return TCanFrame(0x18EEFF00u | sa, NameBytes(name));
}

TCanFrame Request(uint32_t id, uint32_t pgn)
{
    return TCanFrame(id, {uint8_t(pgn), uint8_t(pgn >> 8), uint8_t(pgn >> 16), 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
}

bool IsClaim(uint32_t id)
{
    return (id & 0x03FF0000u) == 0x00EE0000u;
}

// One engine in simulation mode with the recording cockpit, a channel the test feeds
// and a transmit buffer that records what it takes.
struct TNode {
    explicit TNode(uint8_t sa, bool claim = true)
    {
        transmit.engine = &engine;
        engine.SetCockpit(&cockpit);
        engine.SetErrorReporter(&errors);
        engine.SetCanChannel(&channel);
        engine.Options.SourceAddress = sa;
        engine.AddressClaim().SetEnabled(claim);
        engine.AddressClaim().SetName(OurName);
    }
    void RunFor(int64_t ms)
    {
        for (; ms > 0; ms -= TRunEngine::TickIntervalMs) {
            clock.AdvanceMicros(std::min<int64_t>(ms, TRunEngine::TickIntervalMs) * 1000);
            engine.TimerSysTimer();
        }
    }
    std::vector<TSentFrame> Sent(uint32_t id, int64_t fromMs, int64_t toMs) const
    {
        std::vector<TSentFrame> out;
        for (const TSentFrame& s : transmit.sent)
            if (s.Frame.Id == id && s.SimTime >= fromMs * 1000 && s.SimTime <= toMs * 1000) out.push_back(s);
        return out;
    }

    TManualTimeSource clock{1000000000};
    TRecordingTransmit transmit;
    TScriptedChannel channel;
    TRecordingErrors errors;
    TRecordingCockpit cockpit;
    TRunEngine engine{clock, transmit};
};

// Address Claimed leaves first, in the run's first millisecond, from our address to all
// with priority 6 and the NAME least significant byte first. Addresses 128..247 then
// send nothing for 250 ms; the others go on in the next millisecond.
TEST(TRunEngineClaim, ClaimsAtStartAndWaitsOnlyFor128To247)
{
    const struct {
        uint8_t sa;
        int64_t firstOtherMicros;   // the first frame that is not the claim
    } rows[] = {{0x00, 1000}, {0x7F, 1000}, {0x80, 250000}, {0xA5, 250000}, {0xF7, 250000}, {0xF8, 1000}, {0xFD, 1000}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "source address 0x" << std::hex << int(row.sa));
        TNode node(row.sa);
        node.engine.Start();
        node.RunFor(1000);

        ASSERT_GT(node.transmit.sent.size(), 10u);
        const TSentFrame& first = node.transmit.sent.front();
        EXPECT_EQ(first.Frame.Id, 0x18EEFF00u | row.sa);
        EXPECT_EQ(first.Frame.Data, OurNameBytes);
        EXPECT_EQ(first.SimTime, 0);
        EXPECT_EQ(node.transmit.sent[1].SimTime, row.firstOtherMicros);
        for (const TSentFrame& s : node.transmit.sent) {
            EXPECT_EQ(s.Frame.Id & 0xFF, row.sa) << std::hex << s.Frame.Id;
            if (&s != &first) {
                EXPECT_FALSE(IsClaim(s.Frame.Id)) << s.SimTime;
            }
        }
        EXPECT_EQ(node.engine.AddressClaim().State(), TAddressClaim::TState::Claimed);
        EXPECT_TRUE(node.errors.shown.empty());
        if (row.firstOtherMicros == 1000) continue;

        // The schedule starts when the wait is over: every group's times are those of a
        // node that does not wait (whose schedule starts 1 ms after its claim), 249 ms
        // later: the vehicle identification's transfer at 262 ms instead of 13 ms, its
        // packets 100 ms apart from there.
        TNode prompt(0x00);
        prompt.engine.Start();
        prompt.RunFor(1000);
        std::multiset<std::pair<uint32_t, int64_t>> expected, got;
        for (const TSentFrame& s : prompt.transmit.sent)
            if (!IsClaim(s.Frame.Id) && s.Frame.Time < 651000) expected.insert({s.Frame.Id & ~0xFFu, s.Frame.Time + 249000});
        for (const TSentFrame& s : node.transmit.sent)
            if (!IsClaim(s.Frame.Id) && s.Frame.Time < 900000) got.insert({s.Frame.Id & ~0xFFu, s.Frame.Time});
        EXPECT_GT(expected.size(), 20u);
        EXPECT_EQ(got, expected);
        const auto announcements = node.Sent(0x18ECFF00u | row.sa, 0, 1000);
        ASSERT_EQ(announcements.size(), 1u);
        EXPECT_EQ(announcements[0].Frame.Time, 262000);
    }
}

// During the wait a request for a group is answered when the wait is over; a request
// for Address Claimed is answered at once (claims never wait).
TEST(TRunEngineClaim, RequestsDuringTheWait)
{
    TNode node(0x80);
    node.engine.Start();
    node.RunFor(100);
    node.channel.Push(Request(0x18EAFF21, 0xFEE5));   // engine hours, to all
    node.channel.Push(Request(0x18EA8021, 0xEE00));   // Address Claimed, to us
    node.RunFor(400);

    const auto claims = node.Sent(0x18EEFF80, 1, 500);
    ASSERT_EQ(claims.size(), 1u);
    EXPECT_LT(claims[0].SimTime, 110000);
    EXPECT_EQ(claims[0].Frame.Data, OurNameBytes);
    // The schedule's HOURS frame comes at 260 ms (10 ms after the wait), the answer first.
    const auto hours = node.Sent(0x18FEE580, 0, 500);
    ASSERT_EQ(hours.size(), 2u);
    EXPECT_GE(hours[0].SimTime, 250000);
    EXPECT_LT(hours[0].SimTime, 260000);
    EXPECT_EQ(hours[1].Frame.Time, 260000);
    EXPECT_EQ(node.engine.Requests(), (TRequestCounts{2, 2, 0}));
}

// No claim when it is switched off, nor when a log is replayed (the log's traffic is
// sent as it is, with its own addresses).
TEST(TRunEngineClaim, NoClaimWhenOffOrReplaying)
{
    const struct {
        const char* what;
        bool claim;
        bool simulation;
        const char* state;
    } rows[] = {{"switched off", false, true, "off"},
                {"internal log", true, false, "claims at the start of a simulation run, NAME 1000000000000001"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TNode node(0x80, row.claim);
        node.engine.Controls.Simulation = row.simulation;
        node.engine.Controls.InternalLog = !row.simulation;
        node.engine.Start();
        node.RunFor(500);
        ASSERT_FALSE(node.transmit.sent.empty());
        for (const TSentFrame& s : node.transmit.sent) EXPECT_FALSE(IsClaim(s.Frame.Id)) << std::hex << s.Frame.Id;
        // Without a claim nothing waits, even at 0x80.
        EXPECT_LT(node.transmit.sent.front().SimTime, 20000);
        EXPECT_EQ(node.engine.AddressClaim().State(), TAddressClaim::TState::Off);
        EXPECT_EQ(node.engine.AddressClaim().StateText(node.engine.SimTime()), row.state);
    }
}

// A request for Address Claimed (PGN 60928: data 00 EE 00) to us or to all is answered
// with our claim within 10 ms; one to another node is not ours. With the claim off a
// request to us is refused as for any group we do not send, and one to all gets nothing.
TEST(TRunEngineClaim, AnswersARequestForAddressClaimed)
{
    const struct {
        const char* what;
        bool claim;
        uint32_t request;
        uint32_t answer;   // 0: none
        TBytes data;
        TRequestCounts counts;
    } rows[] = {
        {"to us", true, 0x18EA0021, 0x18EEFF00, OurNameBytes, {1, 1, 0}},
        {"to all", true, 0x18EAFF21, 0x18EEFF00, OurNameBytes, {1, 1, 0}},
        {"to another node", true, 0x18EA0521, 0, {}, {0, 0, 0}},
        {"to us, claim off", false, 0x18EA0021, 0x18E8FF00, {0x01, 0xFF, 0xFF, 0xFF, 0x21, 0x00, 0xEE, 0x00}, {1, 0, 1}},
        {"to all, claim off", false, 0x18EAFF21, 0, {}, {1, 0, 0}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TNode node(0x00, row.claim);
        node.engine.Start();
        node.RunFor(500);
        node.channel.Push(Request(row.request, 0xEE00));
        node.RunFor(500);

        std::vector<TSentFrame> answers;
        for (const TSentFrame& s : node.transmit.sent)
            if (s.SimTime >= 500000 && (IsClaim(s.Frame.Id) || (s.Frame.Id & 0x00FF0000u) == 0x00E80000u))
                answers.push_back(s);
        if (row.answer == 0) {
            EXPECT_TRUE(answers.empty());
        } else {
            ASSERT_EQ(answers.size(), 1u);
            EXPECT_EQ(answers[0].Frame.Id, row.answer);
            EXPECT_EQ(answers[0].Frame.Data, row.data);
            EXPECT_LT(answers[0].SimTime - 500000, 10000);
        }
        EXPECT_EQ(node.engine.Requests(), row.counts);
        EXPECT_TRUE(node.errors.shown.empty());
    }
}

// Another node claims an address at 500 ms. Our address, a NAME of higher priority
// (numerically lower): Cannot Claim from 254 within 10 ms, nothing of ours after it,
// and the user is told. Our address, a NAME of lower priority: we claim again and go on.
// Our own NAME (an echo of our claim) or another address: nothing changes.
TEST(TRunEngineClaim, ContentionKeepsOrLosesTheAddress)
{
    enum TExpect { eLost, eClaimAgain, eNothing };
    const struct {
        const char* what;
        uint8_t claimSa;
        uint64_t otherName;
        TExpect expect;
    } rows[] = {
        {"higher priority NAME", 0x00, 0x0FFFFFFFFFFFFFFFull, eLost},
        {"higher priority by one", 0x00, OurName - 1, eLost},
        {"lower priority NAME", 0x00, OurName + 1, eClaimAgain},
        {"our own NAME", 0x00, OurName, eNothing},
        {"another address", 0x05, 0x0000000000000001ull, eNothing},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TNode node(0x00);
        node.engine.Start();
        node.RunFor(500);
        const size_t before = node.transmit.sent.size();
        node.channel.Push(Claim(row.claimSa, row.otherName));
        node.RunFor(1000);

        std::vector<TSentFrame> claims;
        for (size_t i = before; i < node.transmit.sent.size(); ++i)
            if (IsClaim(node.transmit.sent[i].Frame.Id)) claims.push_back(node.transmit.sent[i]);
        const TAddressClaim& claim = node.engine.AddressClaim();
        switch (row.expect) {
        case eLost: {
            ASSERT_EQ(claims.size(), 1u);
            EXPECT_EQ(claims[0].Frame.Id, 0x18EEFFFEu);
            EXPECT_EQ(claims[0].Frame.Data, OurNameBytes);
            EXPECT_LT(claims[0].SimTime - 500000, 10000);
            EXPECT_EQ(node.transmit.sent.back().Frame.Id, 0x18EEFFFEu) << "a frame of ours after Cannot Claim";
            EXPECT_EQ(claim.State(), TAddressClaim::TState::Lost);
            EXPECT_EQ(claim.Winner(), row.otherName);
            const TAString text = "lost 0x00 to NAME " + TAddressClaim::NameText(row.otherName) + ": sending nothing";
            EXPECT_EQ(claim.StateText(node.engine.SimTime()), text);
            EXPECT_EQ(claim.ShortText(), "0x00 lost, sending nothing");
            ASSERT_EQ(node.errors.shown.size(), 1u);
            EXPECT_EQ(node.errors.shown[0].Message(), "Address claim lost");
            EXPECT_NE(node.errors.shown[0].Detail().Find(text), -1) << node.errors.shown[0].Detail().str();
            break;
        }
        case eClaimAgain:
            ASSERT_EQ(claims.size(), 1u);
            EXPECT_EQ(claims[0].Frame.Id, 0x18EEFF00u);
            EXPECT_EQ(claims[0].Frame.Data, OurNameBytes);
            EXPECT_LT(claims[0].SimTime - 500000, 10000);
            EXPECT_GT(node.transmit.sent.back().SimTime, 1400000) << "the run goes on sending";
            EXPECT_EQ(claim.State(), TAddressClaim::TState::Claimed);
            EXPECT_TRUE(node.errors.shown.empty());
            break;
        case eNothing:
            EXPECT_TRUE(claims.empty());
            EXPECT_GT(node.transmit.sent.back().SimTime, 1400000);
            EXPECT_EQ(claim.StateText(node.engine.SimTime()), "claimed 0x00, NAME 1000000000000001");
            EXPECT_TRUE(node.errors.shown.empty());
            break;
        }
    }
}

// A lost claim withdraws whatever of ours is still queued: the rest of a transfer under
// way, frames the transmit buffer could not take yet, and what waited for the end of
// the 250 ms wait. After Cannot Claim nothing of ours leaves, not even answers to
// requests; a request for Address Claimed to all gets Cannot Claim again.
TEST(TRunEngineClaim, LostClaimWithdrawsWhatIsQueuedAndFallsSilent)
{
    const struct {
        const char* what;
        uint8_t sa;
        int64_t contestAtMs;
        bool bufferFull;   // the transmit buffer takes nothing from 100 ms to the contest
    } rows[] = {
        {"during the identification's transfer", 0x00, 150, false},
        {"while the transmit buffer takes nothing", 0x00, 150, true},
        {"during the wait of address 0x80", 0x80, 100, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TNode node(row.sa);
        node.engine.Start();
        if (row.bufferFull) {
            node.RunFor(100);
            node.transmit.perStep = 0;
            node.RunFor(row.contestAtMs - 100);
            EXPECT_GT(node.engine.ReplayBacklog(), 0u);
        } else {
            node.RunFor(row.contestAtMs);
        }
        node.channel.Push(Claim(row.sa, 0x0000000000000001ull));
        node.RunFor(50);
        node.transmit.perStep = std::numeric_limits<int>::max();
        node.RunFor(450);
        node.channel.Push(Request(0x18EAFF21, 0xFEEC));   // vehicle identification, to all
        node.channel.Push(Request(0x18EA0021, 0xFEE5));   // engine hours, to our old address
        node.RunFor(500);
        node.channel.Push(Request(0x18EAFF21, 0xEE00));   // Address Claimed, to all
        node.RunFor(500);

        const std::vector<TSentFrame>& sent = node.transmit.sent;
        size_t cannot = sent.size();
        for (size_t i = 0; i < sent.size(); ++i)
            if (sent[i].Frame.Id == 0x18EEFFFEu) {
                cannot = i;
                break;
            }
        ASSERT_LT(cannot, sent.size());
        EXPECT_GE(sent[cannot].SimTime, row.contestAtMs * 1000);
        // After it only the second Cannot Claim, answering the request at 1.15 s.
        ASSERT_EQ(sent.size(), cannot + 2);
        EXPECT_EQ(sent.back().Frame.Id, 0x18EEFFFEu);
        EXPECT_EQ(sent.back().Frame.Data, OurNameBytes);
        EXPECT_LT(sent.back().SimTime - (row.contestAtMs + 1000) * 1000, 10000);
        // Withdrawn on purpose: not counted as frames the buffer failed to deliver.
        EXPECT_EQ(node.engine.Undelivered(), 0);
        EXPECT_EQ(node.engine.ReplayBacklog(), 0u);
        EXPECT_EQ(node.engine.SendQueue().Count(), 0);
        ASSERT_EQ(node.errors.shown.size(), 1u);
        EXPECT_EQ(node.errors.shown[0].Message(), "Address claim lost");
        EXPECT_NE(node.errors.shown[0].Detail().Find("withdrawn"), -1) << node.errors.shown[0].Detail().str();
    }
}

// A source address that is no node's (254 null, 255 global) cannot be claimed: no
// claim, the traffic goes out as without one (from the run's first millisecond), and
// the user is told in a notice.
TEST(TRunEngineClaim, NullOrGlobalSourceAddressIsNotClaimed)
{
    const struct {
        uint8_t sa;
        const char* state;
    } rows[] = {
        {0xFE, "not claimed: 0xFE is the null address, no node's; the frames go out without a claim"},
        {0xFF, "not claimed: 0xFF is the global address, no node's; the frames go out without a claim"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.state);
        TNode node(row.sa);
        node.engine.Start();
        node.RunFor(500);
        ASSERT_GT(node.transmit.sent.size(), 20u);
        EXPECT_EQ(node.transmit.sent[0].SimTime, 0);
        for (const TSentFrame& s : node.transmit.sent) EXPECT_FALSE(IsClaim(s.Frame.Id)) << std::hex << s.Frame.Id;
        EXPECT_EQ(node.engine.AddressClaim().StateText(node.engine.SimTime()), row.state);
        ASSERT_EQ(node.errors.shown.size(), 1u);
        EXPECT_EQ(node.errors.shown[0].Message(), "Address not claimed");
        EXPECT_EQ(node.errors.shown[0].Detail(), row.state);
    }
}

// The recorder of the built-in log runs without the claim: the log holds the
// vehicle's traffic only.
TEST(TRunEngineClaim, RecorderOfTheInternalLogMakesNoClaim)
{
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("trunengine_claim_rec_" + std::to_string(::getpid()) + ".l5")).string();
    std::remove(path.c_str());
    EXPECT_EQ(TLogRecorder::Record(TAString(path), 1000000), "");
    const TCanLog log = TCanLogReader::Load(TAString(path));
    std::remove(path.c_str());
    ASSERT_GT(log.Frames.size(), 50u);
    EXPECT_EQ(log.Frames.front().Id, 0x18FEF100u) << std::hex << log.Frames.front().Id;
    for (const TLogFrame& f : log.Frames) EXPECT_FALSE(IsClaim(f.Id)) << std::hex << f.Id;
}

}  // namespace
