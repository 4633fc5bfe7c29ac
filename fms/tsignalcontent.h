#pragma once
// The content of one signal value as the vehicle model hands it over: a number, an
// enumeration index, a text (its bytes) or the tell-tale states. One type per kind, so
// that std::visit makes the compiler check that every kind is handled.

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <variant>

struct TEnumIndex {
    uint32_t Index = 0;
    friend bool operator==(const TEnumIndex&, const TEnumIndex&) = default;
};

// The bytes of a text as they go on the bus ("WDB_123*"), not hexadecimal.
struct TSignalText {
    std::string Bytes;
    friend bool operator==(const TSignalText&, const TSignalText&) = default;
};

// Status 0..7 of tell-tale 1..41 (7 = not available).
struct TTellTaleStates {
    static constexpr int Count = 41;
    std::array<uint8_t, Count> States{};
    friend bool operator==(const TTellTaleStates&, const TTellTaleStates&) = default;
};

using TSignalContent = std::variant<double, TEnumIndex, TSignalText, TTellTaleStates>;

// Equal content; two NaNs count as the same number.
inline bool SameContent(const TSignalContent& a, const TSignalContent& b)
{
    if (const double* x = std::get_if<double>(&a)) {
        const double* y = std::get_if<double>(&b);
        return y != nullptr && (*x == *y || (std::isnan(*x) && std::isnan(*y)));
    }
    return a == b;
}
