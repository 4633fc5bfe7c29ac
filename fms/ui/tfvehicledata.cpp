#include "fms/ui/tfvehicledata.h"

#include "fms/tvehicledatatext.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>

namespace {

constexpr int ScrollTop = 28;
constexpr int RowPitch = 24;
constexpr int RowTop = 16;
constexpr int FieldWidth = 121;

QString Q(const TAString& s)
{
    return QString::fromUtf8(s.c_str(), s.Length());
}

}  // namespace

TFVehicleData::TFVehicleData(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName("TFVehicleData");
    setWindowTitle("Tessmar - Data Monitor");
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);

    auto* heading = new QLabel("Actual Data", this);
    heading->setObjectName("L_ActualData");
    heading->move(8, 8);

    requests_ = new QLabel(Q(TRequestCounts().Text()), this);
    requests_->setObjectName("L_Requests");
    requests_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    requests_->setGeometry(100, 6, FixedWidth - 100 - 17, 18);

    scroll_ = new QScrollArea(this);
    scroll_->setObjectName("SB_Rows");
    auto* rows = new QWidget;
    const std::vector<TAString> names = TVehicleDataText::Names();
    const int n = static_cast<int>(names.size());
    fields_.reserve(names.size());
    for (int i = 0; i < n; ++i) {
        const int y = RowPitch * i + RowTop;
        auto* label = new QLabel(Q(names[static_cast<std::size_t>(i)]), rows);
        label->setObjectName(QString("L_Name%1").arg(i));
        label->move(16, y + 3);
        auto* field = new QLineEdit(rows);
        field->setObjectName(QString("E_Value%1").arg(i));
        field->setReadOnly(true);
        field->setGeometry(208, y, FieldWidth, 21);
        fields_.push_back(field);
    }
    rows->resize(208 + FieldWidth + 8, RowPitch * n + RowTop + 8);
    scroll_->setWidget(rows);

    hide_ = new QPushButton("Hide", this);
    hide_->setObjectName("B_Hide");
    connect(hide_, &QPushButton::clicked, this, [this] { B_HideClick(); });

    setFixedWidth(FixedWidth);
    resize(FixedWidth, InitialHeight);
    move(0, 0);
    Layout();
}

void TFVehicleData::Layout()
{
    const int h = height();
    scroll_->setGeometry(8, ScrollTop, 361, std::max(0, h - ScrollTop - 42));
    hide_->setGeometry((FixedWidth - 75) / 2, h - 32, 75, 25);
}

void TFVehicleData::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Layout();
}

void TFVehicleData::ShowRequests(const TRequestCounts& counts)
{
    const QString text = Q(counts.Text());
    if (requests_->text() != text) requests_->setText(text);
}

void TFVehicleData::ShowValues(const TBusFmsStandard* catalogue)
{
    const std::vector<TAString> values = TVehicleDataText::Values(catalogue, RowCount());
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const QString text = Q(values[i]);
        if (fields_[i]->text() != text)
            fields_[i]->setText(text);
    }
}
