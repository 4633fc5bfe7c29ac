#include "app/ui/tferrorhandler.h"

#include "app/terrortable.h"
#include "app/ui/tuserquery.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

QString Q(const TAString& text)
{
    return QString::fromUtf8(text.c_str(), text.Length());
}

}  // namespace

TFErrorHandler::TFErrorHandler(TUserQuery& query, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      query_(query)
{
    setObjectName("TFErrorHandler");
    setWindowTitle(TErrorTable::Caption);
    setFixedSize(360, 180);

    auto* error = new QLabel("Error", this);
    error->setObjectName("L_Error");
    error->setGeometry(12, 10, 336, 18);
    QFont bold = error->font();
    bold.setBold(true);
    error->setFont(bold);

    auto* detail = new QLabel("Detail", this);
    detail->setObjectName("L_Detail");
    detail->setGeometry(12, 34, 336, 18);

    memo_ = new QPlainTextEdit(this);
    memo_->setObjectName("Memo1");
    memo_->setReadOnly(true);
    memo_->setFrameShape(QFrame::NoFrame);
    memo_->setGeometry(12, 56, 336, 76);

    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("B_OK");
    ok->setGeometry(138, 142, 84, 26);
    connect(ok, &QPushButton::clicked, this, &QWidget::hide);
}

int TFErrorHandler::ShowError(const TBaseError& error)
{
    const TErrorReport report = TErrorTable::Lookup(error);
    query_.Message(nullptr, TErrorTable::Caption, report.BoxText, TUserQuery::icError);
    return report.Fatal ? 1 : 0;
}

void TFErrorHandler::ShowDetails(const TBaseError& error)
{
    const TErrorReport report = TErrorTable::Lookup(error);
    findChild<QLabel*>("L_Error")->setText(report.Fatal ? QString("Fatal error occured") : Q(report.Category));
    findChild<QLabel*>("L_Detail")->setText(report.Fatal ? Q(error.Operation()) : Q(report.Text));
    memo_->setPlainText(Q(report.BoxText));
}
