#pragma once
// Errors of the communication channel layer ("ConfigError" from "TACommunication::New").

#include "support/tbaseerror.h"

class TACommunicationError : public TBaseError {
public:
    using TBaseError::TBaseError;
};
