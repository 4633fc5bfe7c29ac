#pragma once
// One plot of the plot window: the signals of one unit over a span of time, each a line
// in a colour of its own with its name in the legend above, the value axis on the left
// (fitted to the values shown) and the time axis (seconds since Start) below, and a
// vertical cursor line where the pointer is.
//
// It paints from the plot store and holds nothing itself; the window tells it the time
// range. A line is drawn through at most a few points per pixel column (the first, the
// smallest, the largest and the last of the column), so an hour of a 20 ms signal costs
// no more to paint than a few seconds of it. A point without a value ("not available",
// "error") breaks the line.

#include "engine/tplotstore.h"
#include "fms/ui/tfasttext.h"
#include "support/tastring.h"

#include <QColor>
#include <QWidget>

#include <cstdint>
#include <vector>

class TPlotView : public QWidget {
    Q_OBJECT
public:
    TPlotView(const TPlotStore& store, const TAString& unit, QWidget* parent = nullptr);

    const TAString& Unit() const { return unit_; }
    // The time range shown, µs; repaints.
    void SetRange(int64_t from, int64_t to);
    int64_t From() const { return from_; }
    int64_t To() const { return to_; }
    // The cursor line at time, or none.
    void SetCursorTime(int64_t time);
    void ClearCursor();

    // The area inside the axes, and the conversions between its x and time.
    QRect PlotArea() const;
    int64_t TimeAt(int x) const;
    int XOf(int64_t time) const;
    // The value range of the axis as last painted (fitted to the values shown).
    double Low() const { return low_; }
    double High() const { return high_; }
    // The colour of the n-th signal picked (of all units, so a signal keeps its colour).
    static QColor Colour(int n);

    QSize sizeHint() const override { return {560, 200}; }
    QSize minimumSizeHint() const override { return {240, 120}; }

signals:
    // The pointer is over the plot at time; left the plot.
    void CursorMoved(qint64 time);
    void CursorLeft();
    // The wheel asks for a span factor times as long, keeping anchor where it is.
    void ZoomRequested(double factor, qint64 anchor);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void FitValues();
    int XIn(const QRect& area, int64_t time) const;

    const TPlotStore& store_;
    TAString unit_;
    int64_t from_ = 0;
    int64_t to_ = 30000000;
    bool cursor_ = false;
    int64_t cursorTime_ = 0;
    double low_ = 0.0;
    double high_ = 1.0;
    // Reused by each paint: the labels' glyphs and the columns of a line.
    TFastText text_;
    std::vector<TSeriesColumn> columns_;
};
