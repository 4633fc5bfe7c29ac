#pragma once
// The validity manipulation window as the main tick sees it.

class TBusFmsStandard;

class TRunValidity {
public:
    virtual ~TRunValidity() = default;

    // Sets the state of every signal value of catalogue to the applied choice of its row.
    virtual void Execute(TBusFmsStandard& catalogue) = 0;

protected:
    TRunValidity() = default;
    TRunValidity(const TRunValidity&) = default;
    TRunValidity& operator=(const TRunValidity&) = default;
};
