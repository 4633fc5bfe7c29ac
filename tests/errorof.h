#pragma once
// What a call throws, for tests: the TBaseError's operation and message as
// "operation|message", or "no error" when the call returns normally.

#include "support/tbaseerror.h"

#include <gtest/gtest.h>

#include <string>

template <class F>
std::string ErrorOf(F&& f)
{
    try {
        f();
    } catch (const TBaseError& e) {
        return e.Operation().str() + "|" + e.Message().str();
    }
    return "no error";
}

// Expects f to throw the TBaseError (operation, message).
template <class F>
void ExpectError(F&& f, const char* operation, const char* message)
{
    EXPECT_EQ(ErrorOf(f), std::string(operation) + "|" + message);
}
