#include "fms/tsignalsnapshot.h"

#include <atomic>

namespace {

uint64_t NextGeneration()
{
    static std::atomic<uint64_t> last{0};
    return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

TSignalContent EmptyContent(TSignalKind kind)
{
    switch (kind) {
    case TSignalKind::Number: return 0.0;
    case TSignalKind::Enumeration: return TEnumIndex{};
    case TSignalKind::Text: return TSignalText{};
    case TSignalKind::TellTales: {
        TTellTaleStates all;
        all.States.fill(7);
        return all;
    }
    }
    return 0.0;
}

}  // namespace

TSignalSnapshot::TSignalSnapshot() : generation_(NextGeneration())
{
    for (int i = 0; i < Size; ++i) entries_[static_cast<std::size_t>(i)].Content = EmptyContent(SignalKindAt(i));
}

void TSignalSnapshot::Valid(TSignalEntry& e)
{
    if (e.State == msValid) return;
    e.State = msValid;
    generation_ = NextGeneration();
}

void TSignalSnapshot::SetNumber(TSignalId id, double value)
{
    TSignalEntry& e = At(id);
    double* held = std::get_if<double>(&e.Content);
    if (held == nullptr || !(*held == value || (std::isnan(*held) && std::isnan(value)))) {
        e.Content = value;
        generation_ = NextGeneration();
    }
    Valid(e);
}

void TSignalSnapshot::SetIndex(TSignalId id, uint32_t index)
{
    TSignalEntry& e = At(id);
    TEnumIndex* held = std::get_if<TEnumIndex>(&e.Content);
    if (held == nullptr || held->Index != index) {
        e.Content = TEnumIndex{index};
        generation_ = NextGeneration();
    }
    Valid(e);
}

void TSignalSnapshot::SetText(TSignalId id, std::string_view bytes)
{
    TSignalEntry& e = At(id);
    TSignalText* held = std::get_if<TSignalText>(&e.Content);
    if (held == nullptr) {
        e.Content = TSignalText{std::string(bytes)};
        generation_ = NextGeneration();
    } else if (held->Bytes != bytes) {
        held->Bytes.assign(bytes);   // keeps its room: no allocation once it is large enough
        generation_ = NextGeneration();
    }
    Valid(e);
}

void TSignalSnapshot::SetTellTales(TSignalId id, const TTellTaleStates& states)
{
    TSignalEntry& e = At(id);
    TTellTaleStates* held = std::get_if<TTellTaleStates>(&e.Content);
    if (held == nullptr || *held != states) {
        e.Content = states;
        generation_ = NextGeneration();
    }
    Valid(e);
}

void TSignalSnapshot::SetContent(TSignalId id, const TSignalContent& content)
{
    TSignalEntry& e = At(id);
    if (!SameContent(e.Content, content)) {
        e.Content = content;
        generation_ = NextGeneration();
    }
    Valid(e);
}

void TSignalSnapshot::SetState(TSignalId id, TMeasState state)
{
    TSignalEntry& e = At(id);
    if (e.State == state) return;
    e.State = state;
    generation_ = NextGeneration();
}
