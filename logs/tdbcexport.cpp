#include "logs/tdbcexport.h"

#include "fms/tbusfmsstandard.h"
#include "fms/tmeasval.h"
#include "sim/ttelltales.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr const char* NoReceiver = "Vector__XXX";

// Tell-tale blocks as TMeasValTTS::NextBlock builds them: the block number in bits
// 0..3 of byte 0, then 15 tell-tales of 3 bits, the first in bits 4..6 of byte 0,
// the next ones alternately in the low and high half of bytes 1..7.
constexpr int TellTalesPerBlock = 15;
constexpr int TellTaleBits = 3;
constexpr int BlockBits = 4;

// The indicator codes in the words of the measured-value states.
struct TCodeName {
    uint8_t TFmsMeasVal::*Code;
    const char* Name;
};
constexpr TCodeName CodeNames[] = {
    {&TFmsMeasVal::CodeFB, "Parameter specific"},
    {&TFmsMeasVal::CodeFC, "Reserved 1"},
    {&TFmsMeasVal::CodeFD, "Reserved 2"},
    {&TFmsMeasVal::CodeFE, "Error"},
    {&TFmsMeasVal::CodeFF, "not available"},
};

// The shortest text that reads back as the same double: 0.4, -273, 2105540607.55.
std::string Num(double v)
{
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    (void)ec;
    return std::string(buf, end);
}

std::string Hex(uint32_t v, int digits)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*X", digits, v);
    return buf;
}

// UTF-8 letters of ISO 8859-1 (two bytes, lead byte C2 or C3) become their one byte;
// everything else is kept.
std::string Latin1(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0u;
        if ((c == 0xC2 || c == 0xC3) && (next & 0xC0) == 0x80) {
            out += static_cast<char>(((c & 0x03) << 6) | (next & 0x3F));
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string Quoted(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string Trimmed(const TAString& text)
{
    std::string s = text.str();
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

struct TValue {
    uint32_t Raw;
    std::string Text;
};

struct TDbcSignal {
    std::string Name;
    std::string Mux;   // "", "M" or "m<n>"
    int StartBit = 0;
    int Length = 0;
    double Factor = 1;
    double Offset = 0;
    double Min = 0;
    double Max = 0;
    std::string Unit;
    std::string Comment;
    std::vector<TValue> Values;
};

struct TDbcMessage {
    uint32_t Id = 0;
    std::string Name;
    std::string Comment;
    int PeriodMs = 0;
    std::vector<TDbcSignal> Signals;
};

bool IsText(const TFmsMeasVal& s)
{
    return dynamic_cast<const TMeasValString*>(s.MeasVal.get()) != nullptr &&
           dynamic_cast<const TMeasValTTS*>(s.MeasVal.get()) == nullptr;
}

// The text's length follows its content: the group may need a broadcast transfer.
bool IsVariableText(const TFmsMeasVal& s)
{
    return IsText(s) && (s.BitLength == TFmsMeasVal::TextLength || s.StartBit == TFmsMeasVal::AfterData);
}

std::vector<TValue> EnumValues(const TFmsMeasVal& s, const TMeasValEnum& e)
{
    std::vector<TValue> values;
    for (std::size_t i = 0; i < e.Texts.size(); ++i) values.push_back({static_cast<uint32_t>(i), e.Texts[i].str()});
    // The codes the field has room for, where no text already stands for that number.
    for (const TCodeName& c : CodeNames) {
        const uint8_t code = s.*c.Code;
        if (code != 0 && std::size_t(code) >= e.Texts.size()) values.push_back({code, c.Name});
    }
    std::sort(values.begin(), values.end(), [](const TValue& a, const TValue& b) { return a.Raw < b.Raw; });
    return values;
}

void AddTellTales(TDbcMessage& m, const TFmsMeasVal& s)
{
    const int blocks = (TMeasValTTS::TellTales + TellTalesPerBlock - 1) / TellTalesPerBlock;
    TDbcSignal block;
    block.Name = "Block";
    block.Mux = "M";
    block.Length = BlockBits;
    block.Max = blocks - 1;
    block.Comment = Trimmed(s.Name) + ": number of the block of " + std::to_string(TellTalesPerBlock) + " tell-tales";
    m.Signals.push_back(block);

    std::vector<TValue> states;
    for (int state = 0; state <= 7; ++state) {
        std::string name = TTellTales::StateName(state).str();
        if (name.size() >= 3 && name.compare(name.size() - 3, 3, " - ") == 0) name.resize(name.size() - 3);
        states.push_back({static_cast<uint32_t>(state), name});
    }
    for (int b = 0; b < blocks; ++b) {
        for (int i = 1; i <= TellTalesPerBlock; ++i) {
            const int k = b * TellTalesPerBlock + i;   // tell-tale number, from 1
            if (k > TMeasValTTS::TellTales) break;
            char name[16];
            std::snprintf(name, sizeof name, "TellTale%02d", k);
            TDbcSignal t;
            t.Name = name;
            t.Mux = std::string("m").append(std::to_string(b));
            t.StartBit = 8 * (i / 2) + (i % 2 ? 4 : 0);
            t.Length = TellTaleBits;
            t.Max = 7;
            t.Comment = Trimmed(s.Name) + ": tell-tale " + std::to_string(k) + ", " +
                        TBusFmsStandard::GetTellTaleName(k - 1).str();
            t.Values = states;
            m.Signals.push_back(t);
        }
    }
}

TDbcSignal PlainSignal(const TFmsMeasVal& s)
{
    TDbcSignal d;
    d.Name = TDbcExport::Symbol(s.Name).str();
    d.StartBit = s.StartBit;
    d.Length = s.BitLength;
    d.Comment = s.Name.str();
    if (const auto* v = dynamic_cast<const TMeasValDouble*>(s.MeasVal.get())) {
        d.Factor = s.Resolution;
        d.Offset = s.Offset;
        d.Min = v->Min;
        d.Max = v->Max;
        d.Unit = s.Unit.str();
    } else if (const auto* e = dynamic_cast<const TMeasValEnum*>(s.MeasVal.get())) {
        d.Max = e->Texts.empty() ? 0 : static_cast<double>(e->Texts.size() - 1);
        d.Values = EnumValues(s, *e);
    } else {
        // A text of fixed length: its bytes as one raw number, the first in the low byte.
        d.Max = s.BitLength >= 32 ? 4294967295.0 : static_cast<double>((1ull << s.BitLength) - 1);
    }
    return d;
}

std::string TransferText(uint8_t sourceAddress, uint8_t priority)
{
    const uint32_t prioSa = (uint32_t(priority & 7u) << 26) | sourceAddress;
    return "Longer than 8 bytes it goes out as a J1939 broadcast transfer: the announcement TP.CM_BAM (identifier " +
           Hex(prioSa | 0x00ECFF00u, 8) +
           ": control byte 32, size in bytes, number of packets, 0xFF, the PGN least significant byte first), "
           "then the TP.DT packets 100 ms apart (identifier " +
           Hex(prioSa | 0x00EBFF00u, 8) +
           ": byte 0 the packet number from 1, then 7 data bytes, 0xFF past the end).";
}

std::vector<TDbcMessage> Messages(const TBusFmsStandard& catalogue, uint8_t sourceAddress, uint8_t priority)
{
    std::vector<TDbcMessage> messages;
    for (int g = 0; g < catalogue.FrameCount(); ++g) {
        const uint32_t canId = catalogue.FrameIds()[static_cast<std::size_t>(g)];
        std::vector<const TFmsMeasVal*> signals;
        for (int i = 0; i < catalogue.SignalCount(); ++i)
            if (catalogue.Signal(i).CanId == canId) signals.push_back(&catalogue.Signal(i));

        TDbcMessage m;
        m.Id = TDbcExport::MessageId(canId, sourceAddress, priority);
        m.Name = Trimmed(TBusFmsStandard::GetPgnName(canId, 2));
        m.PeriodMs = signals.front()->Period;
        const uint32_t pgn = (canId >> 8) & 0x3FFFFu;
        m.Comment = TBusFmsStandard::GetPgnName(canId, 0).str() + ", PGN " + std::to_string(pgn) + " (" +
                    Hex(pgn, 4) + "), every " + std::to_string(m.PeriodMs) + " ms.";

        bool transfer = false;
        for (const TFmsMeasVal* s : signals) transfer = transfer || IsVariableText(*s);
        if (transfer) {
            m.Comment += " " + TransferText(sourceAddress, priority) + " Data:";
            for (std::size_t k = 0; k < signals.size(); ++k) {
                const TFmsMeasVal& s = *signals[k];
                m.Comment += (k ? "; " : " ") + s.Name.str() +
                             (s.StartBit == TFmsMeasVal::AfterData ? " after it"
                                                                   : " from byte " + std::to_string(s.StartBit / 8)) +
                             ", ASCII characters ended by '*'";
            }
            m.Comment += ".";
        } else {
            for (const TFmsMeasVal* s : signals) {
                if (dynamic_cast<const TMeasValTTS*>(s->MeasVal.get())) {
                    AddTellTales(m, *s);
                    continue;
                }
                if (IsText(*s))
                    m.Comment += " " + s->Name.str() + ": " + std::to_string(s->BitLength / 8) +
                                 " ASCII characters from byte " + std::to_string(s->StartBit / 8) + " on.";
                m.Signals.push_back(PlainSignal(*s));
            }
        }
        messages.push_back(std::move(m));
    }
    return messages;
}

}  // namespace

uint32_t TDbcExport::MessageId(uint32_t canId, uint8_t sourceAddress, uint8_t priority)
{
    return 0x80000000u | (uint32_t(priority & 7u) << 26) | (canId & 0x03FFFF00u) | sourceAddress;
}

TAString TDbcExport::Symbol(const TAString& name)
{
    std::string out;
    bool gap = false;
    for (char c : name.str()) {
        const bool word = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (!word) {
            gap = !out.empty();
            continue;
        }
        if (gap) out += '_';
        gap = false;
        out += c;
    }
    return out;
}

TAString TDbcExport::Text(const TBusFmsStandard& catalogue, uint8_t sourceAddress, uint8_t priority)
{
    const std::vector<TDbcMessage> messages = Messages(catalogue, sourceAddress, priority);
    const std::string node = NodeName;
    std::string t;
    t += "VERSION \"\"\n\n\n";
    t += "NS_ :\n\tCM_\n\tBA_DEF_\n\tBA_\n\tVAL_\n\tBA_DEF_DEF_\n\n";
    t += "BS_:\n\n";
    t += "BU_: " + node + "\n\n\n";

    for (const TDbcMessage& m : messages) {
        t += "BO_ " + std::to_string(m.Id) + " " + m.Name + ": 8 " + node + "\n";
        for (const TDbcSignal& s : m.Signals) {
            t += " SG_ " + s.Name + (s.Mux.empty() ? "" : " " + s.Mux) + " : " + std::to_string(s.StartBit) + "|" +
                 std::to_string(s.Length) + "@1+ (" + Num(s.Factor) + "," + Num(s.Offset) + ") [" + Num(s.Min) +
                 "|" + Num(s.Max) + "] " + Quoted(s.Unit) + " " + NoReceiver + "\n";
        }
        t += "\n";
    }
    t += "\n";

    char sa[8];
    std::snprintf(sa, sizeof sa, "0x%02X", sourceAddress);
    t += "CM_ BU_ " + node + " " +
         Quoted("The simulated Bus-FMS gateway: source address " + std::string(sa) + ", priority " +
                std::to_string(priority & 7u) + ".") +
         ";\n";
    for (const TDbcMessage& m : messages) {
        t += "CM_ BO_ " + std::to_string(m.Id) + " " + Quoted(m.Comment) + ";\n";
        for (const TDbcSignal& s : m.Signals)
            t += "CM_ SG_ " + std::to_string(m.Id) + " " + s.Name + " " + Quoted(s.Comment) + ";\n";
    }

    t += "BA_DEF_  \"ProtocolType\" STRING ;\n";
    t += "BA_DEF_ BU_  \"NmStationAddress\" INT 0 255;\n";
    t += "BA_DEF_ BO_  \"VFrameFormat\" ENUM  \"StandardCAN\",\"ExtendedCAN\",\"reserved\",\"J1939PG\";\n";
    t += "BA_DEF_ BO_  \"GenMsgCycleTime\" INT 0 65535;\n";
    t += "BA_DEF_DEF_  \"ProtocolType\" \"\";\n";
    t += "BA_DEF_DEF_  \"NmStationAddress\" 254;\n";
    t += "BA_DEF_DEF_  \"VFrameFormat\" \"J1939PG\";\n";
    t += "BA_DEF_DEF_  \"GenMsgCycleTime\" 0;\n";
    t += "BA_ \"ProtocolType\" \"J1939\";\n";
    t += "BA_ \"NmStationAddress\" BU_ " + node + " " + std::to_string(sourceAddress) + ";\n";
    for (const TDbcMessage& m : messages) {
        t += "BA_ \"VFrameFormat\" BO_ " + std::to_string(m.Id) + " 3;\n";
        t += "BA_ \"GenMsgCycleTime\" BO_ " + std::to_string(m.Id) + " " + std::to_string(m.PeriodMs) + ";\n";
    }

    for (const TDbcMessage& m : messages) {
        for (const TDbcSignal& s : m.Signals) {
            if (s.Values.empty()) continue;
            t += "VAL_ " + std::to_string(m.Id) + " " + s.Name;
            for (const TValue& v : s.Values) t.append(" ").append(std::to_string(v.Raw)).append(" ").append(Quoted(v.Text));
            t += " ;\n";
        }
    }
    return TAString(Latin1(t));
}
