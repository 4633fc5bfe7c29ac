// The data monitor, refreshed by the main tick as in a run: the table of what left on
// the bus, its filter, the states spelled out, a replay decoded, rows changed in place.
#include "fms/ui/tfvehicledata.h"

#include "logs/tcanlogreader.h"
#include "fms/ui/fmsshowcase.h"
#include "fms/ui/tfvalidflagmanip.h"
#include "fms/ui/tsignaltablemodel.h"
#include "runharness.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTableView>
#include <QtTest>

#include <algorithm>

namespace {

constexpr int EngineSpeed = 8;
constexpr int Vin = 10;
constexpr int Seconds = 63;

using M = TSignalTableModel;

// Gives one Address Claimed for address 0 with NAME 0 once pending is set.
class TContendingChannel final : public TCanChannel {
public:
    TCanFrame Read() override
    {
        if (!pending) return TCanFrame();
        pending = false;
        return TCanFrame(0x18EEFF00u, {0, 0, 0, 0, 0, 0, 0, 0});
    }
    void Write(const TCanFrame&) override {}
    bool pending = false;
};

}  // namespace

class TFVehicleDataTest : public QObject {
    Q_OBJECT

private:
    // The names of the rows the table shows, top to bottom.
    static QStringList ShownNames(const TFVehicleData& w)
    {
        QStringList names;
        const QAbstractItemModel* m = w.View()->model();
        for (int r = 0; r < m->rowCount(); ++r) names << m->index(r, M::colName).data().toString();
        return names;
    }

private slots:
    void WindowIsLaidOutAsBuilt()
    {
        TFVehicleData w;
        QCOMPARE(w.windowTitle(), QString("Tessmar - Data Monitor"));
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(w.height(), std::min(484, area.height()));
        QCOMPARE(w.pos(), area.topLeft());
        QCOMPARE(w.findChild<QLabel*>("L_ActualData")->text(), QString("Actual Data"));
        auto* view = w.findChild<QTableView*>("TV_Signals");
        QVERIFY(view);
        QCOMPARE(view->model()->rowCount(), 86);
        const QStringList headers = {"Signal", "Value", "Unit", "State", "Raw bytes", "Group", "Age"};
        for (int c = 0; c < headers.size(); ++c)
            QCOMPARE(view->model()->headerData(c, Qt::Horizontal).toString(), headers[c]);
        QCOMPARE(w.Text(0, M::colName), QString("Parking Brake Switch"));
        QCOMPARE(w.Text(85, M::colName), QString("Tell Tale Status"));
        QCOMPARE(w.Text(EngineSpeed, M::colUnit), QString("rpm"));
        QCOMPARE(w.Text(EngineSpeed, M::colGroup), QString("Electronic Engine Controller #1"));
        QCOMPARE(w.Text(EngineSpeed, M::colState), QString("no frame yet"));
        // Every column shows whole within the window as it opens.
        int columns = 0;
        for (int c = 0; c < M::ColumnCount; ++c) columns += view->columnWidth(c);
        QVERIFY(columns <= view->width() || w.width() >= area.width());

        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTest::mouseClick(w.findChild<QPushButton*>("B_Hide"), Qt::LeftButton);
        QVERIFY(!w.isVisible());
        w.show();
        QTest::keyClick(&w, Qt::Key_Escape);
        QVERIFY(!w.isVisible());
    }

    void FilterKeepsTheRowsThatMatchAsTheUserTypes()
    {
        TFVehicleData w;
        auto* filter = w.findChild<QLineEdit*>("E_Filter");
        QVERIFY(filter);
        QTest::keyClicks(filter, "engine speed");
        QCOMPARE(ShownNames(w), QStringList{"Engine speed"});
        filter->clear();
        QCOMPARE(w.ShownRows(), 86);
        // By the PGN of EEC1, in decimal and in hex, and by the SPN of the seconds.
        QTest::keyClicks(filter, "61444");
        QCOMPARE(ShownNames(w), QStringList{"Engine speed"});
        filter->clear();
        QTest::keyClicks(filter, "F004");
        QCOMPARE(ShownNames(w), QStringList{"Engine speed"});
        filter->clear();
        QTest::keyClicks(filter, "959");
        QCOMPARE(ShownNames(w), QStringList{"Seconds"});
        // By group: Door Control 1 has 3 signals, Door Control 2 has 30.
        filter->clear();
        QTest::keyClicks(filter, "door control");
        QCOMPARE(w.ShownRows(), 33);
        filter->clear();
        QTest::keyClicks(filter, "no such signal");
        QCOMPARE(w.ShownRows(), 0);
    }

    void EmptyAtTheStartThenTheValuesThatLeft()
    {
        TRunHarness run;
        TFVehicleData w;
        run.cockpit.SetNumber(EngineSpeed, 1500.0);
        run.cockpit.SetState(Vin, msNotSet);   // the model supplies no VIN
        run.engine.SetMonitor(&w);
        run.engine.Start();
        run.RunFor(400);
        QCOMPARE(w.Text(EngineSpeed, M::colValue), QString("1500.000"));
        QCOMPARE(w.Text(EngineSpeed, M::colState), QString("valid"));
        QCOMPARE(w.Text(EngineSpeed, M::colRaw), QString("E0 2E"));   // 12000 at 0.125 rpm a bit
        QVERIFY(!w.Text(EngineSpeed, M::colAge).isEmpty());
        // A VIN without content leaves as 0xFF bytes: not available on the bus.
        QCOMPARE(w.Text(Vin, M::colValue), QString("n"));
        QCOMPARE(w.Text(Vin, M::colState), QString("not available"));

        // The next run starts empty.
        run.engine.Stop();
        run.engine.Start();
        for (int i = 0; i < 86; ++i) {
            QCOMPARE(w.Text(i, M::colValue), QString());
            QCOMPARE(w.Text(i, M::colState), QString("no frame yet"));
            QCOMPARE(w.Text(i, M::colAge), QString());
        }
    }

    void VehicleIdentificationShowsWholeInItsHint()
    {
        TRunHarness run;
        TFVehicleData w;
        run.engine.SetMonitor(&w);
        run.cockpit.SetText(Vin, "Vehicle_ID_0001_abcdefg");
        run.engine.Start();
        // A transfer of 4 packets, 100 ms apart.
        run.RunFor(800);
        QCOMPARE(w.Text(Vin, M::colValue), QString("Vehicle_ID_0001_abcdefg"));

        const QString longer = "WDB9634031L123456_and_a_long_fleet_number_0001";
        run.cockpit.SetText(Vin, longer.toStdString());
        run.RunFor(11000);   // the group leaves every 10 s
        QCOMPARE(w.Text(Vin, M::colValue), longer);
        const QModelIndex cell = w.Model().index(Vin, M::colValue);
        QCOMPARE(w.Model().data(cell, Qt::ToolTipRole).toString(), longer);
    }

    void ForcedErrorIsSpelledOutAndKeepsItsLetter()
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
        QCOMPARE(w.Text(EngineSpeed, M::colValue), QString("e"));
        QCOMPARE(w.Text(EngineSpeed, M::colState), QString("error"));
        QCOMPARE(w.Text(EngineSpeed, M::colRaw), QString("FF FE"));
        QCOMPARE(w.Model().data(w.Model().index(EngineSpeed, M::colState), Qt::ToolTipRole).toString(),
                 QString("error (e)"));
    }

    void AReplayShowsTheLogsValuesDecoded()
    {
        TRunHarness run;
        TFVehicleData w;
        run.engine.SetMonitor(&w);
        run.engine.Controls.Simulation = false;
        run.engine.Controls.InternalLog = true;
        // Engine speed 0x2EE0 * 0.125 = 1500 rpm; seconds 0xF4 * 0.25 = 61 s, beyond 60.
        run.engine.InternalLines = TCanLogReader::Parse("000.0010 0CF00400FFFFFFE02EFFFFFF\n"
                                                        "000.0020 18FEE600F4FFFFFFFFFFFFFF\n"
                                                        "000.3000 0CF00400FFFFFFE02EFFFFFF\n");
        run.engine.Start();
        run.RunFor(250);
        QCOMPARE(w.Text(EngineSpeed, M::colValue), QString("1500.000"));
        QCOMPARE(w.Text(EngineSpeed, M::colState), QString("valid"));
        QCOMPARE(w.Text(Seconds, M::colValue), QString("o"));
        QCOMPARE(w.Text(Seconds, M::colState), QString("out of range"));
        QCOMPARE(w.Text(Seconds, M::colRaw), QString("F4"));
        QCOMPARE(w.Text(0, M::colState), QString("no frame yet"));
    }

    void RowsChangeInPlace()
    {
        TRunHarness run;
        TFVehicleData w;
        run.cockpit.SetNumber(EngineSpeed, 1500.0);
        run.engine.SetMonitor(&w);
        run.engine.Start();
        run.RunFor(400);
        QSignalSpy resets(&w.Model(), &QAbstractItemModel::modelReset);
        QSignalSpy changes(&w.Model(), &QAbstractItemModel::dataChanged);
        run.cockpit.SetNumber(EngineSpeed, 1600.0);
        run.RunFor(200);
        QCOMPARE(w.Text(EngineSpeed, M::colValue), QString("1600.000"));
        QCOMPARE(resets.count(), 0);
        // The value columns of the engine speed's row changed; rows whose values stayed
        // (the parking brake's) were not touched, only the age column of every row.
        bool engineSpeed = false;
        for (const QList<QVariant>& c : changes) {
            const auto from = c[0].value<QModelIndex>();
            const auto to = c[1].value<QModelIndex>();
            if (from.column() == M::colAge && to.column() == M::colAge) continue;
            QVERIFY(from.row() > 0);
            engineSpeed = engineSpeed || (from.row() <= EngineSpeed && to.row() >= EngineSpeed);
        }
        QVERIFY(engineSpeed);
    }

    void NoRefreshWhileTheDisplayIsOff()
    {
        TRunHarness run;
        TFVehicleData w;
        run.engine.SetMonitor(&w);
        run.engine.Controls.Display = false;
        run.engine.Start();
        run.RunFor(400);
        QCOMPARE(w.Text(EngineSpeed, M::colValue), QString());
    }

    void RequestCountsBesideTheHeading()
    {
        TRunHarness run;
        TFVehicleData w;
        auto* requests = w.findChild<QLabel*>("L_Requests");
        QCOMPARE(requests->text(), QString("Requests: 0 received, 0 answered, 0 refused"));
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

    // The simulated vehicle's address claim, in the status panel's words, through the
    // main tick: off, waiting (addresses 128..247), claimed, lost to another NAME.
    void AddressClaimStateUnderTheHeading()
    {
        struct TCase {
            const char* What;
            bool Enabled;
            uint8_t Address;
            int64_t RunMs;
            bool Contend;   // another node claims our address with NAME 0 at 300 ms
            QString Expected;
        };
        const TCase cases[] = {
            {"off", false, 0x00, 300, false, "Address claim: off"},
            {"claiming: the wait of 128..247", true, 0x80, 100, false,
             "Address claim: claimed 0x80, NAME 1000000000000001, waiting until 0.250 s"},
            {"claimed", true, 0x00, 300, false, "Address claim: claimed 0x00, NAME 1000000000000001"},
            {"lost", true, 0x00, 600, true, "Address claim: lost 0x00 to NAME 0000000000000000: sending nothing"},
        };
        for (const TCase& c : cases) {
            TRunHarness run;
            TContendingChannel contender;
            if (c.Contend) run.engine.SetCanChannel(&contender);
            TFVehicleData w;
            auto* claim = w.findChild<QLabel*>("L_AddressClaim");
            QVERIFY(claim);
            QCOMPARE(claim->text(), QString("Address claim: off"));
            run.engine.SetMonitor(&w);
            run.engine.AddressClaim().SetEnabled(c.Enabled);
            run.engine.AddressClaim().SetName(0x1000000000000001ull);
            run.engine.Options.SourceAddress = c.Address;
            run.engine.Start();
            if (c.Contend) {
                run.RunFor(300);
                contender.pending = true;
                run.RunFor(c.RunMs - 300);
            } else {
                run.RunFor(c.RunMs);
            }
            QVERIFY2(claim->text() == c.Expected, qPrintable(QString(c.What) + ": " + claim->text()));
            run.engine.SetMonitor(nullptr);
            run.engine.SetCanChannel(nullptr);
        }
    }

    void ShowcaseShowsARunningEngine()
    {
        TFVehicleData w;
        FmsShowcase::VehicleData(w);
        for (int i = 0; i < 86; ++i)
            QVERIFY2(!w.Text(i, M::colValue).isEmpty(), qPrintable(QString::number(i)));
        QVERIFY(w.Text(EngineSpeed, M::colValue).toDouble() > 0.0);
    }
};

QTEST_MAIN(TFVehicleDataTest)
#include "tfvehicledata_test.moc"
