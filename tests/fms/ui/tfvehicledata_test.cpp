// The data monitor, refreshed by the main tick as in a run.
#include "fms/ui/tfvehicledata.h"

#include "fms/ui/fmsshowcase.h"
#include "fms/ui/tfvalidflagmanip.h"
#include "runharness.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QtTest>

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
        QCOMPARE(w.width(), 386);
        QCOMPARE(w.height(), 484);
        QCOMPARE(w.pos(), QPoint(0, 0));
        QCOMPARE(w.findChild<QLabel*>("L_ActualData")->text(), QString("Actual Data"));
        QCOMPARE(w.findChild<QLabel*>("L_ActualData")->pos(), QPoint(8, 8));
        QCOMPARE(w.findChildren<QLineEdit*>().size(), 86);
        QCOMPARE(w.findChild<QLabel*>("L_Name0")->text(), QString("Parking Brake Switch"));
        QCOMPARE(w.findChild<QLabel*>("L_Name85")->text(), QString("Tell Tale Status"));
        QLineEdit* e = w.findChild<QLineEdit*>("E_Value2");
        QVERIFY(e->isReadOnly());
        QCOMPARE(e->geometry(), QRect(208, 24 * 2 + 16, 121, e->height()));

        auto* scroll = w.findChild<QScrollArea*>("SB_Rows");
        QCOMPARE(scroll->geometry(), QRect(8, 28, 361, 484 - 28 - 42));
        w.show();   // a hidden window gets its resize event when shown
        w.resize(500, 300);
        QTRY_COMPARE(w.height(), 300);
        QCOMPARE(w.width(), 386);
        QCOMPARE(scroll->height(), 300 - 28 - 42);
        QCOMPARE(w.findChild<QPushButton*>("B_Hide")->y(), 300 - 32);

        QTest::mouseClick(w.findChild<QPushButton*>("B_Hide"), Qt::LeftButton);
        QVERIFY(!w.isVisible());
    }

    void EmptyAtTheStartThenTheValuesOfTheRun()
    {
        TRunHarness run;
        TFVehicleData w;
        run.cockpit.SetField(EngineSpeed, "1500.000");
        run.cockpit.SetField(Vin, "*");   // the model supplies no VIN
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

    void ForcedErrorShowsE()
    {
        TRunHarness run;
        TFVehicleData w;
        TFValidFlagManip validity;
        run.cockpit.SetField(EngineSpeed, "1500.000");
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
        QVERIFY(requests->geometry().right() < TFVehicleData::FixedWidth);
        QVERIFY(requests->geometry().bottom() < 28);   // above the rows
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
