#include "sim/ui/telltales/ttelltalesymbols.h"

#include "sim/ttelltales.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <numbers>

namespace {

// Small drawing vocabulary on the 30 x 30 square; all strokes in the current pen.
class TPen {
public:
    explicit TPen(QPainter& p) : p_(p) {}

    void Line(double x1, double y1, double x2, double y2) { p_.drawLine(QPointF(x1, y1), QPointF(x2, y2)); }
    void Circle(double x, double y, double r) { p_.drawEllipse(QPointF(x, y), r, r); }
    void Dot(double x, double y, double r)
    {
        p_.save();
        p_.setBrush(Qt::white);
        p_.drawEllipse(QPointF(x, y), r, r);
        p_.restore();
    }
    void Box(double x, double y, double w, double h) { p_.drawRect(QRectF(x, y, w, h)); }
    void Fill(double x, double y, double w, double h) { p_.fillRect(QRectF(x, y, w, h), Qt::white); }
    // Arc of the circle around (x, y) from angle a to b in degrees, counter-clockwise from 3 o'clock.
    void Arc(double x, double y, double r, double a, double b)
    {
        p_.drawArc(QRectF(x - r, y - r, 2 * r, 2 * r), static_cast<int>(a * 16), static_cast<int>((b - a) * 16));
    }
    void Poly(std::initializer_list<QPointF> points, bool closed)
    {
        QPainterPath path;
        bool first = true;
        for (const QPointF& pt : points) {
            if (first) path.moveTo(pt);
            else path.lineTo(pt);
            first = false;
        }
        if (closed) path.closeSubpath();
        p_.drawPath(path);
    }
    void Solid(std::initializer_list<QPointF> points)
    {
        p_.save();
        p_.setBrush(Qt::white);
        Poly(points, true);
        p_.restore();
    }
    // A wave from (x, y) to the right over width w.
    void Wave(double x, double y, double w)
    {
        QPainterPath path;
        path.moveTo(x, y);
        const int n = 16;
        for (int i = 1; i <= n; ++i)
            path.lineTo(x + w * i / n, y + 1.5 * std::sin(i * 2 * std::numbers::pi / (n / 2.0)));
        p_.drawPath(path);
    }
    void Width(double w)
    {
        QPen pen = p_.pen();
        pen.setWidthF(w);
        p_.setPen(pen);
    }

    // Letters as strokes in a box of 6 x 10 at (x, y).
    void Letter(char c, double x, double y)
    {
        switch (c) {
        case 'A': Poly({{x, y + 10}, {x + 3, y}, {x + 6, y + 10}}, false); Line(x + 1.2, y + 6, x + 4.8, y + 6); break;
        case 'B':
            Line(x, y, x, y + 10);
            Poly({{x, y}, {x + 4, y}, {x + 5.5, y + 1.5}, {x + 5.5, y + 3.5}, {x + 4, y + 5}, {x, y + 5}}, false);
            Poly({{x, y + 5}, {x + 4.5, y + 5}, {x + 6, y + 6.5}, {x + 6, y + 8.5}, {x + 4.5, y + 10}, {x, y + 10}},
                 false);
            break;
        case 'S':
            Poly({{x + 6, y + 1}, {x + 5, y}, {x + 1, y}, {x, y + 1}, {x, y + 4}, {x + 1, y + 5}, {x + 5, y + 5},
                  {x + 6, y + 6}, {x + 6, y + 9}, {x + 5, y + 10}, {x + 1, y + 10}, {x, y + 9}},
                 false);
            break;
        case 'P':
            Line(x, y, x, y + 10);
            Poly({{x, y}, {x + 4.5, y}, {x + 6, y + 1.5}, {x + 6, y + 3.5}, {x + 4.5, y + 5}, {x, y + 5}}, false);
            break;
        case 'R':
            Letter('P', x, y);
            Line(x + 3, y + 5, x + 6, y + 10);
            break;
        case 'H': Line(x, y, x, y + 10); Line(x + 6, y, x + 6, y + 10); Line(x, y + 5, x + 6, y + 5); break;
        case '!': Line(x + 3, y, x + 3, y + 6.5); Dot(x + 3, y + 9.2, 0.9); break;
        default: break;
        }
    }
    void Text(const char* text, double x, double y, double step = 8)
    {
        for (; *text; ++text, x += step) Letter(*text, x, y);
    }

    // Recurring pieces.
    void Lamp(double x, double y, bool right)   // a head lamp: half disc facing left or right
    {
        if (right) {
            Arc(x, y, 7, 90, 270);
            Line(x, y - 7, x, y + 7);
        } else {
            Arc(x, y, 7, -90, 90);
            Line(x, y - 7, x, y + 7);
        }
    }
    void Thermometer(double x, double y)   // bulb at the bottom, stem upwards
    {
        Line(x, y - 14, x, y - 2);
        Dot(x, y, 2.5);
        Line(x, y - 12, x + 3, y - 12);
        Line(x, y - 8, x + 3, y - 8);
    }
    void OilCan(double x, double y)   // can with spout to the right, drop below the spout
    {
        Poly({{x, y}, {x + 12, y}, {x + 20, y - 5}, {x + 12, y - 6}, {x + 10, y - 6}, {x + 9, y - 8}, {x + 3, y - 8},
              {x + 3, y - 6}, {x, y - 6}},
             true);
        Line(x - 3, y - 6, x, y - 4);
        Dot(x + 21, y + 2, 1.2);
    }
    void Gear(double x, double y, double r)
    {
        Circle(x, y, r);
        for (int i = 0; i < 8; ++i) {
            const double a = i * std::numbers::pi / 4;
            Line(x + r * std::cos(a), y + r * std::sin(a), x + (r + 2.5) * std::cos(a), y + (r + 2.5) * std::sin(a));
        }
    }
    void SteeringWheel(double x, double y, double r)
    {
        Circle(x, y, r);
        Circle(x, y, 2);
        Line(x - r, y, x - 2, y);
        Line(x + 2, y, x + r, y);
        Line(x, y + 2, x, y + r);
    }
    void BrakeCircle(double x, double y)   // circle between two brackets
    {
        Circle(x, y, 8);
        Arc(x, y, 12, 125, 235);
        Arc(x, y, 12, -55, 55);
    }
    void Bus(double x, double y, double w, double h)
    {
        Box(x, y, w, h);
        Line(x, y + h * 0.45, x + w, y + h * 0.45);
        Circle(x + w * 0.2, y + h + 1.5, 2);
        Circle(x + w * 0.8, y + h + 1.5, 2);
    }

private:
    QPainter& p_;
};

void Draw(int index, TPen& d)
{
    switch (index) {
    case 0:   // cooling air conditioning: a snowflake
        for (int i = 0; i < 3; ++i) {
            const double a = i * std::numbers::pi / 3;
            d.Line(15 - 12 * std::cos(a), 15 - 12 * std::sin(a), 15 + 12 * std::cos(a), 15 + 12 * std::sin(a));
        }
        d.Circle(15, 15, 3);
        break;
    case 1:   // high beam: lamp with level rays
        d.Lamp(20, 15, false);
        for (int i = 0; i < 5; ++i) d.Line(3, 8 + 3.5 * i, 11, 8 + 3.5 * i);
        break;
    case 2:   // low beam: lamp with rays slanting down
        d.Lamp(20, 15, false);
        for (int i = 0; i < 4; ++i) d.Line(4, 12 + 4 * i, 11, 9 + 4 * i);
        break;
    case 3:   // turn signals: two arrows
        d.Solid({{1, 15}, {8, 8}, {8, 12}, {13, 12}, {13, 18}, {8, 18}, {8, 22}});
        d.Solid({{29, 15}, {22, 8}, {22, 12}, {17, 12}, {17, 18}, {22, 18}, {22, 22}});
        break;
    case 4:   // hazard warning: triangle in a triangle
        d.Poly({{15, 2}, {28, 26}, {2, 26}}, true);
        d.Poly({{15, 10}, {21, 22}, {9, 22}}, true);
        break;
    case 5:   // provision for the disabled: wheelchair user
        d.Dot(12, 5, 2.5);
        d.Line(12, 9, 12, 18);
        d.Line(12, 18, 20, 18);
        d.Line(20, 18, 23, 25);
        d.Arc(12, 20, 7, 150, 360);
        break;
    case 6:   // parking brake: P in the brake circle
        d.BrakeCircle(15, 15);
        d.Letter('P', 12, 10);
        break;
    case 7:   // brake failure: ! in the brake circle
        d.BrakeCircle(15, 15);
        d.Letter('!', 12, 10);
        break;
    case 8:   // hatch open: vehicle side with a lifted hatch
        d.Box(3, 12, 24, 10);
        d.Line(21, 12, 27, 4);
        d.Circle(9, 24, 2.5);
        d.Circle(21, 24, 2.5);
        break;
    case 9:   // fuel level: fuel pump with hose
        d.Box(5, 6, 11, 20);
        d.Fill(7, 9, 7, 5);
        d.Poly({{16, 10}, {22, 10}, {24, 14}, {24, 24}, {21, 24}, {21, 16}}, false);
        break;
    case 10:   // engine coolant temperature: thermometer in waves
        d.Thermometer(15, 20);
        d.Wave(2, 24, 10);
        d.Wave(18, 24, 10);
        break;
    case 11:   // battery charging: battery with + and -
        d.Box(3, 9, 24, 15);
        d.Fill(6, 6, 4, 3);
        d.Fill(20, 6, 4, 3);
        d.Line(6, 16, 11, 16);
        d.Line(8.5, 13.5, 8.5, 18.5);
        d.Line(19, 16, 24, 16);
        break;
    case 12:   // engine oil: oil can
        d.OilCan(5, 20);
        break;
    case 13:   // position lights: two lamps back to back with short rays
        d.Arc(11, 15, 6, 90, 270);
        d.Line(11, 9, 11, 21);
        d.Arc(19, 15, 6, -90, 90);
        d.Line(19, 9, 19, 21);
        d.Line(1, 11, 4, 11);
        d.Line(1, 19, 4, 19);
        d.Line(26, 11, 29, 11);
        d.Line(26, 19, 29, 19);
        break;
    case 14:   // front fog light: lamp, slanted rays crossed by a wave
        d.Lamp(21, 15, false);
        for (int i = 0; i < 3; ++i) d.Line(3, 11 + 5 * i, 12, 8 + 5 * i);
        d.Line(7.5, 6, 7.5, 24);
        break;
    case 15:   // rear fog light: lamp facing right, level rays crossed by a line
        d.Lamp(9, 15, true);
        for (int i = 0; i < 3; ++i) d.Line(18, 10 + 5 * i, 27, 10 + 5 * i);
        d.Line(22.5, 6, 22.5, 24);
        break;
    case 16:   // park heating: radiator with rising heat
        d.Box(4, 18, 22, 8);
        for (int i = 0; i < 3; ++i) {
            const double x = 9 + 6 * i;
            d.Poly({{x, 15}, {x - 2, 12}, {x, 9}, {x - 2, 6}, {x, 3}}, false);
        }
        break;
    case 17:   // engine: engine block outline
        d.Poly({{3, 12}, {7, 12}, {7, 9}, {19, 9}, {19, 12}, {24, 12}, {24, 10}, {28, 10}, {28, 23}, {24, 23},
                {24, 21}, {20, 25}, {9, 25}, {7, 22}, {3, 22}},
               true);
        d.Line(10, 6, 16, 6);
        d.Line(13, 6, 13, 9);
        break;
    case 18:   // service: a spanner
        d.Width(3);
        d.Line(9, 21, 20, 10);
        d.Width(2);
        d.Arc(22, 8, 5, -135, 135);
        d.Arc(7, 23, 5, 45, 315);
        break;
    case 19:   // transmission fluid temperature: gear wheel with thermometer
        d.Gear(15, 15, 9);
        d.Thermometer(15, 21);
        break;
    case 20:   // transmission failure: gear wheel with !
        d.Gear(15, 15, 9);
        d.Letter('!', 12, 10);
        break;
    case 21:   // anti-lock brake system failure: ABS in the brake circle's brackets
        d.Width(1.5);
        d.Arc(15, 15, 13, 125, 235);
        d.Arc(15, 15, 13, -55, 55);
        d.Text("ABS", 5.5, 10, 7);
        break;
    case 22:   // worn brake linings: brake circle with dashed brackets
        d.Circle(15, 15, 8);
        for (int a = 130; a < 230; a += 30) d.Arc(15, 15, 12, a, a + 15);
        for (int a = -50; a < 50; a += 30) d.Arc(15, 15, 12, a, a + 15);
        break;
    case 23:   // washer fluid: windscreen with a spray fan
        d.Arc(15, 30, 14, 20, 160);
        d.Line(15, 24, 15, 27);
        d.Line(15, 24, 8, 8);
        d.Line(15, 24, 15, 6);
        d.Line(15, 24, 22, 8);
        break;
    case 24:   // tyre failure: tyre section with !
        d.Arc(15, 15, 12, 200, 340);
        d.Poly({{4, 11}, {3, 19}, {7, 26}, {23, 26}, {27, 19}, {26, 11}}, false);
        d.Letter('!', 12, 12);
        break;
    case 25:   // general failure: warning triangle with !
        d.Poly({{15, 2}, {28, 26}, {2, 26}}, true);
        d.Letter('!', 12, 12);
        break;
    case 26:   // engine oil temperature: oil can and thermometer
        d.OilCan(3, 24);
        d.Thermometer(22, 15);
        break;
    case 27:   // engine oil level: oil can over level marks
        d.OilCan(5, 16);
        d.Line(6, 23, 24, 23);
        d.Line(6, 27, 24, 27);
        break;
    case 28:   // coolant level: tank with a wave and a level mark
        d.Box(6, 5, 18, 21);
        d.Wave(8, 14, 14);
        d.Line(3, 14, 6, 14);
        break;
    case 29:   // steering fluid level: steering wheel over a level line
        d.SteeringWheel(15, 13, 9);
        d.Wave(4, 27, 22);
        break;
    case 30:   // steering failure: steering wheel with !
        d.SteeringWheel(15, 15, 12);
        d.Letter('!', 12, 3);
        break;
    case 31:   // height control: vehicle between up and down arrows
        d.Box(5, 12, 20, 7);
        d.Solid({{15, 1}, {11, 6}, {19, 6}});
        d.Line(15, 6, 15, 10);
        d.Solid({{15, 29}, {11, 24}, {19, 24}});
        d.Line(15, 21, 15, 24);
        break;
    case 32:   // retarder: R in a circle
        d.Circle(15, 15, 12);
        d.Letter('R', 12, 10);
        break;
    case 33:   // emission system failure: engine with an exhaust cloud
        d.Box(3, 12, 14, 11);
        d.Line(17, 17, 21, 17);
        d.Circle(24, 15, 3);
        d.Circle(26, 9, 2.5);
        d.Circle(21, 7, 2);
        break;
    case 34:   // stability control: car with swerving tracks
        d.Box(8, 4, 14, 10);
        d.Line(10, 14, 10, 16);
        d.Line(20, 14, 20, 16);
        d.Poly({{8, 19}, {12, 22}, {8, 25}, {12, 28}}, false);
        d.Poly({{18, 19}, {22, 22}, {18, 25}, {22, 28}}, false);
        break;
    case 35:   // brake lights: lamp face with rays all round
        d.Circle(15, 15, 6);
        d.Dot(15, 15, 3);
        for (int i = 0; i < 8; ++i) {
            const double a = i * std::numbers::pi / 4;
            d.Line(15 + 9 * std::cos(a), 15 + 9 * std::sin(a), 15 + 13 * std::cos(a), 15 + 13 * std::sin(a));
        }
        break;
    case 36:   // articulation: two bodies joined by a turntable
        d.Box(1, 10, 11, 10);
        d.Box(18, 10, 11, 10);
        d.Circle(15, 15, 3);
        break;
    case 37:   // stop request: octagon around a push button
        d.Poly({{9, 2}, {21, 2}, {28, 9}, {28, 21}, {21, 28}, {9, 28}, {2, 21}, {2, 9}}, true);
        d.Dot(15, 15, 5);
        break;
    case 38:   // pram request: pram with hood and wheels
        d.Poly({{5, 12}, {25, 12}, {22, 21}, {8, 21}}, true);
        d.Arc(13, 12, 8, 90, 180);
        d.Line(13, 4, 13, 12);
        d.Line(25, 12, 28, 6);
        d.Circle(10, 25, 2.5);
        d.Circle(20, 25, 2.5);
        break;
    case 39:   // bus stop brake: bus over an H
        d.Bus(3, 3, 24, 12);
        d.Letter('H', 12, 19);
        break;
    case 40:   // urea level: a drop with a level wave
        d.Poly({{15, 3}, {22, 15}, {22, 19}, {19, 25}, {11, 25}, {8, 19}, {8, 15}}, true);
        d.Wave(9, 18, 12);
        break;
    default: break;
    }
}

}  // namespace

QImage TTellTaleSymbols::Symbol(int index)
{
    const int size = TTellTales::SymbolSize;
    QImage canvas(size, size, QImage::Format_RGB32);
    canvas.fill(Qt::black);
    {
        QPainter painter(&canvas);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        TPen pen(painter);
        Draw(index, pen);
    }
    return canvas.convertToFormat(QImage::Format_Grayscale8);
}
