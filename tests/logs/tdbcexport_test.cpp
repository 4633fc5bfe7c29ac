#include "logs/tdbcexport.h"

#include "fms/tbusfmsstandard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Lines(const TAString& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text.str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool HasLine(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The lines of the message block that starts with the BO_ line of id.
std::vector<std::string> Block(const std::vector<std::string>& lines, uint32_t id)
{
    const std::string head = "BO_ " + std::to_string(id) + " ";
    auto it = std::find_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(head, 0) == 0; });
    std::vector<std::string> block;
    for (; it != lines.end() && !it->empty(); ++it) block.push_back(*it);
    return block;
}

class TDbcExportTest : public ::testing::Test {
protected:
    TBusFmsStandard catalogue{"00.02"};
    std::vector<std::string> lines = Lines(TDbcExport::Text(catalogue, 0x00, 6));
};

TEST(TDbcExport, IdentifiersAreExtendedWithPriorityAndSourceAddress)
{
    struct Case {
        uint32_t canId;
        uint8_t sa;
        uint8_t prio;
        uint32_t dbcId;
    };
    const Case cases[] = {
        {0x00FEF100, 0x00, 6, 0x98FEF100},   // 2566844672
        {0x00FEF100, 0xFE, 3, 0x8CFEF1FE},
        {0x00F00400, 0x21, 0, 0x80F00421},
        {0x00FD7D00, 0x00, 7, 0x9CFD7D00},
        {0x00FEF100, 0x00, 0x0E, 0x98FEF100},   // only the low 3 bits are a priority
    };
    for (const Case& c : cases) EXPECT_EQ(TDbcExport::MessageId(c.canId, c.sa, c.prio), c.dbcId) << std::hex << c.dbcId;
}

TEST(TDbcExport, SymbolsJoinTheWordsOfANameWithUnderscores)
{
    const std::pair<const char*, const char*> cases[] = {
        {"Wheel based speed", "Wheel_based_speed"},
        {"Ramp / Wheel Chair Lift Position", "Ramp_Wheel_Chair_Lift_Position"},
        {"High resolution total vhcl. distance", "High_resolution_total_vhcl_distance"},
        {"Driver 1 time rel. state", "Driver_1_time_rel_state"},
        {"SW-version supported", "SW_version_supported"},
        {"  Lock Status of Door 10 ", "Lock_Status_of_Door_10"},
    };
    for (const auto& [name, symbol] : cases) EXPECT_EQ(TDbcExport::Symbol(name), symbol);
}

TEST_F(TDbcExportTest, NumericSignalsCarryPositionScalingRangeAndUnit)
{
    const char* const expected[] = {
        "BO_ 2566844672 CCVS: 8 Quorvella",
        " SG_ Wheel_based_speed : 8|16@1+ (0.00390625,0) [0|250.9965] \"Km/h\" Vector__XXX",
        "BO_ 2565866496 EEC1: 8 Quorvella",
        " SG_ Engine_speed : 24|16@1+ (0.125,0) [0|8031.8751] \"rpm\" Vector__XXX",
        " SG_ Total_fuel_used : 32|32@1+ (0.5,0) [0|2105540607.55] \"L\" Vector__XXX",
        " SG_ High_resolution_total_vhcl_distance : 0|32@1+ (5,0) [0|21055406075.5] \"m\" Vector__XXX",
        " SG_ Day : 32|8@1+ (0.25,0.75) [1|31] \"day\" Vector__XXX",
        " SG_ Year : 40|8@1+ (1,1985) [1985|2235] \"year\" Vector__XXX",
        " SG_ Current_Gear : 24|8@1+ (1,-125) [-125|125] \"\" Vector__XXX",
        // ISO 8859-1: the degree sign is the one byte 0xB0.
        " SG_ Engine_coolant_temperature : 0|8@1+ (1,-40) [-40|210] \"\xB0" "C\" Vector__XXX",
        " SG_ Ambient_Air_Temperatur : 24|16@1+ (0.03125,-273) [-273|1734.969] \"\xB0" "C\" Vector__XXX",
        " SG_ Instantaneous_Fuel_Economy : 16|16@1+ (0.001953125,0) [0|125.499] \"Km/L\" Vector__XXX",
    };
    for (const char* line : expected) EXPECT_TRUE(HasLine(lines, line)) << line;
}

TEST_F(TDbcExportTest, EnumerationsHaveTheirTextsAndTheCodesTheirWidthLeaves)
{
    const char* const expected[] = {
        " SG_ Clutch_switch : 30|2@1+ (1,0) [0|1] \"\" Vector__XXX",
        " SG_ Positions_of_doors : 0|4@1+ (1,0) [0|2] \"\" Vector__XXX",
        " SG_ Enable_Status_of_Door_10 : 58|2@1+ (1,0) [0|1] \"\" Vector__XXX",
        // 2 bits: 10 error, 11 not available.
        "VAL_ 2566844672 Clutch_switch 0 \"released\" 1 \"pressed\" 2 \"Error\" 3 \"not available\" ;",
        // 3 bits: 110 and 111.
        "VAL_ 2566810624 Driver_1_working_state 0 \"Rest\" 1 \"Available\" 2 \"Work\" 3 \"Drive\" 6 \"Error\" 7 "
        "\"not available\" ;",
        // 4 bits: 1110 and 1111.
        "VAL_ 2566802944 Positions_of_doors 0 \"at_least_1_door_is_open\" 1 \"closing_last_door\" 2 "
        "\"all_doors_closed\" 14 \"Error\" 15 \"not available\" ;",
        // Four texts fill two bits: the texts stand.
        "VAL_ 2566770944 Requests_supported 0 \"no\" 1 \"yes\" 2 \"reserved\" 3 \"don't_care\" ;",
    };
    for (const char* line : expected) EXPECT_TRUE(HasLine(lines, line)) << line;
}

TEST_F(TDbcExportTest, TellTalesAreMultiplexedOnTheBlockNumber)
{
    const std::vector<std::string> tts = Block(lines, 0x98FD7D00);
    ASSERT_FALSE(tts.empty());
    EXPECT_EQ(tts[0], "BO_ 2566749440 TTS: 8 Quorvella");
    // Block number, then 41 tell-tales: 15 in blocks 0 and 1, 11 in block 2.
    ASSERT_EQ(tts.size(), 1u + 1u + 41u);
    EXPECT_EQ(tts[1], " SG_ Block M : 0|4@1+ (1,0) [0|2] \"\" Vector__XXX");
    const char* const expected[] = {
        " SG_ TellTale01 m0 : 4|3@1+ (1,0) [0|7] \"\" Vector__XXX",    // high half of byte 0
        " SG_ TellTale02 m0 : 8|3@1+ (1,0) [0|7] \"\" Vector__XXX",    // low half of byte 1
        " SG_ TellTale03 m0 : 12|3@1+ (1,0) [0|7] \"\" Vector__XXX",   // high half of byte 1
        " SG_ TellTale15 m0 : 60|3@1+ (1,0) [0|7] \"\" Vector__XXX",   // high half of byte 7
        " SG_ TellTale16 m1 : 4|3@1+ (1,0) [0|7] \"\" Vector__XXX",
        " SG_ TellTale30 m1 : 60|3@1+ (1,0) [0|7] \"\" Vector__XXX",
        " SG_ TellTale31 m2 : 4|3@1+ (1,0) [0|7] \"\" Vector__XXX",
        " SG_ TellTale41 m2 : 44|3@1+ (1,0) [0|7] \"\" Vector__XXX",
    };
    for (const char* line : expected) EXPECT_TRUE(HasLine(tts, line)) << line;
    EXPECT_TRUE(HasLine(lines, "CM_ SG_ 2566749440 TellTale02 \"Tell Tale Status: tell-tale 2, High beam, main beam\";"));
    EXPECT_TRUE(HasLine(lines, "VAL_ 2566749440 TellTale41 0 \"Off\" 1 \"Cond. Red\" 2 \"Cond. Yellow\" 3 \"Cond. Info\" 4 "
                               "\"Reserved\" 5 \"Reserved\" 6 \"Reserved\" 7 \"Not available\" ;"));
}

TEST_F(TDbcExportTest, IdentificationsAreTransfersDescribedInTheirComments)
{
    for (uint32_t id : {0x98FEEC00u, 0x98FE6B00u}) {
        const std::vector<std::string> block = Block(lines, id);
        ASSERT_EQ(block.size(), 1u) << "a transfer has no signals a DBC can describe";
    }
    EXPECT_EQ(Block(lines, 0x98FEEC00u)[0], "BO_ 2566843392 VI: 8 Quorvella");
    auto comment = [&](uint32_t id) {
        const std::string head = "CM_ BO_ " + std::to_string(id) + " ";
        for (const std::string& l : lines)
            if (l.rfind(head, 0) == 0) return l;
        return std::string();
    };
    const std::string vi = comment(0x98FEEC00u);
    EXPECT_EQ(vi.find("CM_ BO_ 2566843392 \"Vehicle Identification, PGN 65260 (0xFEEC), every 10000 ms. "), 0u) << vi;
    EXPECT_NE(vi.find("TP.CM_BAM (identifier 0x18ECFF00"), std::string::npos) << vi;
    EXPECT_NE(vi.find("TP.DT packets 100 ms apart (identifier 0x18EBFF00"), std::string::npos) << vi;
    EXPECT_NE(vi.find("Data: Vehicle identification number from byte 0"), std::string::npos) << vi;
    const std::string di = comment(0x98FE6B00u);
    EXPECT_NE(di.find("Driver 1 identification from byte 0, ASCII characters ended by '*'; Driver 2 identification "
                      "after it"),
              std::string::npos)
        << di;
    // A single-frame group says only what it is.
    EXPECT_EQ(comment(0x98FEF100u), "CM_ BO_ 2566844672 \"Cruise Control/Vehicle Speed, PGN 65265 (0xFEF1), every "
                                    "100 ms.\";");
}

// Every signal of the single-frame groups once (the tell-tale table as its block number
// and 41 tell-tales), named by the data monitor in its comment; every message a J1939
// group of the simulator's, with its period.
TEST_F(TDbcExportTest, EverySignalOnceWithTheMonitorsNameAsComment)
{
    const auto count = [&](const char* head) {
        return std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(head, 0) == 0; });
    };
    EXPECT_EQ(count("BO_ "), 22);
    EXPECT_EQ(count(" SG_ "), 86 - 3 - 1 + 1 + 41);
    EXPECT_EQ(count("CM_ SG_ "), 86 - 3 - 1 + 1 + 41);
    for (int i = 0; i < catalogue.SignalCount(); ++i) {
        const TFmsMeasVal& s = catalogue.Signal(i);
        if (s.BitLength == TFmsMeasVal::TextLength || s.BitLength == 64) continue;   // transfers, tell-tales
        EXPECT_TRUE(HasLine(lines, "CM_ SG_ " + std::to_string(TDbcExport::MessageId(s.CanId, 0, 6)) + " " +
                                       TDbcExport::Symbol(s.Name).str() + " \"" + s.Name.str() + "\";"))
            << s.Name.str();
    }
    EXPECT_TRUE(HasLine(lines, "BU_: Quorvella"));
    EXPECT_TRUE(HasLine(lines, "BA_ \"ProtocolType\" \"J1939\";"));
    EXPECT_TRUE(HasLine(lines, "BA_ \"VFrameFormat\" BO_ 2566844672 3;"));
    EXPECT_TRUE(HasLine(lines, "BA_ \"GenMsgCycleTime\" BO_ 2565866496 20;"));
    EXPECT_TRUE(HasLine(lines, "BA_ \"GenMsgCycleTime\" BO_ 2566843392 10000;"));
}

TEST(TDbcExport, SourceAddressAndPriorityReachEveryIdentifier)
{
    const TBusFmsStandard catalogue("00.02");
    const std::vector<std::string> lines = Lines(TDbcExport::Text(catalogue, 0xFE, 3));
    EXPECT_TRUE(HasLine(lines, "BO_ 2365518334 CCVS: 8 Quorvella"));
    EXPECT_TRUE(HasLine(lines, "BA_ \"NmStationAddress\" BU_ Quorvella 254;"));
    EXPECT_TRUE(HasLine(lines, "CM_ BU_ Quorvella \"The simulated Bus-FMS gateway: source address 0xFE, priority 3.\";"));
    int messages = 0;
    for (const std::string& l : lines) {
        unsigned id = 0;
        if (std::sscanf(l.c_str(), "BO_ %u ", &id) != 1) continue;
        ++messages;
        EXPECT_EQ(id & 0xFFu, 0xFEu);
        EXPECT_EQ((id >> 26) & 7u, 3u);
        EXPECT_EQ(id >> 31, 1u);
    }
    EXPECT_EQ(messages, 22);
    const std::string text = TDbcExport::Text(catalogue, 0xFE, 3).str();
    EXPECT_NE(text.find("TP.CM_BAM (identifier 0x0CECFFFE"), std::string::npos);
    EXPECT_NE(text.find("(identifier 0x0CEBFFFE"), std::string::npos);
}

// data/quorvella.dbc is what the program writes with the default options; after a change
// to the catalogue: quorvella-cli --export-dbc data/quorvella.dbc
TEST(TDbcExport, ShippedFileIsWhatTheProgramWrites)
{
    std::ifstream in(std::string(QV_DATA_DIR) + "/quorvella.dbc", std::ios::binary);
    ASSERT_TRUE(in) << "data/quorvella.dbc is missing";
    std::stringstream shipped;
    shipped << in.rdbuf();
    const TBusFmsStandard catalogue("00.02");
    EXPECT_TRUE(shipped.str() == TDbcExport::Text(catalogue, 0x00, 6).str())
        << "data/quorvella.dbc differs from what the program writes; regenerate it with "
           "quorvella-cli --export-dbc data/quorvella.dbc (or cmake --build build --target quorvella-dbc)";
}

}  // namespace
