#include "engine/taddressclaim.h"

#include <algorithm>
#include <array>
#include <cstdio>

std::optional<TCanHigh> TAddressClaim::Start(uint8_t address, int64_t now)
{
    held_.clear();
    winner_ = 0;
    address_ = address;
    startedAt_ = now;
    waitUntil_ = now;
    if (!enabled_) {
        state_ = TState::Off;
        return std::nullopt;
    }
    if (address == NullAddress || address == GlobalAddress) {
        state_ = TState::Unclaimable;
        return std::nullopt;
    }
    state_ = TState::Claimed;
    if (address >= FirstWaitAddress && address <= LastWaitAddress) waitUntil_ = now + ClaimWait;
    return Message(now);
}

void TAddressClaim::Reset()
{
    held_.clear();
    winner_ = 0;
    state_ = TState::Off;
    startedAt_ = waitUntil_ = 0;
}

void TAddressClaim::Stop()
{
    held_.clear();
}

TAddressClaim::TOutcome TAddressClaim::Received(const TCanFrame& frame, int64_t now)
{
    (void)now;
    if (state_ != TState::Claimed || frame.IsNone() || !frame.Extended || frame.Dlc != 8 || !IsClaim(frame.Id) ||
        static_cast<uint8_t>(frame.Id) != address_)
        return TOutcome::None;
    uint64_t other = 0;
    for (int i = 7; i >= 0; --i) other = other << 8 | frame.Data[static_cast<std::size_t>(i)];
    if (other == name_) return TOutcome::None;
    if (name_ < other) return TOutcome::ClaimAgain;
    state_ = TState::Lost;
    winner_ = other;
    return TOutcome::Lost;
}

TCanHigh TAddressClaim::Build(uint8_t source, int64_t now) const
{
    TCanHigh m((ClaimPgn | GlobalAddress) << 8);
    std::array<uint8_t, 8> data{};
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(name_ >> (8 * i));
    m.SetMV(data, 0, 64);
    m.SetSourceAddress(source);
    m.SetPriority(ClaimPriority);
    m.Time = now;
    return m;
}

std::optional<TCanHigh> TAddressClaim::Message(int64_t now) const
{
    switch (state_) {
    case TState::Claimed: return Build(address_, now);
    case TState::Lost: return Build(NullAddress, now);
    case TState::Off:
    case TState::Unclaimable: break;
    }
    return std::nullopt;
}

int64_t TAddressClaim::ScheduleDelay() const
{
    if (state_ == TState::Off || state_ == TState::Unclaimable) return 0;
    return std::max(waitUntil_ - startedAt_, ClaimStep);
}

bool TAddressClaim::Silent(int64_t now) const
{
    return state_ == TState::Lost || (state_ == TState::Claimed && now < waitUntil_);
}

bool TAddressClaim::Hold(const TCanHigh& m, int64_t now)
{
    if (state_ != TState::Claimed || now >= waitUntil_) return false;
    held_.push_back(m);
    return true;
}

std::vector<TCanHigh> TAddressClaim::TakeHeld(int64_t now)
{
    if (held_.empty() || now < waitUntil_) return {};
    std::vector<TCanHigh> out;
    out.swap(held_);
    // A transfer's packets keep their spacing from when it really starts.
    for (TCanHigh& m : out) m.Time = std::max(m.Time, now);
    return out;
}

std::size_t TAddressClaim::DropHeld()
{
    const std::size_t n = held_.size();
    held_.clear();
    return n;
}

TAString TAddressClaim::NameText(uint64_t name)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(name));
    return TAString(text);
}

std::optional<uint64_t> TAddressClaim::ParseName(const TAString& text)
{
    std::string digits = text.str();
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.erase(0, 2);
    } else if (digits.size() > 1 && (digits[0] == 'x' || digits[0] == 'X')) {
        digits.erase(0, 1);
    }
    if (digits.empty() || digits.size() > 16) return std::nullopt;
    uint64_t name = 0;
    for (char c : digits) {
        int v = 0;
        if (c >= '0' && c <= '9') {
            v = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            v = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            v = c - 'A' + 10;
        } else {
            return std::nullopt;
        }
        name = name << 4 | static_cast<uint64_t>(v);
    }
    return name;
}

TAString TAddressClaim::ShortText() const
{
    char address[8];
    std::snprintf(address, sizeof address, "0x%02X", address_);
    switch (state_) {
    case TState::Off: break;
    case TState::Claimed: return TAString(address) + " claimed";
    case TState::Lost: return TAString(address) + " lost, sending nothing";
    case TState::Unclaimable: return TAString(address) + " not claimed";
    }
    return TAString();
}

TAString TAddressClaim::StateText(int64_t now) const
{
    char address[8];
    std::snprintf(address, sizeof address, "0x%02X", address_);
    switch (state_) {
    case TState::Off:
        if (!enabled_) return "off";
        return "claims at the start of a simulation run, NAME " + NameText(name_);
    case TState::Claimed: {
        TAString text = "claimed " + TAString(address) + ", NAME " + NameText(name_);
        if (now < waitUntil_)
            text += ", waiting until " + TAString(static_cast<double>(waitUntil_) / 1e6, 0, 3) + " s";
        return text;
    }
    case TState::Unclaimable:
        return "not claimed: " + TAString(address) +
               (address_ == NullAddress ? " is the null address" : " is the global address") +
               ", no node's; the frames go out without a claim";
    case TState::Lost:
        return "lost " + TAString(address) + " to NAME " + NameText(winner_) + ": sending nothing";
    }
    return "off";
}
