#pragma once
// Shows an error to the user (the error dialog looks up category and text).

#include "support/tbaseerror.h"

class TErrorReporter {
public:
    virtual ~TErrorReporter() = default;
    virtual void ShowError(const TBaseError& error) = 0;

protected:
    TErrorReporter() = default;
    TErrorReporter(const TErrorReporter&) = default;
    TErrorReporter& operator=(const TErrorReporter&) = default;
};
