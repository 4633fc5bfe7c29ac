#include "sim/ui/tanzeigerund.h"

#include "sim/ui/tastringedit.h"

#include <QLabel>
#include <QPainter>
#include <QPixmap>

#include <cstdio>

namespace {

const QColor kBackground(160, 160, 160);
const QColor kDial(128, 128, 128);
const QColor kRed(255, 0, 0);

QSize SizeOf(const QLabel* label)
{
    const QSize size = label ? label->size() : QSize();
    return size.isValid() && !size.isEmpty() ? size : QSize(200, 200);
}

}  // namespace

TAnzeigeRund::TAnzeigeRund(QLabel* image, TANumEdit* edit, double min, double max, int intervals, double factor,
                           double offset)
    : label_(image), edit_(edit), image_(SizeOf(image), QImage::Format_RGB32),
      geometry_(image_.width(), image_.height(), min, max, intervals, factor, offset)
{
    image_.fill(kBackground);
    QPainter painter(&image_);
    painter.setPen(Qt::black);
    painter.setBrush(kDial);
    painter.drawEllipse(QPoint(geometry_.Centre().X, geometry_.Centre().Y), geometry_.DialRx(), geometry_.DialRy());
    painter.setBrush(kRed);
    for (int i = 0; i <= geometry_.Intervals(); ++i) {
        const TGaugePoint mark = geometry_.Mark(i);
        painter.drawEllipse(QPoint(mark.X, mark.Y), 3, 3);
    }
    painter.end();
    DrawNeedle(geometry_.Value(0));
    Show();
}

void TAnzeigeRund::SetValue(int32_t raw)
{
    const double value = geometry_.Value(raw);
    if (edit_) {
        char text[64];
        std::snprintf(text, sizeof text, "%7.2f", value);
        edit_->Commit(TAString(text));
    }
    DrawNeedle(value);
    Show();
}

void TAnzeigeRund::DrawNeedle(double value)
{
    QPainter painter(&image_);
    painter.setPen(QPen(kDial, 3));
    if (tip_.X >= 0 || tip_.Y >= 0) painter.drawLine(from_.X, from_.Y, tip_.X, tip_.Y);
    from_ = geometry_.Centre();
    tip_ = geometry_.NeedleTip(value);
    painter.setPen(QPen(kRed, 3));
    painter.drawLine(from_.X, from_.Y, tip_.X, tip_.Y);
}

void TAnzeigeRund::Show()
{
    if (label_) label_->setPixmap(QPixmap::fromImage(image_));
}
