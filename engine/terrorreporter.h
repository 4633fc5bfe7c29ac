#pragma once
// Shows an error to the user (the error dialog looks up category and text).
// A notice is shown the same way but tells of nothing lost (frames that left late):
// the headless runner does not count it as a failure.

#include "support/tbaseerror.h"

class TErrorReporter {
public:
    virtual ~TErrorReporter() = default;
    virtual void ShowError(const TBaseError& error) = 0;
    virtual void ShowNotice(const TBaseError& notice) { ShowError(notice); }

protected:
    TErrorReporter() = default;
    TErrorReporter(const TErrorReporter&) = default;
    TErrorReporter& operator=(const TErrorReporter&) = default;
};
