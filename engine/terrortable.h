#pragma once
// The error table: turns an error's operation and message into the category and
// text the user sees. Rows are tried in order; a row matches when the error's
// operation begins with the row's operation (an empty one matches every error) and
// its message begins with the row's pattern up to a "#". Whatever follows that
// position in the error's message is appended to the user text (error codes).
// An error no row matches is a fatal error shown with its raw texts.
// The error's detail, when it has one, follows as a line of its own in either case.

#include "support/tbaseerror.h"

#include <span>

struct TErrorRow {
    const char* Operation;
    const char* Pattern;
    const char* Category;
    const char* Text;
};

struct TErrorReport {
    bool Fatal = false;
    TAString Category;   // empty for a fatal error
    TAString Text;       // user text (with the appended code), or empty for a fatal error
    TAString Detail;     // the error's detail (may be empty)
    // The whole message box text: category, LF, text, LF; or for a fatal error
    // "Fatal error occured\nModul: <operation>\nMessage: <message>"; then the detail
    // and LF when there is one.
    TAString BoxText;
};

class TErrorTable {
public:
    static constexpr const char* Caption = "Tessmar - Quorvella";

    static std::span<const TErrorRow> Rows();
    static TErrorReport Lookup(const TBaseError& error);
};
