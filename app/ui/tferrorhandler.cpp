#include "app/ui/tferrorhandler.h"

#include "engine/terrortable.h"
#include "app/ui/tuserquery.h"
#include "support/ui/tqtext.h"

#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>

namespace {

using qv::Q;

}  // namespace

TFErrorHandler::TFErrorHandler(TUserQuery& query, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      query_(query)
{
    setObjectName("TFErrorHandler");
    setWindowTitle(TErrorTable::Caption);
    setFixedSize(360, 330);
    setAttribute(Qt::WA_ShowWithoutActivating);

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

    list_ = new QTreeWidget(this);
    list_->setObjectName("T_Errors");
    list_->setColumnCount(3);
    list_->setHeaderLabels({"Count", "Error", "Latest detail"});
    list_->setRootIsDecorated(false);
    list_->header()->setStretchLastSection(true);
    list_->setGeometry(12, 140, 336, 146);
    connect(list_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (!item) return;
        findChild<QLabel*>("L_Error")->setText(item->data(1, Qt::UserRole).toString());
        findChild<QLabel*>("L_Detail")->setText(item->data(2, Qt::UserRole).toString());
        memo_->setPlainText(item->toolTip(2));
    });

    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("B_OK");
    ok->setGeometry(138, 294, 84, 26);
    connect(ok, &QPushButton::clicked, this, &QWidget::hide);
}

int TFErrorHandler::Report(const TBaseError& error)
{
    const TErrorReport report = TErrorTable::Lookup(error);
    const QString kind = report.Fatal ? "Fatal error occured: " + Q(error.Operation()) + ": " + Q(error.Message())
                                      : Q(report.Category) + ": " + Q(report.Text);
    QTreeWidgetItem* row = nullptr;
    for (int i = 0; i < list_->topLevelItemCount() && !row; ++i)
        if (list_->topLevelItem(i)->text(1) == kind) row = list_->topLevelItem(i);
    if (!row) {
        row = new QTreeWidgetItem(list_);
        row->setText(0, "0");
        row->setText(1, kind);
        row->setData(1, Qt::UserRole, report.Fatal ? QString("Fatal error occured") : Q(report.Category));
        row->setData(2, Qt::UserRole, report.Fatal ? Q(error.Operation()) : Q(report.Text));
    }
    row->setText(0, QString::number(row->text(0).toInt() + 1));
    row->setText(2, Q(error.Detail()));
    row->setToolTip(2, Q(report.BoxText));
    ++reported_;
    list_->setCurrentItem(row);
    if (!isVisible()) show();
    return report.Fatal ? 1 : 0;
}

int TFErrorHandler::Kinds() const
{
    return list_->topLevelItemCount();
}

void TFErrorHandler::Clear()
{
    list_->clear();
    reported_ = 0;
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
