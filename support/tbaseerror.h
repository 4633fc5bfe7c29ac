#pragma once
// The one error record the program throws: the failing operation's qualified name
// ("TCanHigh::Add") and a short internal message ("write error"). Category and user
// text are looked up by the error dialog from these two texts.
//
// An optional detail says where and why for the user, in words the table cannot
// know: the file, the line number, the field and its value
// ("drive.asc line 12: identifier 'FFFFFFFF' is wider than 29 bits"). It never takes
// part in the lookup; the error dialog and the headless runner show it after the text.

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
    TBaseError(const TAString& operation, const TAString& message, const TAString& detail);
    ~TBaseError() override = default;

    const TAString& Message() const { return message_; }
    const TAString& Operation() const { return operation_; }
    const TAString& Detail() const { return detail_; }
    // Replaces the detail (and the text what() gives).
    void SetDetail(const TAString& detail);

    // "Module:" + operation + " " (only when there is an operation), then "Error:" + message.
    virtual void Describe(TDescribeSink& sink) const;
    TAString DescribeText() const;

    const char* what() const noexcept override { return what_.c_str(); }

private:
    TAString message_;
    TAString operation_;
    TAString detail_;
    TAString what_;
};
