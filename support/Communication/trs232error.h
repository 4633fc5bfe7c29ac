#pragma once
// Errors of the serial port ("ConnectError" from "TRs232::TRs232").

#include "support/tbaseerror.h"

class TRs232Error : public TBaseError {
public:
    using TBaseError::TBaseError;
};
