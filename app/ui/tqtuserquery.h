#pragma once
// TUserQuery with Qt's message boxes and file dialogs.

#include "app/ui/tuserquery.h"

#include <QString>

class TQtUserQuery final : public TUserQuery {
public:
    void Message(QWidget* parent, const TAString& caption, const TAString& text, TIcon icon) override;
    std::optional<TAString> OpenFileName(QWidget* parent, const TFileRequest& request) override;
    std::optional<TAString> SaveFileName(QWidget* parent, const TFileRequest& request) override;
    int Exec(QDialog& dialog) override;

    // "*.asc|*.asc" as Qt writes filters: "*.asc (*.asc)"; pairs separated by ";;".
    static QString QtFilter(const TAString& filter);
};
