#pragma once
// The error dialog: every error that reaches the user passes through ShowError, which
// looks its operation and message up in the error table (category and user text, or the
// fatal-error text) and shows the result in a modal box "Tessmar - Quorvella" with an
// error icon, through the user query.
//
// Errors while a run goes on must not stop it: Report lists them in this window
// instead, shown without a modal loop and without taking the focus, one row per kind
// (category and text) with how often it came and the latest detail. The labels "Error"
// and "Detail" and the memo show the row chosen last (ShowDetails fills them too, for a
// screenshot); "OK" hides the window, Clear empties the list.

#include "support/tbaseerror.h"

#include <QWidget>

class QPlainTextEdit;
class QTreeWidget;
class TUserQuery;

class TFErrorHandler : public QWidget {
    Q_OBJECT
public:
    explicit TFErrorHandler(TUserQuery& query, QWidget* parent = nullptr);

    // 0: shown from the table; 1: no row matched, shown as a fatal error.
    int ShowError(const TBaseError& error);

    // Puts the looked-up texts of error into the window's own controls.
    void ShowDetails(const TBaseError& error);

    // Lists error (one row per kind, counted) and shows the window without a modal
    // loop: returns at once. 0 or 1 as ShowError.
    int Report(const TBaseError& error);
    // Errors reported since the last Clear, and the kinds among them.
    int Reported() const { return reported_; }
    int Kinds() const;
    void Clear();

private:
    TUserQuery& query_;
    QPlainTextEdit* memo_ = nullptr;
    QTreeWidget* list_ = nullptr;
    int reported_ = 0;
};
