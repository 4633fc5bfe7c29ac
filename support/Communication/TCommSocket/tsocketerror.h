#pragma once
// A failed socket operation: the operation and message, the kind of failure and the
// operating system's error number (errno, 0 when none).

#include "support/tbaseerror.h"

class TSocketError : public TBaseError {
public:
    enum TKind {
        Check = 0,           // a programming check failed (socket open/closed)
        Create = 1,
        Bind = 3,
        Connect = 5,
        SendTimeout = 6,
        SendFailed = 7,
        Accept = 13,
        Listen = 14,
        ReceiveEndless = 19,
        ReceiveTimeout = 20,
        ReceiveFailed = 21,
    };

    TSocketError(const TAString& operation, const TAString& message, TKind kind, int code)
        : TBaseError(operation, message), kind_(kind), code_(code)
    {
    }

    TKind Kind() const { return kind_; }
    int Code() const { return code_; }

private:
    TKind kind_;
    int code_;
};
