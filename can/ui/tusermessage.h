#pragma once
// Tells the user something and waits until it is acknowledged: a message box with an
// OK button in the program, a recorder in tests (so no test ever blocks).

#include "support/tastring.h"

class TUserMessage {
public:
    virtual ~TUserMessage() = default;

    // Shows text under caption with an OK button; returns when the user has read it.
    virtual void ShowMessage(const TAString& text, const TAString& caption) = 0;

protected:
    TUserMessage() = default;
    TUserMessage(const TUserMessage&) = default;
    TUserMessage& operator=(const TUserMessage&) = default;
};
