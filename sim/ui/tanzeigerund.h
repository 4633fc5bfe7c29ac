#pragma once
// A round pointer instrument (speedometer, rev counter) drawn into an image shown by
// a label: grey background, grey dial, intervals + 1 red scale marks, and a red needle
// over a 270 degree sweep. An optional bound numeric edit shows the value as text.

#include "sim/tgaugegeometry.h"

#include <QImage>

#include <cstdint>

class QLabel;
class TANumEdit;

class TAnzeigeRund {
public:
    // Draws the empty instrument and the needle at raw value 0.
    TAnzeigeRund(QLabel* image, TANumEdit* edit, double min, double max, int intervals, double factor,
                 double offset);

    // Displayed value (raw - offset) x factor: the bound edit gets it as "%7.2lf" and
    // the needle is redrawn.
    void SetValue(int32_t raw);

    const QImage& Image() const { return image_; }
    const TGaugeGeometry& Geometry() const { return geometry_; }
    TGaugePoint NeedleTip() const { return tip_; }

private:
    void DrawNeedle(double value);
    void Show();

    QLabel* label_;
    TANumEdit* edit_;
    QImage image_;
    TGaugeGeometry geometry_;
    TGaugePoint from_;
    TGaugePoint tip_;
};
