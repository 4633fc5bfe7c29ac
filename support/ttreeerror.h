#pragma once
// Errors of the settings tree: a failed lookup, removal or selection.

#include "support/tbaseerror.h"

class TTreeError : public TBaseError {
public:
    TTreeError(const TAString& operation, const TAString& message) : TBaseError(operation, message) {}
    TTreeError(const TAString& operation, const TAString& message, const TAString& detail)
        : TBaseError(operation, message, detail)
    {
    }
};
