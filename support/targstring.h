#pragma once
// Splits a text into arguments at separator characters; double quotes group.

#include "support/tastring.h"

class TArgString {
public:
    TArgString(const TAString& separators, const TAString& text)
        : separators_(separators), text_(text) {}

    int ArgCount() const;
    // The i-th argument (from 0) with its double quotes removed; a missing one is empty.
    TAString Arg(int index) const;

private:
    bool IsSeparator(char c) const;
    TAString separators_;
    TAString text_;
};
