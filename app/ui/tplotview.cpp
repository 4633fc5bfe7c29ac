#include "app/ui/tplotview.h"

#include "support/ui/tqtext.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

using qv::Q;

namespace {

// 1, 2 or 5 times a power of ten, the smallest of them at least rough.
double NiceStep(double rough)
{
    if (!(rough > 0.0)) return 1.0;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= rough) return m * power;
    return 10.0 * power;
}

QString AxisNumber(double v, double step)
{
    const int decimals = step >= 1.0 ? 0 : std::min(6, static_cast<int>(std::ceil(-std::log10(step) - 1e-9)));
    return QString::number(v, 'f', decimals);
}

constexpr int Pad = 4;

}  // namespace

TPlotView::TPlotView(const TPlotStore& store, const TAString& unit, QWidget* parent)
    : QWidget(parent), store_(store), unit_(unit)
{
    setObjectName(QString("PV_%1").arg(unit.IsEmpty() ? QString("none") : Q(unit)));
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void TPlotView::SetRange(int64_t from, int64_t to)
{
    from_ = from;
    to_ = std::max(to, from + 1);
    update();
}

void TPlotView::SetCursorTime(int64_t time)
{
    cursor_ = true;
    cursorTime_ = time;
    update();
}

void TPlotView::ClearCursor()
{
    cursor_ = false;
    update();
}

QRect TPlotView::PlotArea() const
{
    const QFontMetrics m = fontMetrics();
    const int left = m.horizontalAdvance("-88888.88") + 2 * Pad;
    const int top = m.height() + 2 * Pad;          // the legend
    const int bottom = m.height() + 2 * Pad;       // the time axis
    return QRect(left, top, std::max(1, width() - left - 2 * Pad), std::max(1, height() - top - bottom));
}

int64_t TPlotView::TimeAt(int x) const
{
    const QRect area = PlotArea();
    const double f = static_cast<double>(x - area.left()) / std::max(1, area.width());
    return from_ + static_cast<int64_t>(std::llround(f * static_cast<double>(to_ - from_)));
}

int TPlotView::XOf(int64_t time) const
{
    return XIn(PlotArea(), time);
}

int TPlotView::XIn(const QRect& area, int64_t time) const
{
    const double f = static_cast<double>(time - from_) / static_cast<double>(to_ - from_);
    return area.left() + static_cast<int>(std::lround(f * area.width()));
}

QColor TPlotView::Colour(int n)
{
    static const QColor colours[] = {{31, 119, 180}, {214, 39, 40},  {44, 160, 44},  {255, 127, 14}, {148, 103, 189},
                                     {140, 86, 75},  {227, 119, 194}, {127, 127, 127}, {188, 189, 34}, {23, 190, 207}};
    return colours[static_cast<std::size_t>(n) % std::size(colours)];
}

void TPlotView::FitValues()
{
    bool any = false;
    double low = 0.0;
    double high = 0.0;
    for (const TPlotStore::TSignal* s : store_.SignalsOf(unit_)) {
        double lo = 0.0;
        double hi = 0.0;
        if (!s->Series.Extent(from_, to_, lo, hi)) continue;
        low = any ? std::min(low, lo) : lo;
        high = any ? std::max(high, hi) : hi;
        any = true;
    }
    if (!any) {
        low = 0.0;
        high = 1.0;
    }
    if (high - low < 1e-9 * std::max(1.0, std::fabs(high))) {
        low -= 1.0;
        high += 1.0;
    }
    const double margin = (high - low) * 0.05;
    low_ = low - margin;
    high_ = high + margin;
}

void TPlotView::paintEvent(QPaintEvent*)
{
    FitValues();
    QPainter p(this);
    text_.SetFont(font());
    const QRect area = PlotArea();
    // Each pixel filled once: the margins around the area, then the area.
    const QColor window = palette().color(QPalette::Window);
    p.fillRect(QRect(0, 0, width(), area.top()), window);
    p.fillRect(QRect(0, area.bottom() + 1, width(), height() - area.bottom() - 1), window);
    p.fillRect(QRect(0, area.top(), area.left(), area.height()), window);
    p.fillRect(QRect(area.right() + 1, area.top(), width() - area.right() - 1, area.height()), window);
    p.fillRect(area, palette().color(QPalette::Base));
    const QFontMetrics m = fontMetrics();
    const QColor grid = palette().color(QPalette::Midlight);
    const QColor text = palette().color(QPalette::WindowText);

    auto yOf = [&](double v) { return area.bottom() - (v - low_) / (high_ - low_) * area.height(); };

    // Value axis: about one label per 40 pixels.
    // At least two labels: a narrow range (45.1 .. 49.7 km/h) takes a finer step.
    double valueStep = NiceStep((high_ - low_) / std::max(1, area.height() / 40));
    for (int finer = 0; finer < 4 && std::floor(high_ / valueStep) - std::ceil(low_ / valueStep) < 1; ++finer)
        valueStep = NiceStep(valueStep / 2.5);
    for (double v = std::ceil(low_ / valueStep) * valueStep; v <= high_; v += valueStep) {
        const int y = static_cast<int>(std::lround(yOf(v)));
        p.setPen(QPen(grid, 0));
        p.drawLine(area.left(), y, area.right(), y);
        p.setPen(text);
        const QString label = AxisNumber(v, valueStep);
        text_.Draw(p, QPointF(area.left() - Pad - text_.Width(label), y + m.ascent() / 2), label);
    }
    // Time axis in seconds: about one label per 80 pixels.
    const double span = static_cast<double>(to_ - from_) / 1e6;
    const double timeStep = NiceStep(span / std::max(1, area.width() / 80));
    for (double t = std::ceil(static_cast<double>(from_) / 1e6 / timeStep) * timeStep; t * 1e6 <= static_cast<double>(to_);
         t += timeStep) {
        const int x = XIn(area, static_cast<int64_t>(std::llround(t * 1e6)));
        p.setPen(QPen(grid, 0));
        p.drawLine(x, area.top(), x, area.bottom());
        p.setPen(text);
        const QString label = AxisNumber(t, timeStep) + (x + 40 > area.right() ? QString(" s") : QString());
        text_.Draw(p, QPointF(x - std::floor(text_.Width(label) / 2), area.bottom() + Pad + m.ascent()), label);
    }
    p.setPen(text);
    p.drawRect(area.adjusted(0, 0, -1, -1));

    // The lines, clipped to the area; then the legend.
    p.save();
    p.setClipRect(area);
    int legendX = area.left();
    const std::vector<std::unique_ptr<TPlotStore::TSignal>>& all = store_.Signals();
    QPolygonF line;
    for (std::size_t n = 0; n < all.size(); ++n) {
        const TPlotStore::TSignal& s = *all[n];
        if (s.Unit != unit_) continue;
        const QColor colour = Colour(static_cast<int>(n));
        p.setPen(QPen(colour, 0));   // cosmetic: the raster engine's fast path
        s.Series.Columns(from_, to_, area.width(), columns_);
        auto draw = [&] {
            if (line.size() == 1) p.drawPoint(line.front());
            if (line.size() > 1) p.drawPolyline(line);
            line.clear();
        };
        for (const TSeriesColumn& c : columns_) {
            if (c.Break) draw();
            const double x = area.left() + c.Column;
            line << QPointF(x, yOf(c.First));
            if (c.Low != c.First && c.Low != c.Last) line << QPointF(x, yOf(c.Low));
            if (c.High != c.First && c.High != c.Last) line << QPointF(x, yOf(c.High));
            if (c.Last != c.First) line << QPointF(x, yOf(c.Last));
        }
        draw();
    }
    p.restore();
    for (std::size_t n = 0; n < all.size(); ++n) {
        const TPlotStore::TSignal& s = *all[n];
        if (s.Unit != unit_) continue;
        const QString name = Q(s.Name) + (s.Unit.IsEmpty() ? QString() : QString(" [%1]").arg(Q(s.Unit)));
        p.fillRect(legendX, Pad + m.height() / 2 - 2, 12, 4, Colour(static_cast<int>(n)));
        p.setPen(text);
        text_.Draw(p, QPointF(legendX + 16, Pad + m.ascent()), name);
        legendX += 16 + static_cast<int>(std::ceil(text_.Width(name))) + 3 * Pad;
    }

    if (cursor_ && cursorTime_ >= from_ && cursorTime_ <= to_) {
        p.setPen(QPen(text, 0, Qt::DashLine));
        const int x = XIn(area, cursorTime_);
        p.drawLine(x, area.top(), x, area.bottom());
    }
}

void TPlotView::mouseMoveEvent(QMouseEvent* event)
{
    const QRect area = PlotArea();
    const int x = static_cast<int>(event->position().x());
    if (x >= area.left() && x <= area.right())
        emit CursorMoved(TimeAt(x));
    else
        emit CursorLeft();
    QWidget::mouseMoveEvent(event);
}

void TPlotView::leaveEvent(QEvent* event)
{
    emit CursorLeft();
    QWidget::leaveEvent(event);
}

void TPlotView::wheelEvent(QWheelEvent* event)
{
    const int delta = event->angleDelta().y();
    if (delta == 0) {
        QWidget::wheelEvent(event);
        return;
    }
    // One notch of the wheel up halves the span, down doubles it, around the pointer.
    emit ZoomRequested(delta > 0 ? 0.5 : 2.0, TimeAt(static_cast<int>(event->position().x())));
    event->accept();
}
