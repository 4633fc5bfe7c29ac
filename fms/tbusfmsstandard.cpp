#include "fms/tbusfmsstandard.h"

#include "fms/tfmstable.h"
#include "support/tbaseerror.h"

#include <algorithm>
#include <optional>
#include <string>

namespace {

using namespace fmstable;

constexpr int DriverIdStartMs = 5000;
constexpr int DriverId1Pos = 81;
constexpr int DriverId2Pos = 82;

uint32_t CanIdOf(TGroup g)
{
    return Groups[g].Pgn << 8;
}

std::unique_ptr<TFmsMeasVal> MakeSignal(const TAString& name, TGroup g, uint16_t bit, uint16_t bits,
                                        double resolution, const TAString& unit, double offset,
                                        std::unique_ptr<TMeasVal> value, uint16_t minInt, uint16_t maxInt,
                                        uint16_t minDec, uint16_t maxDec)
{
    return std::make_unique<TFmsMeasVal>(name, CanIdOf(g), static_cast<int32_t>(g), Groups[g].PeriodMs, bit,
                                         bits, resolution, unit, offset, std::move(value), minInt, maxInt,
                                         minDec, maxDec);
}

// The signal at catalogue position pos, built from whichever table holds it.
std::unique_ptr<TFmsMeasVal> SignalAt(int pos)
{
    for (const auto& r : Numerics) {
        if (r.Pos == pos) {
            auto v = std::make_unique<TMeasValDouble>(0.0, r.Min, r.Max, r.Tolerance, 2.0, 0.0, -1.0);
            return MakeSignal(r.Name, r.Group, r.Bit, r.Bits, r.Resolution, r.Unit, r.Offset, std::move(v),
                              r.MinInt, r.MaxInt, r.MinDec, r.MaxDec);
        }
    }
    for (const auto& r : Enums) {
        if (r.Pos == pos)
            return MakeSignal(r.Name, r.Group, r.Bit, r.Bits, 1.0, "", 0.0,
                              std::make_unique<TMeasValEnum>(0, r.Texts), 1, 1, 0, 0);
    }
    for (const auto& r : Texts) {
        if (r.Pos == pos) {
            std::unique_ptr<TMeasVal> v;
            if (r.Kind == tkTellTales)
                v = std::make_unique<TMeasValTTS>();
            else
                v = std::make_unique<TMeasValString>("");
            auto signal = MakeSignal(r.Name, r.Group, r.Bit, r.Bits, 1.0, "", 0.0, std::move(v), r.MinBytes,
                                     r.MaxBytes, 0, 0);
            signal->Delimited = r.Kind == tkField;
            return signal;
        }
    }
    if (pos >= FirstDoorPos && pos < FirstDoorPos + 3 * Doors) {
        const int door = (pos - FirstDoorPos) / 3 + 1;
        const int kind = (pos - FirstDoorPos) % 3;
        const auto bit = static_cast<uint16_t>(6 * (door - 1) + 2 * kind);
        const TAString name = TAString(DoorSignals[kind].Prefix) + TAString(std::to_string(door));
        return MakeSignal(name, DC2, bit, 2, 1.0, "", 0.0,
                          std::make_unique<TMeasValEnum>(0, DoorSignals[kind].Texts), 1, 1, 0, 0);
    }
    return nullptr;
}

const TGroupRow* GroupOfPgn(uint32_t pgn)
{
    for (const auto& g : Groups) {
        if (g.Pgn == pgn)
            return &g;
    }
    return nullptr;
}

constexpr const char* TellTaleNames[41] = {
    "Cooling air conditioning",
    "High beam, main beam",
    "Low beam, dipped beam",
    "Turn signals",
    "Hazard warning",
    "Provision for the disabled or handicapped persons",
    "Parking Brake",
    "Brake failure/brake system malfunction",
    "Hatch open",
    "Fuel level",
    "Engine coolant temperature",
    "Battery charging condition",
    "Engine oil",
    "Position lights,side lights",
    "Front fog light",
    "Rear fog light",
    "Park Heating",
    "Engine",
    "Service, call for maintenance",
    "Transmission fluid temperature",
    "Transmission failure/malfunction",
    "Anti-lock brake system failure",
    "Worn brake linings",
    "Windscreen washer fluid/windshield washer fluid",
    "Tire failure/malfunction",
    "Malfunction/general failure",
    "Engine oil temperature",
    "Engine oil level",
    "Engine coolant level",
    "Steering fluid level",
    "Steering failure",
    "Height Control (Levelling)",
    "Retarder",
    "Engine Emission system failure",
    "ESP indication",
    "Brake lights",
    "Articulation",
    "Stop Request",
    "Pram request",
    "Bus stop brake",
    "Ad blue level",
};

const char* const NotFms = "Not Fms";

}  // namespace

TBusFmsStandard::TBusFmsStandard(const TAString& fmsVersion)
{
    frameIds_.fill(EndOfIds);
    for (int pos = 0; pos < CatalogueSize; ++pos) {
        if (pos == LastBaseSignal + 1 && fmsVersion != "00.02")
            break;
        Add(SignalAt(pos));
    }
    Reset();
}

void TBusFmsStandard::Add(std::unique_ptr<TFmsMeasVal> signal)
{
    if (SignalCount() >= MaxSignals)
        throw TBaseError("TBusFmsStandard::Add", "Fatal: Array erweitern !!!");
    const uint32_t id = signal->CanId;
    signals_.push_back(std::move(signal));
    nextDue_.push_back(0);
    const auto known = frameIds_.begin() + frameCount_;
    if (std::find(frameIds_.begin(), known, id) == known) {
        frameIds_[static_cast<std::size_t>(frameCount_)] = id;
        ++frameCount_;
        frameIds_[static_cast<std::size_t>(frameCount_)] = EndOfIds;
    }
}

void TBusFmsStandard::Reset()
{
    constexpr uint8_t Free = 0xFF;
    std::vector<uint8_t> slots(CycleMs, Free);
    int32_t group = 0xFF;
    int64_t offset = 0;

    // True when a group of this period starting at s finds all its slots of the cycle free.
    auto fits = [&slots](int s, int32_t period) {
        for (int t = 0; t < CycleMs; t += period) {
            if (slots[static_cast<std::size_t>((s + t) % CycleMs)] != Free)
                return false;
        }
        return true;
    };

    for (int i = 0; i < SignalCount(); ++i) {
        TFmsMeasVal& sig = *signals_[static_cast<std::size_t>(i)];
        sig.MeasVal->Reset();
        if (sig.GroupIndex != group) {
            group = sig.GroupIndex;
            const int32_t period = sig.Period;
            // A period that does not divide the cycle would never come back to its
            // first slot; such a group has no place in the plan.
            const bool divides = period > 0 && CycleMs % period == 0;
            // The driver identification waits until the first half of the cycle has passed.
            int s = (i == DriverId1Pos || i == DriverId2Pos) ? DriverIdStartMs : 0;
            while (divides && s < CycleMs && !fits(s, period))
                s += 2;
            if (!divides || s >= CycleMs)
                throw TBaseError("Reset", "Frames full");
            for (int t = 0; t < CycleMs; t += period)
                slots[static_cast<std::size_t>((s + t) % CycleMs)] = static_cast<uint8_t>(group);
            offset = s;
        }
        nextDue_[static_cast<std::size_t>(i)] = offset;
    }
}

std::vector<TCanHigh> TBusFmsStandard::GetCanHighs(int64_t now)
{
    const int64_t nowMs = now / 1000;
    std::vector<TCanHigh> out;
    for (int i = 0; i < SignalCount(); ++i) {
        int64_t& due = nextDue_[static_cast<std::size_t>(i)];
        if (due > nowMs)
            continue;
        TFmsMeasVal& sig = *signals_[static_cast<std::size_t>(i)];
        auto it = std::find_if(out.begin(), out.end(), [&sig](const TCanHigh& m) { return m.Id == sig.CanId; });
        if (it == out.end()) {
            TCanHigh m(sig.CanId);
            m.Time = due * 1000;
            out.push_back(std::move(m));
            if (static_cast<int>(out.size()) == SignalCount())
                throw TBaseError("TBusFmsStandard::GetCanHighs", "FATAL");
            it = out.end() - 1;
        }
        sig.WriteToCan(*it);
        due += sig.Period;
    }
    return out;
}

TAString TBusFmsStandard::Refusal(int i, const TSignalEntry& entry) const
{
    const TFmsMeasVal& sig = *signals_[static_cast<std::size_t>(i)];
    const TMeasVal& value = *sig.MeasVal;
    switch (entry.State) {
    case msValid:
        return value.ContentRefusal(entry.Content, sig);
    case msOutOfRange:
        return "the state \"o\" follows from the value's range; it is never given";
    case msNotSet:
        return value.HasIndicatorCodes() ? TAString("a number or an enumeration cannot be sent without a value") : TAString();
    default:
        if (value.HasIndicatorCodes() && sig.Code(entry.State) == 0)
            return "the field of " + TAString(std::to_string(sig.BitLength)) + " bits cannot carry the state \"" +
                   MeasStateText(entry.State) + "\"";
        return {};
    }
}

void TBusFmsStandard::Apply(const TSignalSnapshot& snapshot)
{
    const int n = std::min(SignalCount(), TSignalSnapshot::Size);
    for (int i = 0; i < n; ++i) {
        const TAString why = Refusal(i, snapshot.Entry(i));
        if (!why.IsEmpty())
            throw TBaseError("TBusFmsStandard::Apply", "value refused",
                             signals_[static_cast<std::size_t>(i)]->Name + ": " + why + "; no value was changed");
    }
    for (int i = 0; i < n; ++i) {
        const TSignalEntry& e = snapshot.Entry(i);
        TMeasVal& value = *signals_[static_cast<std::size_t>(i)]->MeasVal;
        if (e.State == msValid)
            value.TakeContent(e.Content);
        else
            value.SetOwnState(e.State);
    }
}

void TBusFmsStandard::RestoreOwnStates()
{
    for (auto& sig : signals_)
        sig->MeasVal->State = sig->MeasVal->OwnState;
}

void TBusFmsStandard::ReadValues(const TAString& text)
{
    std::vector<std::unique_ptr<TMeasVal>> read;
    read.reserve(signals_.size());
    int from = 0;
    for (int i = 0; i < SignalCount(); ++i) {
        TAString field;
        if (from <= text.Length()) {
            const int end = text.FindOrLength(":", from);
            field = text.SubString(from, end - from);
            from = end + 1;
        }
        // The line writes each number exactly, with as many decimals as that takes.
        read.push_back(signals_[static_cast<std::size_t>(i)]->Read(field, TFmsMeasVal::TDecimals::Any));
    }
    for (std::size_t i = 0; i < read.size(); ++i) signals_[i]->MeasVal = std::move(read[i]);
}

TAString TBusFmsStandard::GetPgnName(uint32_t identifier, int kind)
{
    if (kind == 11) {
        if (identifier < static_cast<uint32_t>(GroupCount))
            return Groups[identifier].KeyName;
        return NotFms;
    }
    const TGroupRow* g = GroupOfPgn((identifier >> 8) & 0xFFFF);
    if (g == nullptr)
        return NotFms;
    switch (kind) {
    case 0: return g->Name;
    case 1: return g->ShortName;
    case 2: return g->Acronym;
    default: return NotFms;
    }
}

TAString TBusFmsStandard::GetTellTaleName(int index)
{
    if (index < 0 || index >= static_cast<int>(std::size(TellTaleNames)))
        return {};
    return TellTaleNames[index];
}
