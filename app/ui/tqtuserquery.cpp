#include "app/ui/tqtuserquery.h"
#include "support/ui/tqtext.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace {

using qv::Q;

std::optional<TAString> RunFileDialog(QWidget* parent, const TFileRequest& request, QFileDialog::AcceptMode mode)
{
    QFileDialog dialog(parent, Q(request.Title));
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setDefaultSuffix(Q(request.DefaultExt));
    const QString filter = TQtUserQuery::QtFilter(request.Filter);
    if (!filter.isEmpty()) dialog.setNameFilter(filter);
    if (!request.FileName.IsEmpty()) dialog.selectFile(Q(request.FileName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return TAString(dialog.selectedFiles().front().toStdString());
}

}  // namespace

void TQtUserQuery::Message(QWidget* parent, const TAString& caption, const TAString& text, TIcon icon)
{
    static const QMessageBox::Icon icons[] = {QMessageBox::NoIcon, QMessageBox::Information,
                                              QMessageBox::Warning, QMessageBox::Critical};
    QMessageBox box(icons[icon], Q(caption), Q(text), QMessageBox::Ok, parent);
    box.exec();
}

std::optional<TAString> TQtUserQuery::OpenFileName(QWidget* parent, const TFileRequest& request)
{
    return RunFileDialog(parent, request, QFileDialog::AcceptOpen);
}

std::optional<TAString> TQtUserQuery::SaveFileName(QWidget* parent, const TFileRequest& request)
{
    return RunFileDialog(parent, request, QFileDialog::AcceptSave);
}

int TQtUserQuery::Exec(QDialog& dialog)
{
    return dialog.exec();
}

QString TQtUserQuery::QtFilter(const TAString& filter)
{
    const QStringList parts = Q(filter).split('|');
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(';', ' ');
        filters << parts[i] + " (" + patterns + ")";
    }
    return filters.join(";;");
}
