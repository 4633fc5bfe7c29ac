#pragma once
// The validity manipulation window as the main tick sees it.

#include <cstdint>

class TBusFmsStandard;

class TRunValidity {
public:
    virtual ~TRunValidity() = default;

    // Sets the state of every signal value of catalogue to the applied choice of its row.
    // The tick calls it only when the catalogue's values or ChoicesVersion changed.
    virtual void Execute(TBusFmsStandard& catalogue) = 0;

    // A number that changes whenever the applied choices change (a scenario, the control
    // API or the window may force a state during the run). Every implementer says it: a
    // forgotten one would leave a forced state unsent.
    virtual uint64_t ChoicesVersion() const = 0;

protected:
    TRunValidity() = default;
    TRunValidity(const TRunValidity&) = default;
    TRunValidity& operator=(const TRunValidity&) = default;
};
