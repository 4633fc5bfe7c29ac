// TScreenFit on the offscreen platform's screen: windows end up wholly inside its
// usable area, no larger than it.
#include "support/ui/tscreenfit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QtTest>

class TScreenFitTest : public QObject {
    Q_OBJECT

    static QRect Area() { return QGuiApplication::primaryScreen()->availableGeometry(); }

private slots:
    void aWindowOffTheScreenComesBackTheLeastDistance()
    {
        const QRect area = Area();
        QWidget w;
        w.resize(300, 200);
        w.move(area.right() + 3000, area.bottom() + 3000);
        TScreenFit::Apply(w);
        QCOMPARE(w.size(), QSize(300, 200));
        QCOMPARE(w.pos(), QPoint(area.right() + 1 - 300, area.bottom() + 1 - 200));

        w.move(area.left() - 50, area.top() + 10);
        TScreenFit::Apply(w);
        QCOMPARE(w.pos(), QPoint(area.left(), area.top() + 10));

        w.move(area.left() + 20, area.top() + 30);   // inside: stays
        TScreenFit::Apply(w);
        QCOMPARE(w.pos(), QPoint(area.left() + 20, area.top() + 30));
    }

    void aWindowTallerThanTheScreenIsLimitedEvenWithAFixedSize()
    {
        const QRect area = Area();
        QWidget tall;
        tall.resize(200, area.height() + 222);
        tall.move(area.left() + 10, area.top() + 10);
        TScreenFit::Apply(tall);
        QCOMPARE(tall.geometry(), QRect(area.left() + 10, area.top(), 200, area.height()));

        QWidget fixed;
        fixed.setFixedSize(area.width() + 100, 150);
        TScreenFit::TopLeft(fixed);
        QCOMPARE(fixed.geometry(), QRect(area.left(), area.top(), area.width(), 150));
        QCOMPARE(fixed.maximumWidth(), area.width());
        fixed.show();
        QVERIFY(QTest::qWaitForWindowExposed(&fixed));
        QCOMPARE(fixed.width(), area.width());
    }

    void topLeftAndCentre()
    {
        const QRect area = Area();
        QWidget w;
        w.resize(200, 100);
        w.move(area.left() + 300, area.top() + 300);
        TScreenFit::TopLeft(w);
        QCOMPARE(w.pos(), area.topLeft());
        TScreenFit::Centre(w);
        // Whole pixels: the middles lie within one pixel of each other.
        const QPoint off = w.geometry().center() - area.center();
        QVERIFY2(qAbs(off.x()) <= 1 && qAbs(off.y()) <= 1, qPrintable(QString("%1 %2").arg(off.x()).arg(off.y())));
    }
};

QTEST_MAIN(TScreenFitTest)
#include "tscreenfit_test.moc"
