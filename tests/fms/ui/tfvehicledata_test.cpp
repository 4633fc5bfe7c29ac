// The data monitor, refreshed by the main tick as in a run.
#include "fms/ui/tfvehicledata.h"

#include "fms/ui/fmsshowcase.h"
#include "fms/ui/tfvalidflagmanip.h"
#include "runharness.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QtTest>

#include <algorithm>

namespace {

constexpr int EngineSpeed = 8;
constexpr int Vin = 10;

}  // namespace

class TFVehicleDataTest : public QObject {
    Q_OBJECT

private:
    static QString Field(const TFVehicleData& w, int row)
    {
        return w.findChild<QLineEdit*>(QString("E_Value%1").arg(row))->text();
    }

private slots:
    void WindowIsLaidOutAsBuilt()
    {
        TFVehicleData w;
        QCOMPARE(w.windowTitle(), QString("Tessmar - Data Monitor"));
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(w.width() >= 386);
        QCOMPARE(w.height(), std::min(484, area.height()));
        QCOMPARE(w.pos(), area.topLeft());
        QCOMPARE(w.findChild<QLabel*>("L_ActualData")->text(), QString("Actual Data"));
        QCOMPARE(w.findChild<QLabel*>("L_ActualData")->pos(), QPoint(8, 8));
        QCOMPARE(w.findChildren<QLineEdit*>().size(), 86);
        QCOMPARE(w.findChild<QLabel*>("L_Name0")->text(), QString("Parking Brake Switch"));
        QCOMPARE(w.findChild<QLabel*>("L_Name85")->text(), QString("Tell Tale Status"));
        // Names from x 16, the fields in a column at x 208 or further right (past the
        // longest name), at least 121 wide, 24 pixels or more apart.
        QLineEdit* first = w.findChild<QLineEdit*>("E_Value0");
        const int pitch = w.findChild<QLineEdit*>("E_Value1")->y() - first->y();
        QVERIFY(first->x() >= 208);
        QVERIFY(first->width() >= 121);
        QVERIFY(pitch >= 24);
        for (int i = 0; i < 86; ++i) {
            QLineEdit* e = w.findChild<QLineEdit*>(QString("E_Value%1").arg(i));
            QLabel* name = w.findChild<QLabel*>(QString("L_Name%1").arg(i));
            QVERIFY(e->isReadOnly());
            QCOMPARE(e->geometry(), QRect(first->x(), pitch * i + 16, first->width(), first->height()));
            QCOMPARE(name->x(), 16);
            QVERIFY2(name->geometry().right() < e->x(), qPrintable(name->text()));
        }

        auto* scroll = w.findChild<QScrollArea*>("SB_Rows");
        const int top = scroll->y();
        QVERIFY(top >= 28);
        QCOMPARE(scroll->geometry(), QRect(8, top, w.width() - 25, w.height() - top - 42));
        const int width = w.width();
        w.show();   // a hidden window gets its resize event when shown
        w.resize(500, 300);
        QTRY_COMPARE(w.height(), 300);
        QCOMPARE(w.width(), width);
        QCOMPARE(scroll->height(), 300 - top - 42);
        QCOMPARE(w.findChild<QPushButton*>("B_Hide")->y(), 300 - 32);
        QVERIFY(scroll->widget()->width() <= scroll->viewport()->width());

        QTest::mouseClick(w.findChild<QPushButton*>("B_Hide"), Qt::LeftButton);
        QVERIFY(!w.isVisible());
    }

    void EmptyAtTheStartThenTheValuesOfTheRun()
    {
        TRunHarness run;
        TFVehicleData w;
        run.cockpit.SetNumber(EngineSpeed, 1500.0);
        run.cockpit.SetState(Vin, msNotSet);   // the model supplies no VIN
        run.engine.SetMonitor(&w);
        w.ShowValues(&run.engine.Catalogue());   // what a previous run left
        QCOMPARE(Field(w, 0), QString("*"));

        run.engine.Start();
        for (int i = 0; i < 86; ++i)
            QCOMPARE(Field(w, i), QString());

        run.RunFor(400);
        QCOMPARE(Field(w, EngineSpeed), QString("1500.000"));
        QCOMPARE(Field(w, Vin), QString("*"));
    }

    void VehicleIdentificationShowsWholeOrFromItsStart()
    {
        TRunHarness run;
        TFVehicleData w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        run.engine.SetMonitor(&w);
        run.cockpit.SetText(Vin, "Vehicle_ID_0001_abcdefg");
        run.engine.Start();
        run.RunFor(400);
        QLineEdit* vin = w.findChild<QLineEdit*>(QString("E_Value%1").arg(Vin));
        QCOMPARE(vin->text(), QString("Vehicle_ID_0001_abcdefg"));
        // The start-up VIN fits its field (frame and text margins of 2 + 2 pixels a side).
        QVERIFY(vin->fontMetrics().horizontalAdvance(vin->text()) <= vin->width() - 8);

        // A longer one is shown from its first character, and whole as the hint.
        const QString longer = "WDB9634031L123456_and_a_long_fleet_number_0001";
        run.cockpit.SetText(Vin, longer.toStdString());
        run.RunFor(400);
        QCOMPARE(vin->text(), longer);
        QCOMPARE(vin->cursorPosition(), 0);
        QCOMPARE(vin->toolTip(), longer);
    }

    void ForcedErrorShowsE()
    {
        TRunHarness run;
        TFVehicleData w;
        TFValidFlagManip validity;
        run.cockpit.SetNumber(EngineSpeed, 1500.0);
        run.engine.SetMonitor(&w);
        run.engine.SetValidity(&validity);
        QComboBox* box = validity.RangeBox(EngineSpeed);
        box->setCurrentIndex(box->findText("FE = Error"));
        validity.B_ApplyClick();

        run.engine.Start();
        run.RunFor(400);
        QCOMPARE(Field(w, EngineSpeed), QString("e"));
    }

    void NoRefreshWhileTheDisplayIsOff()
    {
        TRunHarness run;
        TFVehicleData w;
        run.engine.SetMonitor(&w);
        run.engine.Controls.Display = false;
        run.engine.Start();
        run.RunFor(400);
        QCOMPARE(Field(w, EngineSpeed), QString());
    }

    void RequestCountsBesideTheHeading()
    {
        TRunHarness run;
        TFVehicleData w;
        auto* requests = w.findChild<QLabel*>("L_Requests");
        QCOMPARE(requests->text(), QString("Requests: 0 received, 0 answered, 0 refused"));
        QVERIFY(requests->geometry().right() < w.width());
        QVERIFY(requests->geometry().bottom() < w.findChild<QWidget*>("SB_Rows")->y());   // above the rows
        TRequestCounts counts;
        counts.Received = 12;
        counts.Answered = 10;
        counts.Refused = 1;
        w.ShowRequests(counts);
        QCOMPARE(requests->text(), QString("Requests: 12 received, 10 answered, 1 refused"));

        // A run starts from 0.
        run.engine.SetMonitor(&w);
        run.engine.Start();
        QCOMPARE(requests->text(), QString("Requests: 0 received, 0 answered, 0 refused"));
    }

    void ShowcaseShowsARunningEngine()
    {
        TFVehicleData w;
        FmsShowcase::VehicleData(w);
        for (int i = 0; i < 86; ++i)
            QVERIFY2(!Field(w, i).isEmpty(), qPrintable(QString::number(i)));
        QVERIFY(Field(w, EngineSpeed).toDouble() > 0.0);
    }
};

QTEST_MAIN(TFVehicleDataTest)
#include "tfvehicledata_test.moc"
