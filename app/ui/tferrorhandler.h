#pragma once
// The error dialog: every error that reaches the user passes through ShowError, which
// looks its operation and message up in the error table (category and user text, or the
// fatal-error text) and shows the result in a modal box "Tessmar - Quorvella" with an
// error icon, through the user query.
//
// The window itself (labels "Error" and "Detail", a read-only memo, "OK") is made at
// start-up and never shown by the program; ShowDetails fills it for a screenshot.

#include "support/tbaseerror.h"

#include <QWidget>

class QPlainTextEdit;
class TUserQuery;

class TFErrorHandler : public QWidget {
    Q_OBJECT
public:
    explicit TFErrorHandler(TUserQuery& query, QWidget* parent = nullptr);

    // 0: shown from the table; 1: no row matched, shown as a fatal error.
    int ShowError(const TBaseError& error);

    // Puts the looked-up texts of error into the window's own controls.
    void ShowDetails(const TBaseError& error);

private:
    TUserQuery& query_;
    QPlainTextEdit* memo_ = nullptr;
};
