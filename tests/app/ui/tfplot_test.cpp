// The plot window: its views, zoom, pause, cursor readout and exports, driven as a user
// would; the values come into its store as the feed appends them.
#include "app/ui/tfplot.h"
#include "app/ui/tplotview.h"
#include "fakeuserquery.h"
#include "fms/ui/tfvehicledata.h"
#include "engine/tframetrace.h"
#include "engine/tplotfeed.h"
#include "engine/trecordingcockpit.h"
#include "engine/trunengine.h"
#include "engine/ttimesource.h"
#include "tests/engine/runfakes.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QTableView>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

constexpr int Rpm = 5;      // catalogue indices as the feed gives them (any will do)
constexpr int Speed = 1;
constexpr int Limit = 9;

struct Window {
    TFakeUserQuery query;
    TFPlot plot{query};
    QPushButton* Button(const char* name) { return plot.findChild<QPushButton*>(name); }
    TPlotView* View(const char* unit)
    {
        for (TPlotView* v : plot.Plots())
            if (v->Unit() == unit) return v;
        return nullptr;
    }
    Window()
    {
        plot.resize(800, 600);
        plot.show();
        QVERIFY(QTest::qWaitForWindowExposed(&plot));
    }
    // Engine speed every 20 ms and the wheel speed every 100 ms from from to until (µs):
    // the engine speed 800 rpm + 10 rpm a second, the wheel speed 1 km/h a second.
    void Drive(int64_t from, int64_t until)
    {
        for (int64_t t = from; t <= until; t += 20000) {
            plot.Store().Append(Rpm, t, 800.0 + static_cast<double>(t) / 100000.0);
            if (t % 100000 == 0) plot.Store().Append(Speed, t, static_cast<double>(t) / 1000000.0);
        }
    }
};

}  // namespace

class TFPlotTest : public QObject {
    Q_OBJECT

private slots:
    // Through the real engine: the vehicle simulation drives off for two seconds, the
    // window reads the engine's frame trace on its refresh, and every frame of EEC1
    // that left is one point of engine speed at its time with the value it carried
    // (bytes 3 and 4, 0.125 rpm a bit); a new run starts the plot again.
    void plotHoldsTheValuesSentThroughTheEngine()
    {
        TManualTimeSource clock{1000500000};
        TRecordingTransmit transmit;
        TFakeChannel channel;
        TRecordingErrors errors;
        TRecordingCockpit cockpit;
        TRunEngine engine{clock, transmit};
        transmit.engine = &engine;
        engine.SetCockpit(&cockpit);
        engine.SetErrorReporter(&errors);
        engine.SetCanChannel(&channel);
        engine.Controls.SendCan = true;

        Window w;
        TPlotFeed feed;
        uint64_t seen = 0;
        w.plot.SetFeed([&](TPlotStore& store) { seen = feed.FromTrace(engine.Trace(), seen, store); },
                       [&] { seen = engine.Trace().Last(); });
        int rpm = -1;
        for (int i = 0; i < feed.Catalogue().SignalCount(); ++i)
            if (feed.Catalogue().Signal(i).Name == "Engine speed") rpm = i;
        QVERIFY(w.plot.Plot(rpm, "Engine speed", "rpm"));

        for (int run = 0; run < 2; ++run) {
            transmit.sent.clear();
            engine.Start();
            w.plot.RunStarted();
            cockpit.StartEngine();
            for (int tick = 0; tick < 40; ++tick) {
                clock.AdvanceMicros(TRunEngine::TickIntervalMs * 1000);
                engine.TimerSysTimer();
                if (tick % 2 == 1) w.plot.Refresh();   // the window's refresh, every 100 ms
            }
            engine.Stop();
            w.plot.Refresh();

            std::vector<std::pair<int64_t, double>> sent;
            for (const TSentFrame& f : transmit.sent)
                if (((f.Frame.Id >> 8) & 0xFFFF) == 61444)
                    sent.push_back({f.Frame.Time, (f.Frame.Data[3] | f.Frame.Data[4] << 8) * 0.125});
            const TSignalSeries& series = w.plot.Store().Find(rpm)->Series;
            QCOMPARE(series.Size(), sent.size());
            QVERIFY(sent.size() >= 99);   // every 20 ms for 2 s
            bool moved = false;
            for (std::size_t i = 0; i < sent.size(); ++i) {
                QCOMPARE(series.At(i).Time, sent[i].first);
                QCOMPARE(series.At(i).Value, sent[i].second);
                moved |= sent[i].second != sent[0].second;
            }
            QVERIFY(moved);   // the engine started: the values are not all alike
            QCOMPARE(w.plot.Plots()[0]->To(), TFPlot::DefaultSpan);   // 2 s of a 30 s span
            QVERIFY(errors.shown.empty());
            QVERIFY(w.plot.StatusText().startsWith("1 signals, "));
        }
        QCOMPARE(engine.MaxLateness(), int64_t(0));   // every frame left at its time
    }

    // One plot per unit, in the order the units were first picked; a signal picked twice
    // is plotted once; removing every signal removes the plots.
    void onePlotPerUnitInTheOrderPicked()
    {
        Window w;
        QVERIFY(w.plot.Plot(Rpm, "Engine speed", "rpm"));
        QVERIFY(w.plot.Plot(Speed, "Wheel based speed", "km/h"));
        QVERIFY(w.plot.Plot(Limit, "Engine speed limit", "rpm"));
        QVERIFY(!w.plot.Plot(Rpm, "Engine speed", "rpm"));
        QCOMPARE(w.plot.Plots().size(), std::size_t(2));
        QCOMPARE(w.plot.Plots()[0]->Unit(), TAString("rpm"));
        QCOMPARE(w.plot.Plots()[1]->Unit(), TAString("km/h"));
        QVERIFY(w.plot.Plots()[0]->isVisible());

        // Picking in the window: the catalogue's numbers are offered, with their unit.
        TPlotFeed feed;
        w.plot.SetCatalogue(feed);
        auto* offered = w.plot.findChild<QComboBox*>("C_AddSignal");
        QVERIFY(offered->count() > 10);
        const int i = offered->findText("Wheel based speed [Km/h]");
        QVERIFY(i >= 0);
        offered->setCurrentIndex(i);
        QTest::mouseClick(w.Button("B_RemoveSignals"), Qt::LeftButton);
        QVERIFY(w.plot.Plots().empty());
        QTest::mouseClick(w.Button("B_AddSignal"), Qt::LeftButton);
        QCOMPARE(w.plot.Plots().size(), std::size_t(1));
        QCOMPARE(w.plot.Store().Signals()[0]->Name, TAString("Wheel based speed"));
        QCOMPARE(w.plot.Store().Signals()[0]->Index, offered->itemData(i).toInt());
    }

    // Signals picked in the data monitor (filtered) are plotted by its rows' "Plot": the
    // ones with a number; the others are named in the status line.
    void signalsPickedInTheMonitorArePlotted()
    {
        Window w;
        TPlotFeed feed;
        w.plot.SetCatalogue(feed);
        w.plot.hide();
        TFVehicleData monitor;
        w.plot.PickFrom(*monitor.View());
        monitor.show();
        auto* filter = monitor.findChild<QLineEdit*>("E_Filter");
        QTest::keyClicks(filter, "65265");   // CCVS by its PGN: wheel based speed and switches
        QVERIFY(monitor.ShownRows() >= 2);
        monitor.View()->selectAll();
        auto* plot = monitor.View()->findChild<QAction*>("A_Plot");
        QVERIFY(plot);
        QCOMPARE(plot->shortcut(), QKeySequence("Ctrl+P"));
        plot->trigger();
        QVERIFY(w.plot.isVisible());
        QCOMPARE(w.plot.Store().Signals().size(), std::size_t(1));
        QCOMPARE(w.plot.Store().Signals()[0]->Name, TAString("Wheel based speed"));
        QCOMPARE(w.plot.Store().Signals()[0]->Unit, TAString("Km/h"));
        QVERIFY2(w.plot.StatusText().startsWith("Not plotted, as they have no number on an axis: ") &&
                     w.plot.StatusText().contains("Parking Brake Switch"),
                 qPrintable(w.plot.StatusText()));

        filter->clear();
        QTest::keyClicks(filter, "engine speed");
        QVERIFY(monitor.ShownRows() >= 1);
        monitor.View()->clearSelection();
        for (int row = 0; row < monitor.ShownRows(); ++row)
            if (monitor.View()->model()->index(row, 0).data().toString() == "Engine speed") monitor.View()->selectRow(row);
        plot->trigger();
        QCOMPARE(w.plot.Store().Signals().size(), std::size_t(2));
        QCOMPARE(w.plot.Store().Signals()[1]->Name, TAString("Engine speed"));
        QCOMPARE(w.plot.Plots().size(), std::size_t(2));   // km/h and rpm
        QVERIFY(w.plot.StatusText().startsWith("2 signals, "));
    }

    // The axis follows the run, the zoom buttons halve and double the span, Pause holds
    // the view while values go on being kept, and the wheel zooms around the pointer.
    void timeAxisFollowsTheRunZoomsAndPauses()
    {
        Window w;
        w.plot.Plot(Rpm, "Engine speed", "rpm");
        w.plot.Plot(Speed, "Wheel based speed", "km/h");
        w.Drive(0, 60000000);
        w.plot.Refresh();
        TPlotView* rpm = w.View("rpm");
        QCOMPARE(w.plot.Span(), TFPlot::DefaultSpan);
        QCOMPARE(rpm->From(), int64_t(30000000));
        QCOMPARE(rpm->To(), int64_t(60000000));
        QCOMPARE(w.View("km/h")->To(), int64_t(60000000));
        // The value axis fits the values shown (1100..1400 rpm) with a margin of 5 %.
        rpm->repaint();
        QVERIFY(qFuzzyCompare(rpm->Low(), 1085.0));
        QVERIFY(qFuzzyCompare(rpm->High(), 1415.0));

        const struct {
            const char* Action;
            int64_t Span, From, To;
        } steps[] = {
            {"B_ZoomIn", 15000000, 45000000, 60000000},    // following: the latest stays at the right
            {"B_ZoomIn", 7500000, 52500000, 60000000},
            {"B_ZoomOut", 15000000, 45000000, 60000000},
            {"B_Pause", 15000000, 45000000, 60000000},
            {"B_ZoomIn", 7500000, 48750000, 56250000},     // paused: around the middle
            {"B_ZoomOut", 15000000, 45000000, 60000000},
        };
        for (const auto& s : steps) {
            QTest::mouseClick(w.Button(s.Action), Qt::LeftButton);
            QCOMPARE(w.plot.Span(), s.Span);
            QCOMPARE(rpm->From(), s.From);
            QCOMPARE(rpm->To(), s.To);
        }
        QVERIFY(w.plot.Paused());

        // Paused: new values are kept, the view stays.
        w.Drive(60020000, 70000000);
        w.plot.Refresh();
        QCOMPARE(rpm->To(), int64_t(60000000));
        QCOMPARE(w.plot.Store().Find(Rpm)->Series.Back().Time, int64_t(70000000));
        // The wheel over the plot a third of the way in halves the span around that time.
        const QRect area = rpm->PlotArea();
        const int x = area.left() + area.width() / 3;
        const int64_t anchor = rpm->TimeAt(x);
        QWheelEvent up(QPointF(x, area.center().y()), rpm->mapToGlobal(QPointF(x, area.center().y())), QPoint(),
                       QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(rpm, &up);
        QCOMPARE(w.plot.Span(), int64_t(7500000));
        QVERIFY(std::llabs(rpm->TimeAt(x) - anchor) <= 7500000 / area.width() + 1);
        // Resume: the latest values at the right again.
        QTest::mouseClick(w.Button("B_Pause"), Qt::LeftButton);
        QVERIFY(!w.plot.Paused());
        QCOMPARE(rpm->To(), int64_t(70000000));
        // The span stays within 0.1 s .. 1 h.
        w.plot.ZoomBy(1e-9, 0);
        QCOMPARE(w.plot.Span(), TFPlot::MinSpan);
        w.plot.ZoomBy(1e9, 0);
        QCOMPARE(w.plot.Span(), TFPlot::MaxSpan);
        // All: the whole run kept, paused.
        QTest::mouseClick(w.Button("B_ZoomAll"), Qt::LeftButton);
        QVERIFY(w.plot.Paused());
        QCOMPARE(rpm->From(), int64_t(0));
        QCOMPARE(rpm->To(), int64_t(70000000));
        // The scroll bar moves the view and pauses.
        QTest::mouseClick(w.Button("B_Pause"), Qt::LeftButton);
        w.plot.ZoomBy(10000000.0 / static_cast<double>(w.plot.Span()), 0);
        auto* bar = w.plot.findChild<QScrollBar*>("SB_Time");
        QCOMPARE(bar->maximum(), 60000);
        bar->setValue(20000);
        QVERIFY(w.plot.Paused());
        QCOMPARE(rpm->From(), int64_t(20000000));
        QCOMPARE(rpm->To(), int64_t(30000000));
    }

    // The cursor reads out the value each signal had at its time: the last one sent at or
    // before it, the state letter for a value without a number, "-" before the first.
    void cursorReadsOutTheValueEachSignalHadThen()
    {
        Window w;
        w.plot.Plot(Rpm, "Engine speed", "rpm");
        w.plot.Plot(Speed, "Wheel based speed", "km/h");
        w.plot.Store().Append(Rpm, 20000, 800);
        w.plot.Store().Append(Rpm, 40000, 812.125);
        w.plot.Store().Append(Rpm, 60000, std::nan(""), 'n');
        w.plot.Store().Append(Rpm, 80000, 1500);
        w.plot.Store().Append(Speed, 50000, 12.5);
        w.plot.Store().Append(Speed, 150000, std::nan(""), 'e');
        w.plot.Refresh();
        const struct {
            int64_t Time;
            const char* Text;
        } cases[] = {
            {0, "0.000 s   Engine speed: -   Wheel based speed: -"},
            {20000, "0.020 s   Engine speed: 800 rpm   Wheel based speed: -"},
            {49999, "0.050 s   Engine speed: 812.125 rpm   Wheel based speed: -"},
            {50000, "0.050 s   Engine speed: 812.125 rpm   Wheel based speed: 12.5 km/h"},
            {79999, "0.080 s   Engine speed: n   Wheel based speed: 12.5 km/h"},
            {150000, "0.150 s   Engine speed: 1500 rpm   Wheel based speed: e"},
        };
        auto* readout = w.plot.findChild<QLabel*>("L_Cursor");
        for (const auto& c : cases) {
            w.plot.SetCursorTime(c.Time);
            QCOMPARE(readout->text(), QString(c.Text));
        }
        // The pointer over a plot puts the cursor at the time under it in every plot.
        w.plot.ZoomBy(200000.0 / static_cast<double>(w.plot.Span()), 0);
        w.plot.ShowUntil(200000);
        TPlotView* rpm = w.View("rpm");
        const int x = rpm->XOf(50000);
        QTest::mouseMove(rpm, QPoint(x, rpm->PlotArea().center().y()));
        const int64_t t = rpm->TimeAt(x);
        QVERIFY(std::llabs(t - 50000) <= 200000 / rpm->PlotArea().width() + 1);
        QVERIFY(readout->text().startsWith(QString::number(static_cast<double>(t) / 1e6, 'f', 3) + " s"));
        QVERIFY(readout->text().contains("Engine speed: 812.125 rpm"));
    }

    // Export CSV writes every value kept, as the store's table; Export PNG the plots as
    // shown; a file that cannot be written is said in the status line.
    void exportsCsvAndPngAndSaysWhenTheyCannotBeWritten()
    {
        Window w;
        QTemporaryDir dir;
        w.plot.Plot(Rpm, "Engine speed", "rpm");
        w.plot.Plot(Speed, "Wheel based speed", "km/h");
        w.plot.Store().Append(Rpm, 0, 800);
        w.plot.Store().Append(Speed, 0, 0);
        w.plot.Store().Append(Rpm, 20000, 812.125);
        w.plot.Store().Append(Speed, 50000, std::nan(""), 'n');
        w.plot.Refresh();

        const QString csv = dir.filePath("drive.csv");
        w.query.SaveAnswers.push_back(TAString(csv.toStdString()));
        QTest::mouseClick(w.Button("B_ExportCsv"), Qt::LeftButton);
        QCOMPARE(w.query.SaveRequests.back().DefaultExt, TAString("csv"));
        QFile file(csv);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(file.readAll()), QString("time [s],Engine speed [rpm],Wheel based speed [km/h]\r\n"
                                                            "0.000000,800,0\r\n"
                                                            "0.020000,812.125,\r\n"
                                                            "0.050000,,n\r\n"));
        QCOMPARE(w.plot.StatusText(), "3 rows of 2 signals written to " + csv);

        const QString png = dir.filePath("drive.png");
        w.query.SaveAnswers.push_back(TAString(png.toStdString()));
        QTest::mouseClick(w.Button("B_ExportPng"), Qt::LeftButton);
        QImage picture(png);
        QVERIFY(!picture.isNull());
        QWidget* plots = w.plot.findChild<QWidget*>("P_Plots");
        QCOMPARE(picture.size(), plots->size() * plots->devicePixelRatioF());
        // The engine speed's line is in the picture, in its colour.
        bool line = false;
        for (int y = 0; y < picture.height() && !line; ++y)
            for (int x = 0; x < picture.width() && !line; ++x)
                line = picture.pixelColor(x, y) == TPlotView::Colour(0);
        QVERIFY(line);

        const QString nowhere = dir.filePath("missing/drive.csv");
        QVERIFY(!w.plot.ExportCsv(TAString(nowhere.toStdString())));
        QVERIFY(w.plot.StatusText().startsWith("CSV not written to " + nowhere + ": "));
        QVERIFY(!w.plot.ExportPng(TAString(dir.filePath("missing/drive.png").toStdString())));
        QVERIFY(w.plot.StatusText().startsWith("PNG not written to "));
    }
};

QTEST_MAIN(TFPlotTest)
#include "tfplot_test.moc"
