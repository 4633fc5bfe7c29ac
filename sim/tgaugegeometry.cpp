#include "sim/tgaugegeometry.h"

TGaugeGeometry::TGaugeGeometry(int width, int height, double min, double max, int intervals, double factor,
                               double offset)
    : cx_(width / 2), cy_(height / 2), intervals_(intervals), factor_(factor), offset_(offset),
      k_(Sweep / (max - min)), angleOffset_(-min * (Sweep / (max - min)))
{
}

TGaugePoint TGaugeGeometry::Mark(int i) const
{
    const double t = i * Sweep / intervals_ + QuarterPi;
    return {static_cast<int>(cx_ - std::sin(t) * cx_ * 0.85), static_cast<int>(std::cos(t) * cx_ * 0.85 + cy_)};
}

TGaugePoint TGaugeGeometry::NeedleTip(double value) const
{
    const double a = value * k_ + QuarterPi + angleOffset_;
    return {static_cast<int>(cx_ - std::sin(a) * cx_ * 0.8), static_cast<int>(std::cos(a) * cx_ * 0.8 + cy_)};
}
