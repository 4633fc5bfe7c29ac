#pragma once
// A failure to parse or write an XML document.

#include "support/tbaseerror.h"

class TXmlError : public TBaseError {
public:
    TXmlError(const TAString& operation, const TAString& message) : TBaseError(operation, message) {}
    TXmlError(const TAString& operation, const TAString& message, const TAString& detail)
        : TBaseError(operation, message, detail)
    {
    }
};
