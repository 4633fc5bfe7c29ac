#pragma once
// The one error record the program throws: the failing operation's qualified name
// ("TCanHigh::Add") and a short internal message ("write error"). Category and user
// text are looked up by the error dialog from these two texts.

#include "support/tastring.h"

#include <exception>

// Receives the text built by TBaseError::Describe.
class TDescribeSink {
public:
    virtual ~TDescribeSink() = default;
    virtual void Put(const TAString& text) = 0;
};

class TBaseError : public std::exception {
public:
    TBaseError() = default;
    TBaseError(const TAString& operation, const TAString& message);
    ~TBaseError() override = default;

    const TAString& Message() const { return message_; }
    const TAString& Operation() const { return operation_; }

    // "Module:" + operation + " " (only when there is an operation), then "Error:" + message.
    virtual void Describe(TDescribeSink& sink) const;
    TAString DescribeText() const;

    const char* what() const noexcept override { return what_.c_str(); }

private:
    TAString message_;
    TAString operation_;
    TAString what_;
};
