#include "fms/ui/tfvehicledata.h"

#include "fms/tvehicledatatext.h"
#include "support/ui/tscreenfit.h"
#include "support/ui/tqtext.h"

#include <QLabel>
#include <QLineEdit>
#include <QKeyEvent>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>

#include <algorithm>

namespace {

// The designed geometry (pixels); a larger font moves the columns apart and the rows
// further down, so that every name and the usual values are shown whole.
constexpr int ScrollLeft = 8;
constexpr int ScrollTop = 28;
constexpr int ScrollWidth = 361;
constexpr int RowPitch = 24;
constexpr int RowTop = 16;
constexpr int LabelLeft = 16;
constexpr int FieldLeft = 208;
constexpr int FieldWidth = 121;
constexpr int FieldHeight = 21;
constexpr int Gap = 8;
// The longest values the simulation sends as it starts: its vehicle identification
// with its end mark, and the 41 digits of the tell-tale states.
constexpr const char* WidestValues[] = {"Vehicle_ID_0001_abcdefg*", "00000000000000000000000000000000000000000"};

using qv::Q;

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
    heading->resize(heading->sizeHint());

    requests_ = new QLabel(Q(TRequestCounts().Text()), this);
    requests_->setObjectName("L_Requests");
    requests_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    scroll_ = new QScrollArea(this);
    scroll_->setObjectName("SB_Rows");
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto* rows = new QWidget;
    const std::vector<TAString> names = TVehicleDataText::Names();
    const int n = static_cast<int>(names.size());
    fields_.reserve(names.size());
    std::vector<QLabel*> labels;
    for (int i = 0; i < n; ++i) {
        auto* label = new QLabel(Q(names[static_cast<std::size_t>(i)]), rows);
        label->setObjectName(QString("L_Name%1").arg(i));
        label->resize(label->sizeHint());
        labels.push_back(label);
        auto* field = new QLineEdit(rows);
        field->setObjectName(QString("E_Value%1").arg(i));
        field->setReadOnly(true);
        fields_.push_back(field);
    }

    // Columns and rows as designed, or wider and taller where the font needs it
    // (measured as the style will draw them).
    rows->ensurePolished();
    int nameWidth = 0;
    for (QLabel* label : labels)
        nameWidth = std::max(nameWidth, label->width());
    QLineEdit* sample = fields_.front();
    int fieldWidth = FieldWidth;
    for (const char* value : WidestValues)
        fieldWidth = std::max(fieldWidth, sample->fontMetrics().horizontalAdvance(value) +
                                              2 * sample->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) + 8);
    const int fieldHeight = std::max(FieldHeight, sample->sizeHint().height());
    const int fieldLeft = std::max(FieldLeft, LabelLeft + nameWidth + Gap);
    const int pitch = std::max(RowPitch, fieldHeight + 3);
    for (int i = 0; i < n; ++i) {
        const int y = pitch * i + RowTop;
        QLabel* label = labels[static_cast<std::size_t>(i)];
        label->move(LabelLeft, y + (fieldHeight - label->height()) / 2);
        fields_[static_cast<std::size_t>(i)]->setGeometry(fieldLeft, y, fieldWidth, fieldHeight);
    }
    rows->resize(fieldLeft + fieldWidth + Gap, pitch * n + RowTop + Gap);
    scroll_->setWidget(rows);
    scrollTop_ = std::max(ScrollTop, heading->y() + heading->height() + 4);
    scrollWidth_ = std::max(ScrollWidth, rows->width() + 2 * scroll_->frameWidth() +
                                             scroll_->verticalScrollBar()->sizeHint().width());

    hide_ = new QPushButton("Hide", this);
    hide_->setObjectName("B_Hide");
    hide_->resize(std::max(75, hide_->sizeHint().width()), std::max(25, hide_->sizeHint().height()));
    connect(hide_, &QPushButton::clicked, this, [this] { B_HideClick(); });

    // The request counts right-aligned beside the heading, as wide as six-digit counts
    // need; on a line of their own under it when the font leaves no room beside it.
    TRequestCounts widest;
    widest.Received = widest.Answered = widest.Refused = 999999;
    requests_->ensurePolished();
    const int requestsWidth = requests_->fontMetrics().horizontalAdvance(Q(widest.Text())) + 2 * requests_->margin() + 4;
    const int requestsHeight = std::max(18, requests_->sizeHint().height());
    const int rightMargin = FixedWidth - ScrollLeft - ScrollWidth;
    const int width = std::max({FixedWidth, ScrollLeft + scrollWidth_ + rightMargin, heading->x() + requestsWidth + rightMargin});
    int requestsTop = 6;
    if (heading->x() + heading->width() + Gap + requestsWidth > width - rightMargin) {
        requestsTop = heading->y() + heading->height() + 2;
        scrollTop_ = std::max(scrollTop_, requestsTop + requestsHeight + 4);
    }
    requests_->setGeometry(width - rightMargin - requestsWidth, requestsTop, requestsWidth, requestsHeight);
    setFixedWidth(width);
    resize(width, InitialHeight);
    TScreenFit::TopLeft(*this);
    TScreenFit::Keep(*this);
    Layout();
}

void TFVehicleData::Layout()
{
    const int h = height();
    scroll_->setGeometry(ScrollLeft, scrollTop_, scrollWidth_, std::max(0, h - scrollTop_ - 42));
    hide_->move((width() - hide_->width()) / 2, h - 32);
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

void TFVehicleData::keyPressEvent(QKeyEvent* event)
{
    // Escape hides the monitor as its button does.
    if (event->key() == Qt::Key_Escape) {
        B_HideClick();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TFVehicleData::ShowValues(const TBusFmsStandard* catalogue)
{
    const std::vector<TAString> values = TVehicleDataText::Values(catalogue, RowCount());
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const QString text = Q(values[i]);
        if (fields_[i]->text() != text) {
            fields_[i]->setText(text);
            // A value longer than its field shows its beginning, and whole as the hint.
            fields_[i]->setCursorPosition(0);
            fields_[i]->setToolTip(text);
        }
    }
}
