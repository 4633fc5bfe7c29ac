#include "engine/trequestresponder.h"

#include "engine/trecordingcockpit.h"
#include "fms/tbusfmsstandard.h"
#include "tests/errorof.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>

namespace {

constexpr int EngineSpeed = 8;
constexpr int EngineHours = 9;

TCanFrame Request(uint32_t id, uint32_t pgn)
{
    return TCanFrame(id, {uint8_t(pgn), uint8_t(pgn >> 8), uint8_t(pgn >> 16), 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
}

std::array<uint8_t, 8> Bytes(const TCanHigh& m)
{
    std::array<uint8_t, 8> b{};
    std::copy_n(m.Data().begin(), 8, b.begin());
    return b;
}

class TRequestResponderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TRecordingCockpit cockpit;
        catalogue.Apply(cockpit.Values());
    }

    std::optional<TCanHigh> Ask(uint32_t id, uint32_t pgn, int64_t now = 1500000)
    {
        return responder.Answer(Request(id, pgn), catalogue, options, now);
    }

    TBusFmsStandard catalogue{"00.02"};
    TFrameOptions options;
    TRequestResponder responder;
};

TEST(TRequestResponder, RequestsAreFramesOfPduFormatEaOnDataPageZero)
{
    struct Case {
        uint32_t id;
        bool request;
        uint8_t destination;
        uint8_t requester;
    };
    const Case cases[] = {
        {0x18EAFF21, true, 0xFF, 0x21},
        {0x18EA0021, true, 0x00, 0x21},
        {0x0CEA00F9, true, 0x00, 0xF9},    // priority 3
        {0x18EBFF21, false, 0, 0},         // a TP.DT
        {0x19EAFF21, false, 0, 0},         // data page 1
        {0x1AEAFF21, false, 0, 0},         // extended data page
        {0x18FEF100, false, 0, 0},
        {TCanFrame::NoId, false, 0, 0},
    };
    for (const Case& c : cases) {
        const auto r = TRequestResponder::AsRequest(Request(c.id, 0x00FEEC));
        ASSERT_EQ(r.has_value(), c.request) << std::hex << c.id;
        if (!r) continue;
        EXPECT_EQ(r->Pgn, 0xFEECu);
        EXPECT_EQ(r->Destination, c.destination);
        EXPECT_EQ(r->Requester, c.requester);
    }
}

TEST(TRequestResponder, NegativeAcknowledgementNamesRequesterAndPgn)
{
    TFrameOptions options;
    TRequestResponder::TRequest r;
    r.Pgn = 0xFECA;
    r.Destination = 0x00;
    r.Requester = 0x21;
    const TCanHigh m = TRequestResponder::NegativeAck(r, options, 1500000);
    EXPECT_EQ(m.Id, 0x18E8FF00u);
    EXPECT_EQ(m.Time, 1500000);
    EXPECT_EQ(Bytes(m), (std::array<uint8_t, 8>{0x01, 0xFF, 0xFF, 0xFF, 0x21, 0xCA, 0xFE, 0x00}));

    options.SourceAddress = 0xFE;
    options.Priority = 3;
    EXPECT_EQ(TRequestResponder::NegativeAck(r, options, 0).Id, 0x0CE8FFFEu);
}

// Who asks whom for what: answer, refusal or nothing, and what is counted.
TEST_F(TRequestResponderTest, AnswersRefusalsAndSilenceByAddressAndGroup)
{
    options.FrameFlags[0] = 0;   // CCVS (FEF1) left out
    enum TExpect { eNothing, eGroup, eNack };
    struct Case {
        const char* what;
        uint32_t id;
        uint32_t pgn;
        TExpect expect;
        uint32_t answerId;
    };
    const Case cases[] = {
        {"vehicle identification, to all", 0x18EAFF21, 0xFEEC, eGroup, 0x18FEEC00},
        {"engine hours, to us", 0x18EA0021, 0xFEE5, eGroup, 0x18FEE500},
        {"a group we do not send, to us", 0x18EA0021, 0xFECA, eNack, 0x18E8FF00},
        {"a group we do not send, to all", 0x18EAFF21, 0xFECA, eNothing, 0},
        {"a group left out, to us", 0x18EA0021, 0xFEF1, eNack, 0x18E8FF00},
        {"a group left out, to all", 0x18EAFF21, 0xFEF1, eNothing, 0},
        {"engine hours, to another node", 0x18EA1721, 0xFEE5, eNothing, 0},
        {"no request at all", 0x18FEE521, 0xFEE5, eNothing, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<TCanHigh> m = Ask(c.id, c.pgn);
        ASSERT_EQ(m.has_value(), c.expect != eNothing);
        if (!m) continue;
        EXPECT_EQ(m->Id, c.answerId) << std::hex << m->Id;
        EXPECT_EQ(m->Time, 1500000);
        if (c.expect == eNack) {
            EXPECT_EQ(m->Data()[4], 0x21);
        }
    }
    // The two to another node and the frame that is no request are not ours.
    EXPECT_EQ(responder.Counts(), (TRequestCounts{6, 2, 2}));
    EXPECT_EQ(responder.Counts().Text(), "Requests: 6 received, 2 answered, 2 refused");
}

TEST_F(TRequestResponderTest, AnswerCarriesCurrentValuesStatesAndOptions)
{
    TFmsMeasVal& hours = catalogue.Signal(EngineHours);
    hours.MeasVal = hours.Read("1234.5");
    catalogue.Signal(EngineSpeed).MeasVal->State = msError;
    options.SourceAddress = 0x2A;
    options.Priority = 3;

    // 1234.5 h at 0.05 h per bit is raw 24690, 0x6072, in bytes 0..3.
    const auto hoursAnswer = Ask(0x18EA2A21, 0xFEE5);
    ASSERT_TRUE(hoursAnswer);
    EXPECT_EQ(hoursAnswer->Id, 0x0CFEE52Au);
    EXPECT_EQ(Bytes(*hoursAnswer), (std::array<uint8_t, 8>{0x72, 0x60, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}));

    // Engine speed in error: bytes 3 and 4 carry FF FE.
    const auto eec1 = Ask(0x18EAFF21, 0xF004);
    ASSERT_TRUE(eec1);
    EXPECT_EQ(eec1->Data()[3], 0xFF);
    EXPECT_EQ(eec1->Data()[4], 0xFE);

    // The 24-byte VIN ("Vehicle_ID_0001_abcdefg*") needs a broadcast transfer of 4 packets.
    const auto vi = Ask(0x18EAFF21, 0xFEEC);
    ASSERT_TRUE(vi);
    EXPECT_EQ(vi->Length(), 24);
    EXPECT_EQ(vi->TxId, 0x0CEBFF2Au);
    EXPECT_EQ(vi->Data()[0], 'V');
    EXPECT_EQ(vi->Data()[23], '*');
}

TEST_F(TRequestResponderTest, AnAnswerWaitingInTheQueueServesTheSameRequestAgain)
{
    ASSERT_TRUE(Ask(0x18EA0021, 0xFEE5));
    EXPECT_FALSE(Ask(0x18EAFF33, 0xFEE5)) << "the waiting HOURS answer serves it";
    ASSERT_TRUE(Ask(0x18EA0021, 0xFEEC));
    EXPECT_FALSE(Ask(0x18EA0021, 0xFEEC));
    ASSERT_TRUE(Ask(0x18EA0021, 0xFECA));
    EXPECT_FALSE(Ask(0x18EA0021, 0xFECA)) << "the same refusal is waiting";
    EXPECT_TRUE(Ask(0x18EA0033, 0xFECA)) << "another device gets its own refusal";
    // What went out: two answers and two refusals; three requests served by them.
    EXPECT_EQ(responder.Counts(), (TRequestCounts{7, 2, 2, 3, 0}));

    // Once the first frame of each has left, a request is answered anew.
    responder.Sent(TCanFrame(0x18FEE500, {0x72, 0x60, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}, 8, 1500000));
    responder.Sent(TCanFrame(0x18ECFF00, {0x20, 24, 0, 4, 0xFF, 0xEC, 0xFE, 0x00}, 8, 1501000));
    responder.Sent(TCanFrame(0x18E8FF00, {0x01, 0xFF, 0xFF, 0xFF, 0x21, 0xCA, 0xFE, 0x00}, 8, 1502000));
    EXPECT_TRUE(Ask(0x18EA0021, 0xFEE5));
    EXPECT_TRUE(Ask(0x18EA0021, 0xFEEC));
    EXPECT_TRUE(Ask(0x18EA0021, 0xFECA));

    responder.Reset();
    EXPECT_EQ(responder.Counts(), TRequestCounts());
    EXPECT_TRUE(Ask(0x18EA0021, 0xFEE5)) << "a new run waits for nothing";
}

// Devices pad their requests to 8 bytes: the first 3 name the PGN. A request shorter
// than that names none: it is counted when meant for us, never answered from bytes
// past its length. An 11-bit frame is no J1939 request.
TEST_F(TRequestResponderTest, RequestsAreAnsweredFromTheirFirstThreeBytesAndShortOnesIgnored)
{
    const struct {
        const char* What;
        TCanFrame Frame;
        bool Answered;
        TRequestCounts Counts;
    } cases[] = {
        {"3 bytes to us", TCanFrame(0x18EA0021, {0xE5, 0xFE, 0x00}, 3), true, {1, 1, 0, 0, 0}},
        {"padded to 8 with 0xFF", TCanFrame(0x18EA0021, {0xE5, 0xFE, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 8), true,
         {1, 1, 0, 0, 0}},
        {"2 bytes to us", TCanFrame(0x18EA0021, {0xE5, 0xFE, 0x00}, 2), false, {0, 0, 0, 0, 1}},
        {"1 byte to all", TCanFrame(0x18EAFF21, {0xE5}, 1), false, {0, 0, 0, 0, 1}},
        {"empty to all", TCanFrame(0x18EAFF21, {}, 0), false, {0, 0, 0, 0, 1}},
        {"2 bytes to another node", TCanFrame(0x18EA3321, {0xE5, 0xFE}, 2), false, {}},
        {"11-bit", TCanFrame(0x7EA, {0xE5, 0xFE, 0x00}, 3, 0, false), false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        responder.Reset();
        EXPECT_EQ(responder.Answer(c.Frame, catalogue, options, 1500000).has_value(), c.Answered);
        EXPECT_EQ(responder.Counts(), c.Counts);
    }
    TRequestCounts counts{5, 2, 1, 1, 1};
    EXPECT_EQ(counts.Text(), "Requests: 5 received, 2 answered, 1 refused, 1 served by a waiting answer, "
                             "1 ignored (shorter than 3 bytes)");
}

TEST_F(TRequestResponderTest, GlobalAddressIsNeverOurs)
{
    // Even with 0xFF as our source address, a request to all is one to all.
    options.SourceAddress = 0xFF;
    EXPECT_FALSE(Ask(0x18EAFF21, 0xFECA));
    EXPECT_TRUE(Ask(0x18EAFF21, 0xFEE5));
    EXPECT_EQ(responder.Counts(), (TRequestCounts{2, 1, 0}));
}

TEST_F(TRequestResponderTest, AValueWithoutContentLeavesTheRequestUnansweredAndSaysWhy)
{
    catalogue.Reset();   // every value back to "not set"
    ExpectError([&] { Ask(0x18EA0021, 0xFEE5); }, "TFmsMeasVal::WriteToCan", "Error flag not supported");
    EXPECT_EQ(responder.Counts(), (TRequestCounts{1, 0, 0}));
}

}  // namespace
