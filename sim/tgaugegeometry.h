#pragma once
// Geometry of the round pointer instrument: a 270 degree scale from the lower left
// (minimum) over the top (middle) to the lower right (maximum). Both the needle and
// the scale marks take the horizontal half-size cx as radius base in both directions.
//
// Example: 0..120 km/h with 12 intervals on a 200 x 200 image: 13 marks; raw 6000 with
// factor 0.01 is 60 km/h and the needle points straight up, from (100, 100) to (100, 20).

#include <cmath>

struct TGaugePoint {
    int X = -1;
    int Y = -1;
    friend bool operator==(const TGaugePoint&, const TGaugePoint&) = default;
};

class TGaugeGeometry {
public:
    static constexpr double Sweep = 4.71238898038469;   // 3 pi / 2
    static constexpr double QuarterPi = 0.785398163397448;

    TGaugeGeometry(int width, int height, double min, double max, int intervals, double factor, double offset);

    double Cx() const { return cx_; }
    double Cy() const { return cy_; }
    int Intervals() const { return intervals_; }
    // Radii of the dial ellipse.
    int DialRx() const { return static_cast<int>(0.95 * cx_); }
    int DialRy() const { return static_cast<int>(0.95 * cy_); }

    // Displayed value of a raw value: (raw - offset) x factor.
    double Value(double raw) const { return (raw - offset_) * factor_; }
    // Centre of scale mark i (0..intervals).
    TGaugePoint Mark(int i) const;
    TGaugePoint Centre() const { return {static_cast<int>(cx_), static_cast<int>(cy_)}; }
    // Tip of the needle for a displayed value.
    TGaugePoint NeedleTip(double value) const;

private:
    double cx_;
    double cy_;
    int intervals_;
    double factor_;
    double offset_;
    double k_;             // angle per unit
    double angleOffset_;   // -min x k
};
