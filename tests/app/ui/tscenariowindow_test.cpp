// The main window's scenario player, the cockpit's recording and the window's control
// API, through the real run engine on a simulated clock: the window, the cockpit and the
// validity window wired as the program wires them, every box and file dialog answered
// by TFakeUserQuery, every error looked for in the error display.

#include "tests/engine/runfakes.h"
#include "app/ui/tferrorhandler.h"
#include "app/ui/tfoptions.h"
#include "app/ui/tfquorvella.h"
#include "app/ui/tquorvellaapp.h"
#include "can/tcanadapters.h"
#include "can/tcanchannel.h"
#include "engine/tcantransmit.h"
#include "engine/trunengine.h"
#include "engine/tsettingsfile.h"
#include "engine/ttimesource.h"
#include "fakeuserquery.h"
#include "fms/ui/tfvalidflagmanip.h"
#include "sim/tlkw.h"
#include "sim/ui/tfsim_lkw.h"
#include "support/txmlelement.h"
#include "tests/app/control/httpclient.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <clocale>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

class TLoadedSettings final : public TSettingsFile {
public:
    explicit TLoadedSettings(const QString& dir) : TSettingsFile(TAString(dir.toStdString())) { Load(); }
};

uint32_t Pgn(const TCanFrame& f) { return (f.Id >> 8) & 0xFFFF; }

// EEC2 (PGN F003): the accelerator pedal in byte 1, 0.4 % per bit.
double Pedal(const TCanFrame& f) { return f.Data[1] * 0.4; }

QString S(const TAString& text) { return QString::fromStdString(text.str()); }

// A port nothing listens on just now.
uint16_t FreePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// The program's windows as TQuorvellaApp wires them, on a clock the test moves.
struct TRig {
    QTemporaryDir dir;
    TManualTimeSource clock{1000000};
    TFrameListTransmit transmit;
    TSilentChannel channel;
    TRunEngine engine{clock, transmit};
    TCanAdapters adapters{std::vector<TCanDriverEntry>{}};
    std::vector<TCanDriverEntry> drivers;
    TLoadedSettings settings{dir.path()};
    TFakeUserQuery query;
    TFErrorHandler errors{query};
    TFValidFlagManip validity{engine.Catalogue()};
    TFSim_Lkw cockpit;
    TFQuorvella main{engine, adapters, drivers, settings, query};

    // control: the control API's settings entries before the window takes the vehicle.
    explicit TRig(const std::vector<std::pair<const char*, QString>>& control = {})
    {
        for (const auto& [key, value] : control) settings.Config()[key]("<TEXT>") = TAString(value.toStdString());
        engine.SetCanChannel(&channel);
        engine.SetValidity(&validity);
        engine.SetCockpit(&cockpit);
        cockpit.SetRunControl([this] { main.B_StartStopClick(); }, [this] { return engine.Running(); });
        cockpit.SetRecording([this] { return engine.SimTime(); }, [this] { return query.SaveFileName(&cockpit, {}); });
        TFQuorvella::TWindows windows;
        windows.Cockpit = &cockpit;
        windows.ValidFlagManip = &validity;
        windows.ErrorHandler = &errors;
        main.SetWindows(windows);
        main.SetVehicle(cockpit, cockpit.Lkw(), validity.Manip());
        main.show();
        cockpit.show();
    }
    ~TRig()
    {
        main.ReleaseVehicle();
        engine.Stop();
        engine.SetCanChannel(nullptr);
        engine.SetCockpit(nullptr);
        engine.SetValidity(nullptr);
    }

    // The window's 50 ms tick until the run's time is ms (or the run ended).
    void RunTo(int64_t ms)
    {
        while (engine.Running() && engine.SimTime() < ms * 1000) {
            clock.AdvanceMicros(TRunEngine::TickIntervalMs * 1000);
            main.TimerSysTimer();
        }
    }
    QString File(const char* name, const QByteArray& text) const
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(text);
        return path;
    }
    template <class T> T* Get(const char* name) const
    {
        T* w = main.findChild<T*>(name);
        return w ? w : cockpit.findChild<T*>(name);
    }
    QString Status(const char* line) const { return Get<QLabel>(line)->toolTip(); }
    // The frames of PGN that left before the run's time ms.
    std::vector<TCanFrame> Sent(uint32_t pgn, int64_t fromMs, int64_t toMs) const
    {
        std::vector<TCanFrame> out;
        for (const TCanFrame& f : transmit.sent)
            if (Pgn(f) == pgn && f.Time >= fromMs * 1000 && f.Time < toMs * 1000) out.push_back(f);
        return out;
    }
};

}  // namespace

class ScenarioWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { std::setlocale(LC_NUMERIC, "C"); }

    // The model steps every 20 ms from the run's start (0, 20, 40 ms, ...); a step of
    // time T acts at the first model step at or after T.
    void scenarioPlaysOnTheRunClockAndTheStatusPanelFollowsIt()
    {
        TRig rig;
        const QString file = rig.File("drive.txt",
                                      "# a short drive\n"
                                      "0 set Gang=0\n"
                                      "0 set Gaspedal=0\n"
                                      "1 ramp Gaspedal=0..50 over 1\n"
                                      "2.51 telltale 7=1\n"
                                      "+0.49 set Gang=2   # at 3 s\n"
                                      "4 stop\n");
        rig.query.OpenAnswers.push_back(TAString(file.toStdString()));
        QVERIFY(!rig.Get<QPushButton>("B_ScenarioPlay")->isEnabled());
        QTest::mouseClick(rig.Get<QPushButton>("B_Scenario"), Qt::LeftButton);
        QCOMPARE(rig.errors.Reported(), 0);
        QCOMPARE(rig.Status("L_ScenarioStatus"), QString("drive.txt: loaded, 6 steps"));
        QVERIFY(rig.Get<QLabel>("L_ScenarioStatus")->isVisibleTo(&rig.main));

        // Play starts the run: the scenario's 0 is the run's.
        QTest::mouseClick(rig.Get<QPushButton>("B_ScenarioPlay"), Qt::LeftButton);
        QVERIFY(rig.engine.Running());
        QCOMPARE(rig.Get<QPushButton>("B_ScenarioPlay")->text(), QString("Stop"));

        const struct {
            int64_t ms;        // the run's time reached
            double pedal;      // Gaspedal after the model step before it
            double gear;
            char tellTale7;
            const char* line;  // the status panel's scenario line
        } rows[] = {
            {500, 0, 0, '0', "line 3: 0 set Gaspedal=0"},
            // The last model step before 1.5 s is at 1.48 s: 0.48 of the way to 50.
            {1500, 24, 0, '0', "line 4: 1 ramp Gaspedal=0..50 over 1"},
            {2500, 50, 0, '0', "line 4: 1 ramp Gaspedal=0..50 over 1"},
            // 2.51 s acts at the model step of 2.52 s.
            {2550, 50, 0, '1', "line 5: 2.51 telltale 7=1"},
            {3050, 50, 2, '1', "line 6: +0.49 set Gang=2"},
        };
        for (const auto& r : rows) {
            rig.RunTo(r.ms);
            const QByteArray at = QByteArray::number(static_cast<qlonglong>(r.ms)) + " ms";
            QVERIFY2(qFuzzyCompare(rig.cockpit.Lkw().GetMV("Gaspedal") + 1, r.pedal + 1), at);
            QVERIFY2(rig.cockpit.Lkw().GetMV("Gang") == r.gear, at);
            QVERIFY2(rig.cockpit.Lkw().GetTellTales().str().at(6) == r.tellTale7, at);
            QCOMPARE(rig.Status("L_ScenarioStatus"), QString(r.line));
        }
        // On the bus: no pedal before the ramp, the ramp's end after it.
        for (const TCanFrame& f : rig.Sent(0xF003, 20, 1000)) QCOMPARE(Pedal(f), 0.0);
        const std::vector<TCanFrame> after = rig.Sent(0xF003, 2100, 3000);
        QVERIFY(!after.empty());
        for (const TCanFrame& f : after) QCOMPARE(f.Data[1], uint8_t{125});

        // The stop step ends the run, and the panel says so.
        rig.RunTo(5000);
        QVERIFY(!rig.engine.Running());
        QVERIFY(rig.engine.SimTime() < 4100000);
        QCOMPARE(rig.Status("L_ScenarioStatus"), QString("ended at line 7: 4 stop"));
        QCOMPARE(rig.Get<QPushButton>("B_ScenarioPlay")->text(), QString("Play"));
        QCOMPARE(rig.errors.Reported(), 0);
    }

    void stopEndsThePlayingAndTheRunGoesOn()
    {
        TRig rig;
        QVERIFY(rig.main.LoadScenario(TAString(rig.File("s.txt", "1 set Gaspedal=30\n3 set Gaspedal=70\n").toStdString())));
        QTest::mouseClick(rig.Get<QPushButton>("B_ScenarioPlay"), Qt::LeftButton);
        rig.RunTo(2000);
        QCOMPARE(rig.cockpit.Lkw().GetMV("Gaspedal"), 30.0);
        QTest::mouseClick(rig.Get<QPushButton>("B_ScenarioPlay"), Qt::LeftButton);
        QCOMPARE(rig.Status("L_ScenarioStatus"), QString("stopped at line 1"));
        rig.RunTo(4000);
        QVERIFY(rig.engine.Running());
        QCOMPARE(rig.cockpit.Lkw().GetMV("Gaspedal"), 30.0);

        // Played again while the run goes: from now, 1 s on.
        QTest::mouseClick(rig.Get<QPushButton>("B_ScenarioPlay"), Qt::LeftButton);
        rig.RunTo(5050);
        QCOMPARE(rig.cockpit.Lkw().GetMV("Gaspedal"), 30.0);
        rig.RunTo(7050);
        QCOMPARE(rig.cockpit.Lkw().GetMV("Gaspedal"), 70.0);
        // Stopping the run ends the playing with it.
        QTest::mouseClick(rig.Get<QPushButton>("B_StartStop"), Qt::LeftButton);
        QVERIFY(!rig.main.ScenarioPlaying());
        QCOMPARE(rig.Status("L_ScenarioStatus"), QString("stopped with the run at line 2"));
    }

    // A bad file is refused whole, before anything runs, with its line number, the line
    // and what was expected; the scenario loaded before stays.
    void badScenarioIsRefusedWithItsLine()
    {
        const struct {
            const char* text;
            const char* detail;   // the refusal after the file's name
        } rows[] = {
            {"0 set Gaspedal=0\n2 ramp Gaspedal=0..60 in 5\n",
             "line 2: '2 ramp Gaspedal=0..60 in 5': expected ramp NAME=FROM..TO over SECONDS"},
            {"# comment\n\nsoon starter\n", "line 3: 'soon starter': expected a time in seconds from the start"},
            {"0 starter\n1 fly away\n", "line 2: '1 fly away': expected an action after the time: "},
            {"0 set Nosuchvalue=1\n", "line 1: '0 set Nosuchvalue=1': expected "},
            {"0 set Gaspedal=150\n", "line 1: '0 set Gaspedal=150': expected "},
            {"0 repeat\n", "line 1: '0 repeat': expected repeat at a time after 0"},
        };
        TRig rig;
        const QString good = rig.File("good.txt", "0 set Gaspedal=10\n");
        QVERIFY(rig.main.LoadScenario(TAString(good.toStdString())));
        int reported = 0;
        for (const auto& r : rows) {
            const QString file = rig.File("bad.txt", r.text);
            rig.query.OpenAnswers.push_back(TAString(file.toStdString()));
            QTest::mouseClick(rig.Get<QPushButton>("B_Scenario"), Qt::LeftButton);
            QVERIFY2(rig.errors.Reported() == ++reported, r.text);
            QVERIFY2(!rig.engine.Running(), r.text);
            const QString status = rig.Status("L_ScenarioStatus");
            QVERIFY2(status.startsWith("bad.txt refused, " + QString(r.detail)), qPrintable(status));
        }
        // The refusal names what was wrong with the name or value.
        QVERIFY(rig.main.LoadScenario(TAString(rig.File("bad.txt", "0 set Nosuchvalue=1\n").toStdString())) == false);
        QVERIFY(rig.Status("L_ScenarioStatus").contains("Nosuchvalue"));
        // The good one is still the one that plays.
        QTest::mouseClick(rig.Get<QPushButton>("B_ScenarioPlay"), Qt::LeftButton);
        rig.RunTo(100);
        QCOMPARE(rig.cockpit.Lkw().GetMV("Gaspedal"), 10.0);
        // A file that is not there is told too (the run's start emptied the list).
        QVERIFY(!rig.main.LoadScenario(TAString(rig.dir.filePath("none.txt").toStdString())));
        QCOMPARE(rig.errors.Reported(), 1);
    }

    void scenarioNeedsTheVehicleSimulation()
    {
        TRig rig;
        QVERIFY(rig.main.LoadScenario(TAString(rig.File("s.txt", "0 starter\n").toStdString())));
        QVERIFY(rig.Get<QPushButton>("B_ScenarioPlay")->isEnabled());
        QTest::mouseClick(rig.Get<QRadioButton>("RB_InternLog"), Qt::LeftButton);
        QVERIFY(!rig.Get<QPushButton>("B_Scenario")->isEnabled());
        QVERIFY(!rig.Get<QPushButton>("B_ScenarioPlay")->isEnabled());
        QTest::mouseClick(rig.Get<QRadioButton>("RB_Simulation"), Qt::LeftButton);
        QVERIFY(rig.Get<QPushButton>("B_ScenarioPlay")->isEnabled());
    }

    // What the user does in the cockpit, recorded with its times, plays back as the
    // same drive: the same frames at the same times.
    void recordedCockpitDrivePlaysBackWithTheSameFrames()
    {
        QTemporaryDir out;
        const QString file = out.filePath("recorded.txt");
        std::vector<TCanFrame> recorded;
        TAString text;
        {
            TRig rig;
            // Record starts the run, as the starter does.
            QTest::mouseClick(rig.Get<QPushButton>("B_Record"), Qt::LeftButton);
            QVERIFY(rig.engine.Running());
            QVERIFY(rig.cockpit.Recording());
            rig.RunTo(200);
            rig.Get<QSlider>("TB_Gang")->setValue(8);     // neutral
            rig.RunTo(300);
            rig.Get<QSlider>("TB_Accel")->setValue(100);  // pedal released
            rig.RunTo(400);
            QTest::mouseClick(rig.Get<QPushButton>("Starter"), Qt::LeftButton);
            rig.RunTo(1000);
            rig.Get<QSlider>("TB_Accel")->setValue(40);   // 60 %
            rig.RunTo(1500);
            rig.cockpit.ClickTellTale(2);
            rig.RunTo(2000);
            auto* driver = rig.Get<QLineEdit>("E_DID1");
            driver->setFocus();
            driver->selectAll();
            QTest::keyClicks(driver, "REC_DRIVER_7");
            QTest::keyClick(driver, Qt::Key_Return);
            rig.RunTo(2500);
            rig.Get<QSlider>("TB_Gang")->setValue(7);     // first gear
            rig.RunTo(3000);
            rig.query.SaveAnswers.push_back(TAString(file.toStdString()));
            QTest::mouseClick(rig.Get<QPushButton>("B_Record"), Qt::LeftButton);
            QVERIFY(!rig.cockpit.Recording());
            QCOMPARE(rig.errors.Reported(), 0);
            text = rig.cockpit.RecordedText();
            for (const TCanFrame& f : rig.transmit.sent)
                if (f.Time < 3000000) recorded.push_back(f);
        }
        // The lines the actions make, worked by hand from the controls' positions.
        for (const char* line : {"\n0.2 set Gang=0\n", "\n0.3 set Gaspedal=0\n", "\n0.4 starter\n",
                                 "\n1 set Gaspedal=60\n", "\n1.5 telltale 3=", "\n2 driver1 REC_DRIVER_7\n",
                                 "\n2.5 set Gang=1\n", "\n3 stop\n"})
            QVERIFY2(text.str().find(line) != std::string::npos, text.c_str());
        QFile written(file);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll().toStdString(), text.str());

        TRig rig;
        QVERIFY(rig.main.LoadScenario(TAString(file.toStdString())));
        QTest::mouseClick(rig.Get<QPushButton>("B_ScenarioPlay"), Qt::LeftButton);
        rig.RunTo(4000);
        QVERIFY(!rig.engine.Running());   // its stop step ended the run
        std::vector<TCanFrame> played;
        for (const TCanFrame& f : rig.transmit.sent)
            if (f.Time < 3000000) played.push_back(f);
        QVERIFY(recorded.size() > 100);
        QCOMPARE(played.size(), recorded.size());
        for (std::size_t i = 0; i < played.size(); ++i) {
            const QByteArray at = QByteArray::number(static_cast<qulonglong>(i));
            QVERIFY2(played[i].Id == recorded[i].Id && played[i].Time == recorded[i].Time, at);
            QVERIFY2(played[i].Dlc == recorded[i].Dlc && played[i].Data == recorded[i].Data, at);
        }
    }

    // The options window's group writes the settings and the window follows them: off
    // by default; on, the same server as the runner's, on the loopback address.
    void controlApiIsOffByDefaultAndServesGetStatusWhenOn()
    {
        TRig rig;
        QCOMPARE(rig.main.ControlPort(), uint16_t{0});
        QVERIFY(!rig.Get<QLabel>("L_ControlStatus")->isVisibleTo(&rig.main));
        TFrameOptions applied;
        TFOptions options(rig.engine.Catalogue(), applied, rig.query);
        options.SetControl(rig.settings.Config(), [&rig] { rig.main.ApplyControlSetting(); });
        auto* on = options.findChild<QCheckBox*>("CB_Control");
        QVERIFY(!on->isChecked());
        QCOMPARE(options.findChild<QLineEdit*>("E_ControlPort")->text(), QString("8080"));

        const uint16_t port = FreePort();
        on->setChecked(true);
        options.findChild<QLineEdit*>("E_ControlPort")->setText(QString::number(port));
        options.B_ApplyClick();
        QCOMPARE(rig.main.ControlPort(), port);
        QCOMPARE(S(rig.settings.Config()[TSettingsFile::ControlKey]("<TEXT>")), QString("1"));
        QCOMPARE(rig.Status("L_ControlStatus"), QString("http://127.0.0.1:%1").arg(port));

        httptest::TAnswer answer = httptest::Request("127.0.0.1", port, "GET", "/status");
        QCOMPARE(answer.Status, 200);
        QVERIFY2(answer.Body.find("\"state\": \"stopped\"") != std::string::npos, answer.Body.c_str());

        // Started through the API: the window takes the request at its next tick.
        QCOMPARE(httptest::Request("127.0.0.1", port, "POST", "/run/start").Status, 200);
        QTRY_VERIFY(rig.engine.Running());
        rig.RunTo(500);
        answer = httptest::Request("127.0.0.1", port, "GET", "/status");
        QVERIFY2(answer.Body.find("\"state\": \"running\"") != std::string::npos, answer.Body.c_str());

        // A change takes effect at the model's next step and is in the frames after it.
        QCOMPARE(httptest::Request("127.0.0.1", port, "PUT", "/model/Gaspedal", "{\"value\": 40}").Status, 200);
        rig.RunTo(700);
        QCOMPARE(rig.cockpit.Lkw().GetMV("Gaspedal"), 40.0);
        const std::vector<TCanFrame> later = rig.Sent(0xF003, 600, 700);
        QVERIFY(!later.empty());
        QCOMPARE(later.back().Data[1], uint8_t{100});
        // Off again: nobody answers any more.
        on->setChecked(false);
        options.B_ApplyClick();
        QCOMPARE(rig.main.ControlPort(), uint16_t{0});
        QCOMPARE(httptest::Request("127.0.0.1", port, "GET", "/status").Status, 0);
        QVERIFY(rig.engine.Running());
    }

    void portInUseIsToldAndTheRunGoesOn()
    {
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
        TRig rig({{TSettingsFile::ControlKey, "1"}, {TSettingsFile::ControlPortKey, QString::number(taken.serverPort())}});
        QCOMPARE(rig.main.ControlPort(), uint16_t{0});
        QCOMPARE(rig.errors.Reported(), 1);
        QVERIFY(rig.query.Boxes.empty());
        QVERIFY(rig.Status("L_ControlStatus").startsWith("off: "));
        QTest::mouseClick(rig.Get<QPushButton>("B_StartStop"), Qt::LeftButton);
        rig.RunTo(200);
        QVERIFY(rig.engine.Running());
        QVERIFY(!rig.Sent(0xF003, 0, 200).empty());
    }

    // Any address but the loopback address needs a token, and every request then
    // carries it.
    void anotherAddressNeedsAToken()
    {
        const uint16_t port = FreePort();
        {
            TRig rig({{TSettingsFile::ControlKey, "1"},
                      {TSettingsFile::ControlPortKey, QString::number(port)},
                      {TSettingsFile::ControlAddressKey, "0.0.0.0"}});
            QCOMPARE(rig.main.ControlPort(), uint16_t{0});
            QCOMPARE(rig.errors.Reported(), 1);
            QVERIFY(rig.Status("L_ControlStatus").contains("needs a token file"));
            QCOMPARE(httptest::Request("127.0.0.1", port, "GET", "/status").Status, 0);
        }
        QTemporaryDir dir;
        QFile token(dir.filePath("token"));
        QVERIFY(token.open(QIODevice::WriteOnly));
        token.write("s3cret-token\n");
        token.close();
        TRig rig({{TSettingsFile::ControlKey, "1"},
                  {TSettingsFile::ControlPortKey, QString::number(port)},
                  {TSettingsFile::ControlAddressKey, "0.0.0.0"},
                  {TSettingsFile::ControlTokenKey, token.fileName()}});
        QCOMPARE(rig.main.ControlPort(), port);
        const struct {
            const char* headers;
            int status;
        } rows[] = {
            {"", 401},
            {"Authorization: Bearer wrong\r\n", 401},
            {"Authorization: Bearer s3cret-token\r\n", 200},
        };
        for (const auto& r : rows)
            QCOMPARE(httptest::Request("127.0.0.1", port, "GET", "/status", {}, r.headers).Status, r.status);
    }

    void closingTheWindowEndsTheServer()
    {
        const uint16_t port = FreePort();
        TRig rig({{TSettingsFile::ControlKey, "1"}, {TSettingsFile::ControlPortKey, QString::number(port)}});
        QCOMPARE(httptest::Request("127.0.0.1", port, "GET", "/status").Status, 200);
        rig.main.close();
        QCOMPARE(httptest::Request("127.0.0.1", port, "GET", "/status").Status, 0);
    }

    // The program wires the same: the settings file switches the API on at start-up, the
    // cockpit records through the file dialog, and the shutdown ends the server.
    void programServesTheApiFromItsSettingsAndEndsItAtShutdown()
    {
        QTemporaryDir dir;
        const uint16_t port = FreePort();
        {
            TSettingsFile file(TAString(dir.path().toStdString()));
            file.Load();
            file.Config()[TSettingsFile::ControlKey]("<TEXT>") = "1";
            file.Config()[TSettingsFile::ControlPortKey]("<TEXT>") = TAString(static_cast<int32_t>(port));
            QVERIFY(file.Save());
        }
        TFakeUserQuery query;
        TQuorvellaApp::TSetup setup;
        setup.WorkingDirectory = TAString(dir.path().toStdString());
        setup.Drivers = {};
        TQuorvellaApp app(query, std::move(setup));
        QCOMPARE(app.MainWindow().ControlPort(), port);
        httptest::TAnswer answer = httptest::Request("127.0.0.1", port, "GET", "/status");
        QCOMPARE(answer.Status, 200);
        QVERIFY2(answer.Body.find("\"state\": \"stopped\"") != std::string::npos, answer.Body.c_str());

        QTest::mouseClick(app.Cockpit().findChild<QPushButton*>("B_Record"), Qt::LeftButton);
        QVERIFY(app.Engine().Running());
        QVERIFY(app.Cockpit().Recording());
        const QString recorded = dir.filePath("recorded.txt");
        query.SaveAnswers.push_back(TAString(recorded.toStdString()));
        QTest::mouseClick(app.Cockpit().findChild<QPushButton*>("B_Record"), Qt::LeftButton);
        QVERIFY(QFile::exists(recorded));
        QCOMPARE(query.SaveRequests.size(), std::size_t{1});

        app.Shutdown();
        QCOMPARE(httptest::Request("127.0.0.1", port, "GET", "/status").Status, 0);
    }

    // A damaged entry never opens a port: the API stays off and the entry is named.
    void damagedControlEntriesKeepTheApiOff()
    {
        const struct {
            const char* on;
            const char* port;
            const char* named;
        } rows[] = {{"1", "70000", "ControlPort"}, {"1", "80x", "ControlPort"}, {"yes", "8080", "ControlApi"}};
        for (const auto& r : rows) {
            TRig rig({{TSettingsFile::ControlKey, r.on}, {TSettingsFile::ControlPortKey, r.port}});
            QCOMPARE(rig.main.ControlPort(), uint16_t{0});
            QVERIFY2(rig.Status("L_ControlStatus").contains(r.named), r.port);
            QCOMPARE(rig.errors.Reported(), 1);
        }
    }
};

QTEST_MAIN(ScenarioWindowTest)
#include "tscenariowindow_test.moc"
