#pragma once
// Everything that asks the user and waits for the answer: message boxes, the file open
// and save dialogs and the program's own modal windows. The windows never open a modal
// box themselves; they ask this interface, so tests answer without a screen and never
// block. TQtUserQuery is the real one.

#include "support/tastring.h"

#include <optional>

class QDialog;
class QWidget;

// What a file dialog shows: its title, the file name it proposes, the extension added
// to a name typed without one ("asc"), and the filter as description|pattern pairs
// ("*.asc|*.asc").
struct TFileRequest {
    TAString Title;
    TAString FileName;
    TAString DefaultExt;
    TAString Filter;
};

class TUserQuery {
public:
    enum TIcon { icNone, icInformation, icWarning, icError };

    virtual ~TUserQuery() = default;

    // A modal box with text, caption, icon and an OK button; returns when it is closed.
    virtual void Message(QWidget* parent, const TAString& caption, const TAString& text, TIcon icon) = 0;
    // The full name of the file the user chose, nothing when cancelled.
    virtual std::optional<TAString> OpenFileName(QWidget* parent, const TFileRequest& request) = 0;
    virtual std::optional<TAString> SaveFileName(QWidget* parent, const TFileRequest& request) = 0;
    // Shows one of the program's own dialogs modally; its result (QDialog::Accepted, ...).
    virtual int Exec(QDialog& dialog) = 0;

protected:
    TUserQuery() = default;
    TUserQuery(const TUserQuery&) = default;
    TUserQuery& operator=(const TUserQuery&) = default;
};
