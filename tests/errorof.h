#pragma once
// What a call throws, for tests: the TBaseError's operation and message as
// "operation|message", or "no error" when the call returns normally.

#include "support/tbaseerror.h"

#include <gtest/gtest.h>

#include <ostream>
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

// The same as a value with both texts apart, for tests that compare or pick them.
struct Failure {
    std::string operation;
    std::string message;
    bool operator==(const Failure&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Failure& f)
{
    return os << "(" << f.operation << ", " << f.message << ")";
}

// FailureOf<TTreeError>(f) also checks the error's kind: any other error escapes.
// Empty texts when f throws nothing.
template <class Kind = TBaseError, class F>
Failure FailureOf(F&& f)
{
    try {
        f();
    } catch (const Kind& e) {
        return {e.Operation().str(), e.Message().str()};
    }
    return {};
}
