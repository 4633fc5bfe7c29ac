// The program from start-up to shutdown, its main window clicked as a user would.
// Every box and file dialog is answered by TFakeUserQuery; each test starts the
// program in a working directory of its own.

#include "logs/tcanlogreader.h"
#include "engine/trunengine.h"
#include "engine/tsettingsfile.h"
#include "app/ui/tcanchannelport.h"
#include "app/ui/tfbformueber.h"
#include "app/ui/tferrorhandler.h"
#include "app/ui/tfoptions.h"
#include "app/ui/tfquorvella.h"
#include "app/ui/tquorvellaapp.h"
#include "can/tcanchannel.h"
#include "can/tcandriver.h"
#include "can/vector/tcandrivervector.h"
#include "fakeuserquery.h"
#include "fms/ui/tfframetrace.h"
#include "fms/ui/tfvalidflagmanip.h"
#include "fms/ui/tfvehicledata.h"
#include "sim/ui/tfsim_lkw.h"
#include "support/tbaseerror.h"
#include "support/txmlelement.h"
#include "tests/support/tfilesizelimit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <QTreeWidget>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <clocale>
#include <csignal>
#include <memory>
#include <thread>

#include <sys/resource.h>

namespace {

const char* const FirstStartBox = "CAN configuration error\nSelected driver not supported\n";

QString S(const TAString& text)
{
    return QString::fromStdString(text.str());
}

// The CAN channel dialog answered by the test.
class TFakeCanChannelPort final : public TCanChannelPort {
public:
    bool Answer = false;
    TTreeKey Result;
    int Executions = 0;
    TAString ExecutedFor;
    bool Offered[5] = {true, true, true, true, true};

    void SetStyle(bool vector, bool vci2, bool vci3, bool simulation, bool qtCanBus) override
    {
        Offered[0] = vector;
        Offered[1] = vci2;
        Offered[2] = vci3;
        Offered[3] = simulation;
        Offered[4] = qtCanBus;
    }
    bool Execute(const TTreeKey& key) override
    {
        ++Executions;
        ExecutedFor = key.Name();
        return Answer;
    }
    const TTreeKey& ResultKey() const override { return Result; }
};

// A card channel that neither sends nor receives anything.
class TSilentChannel final : public TCanChannel {
public:
    TCanFrame Read() override { return TCanFrame(); }
    void Write(const TCanFrame&) override {}
};

// A Vector driver whose library cannot be loaded the first `failures` times.
class TFakeVectorDriver final : public TCanDriver {
protected:
    TAString OperationClass() const override { return "TCanDrvVector"; }
    std::unique_ptr<TCanChannel> CreateChannel(const TAString&) override { return std::make_unique<TSilentChannel>(); }
};

std::vector<TCanDriverEntry> DriversWithVector(std::shared_ptr<int> attempts, int failures)
{
    std::vector<TCanDriverEntry> table = QtCanBusDriverTable();
    for (auto& entry : table) {
        if (entry.Identifier != "Vector3.2") continue;
        entry.Create = [attempts, failures]() -> std::unique_ptr<TCanDriver> {
            if (++*attempts <= failures) throw TBaseError("TCanDrvVector::TCanDrvVector", "ncdOpenDriver201");
            return std::make_unique<TFakeVectorDriver>();
        };
    }
    return table;
}

const char* const VectorSettings =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<Quorvella>\n <CanAdapter>\n  <Vector3.2>\n"
    "   <DriverName>Vector Informatik GmbH (VCANL 3.2)</DriverName>\n   <CardType>CANcaseXL</CardType>\n"
    "   <CardIndex>1</CardIndex>\n   <Channel>1</Channel>\n  </Vector3.2>\n </CanAdapter>\n%1</Quorvella>\n";

QString SimulationSettings(const char* comm)
{
    return QString("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<Quorvella>\n <CanAdapter>\n  <Simulation>\n"
                   "   <DriverName>Simulation</DriverName>\n   <Comm>%1</Comm>\n  </Simulation>\n"
                   " </CanAdapter>\n</Quorvella>\n")
        .arg(comm);
}

}  // namespace

class TFQuorvellaTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    TFakeUserQuery query_;
    TFakeCanChannelPort canDialog_;

    QString Path(const QString& name) const { return dir_->filePath(name); }
    TAString TPath(const QString& name) const { return TAString(Path(name).toStdString()); }

    void WriteFile(const QString& name, const QByteArray& text)
    {
        QFile file(Path(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

    std::unique_ptr<TQuorvellaApp> Start(std::vector<TCanDriverEntry> drivers = QtCanBusDriverTable(),
                                         bool realCanDialog = false)
    {
        TQuorvellaApp::TSetup setup;
        setup.WorkingDirectory = TAString(dir_->path().toStdString());
        setup.Drivers = std::move(drivers);
        setup.CanChannelDialog = realCanDialog ? nullptr : &canDialog_;
        return std::make_unique<TQuorvellaApp>(query_, std::move(setup));
    }

    // The boxes shown, less the timing notices a busy machine may give after a real-time
    // run (the truth of that run, not a fault): the others' texts, empty when there are none.
    QString BoxesBesidesTimingNotices() const
    {
        QString others;
        for (const auto& box : query_.Boxes) {
            const QString text = QString::fromUtf8(box.Text.c_str());
            if (!text.startsWith("Timing notice\n")) others += text + "\n";
        }
        return others;
    }

    template <class W> static W* Find(TQuorvellaApp& app, const char* name)
    {
        W* w = app.MainWindow().findChild<W*>(name);
        if (!w) qFatal("no control %s", name);
        return w;
    }
    static QAbstractButton* Button(TQuorvellaApp& app, const char* name) { return Find<QAbstractButton>(app, name); }
    static void Click(TQuorvellaApp& app, const char* name)
    {
        QTest::mouseClick(Button(app, name), Qt::LeftButton);
    }
    static bool Enabled(TQuorvellaApp& app, const char* name) { return Find<QWidget>(app, name)->isEnabled(); }
    static bool Checked(TQuorvellaApp& app, const char* name) { return Button(app, name)->isChecked(); }
    // A caption as the user reads it: the mnemonic's marker is not shown.
    static QString Caption(TQuorvellaApp& app, const char* name) { return Button(app, name)->text().remove('&'); }

    int BoxesWith(TUserQuery::TIcon icon) const
    {
        int n = 0;
        for (const auto& box : query_.Boxes) n += box.Icon == icon;
        return n;
    }

private slots:
    void initTestCase() { std::setlocale(LC_NUMERIC, "C"); }

    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        query_ = TFakeUserQuery();
        VectorDllPath() = "vcand32.dll";
        canDialog_.Answer = false;
        canDialog_.Executions = 0;
    }

    void firstStartShowsTheDesignedWindow()
    {
        auto app = Start();
        TFQuorvella& w = app->MainWindow();
        QCOMPARE(w.windowTitle(), QString("Tessmar - Quorvella"));
        QVERIFY(w.isVisible());
        QVERIFY(app->CanTimerStarted());
        QCOMPARE(app->CanTimer()->Period(), 2u);
        QCOMPARE(app->CanTimer()->Resolution(), 1u);

        const struct {
            const char* name;
            const char* caption;
            bool checked;
            bool enabled;
        } controls[] = {
            {"RB_Simulation", "Vehicle Simulation", true, true}, {"RB_InternLog", "Internal LogFile", false, true},
            {"RB_CanLog", "User Logfile", false, true},          {"RB_FzgSim", "Simulation", false, true},
            {"C_Replay", "Repeat", false, false},                {"B_LogFile", "...", false, false},
            {"CB_FromFirstFrame", "Start at first frame", false, false},
            {"CB_VFMActive", "Valid Manipulation", true, true},  {"B_ValidManip", "Config", false, true},
            {"B_Options", "Options", false, true},               {"CB_Display", "Data Monitor", true, true},
            {"B_VehDataMon", "Monitor", false, true},            {"B_FrameTrace", "Bus Trace", false, true},
            {"CB_SendCAN", "CAN-Adapter", false, true},
            {"B_CfgCAN", "Config", false, true},                 {"CB_LogFile", "Logfile", false, true},
            {"B_FileNameLogOut", "Save", false, true},           {"B_StartStop", "Start", false, true},
            {"B_Info", "Info", false, true},                     {"B_Exit", "Close", false, true},
        };
        for (const auto& c : controls) {
            QCOMPARE(Caption(*app, c.name), QString(c.caption));
            // CB_SendCAN starts checked; the first start's adapter "-" cannot be opened.
            QVERIFY2(Checked(*app, c.name) == c.checked, c.name);
            QVERIFY2(Enabled(*app, c.name) == c.enabled, c.name);
            QVERIFY2(Button(*app, c.name)->isVisible(), c.name);
        }
        QCOMPARE(Find<QWidget>(*app, "C_Replay")->toolTip(),
                 QString("When checked 'Replay' the opened logfile is sended continuos"));
        auto* logFile = Find<QLineEdit>(*app, "E_LogFile");
        QVERIFY(logFile->isReadOnly());
        QVERIFY(!logFile->isEnabled());

        // The frame watch exists but is not shown.
        QCOMPARE(Find<QLineEdit>(*app, "Edit1")->text(),
                 QString("00000000 00000000 00000000 00000000 00000000 00000000 00000000 00000000"));
        QCOMPARE(Find<QLineEdit>(*app, "Edit2")->text(), QString("FEF0"));
        for (const char* hidden : {"Edit1", "Edit2", "Button1", "Memo1"})
            QVERIFY2(!Find<QWidget>(*app, hidden)->isVisible(), hidden);
        QCOMPARE(Find<QPlainTextEdit>(*app, "Memo1")->toPlainText(), QString());

        QCOMPARE(w.TimerSys().interval(), 50);
        QVERIFY(!w.TimerSys().isActive());
        for (const TFileRequest* r : {&w.OD_LogFile, &w.SD_LogFileOut}) QCOMPARE(S(r->DefaultExt), QString("asc"));
        // A user log may be a candump ".log" as well.
        QCOMPARE(S(w.OD_LogFile.Filter), QString("CAN logs|*.asc;*.log|*.asc|*.asc|*.log|*.log"));
        QCOMPARE(S(w.SD_LogFileOut.Filter), QString("*.asc|*.asc"));
        auto* format = Find<QComboBox>(*app, "C_LogFormat");
        QCOMPARE(format->currentText(), QString("Layout 5"));
        QCOMPARE(format->count(), 3);
        QVERIFY(format->isEnabled() && format->isVisible());
        QCOMPARE(Find<QWidget>(*app, "C_Replay")->y(), Find<QWidget>(*app, "CB_FromFirstFrame")->y());
        QVERIFY(!Find<QWidget>(*app, "PB_LogLoad")->isVisible());
        QVERIFY(!Find<QWidget>(*app, "B_LogLoadCancel")->isVisible());
        // The other windows exist hidden; the dialog offers every driver that can work here.
        QVERIFY(!app->Options().isVisible());
        QVERIFY(!app->Cockpit().isVisible());
        QVERIFY(canDialog_.Offered[0] && canDialog_.Offered[1] && canDialog_.Offered[2] && canDialog_.Offered[3]
                && canDialog_.Offered[4]);
    }

    // The first start names no adapter: the window opens without an error, the adapter
    // off and the status panel saying where to choose one; once a channel is configured
    // the hint goes.
    void firstStartOpensWithoutAnErrorAndWritesTheSettingsAtShutdown()
    {
        QVERIFY(!QFile::exists(Path("Quorvella.xml")));
        auto app = Start();
        QVERIFY2(query_.Boxes.empty(), query_.Boxes.empty() ? "" : query_.Boxes[0].Text.c_str());
        QVERIFY(!app->ErrorHandler().isVisible());
        auto* hint = Find<QLabel>(*app, "L_AdapterStatus");
        QVERIFY(hint->isVisibleTo(&app->MainWindow()));
        QCOMPARE(hint->text(), QString("none configured: choose one with Config beside CAN-Adapter"));
        QVERIFY(Find<QLabel>(*app, "L_AdapterCaption")->isVisibleTo(&app->MainWindow()));
        QVERIFY(!Checked(*app, "CB_SendCAN"));
        QVERIFY(!app->Engine().Controls.SendCan);
        QVERIFY(app->Engine().CanChannel() == nullptr);
        QVERIFY(!QFile::exists(Path("Quorvella.xml")));

        app->Cockpit().move(40, 30);
        app->Shutdown();
        QVERIFY(!app->CanTimer());
        QVERIFY(QFile::exists(Path("Quorvella.xml")));
        TXmlElement saved;
        saved.LoadFromFile(TPath("Quorvella.xml"));
        QCOMPARE(S(saved.Name()), QString("Quorvella"));
        QCOMPARE(S(saved["CanAdapter"].GetElement(0).Name()), QString("-"));
        QVERIFY(saved.Contains("FzgSim"));
        QVERIFY(!saved.Contains("FileNameVectorDll"));

        // The next start with these settings opens as quietly.
        app.reset();
        auto again = Start();
        QVERIFY(query_.Boxes.empty());
        QVERIFY(Find<QLabel>(*again, "L_AdapterStatus")->isVisibleTo(&again->MainWindow()));
        // A channel configured: the adapter is on and the hint gone.
        canDialog_.Answer = true;
        canDialog_.Result = TTreeKey("Simulation");
        canDialog_.Result["Comm"]("<TEXT>") = "RAM 92 92";
        Click(*again, "B_CfgCAN");
        QVERIFY(again->Engine().CanChannel() != nullptr);
        QVERIFY(Checked(*again, "CB_SendCAN"));
        QVERIFY(!Find<QLabel>(*again, "L_AdapterStatus")->isVisibleTo(&again->MainWindow()));
        QVERIFY(query_.Boxes.empty());
    }

    // The "Timer:" line shows the whole scheduling, however long the reason real-time
    // scheduling was refused: the window grows wider for it and stays on the screen.
    void timerLineIsShownWhole()
    {
        auto app = Start();
        TFQuorvella& w = app->MainWindow();
        w.SetTransmitTimer(nullptr);
        auto* line = Find<QLabel>(*app, "L_TimerStatus");
        const int before = w.width();
        for (const char* text : {"normal (no permission for real-time scheduling)",
                                 "normal (real-time scheduling refused: Resource temporarily unavailable)",
                                 "real-time (SCHED_FIFO 10), memory not locked: Cannot allocate memory"}) {
            w.SetTimerScheduling(text);
            QApplication::processEvents();
            QCOMPARE(line->text(), QString(text));
            QVERIFY(line->contentsRect().width() >= line->fontMetrics().horizontalAdvance(text));
            QCOMPARE(line->toolTip(), QString());
        }
        QVERIFY(w.width() > before);
        QVERIFY(w.screen()->availableGeometry().contains(w.frameGeometry()));
    }

    void damagedSettingsAreReportedOnce()
    {
        WriteFile("Quorvella.xml", "Quorvella settings, not XML");
        auto app = Start();
        QCOMPARE(BoxesWith(TUserQuery::icWarning), 1);
        QVERIFY(S(query_.Boxes[0].Text).contains("could not be read"));
        // The defaults name no adapter: no box about it, the hint in the status panel.
        QCOMPARE(query_.Boxes.size(), size_t{1});
        QVERIFY(Find<QLabel>(*app, "L_AdapterStatus")->isVisibleTo(&app->MainWindow()));
        QVERIFY(QFile::exists(Path("Quorvella.xml.bad")));
        app->Shutdown();
        QCOMPARE(BoxesWith(TUserQuery::icWarning), 1);
    }

    void startAndStopFollowTheButton()
    {
        auto app = Start();
        TFQuorvella& w = app->MainWindow();
        Click(*app, "B_StartStop");
        QVERIFY(app->Engine().Running());
        QCOMPARE(Caption(*app, "B_StartStop"), QString("Stop"));
        QVERIFY(w.TimerSys().isActive());
        QTRY_VERIFY_WITH_TIMEOUT(app->Engine().SimTime() >= 50000, 5000);
        Click(*app, "B_StartStop");
        QVERIFY(!app->Engine().Running());
        QCOMPARE(Caption(*app, "B_StartStop"), QString("Start"));
        QVERIFY(!w.TimerSys().isActive());
        // No box: the first start names no adapter, and the run itself raised no error.
        QVERIFY2(BoxesBesidesTimingNotices().isEmpty(), qPrintable(BoxesBesidesTimingNotices()));

        // The cockpit's starter starts a run through the same button.
        QTest::mouseClick(app->Cockpit().findChild<QPushButton*>("Starter"), Qt::LeftButton);
        QVERIFY(app->Engine().Running());
        QCOMPARE(Caption(*app, "B_StartStop"), QString("Stop"));
        QVERIFY(w.TimerSys().isActive());
    }

    // While a run goes the window reads the channel every millisecond. Frames written
    // before Stop still leave afterwards: the window goes on collecting them until the
    // transmit buffer is empty, so "Sent" and "Written" count what the medium took.
    void framesThatLeaveAfterStopAreCounted()
    {
        WriteFile("Quorvella.xml", SimulationSettings("RAM 6 6").toUtf8());
        auto app = Start();
        TFQuorvella& w = app->MainWindow();
        TRunEngine& engine = app->Engine();
        QVERIFY(!w.PollTimerSys().isActive());
        query_.SaveAnswers.push_back(TPath("after.asc"));
        Click(*app, "CB_LogFile");
        Click(*app, "B_StartStop");
        QVERIFY(w.PollTimerSys().isActive());
        QCOMPARE(w.PollTimerSys().interval(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(engine.SimTime() >= 600000, 10000);
        Click(*app, "B_StartStop");
        const uint64_t atStop = engine.FramesSent();
        QVERIFY(engine.TransmitPending() > 0);   // what the transmit lead holds
        QVERIFY(w.PollTimerSys().isActive());
        QTRY_VERIFY_WITH_TIMEOUT(!w.PollTimerSys().isActive(), 10000);
        QCOMPARE(engine.TransmitPending(), 0);
        QVERIFY(engine.FramesSent() > atStop);
        QCOMPARE(engine.FramesLogged(), engine.FramesSent());
        auto* sent = Find<QLabel>(*app, "L_SentStatus");
        const QString whole = sent->text().contains(QChar(0x2026)) ? sent->toolTip() : sent->text();
        QVERIFY2(whole.startsWith(QString("%1 frames").arg(engine.FramesSent())), qPrintable(whole));
        QCOMPARE(Find<QLabel>(*app, "L_WrittenStatus")->text(), QString("%1 frames").arg(engine.FramesLogged()));
        // The next run starts reading every millisecond again.
        Click(*app, "B_StartStop");
        QVERIFY(w.PollTimerSys().isActive());
        QCOMPARE(w.PollTimerSys().interval(), 1);
        Click(*app, "B_StartStop");
    }

    void frameWatchShowsTheBitsOfTheWatchedGroup()
    {
        auto app = Start();
        auto* bits = Find<QLineEdit>(*app, "Edit1");
        Find<QLineEdit>(*app, "Edit2")->setText("F004");   // EEC1, every 20 ms
        Click(*app, "B_StartStop");
        const QString zeros = "00000000 00000000 00000000 00000000 00000000 00000000 00000000 00000000";
        QTRY_VERIFY_WITH_TIMEOUT(bits->text() != zeros, 5000);
        Click(*app, "B_StartStop");
        const QString text = bits->text();
        QCOMPARE(text.size(), 72);
        QVERIFY(text.endsWith(' '));
        for (int i = 0; i < 72; ++i) QVERIFY(i % 9 == 8 ? text[i] == ' ' : (text[i] == '0' || text[i] == '1'));

        Find<QLineEdit>(*app, "Edit2")->setText("no PGN");   // switches the watch off only
        bits->setText("unchanged");
        Click(*app, "B_StartStop");
        QTRY_VERIFY_WITH_TIMEOUT(app->Engine().SimTime() >= 100000, 5000);
        QVERIFY(app->Engine().Running());
        QCOMPARE(bits->text(), QString("unchanged"));
    }

    void sourceSwitchingEnablesExactlyItsControls()
    {
        auto app = Start();
        const char* simulationOnly[] = {"RB_FzgSim",  "CB_VFMActive", "B_ValidManip", "B_FileNameLogOut",
                                        "CB_LogFile", "C_LogFormat",  "B_Options"};
        const char* logOnly[] = {"B_LogFile", "C_Replay", "CB_FromFirstFrame", "E_LogFile"};
        // The data monitor and the trace show what leaves for every source.
        const char* always[] = {"RB_Simulation", "RB_InternLog", "RB_CanLog", "CB_Display", "B_VehDataMon",
                                "B_FrameTrace", "CB_SendCAN", "B_CfgCAN", "B_Info", "B_Exit"};
        auto expect = [&](bool simulation) {
            for (const char* n : simulationOnly) QVERIFY2(Enabled(*app, n) == simulation, n);
            for (const char* n : logOnly) QVERIFY2(Enabled(*app, n) == !simulation, n);
            for (const char* n : always) QVERIFY2(Enabled(*app, n), n);
        };

        Click(*app, "B_StartStop");
        QVERIFY(app->Engine().Running());
        Click(*app, "RB_InternLog");
        QVERIFY(!app->Engine().Running());   // a source change stops the run
        expect(false);
        QVERIFY(!Checked(*app, "CB_LogFile"));
        QVERIFY(Checked(*app, "CB_Display"));   // the monitor shows the replay decoded
        QVERIFY(app->Engine().Controls.Display);
        QVERIFY(!app->Engine().Controls.Simulation);
        QVERIFY(app->Engine().Controls.InternalLog);
        QVERIFY(Enabled(*app, "B_StartStop"));   // the internal log has its lines

        Click(*app, "RB_CanLog");
        expect(false);
        QVERIFY(!Enabled(*app, "B_StartStop"));   // no user log loaded
        QVERIFY(!app->Engine().Controls.InternalLog);

        Click(*app, "RB_InternLog");
        QVERIFY(Enabled(*app, "B_StartStop"));

        Click(*app, "RB_CanLog");
        Click(*app, "RB_Simulation");
        expect(true);
        QVERIFY(Enabled(*app, "B_StartStop"));
        QVERIFY(app->Engine().Controls.Simulation);
        QVERIFY(Checked(*app, "CB_Display"));   // never switched off by a source
    }

    void userLogWithABadLineIsRefused()
    {
        WriteFile("bad.asc", "000.0000 18FEF100F315000CFFFFFFFF\r\n000.0020 18F00300\r\n");
        auto app = Start();
        query_.Boxes.clear();
        Click(*app, "RB_CanLog");
        query_.OpenAnswers.push_back(TPath("bad.asc"));
        Click(*app, "B_LogFile");
        QCOMPARE(query_.OpenRequests.size(), size_t{1});
        QCOMPARE(S(query_.OpenRequests[0].DefaultExt), QString("asc"));
        QTRY_COMPARE_WITH_TIMEOUT(query_.Boxes.size(), size_t{1}, 10000);
        QVERIFY(S(query_.Boxes[0].Text).startsWith("Log file error\nReading CAN log entry failed\n" + Path("bad.asc") +
                                                   " line 2: '000.0020 18F00300' is not a log line"));
        QCOMPARE(app->Engine().UserLines().Count(), 0);
        QVERIFY(!Enabled(*app, "B_StartStop"));
        QCOMPARE(Find<QLineEdit>(*app, "E_LogFile")->text(), QString());
    }

    void userLogLoadsAndReplays()
    {
        WriteFile("good.asc", "000.0000 18FEF100F315000CFFFFFFFF\r\n000.0020 18F00300D1FFFF0000FFFFFF\r\n");
        auto app = Start();
        query_.Boxes.clear();
        Click(*app, "RB_CanLog");
        Click(*app, "B_LogFile");   // cancelled: Start stays disabled
        QVERIFY(!Enabled(*app, "B_StartStop"));

        query_.OpenAnswers.push_back(TPath("good.asc"));
        Click(*app, "B_LogFile");
        QTRY_COMPARE_WITH_TIMEOUT(app->Engine().UserLines().Count(), 2, 10000);
        QVERIFY(!app->MainWindow().LoadingUserLog());
        QCOMPARE(Find<QLineEdit>(*app, "E_LogFile")->text(), Path("good.asc"));
        QVERIFY(Enabled(*app, "B_StartStop"));
        QVERIFY(query_.Boxes.empty());

        // Without Repeat the run ends by itself after the last line.
        Click(*app, "B_StartStop");
        QTRY_VERIFY_WITH_TIMEOUT(!app->Engine().Running(), 5000);
        QCOMPARE(Caption(*app, "B_StartStop"), QString("Start"));
        QVERIFY2(BoxesBesidesTimingNotices().isEmpty(), qPrintable(BoxesBesidesTimingNotices()));
    }

    void logfileBoxAsksForAFileAndSaveOpensIt()
    {
        auto app = Start();
        query_.Boxes.clear();
        Click(*app, "CB_LogFile");   // no file yet: the save dialog, cancelled
        QCOMPARE(query_.SaveRequests.size(), size_t{1});
        QCOMPARE(S(query_.SaveRequests[0].DefaultExt), QString("asc"));
        QCOMPARE(S(query_.SaveRequests[0].Filter), QString("*.asc|*.asc"));
        QVERIFY(!Checked(*app, "CB_LogFile"));
        QVERIFY(!app->Engine().Controls.LogFile);

        query_.SaveAnswers.push_back(TPath("out.asc"));
        Click(*app, "B_FileNameLogOut");
        QVERIFY(app->Engine().LogOut().IsOpen());
        QCOMPARE(S(app->MainWindow().LogOutFileName()), Path("out.asc"));
        QVERIFY(!Checked(*app, "CB_LogFile"));   // Save does not switch the destination on

        Click(*app, "CB_LogFile");
        QCOMPARE(query_.SaveRequests.size(), size_t{2});   // a file is open: no question
        QVERIFY(Checked(*app, "CB_LogFile"));
        QVERIFY(app->Engine().Controls.LogFile);
        Click(*app, "B_StartStop");
        QTRY_VERIFY_WITH_TIMEOUT(app->Engine().SimTime() >= 100000, 5000);
        Click(*app, "B_StartStop");   // Stop flushes
        const qint64 written = QFileInfo(Path("out.asc")).size();
        QVERIFY(written > 0);
        QCOMPARE(written % 35, qint64{0});   // 33 characters and CR LF per line

        Click(*app, "CB_LogFile");   // unchecking keeps the file open
        QVERIFY(!Checked(*app, "CB_LogFile"));
        QVERIFY(app->Engine().LogOut().IsOpen());

        // A file that cannot be opened: the box is unchecked and the user is told which
        // file and why, in a box and in the status line.
        Click(*app, "CB_LogFile");
        QVERIFY(Checked(*app, "CB_LogFile"));
        query_.SaveAnswers.push_back(TPath("no/such/dir/out.asc"));
        Click(*app, "B_FileNameLogOut");
        QVERIFY(!app->Engine().LogOut().IsOpen());
        QVERIFY(!Checked(*app, "CB_LogFile"));
        QCOMPARE(query_.Boxes.size(), size_t{1});
        QCOMPARE(S(query_.Boxes[0].Text), "Log file error\nOpening the output log failed\nthe folder '" +
                                              Path("no/such/dir") + "' does not exist\n");
        QCOMPARE(Find<QLabel>(*app, "L_LogStatus")->text(), QString("out.asc"));
        QCOMPARE(Find<QLabel>(*app, "L_WrittenStatus")->text(), QString("none (cannot open)"));
        // The reason, elided to the window's width with the whole of it as the hint.
        const auto* problem = Find<QLabel>(*app, "L_LogProblem");
        const QString reason = "the folder '" + Path("no/such/dir") + "' does not exist";
        QVERIFY2(problem->text() == reason || problem->toolTip() == reason, qPrintable(problem->text()));
    }

    void statusLineFollowsTheRunAndTheOutputLog()
    {
        WriteFile("Quorvella.xml", SimulationSettings("RAM 3 3").toUtf8());
        auto app = Start();
        QVERIFY(query_.Boxes.empty());
        auto* run = Find<QLabel>(*app, "L_RunStatus");
        auto* sent = Find<QLabel>(*app, "L_SentStatus");
        auto* log = Find<QLabel>(*app, "L_LogStatus");
        auto* written = Find<QLabel>(*app, "L_WrittenStatus");
        QVERIFY(Find<QWidget>(*app, "P_Status")->isVisible());
        QCOMPARE(run->text(), QString("Ready"));
        QCOMPARE(sent->text(), QString("0 frames"));
        QCOMPARE(log->text(), QString("none chosen"));
        QCOMPARE(written->text(), QString());
        // The program's transmit timer has started: its scheduling is named, the same
        // words as the timer's own.
        QVERIFY(app->CanTimer() != nullptr);
        QCOMPARE(Find<QLabel>(*app, "L_TimerStatus")->text(), QString::fromStdString(app->CanTimer()->SchedulingText()));
        QVERIFY(Find<QLabel>(*app, "L_TimerStatus")->text().startsWith("real-time (") ||
                Find<QLabel>(*app, "L_TimerStatus")->text().startsWith("normal ("));

        query_.SaveAnswers.push_back(TPath("status.asc"));
        Click(*app, "CB_LogFile");
        QCOMPARE(log->text(), QString("status.asc"));
        QCOMPARE(log->toolTip(), Path("status.asc"));
        QCOMPARE(written->text(), QString("0 frames"));
        Click(*app, "B_StartStop");
        QTRY_VERIFY_WITH_TIMEOUT(app->Engine().SimTime() >= 1100000, 10000);
        QVERIFY(run->text().startsWith("Running 0:00:0"));
        Click(*app, "B_StartStop");

        // Every frame went to the channel and into the file: the status counts them.
        const qint64 lines = QFileInfo(Path("status.asc")).size() / 35;
        QVERIFY(lines > 150);
        const QString elapsed = QString("0:00:%1").arg(app->Engine().SimTime() / 1000000, 2, 10, QChar('0'));
        QCOMPARE(run->text(), "Stopped " + elapsed);
        // The address claim was among them.
        QCOMPARE(sent->text().contains(QChar(0x2026)) ? sent->toolTip() : sent->text(),
                 QString("%1 frames, address 0x00 claimed").arg(lines));
        QCOMPARE(written->text(), QString("%1 frames").arg(lines));

        Click(*app, "CB_LogFile");   // off: the file stays open and is named
        QCOMPARE(written->text(), QString("%1 frames (Logfile off)").arg(lines));
        Click(*app, "CB_SendCAN");
        // (Too long for the line at some fonts: then the tooltip holds it whole.)
        const QString whole = sent->text().contains(QChar(0x2026)) ? sent->toolTip() : sent->text();
        QCOMPARE(whole, QString("%1 frames (CAN-Adapter off), address 0x00 claimed").arg(lines));
    }

    void clickingTheSourceThatRunsKeepsTheRunGoing()
    {
        auto app = Start();
        Click(*app, "B_StartStop");
        QVERIFY(app->Engine().Running());
        Click(*app, "RB_Simulation");
        QVERIFY(app->Engine().Running());
        // Another source stops the run, as choosing a source always did.
        Click(*app, "RB_InternLog");
        QVERIFY(!app->Engine().Running());
        Click(*app, "B_StartStop");
        QVERIFY(app->Engine().Running());
        Click(*app, "RB_InternLog");
        QVERIFY(app->Engine().Running());
        Click(*app, "B_StartStop");
    }

    void outputLogThatCannotBeWrittenIsToldNotSilentlyUnticked()
    {
        auto app = Start();
        query_.Boxes.clear();
        {
            // The file may grow to 8 KB: the write that passes it fails ("File too large").
            const TFileSizeLimit limit(8192);
            query_.SaveAnswers.push_back(TPath("full.asc"));
            Click(*app, "CB_LogFile");
            QVERIFY(Checked(*app, "CB_LogFile"));
            Click(*app, "B_StartStop");
            QTRY_VERIFY_WITH_TIMEOUT(!Checked(*app, "CB_LogFile"), 10000);
            // Told in the error window, which holds up nothing: no modal box in a run.
            QVERIFY(query_.Boxes.empty());
            TFErrorHandler& errors = app->ErrorHandler();
            QVERIFY(errors.isVisible());
            QCOMPARE(errors.Reported(), 1);
            auto* list = errors.findChild<QTreeWidget*>("T_Errors");
            QCOMPARE(list->topLevelItem(0)->text(0), QString("1"));
            QCOMPARE(list->topLevelItem(0)->text(1), QString("Log file error: Writing the output log failed"));
            QVERIFY2(list->topLevelItem(0)->toolTip(2).startsWith("Log file error\nWriting the output log failed\n'" +
                                                                 Path("full.asc") + "': File too large; "),
                     qPrintable(list->topLevelItem(0)->toolTip(2)));
            QVERIFY(Find<QLabel>(*app, "L_WrittenStatus")->text().endsWith(" frames (write failed)"));
            QCOMPARE(Find<QLabel>(*app, "L_LogProblem")->text(), QString("File too large"));
            QVERIFY(app->Engine().Running());   // the run goes on without the output log
            QCOMPARE(QFileInfo(Path("full.asc")).size() % 35, qint64{0});   // whole lines only

            // Ticked again: a new attempt at a file chosen anew, told again when it fails.
            query_.SaveAnswers.push_back(TPath("full.asc"));
            Click(*app, "CB_LogFile");
            QVERIFY(Checked(*app, "CB_LogFile"));
            // The new file's failure is gone; the run's error is still counted.
            QCOMPARE(Find<QLabel>(*app, "L_LogProblem")->text(), QString("1 error in this run: see the error window"));
            QTRY_VERIFY_WITH_TIMEOUT(!Checked(*app, "CB_LogFile"), 10000);
            QVERIFY(query_.Boxes.empty());
            QCOMPARE(errors.Reported(), 2);
            QCOMPARE(errors.Kinds(), 1);
            QCOMPARE(list->topLevelItem(0)->text(0), QString("2"));
            QCOMPARE(Find<QLabel>(*app, "L_LogProblem")->text(), QString("File too large"));
            Click(*app, "B_StartStop");
            // The next run starts with an empty list; its errors are counted in the panel.
            query_.SaveAnswers.push_back(TPath("fine.asc"));
            Click(*app, "CB_LogFile");
            Click(*app, "B_StartStop");
            QCOMPARE(errors.Reported(), 0);
            QCOMPARE(Find<QLabel>(*app, "L_LogProblem")->text(), QString());
            Click(*app, "B_StartStop");
        }
    }

    void repeatAndValidManipulationChangeWhatTheEngineDoes()
    {
        WriteFile("Quorvella.xml", SimulationSettings("RAM 4 4").toUtf8());
        WriteFile("two.asc", "000.0000 18FEF100F315000CFFFFFFFF\r\n000.0020 18F00300D1FFFF0000FFFFFF\r\n");
        auto app = Start();
        TRunEngine& engine = app->Engine();

        // A log of two lines: without Repeat the run sends both once and ends.
        Click(*app, "RB_CanLog");
        query_.OpenAnswers.push_back(TPath("two.asc"));
        Click(*app, "B_LogFile");
        QTRY_COMPARE_WITH_TIMEOUT(engine.UserLines().Count(), 2, 10000);   // loaded in the background
        Click(*app, "B_StartStop");
        QTRY_VERIFY_WITH_TIMEOUT(!engine.Running(), 5000);
        // They count when the medium took them, up to the transmit lead after the run.
        QTRY_VERIFY_WITH_TIMEOUT(!app->MainWindow().PollTimerSys().isActive(), 5000);
        QCOMPARE(engine.FramesSent(), uint64_t{2});

        // With Repeat ticked it goes round and round until Repeat is unticked.
        Click(*app, "C_Replay");
        QVERIFY(Checked(*app, "C_Replay"));
        Click(*app, "B_StartStop");
        QTRY_VERIFY_WITH_TIMEOUT(engine.FramesSent() >= 10, 5000);
        QVERIFY(engine.Running());
        Click(*app, "C_Replay");
        QTRY_VERIFY_WITH_TIMEOUT(!engine.Running(), 5000);

        // Engine speed forced to "FE = Error": EEC1 bytes 3 and 4 read FF FE while
        // "Valid Manipulation" is ticked, and the model's 0 rpm (00 00) once it is not.
        Click(*app, "RB_Simulation");
        TFValidFlagManip& validity = app->ValidFlagManip();
        QComboBox* speed = validity.RangeBox(validity.Manip().FindRow("Engine speed"));
        speed->setCurrentIndex(speed->findText("FE = Error"));
        QTest::mouseClick(validity.findChild<QPushButton*>("B_Apply"), Qt::LeftButton);
        query_.SaveAnswers.push_back(TPath("valid.asc"));
        Click(*app, "CB_LogFile");
        auto eec1Bytes34 = [&](qint64 fromLine) {
            QFile file(Path("valid.asc"));
            if (!file.open(QIODevice::ReadOnly)) return QSet<QByteArray>();
            const QList<QByteArray> lines = file.readAll().split('\n');
            QSet<QByteArray> seen;
            for (qint64 i = fromLine; i < lines.size(); ++i)
                if (lines[i].mid(11, 4) == "F004") seen.insert(lines[i].mid(17 + 6, 4));   // EEC1
            return seen;
        };
        Click(*app, "B_StartStop");
        QTRY_VERIFY_WITH_TIMEOUT(engine.SimTime() >= 300000, 5000);
        Click(*app, "B_StartStop");
        // The frames still in the transmit buffer leave after Stop and are logged then.
        QTRY_VERIFY_WITH_TIMEOUT(!app->MainWindow().PollTimerSys().isActive(), 5000);
        QCOMPARE(eec1Bytes34(0), QSet<QByteArray>{"FFFE"});

        const qint64 before = QFileInfo(Path("valid.asc")).size() / 35;
        Click(*app, "CB_VFMActive");
        QVERIFY(!Checked(*app, "CB_VFMActive"));
        Click(*app, "B_StartStop");
        QTRY_VERIFY_WITH_TIMEOUT(engine.SimTime() >= 300000, 5000);
        Click(*app, "B_StartStop");
        QCOMPARE(eec1Bytes34(before), QSet<QByteArray>{"0000"});
    }

    void configuringTheAdapterTicksCanAdapter()
    {
        auto app = Start();
        QVERIFY(!Checked(*app, "CB_SendCAN"));   // the first start's adapter "-" failed
        canDialog_.Answer = true;
        canDialog_.Result = TTreeKey("Simulation");
        canDialog_.Result["Comm"]("<TEXT>") = "RAM 92 92";
        Click(*app, "B_CfgCAN");
        QVERIFY(app->Engine().CanChannel() != nullptr);
        QVERIFY(Checked(*app, "CB_SendCAN"));
        QVERIFY(app->Engine().Controls.SendCan);

        // Cancelled, the box stays as the user left it.
        Click(*app, "CB_SendCAN");
        QVERIFY(!Checked(*app, "CB_SendCAN"));
        canDialog_.Answer = false;
        Click(*app, "B_CfgCAN");
        QVERIFY(!Checked(*app, "CB_SendCAN"));
        QVERIFY(app->Engine().CanChannel() != nullptr);
    }

    void everyButtonAndCheckBoxHasAMnemonicOfItsOwnAndTabFollowsTheGroups()
    {
        auto app = Start();
        TFQuorvella& w = app->MainWindow();
        QSet<QChar> letters;
        for (QAbstractButton* b : w.findChildren<QAbstractButton*>()) {
            if (!b->isVisibleTo(&w) || b->text() == "...") continue;
            // The captions hold 19 letters for 23 controls: "Log received frames",
            // "Plot", "Scenario..." and its "Play" have none left and are reached with Tab.
            if (b->objectName() == "CB_LogReceived" || b->objectName() == "B_Plot" || b->objectName() == "B_Scenario" ||
                b->objectName() == "B_ScenarioPlay") {
                QCOMPARE(b->text().contains('&'), false);
                continue;
            }
            const int at = b->text().indexOf('&');
            QVERIFY2(at >= 0 && at + 1 < b->text().size(), qPrintable(b->objectName()));
            const QChar letter = b->text()[at + 1].toLower();
            QVERIFY2(!letters.contains(letter), qPrintable(b->objectName()));
            letters.insert(letter);
        }
        QCOMPARE(letters.size(), 19);

        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        // A mnemonic presses its button as a click does, a moment later.
        QTest::keyClick(&w, Qt::Key_S, Qt::AltModifier);
        QTRY_VERIFY(app->Engine().Running());
        QTest::keyClick(&w, Qt::Key_S, Qt::AltModifier);
        QTRY_VERIFY(!app->Engine().Running());
        QTest::keyClick(&w, Qt::Key_L, Qt::AltModifier);   // Logfile: no file yet, so Save asks
        QTRY_COMPARE(query_.SaveRequests.size(), size_t{1});

        // (Layout 5, the default format: "Log received frames" is disabled and passed over.)
        Find<QWidget>(*app, "CB_VFMActive")->setFocus();
        for (const char* next : {"B_ValidManip", "B_Options", "CB_Display", "B_Plot", "B_FrameTrace", "B_VehDataMon", "CB_SendCAN", "B_CfgCAN",
                                 "CB_LogFile", "C_LogFormat", "B_FileNameLogOut", "B_StartStop", "B_Info", "B_Exit"}) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), QString(next));
        }
        // With a user log as the source: the replay's boxes and the file, then the plot (a
        // replay's frames are plotted too) and the destinations that stay open to logs.
        Click(*app, "RB_CanLog");
        Find<QWidget>(*app, "RB_CanLog")->setFocus();
        for (const char* next : {"C_Replay", "CB_FromFirstFrame", "E_LogFile", "B_LogFile", "CB_Display", "B_Plot", "B_FrameTrace",
                                 "B_VehDataMon", "CB_SendCAN"}) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), QString(next));
        }
        QVERIFY(QGuiApplication::primaryScreen()->availableGeometry().contains(w.frameGeometry()));
    }

    // "Cancel" beside the progress has no letter of its own: Escape presses it, and it
    // takes the focus from "..." while the log loads.
    void escapeCancelsTheLoadAndTheFocusMovesWithTheButtons()
    {
        std::atomic<bool> entered{false};
        auto app = Start();
        TFQuorvella& w = app->MainWindow();
        w.SetLogReader([&](const TAString& name, const TCanLogReader::TControl& control) -> TCanLog {
            entered = true;
            while (!control.Cancel->load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            throw TBaseError("", "Logfile Read Error", name + ": loading stopped before the end of the file");
        });
        query_.Boxes.clear();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        Click(*app, "RB_CanLog");
        query_.OpenAnswers.push_back(TPath("big.asc"));
        Find<QWidget>(*app, "B_LogFile")->setFocus();
        QTest::keyClick(Find<QWidget>(*app, "B_LogFile"), Qt::Key_Space);
        QTRY_VERIFY_WITH_TIMEOUT(entered.load(), 10000);
        QVERIFY(w.LoadingUserLog());
        QCOMPARE(QApplication::focusWidget(), Find<QWidget>(*app, "B_LogLoadCancel"));
        QTest::keyClick(&w, Qt::Key_Escape);
        QTRY_VERIFY_WITH_TIMEOUT(!w.LoadingUserLog(), 10000);
        QCOMPARE(app->Engine().UserLines().Count(), 0);
        QVERIFY(query_.Boxes.empty());
        QCOMPARE(QApplication::focusWidget(), Find<QWidget>(*app, "B_LogFile"));
        // With no load, Escape is nobody's: nothing happens.
        QTest::keyClick(&w, Qt::Key_Escape);
        QVERIFY(w.isVisible());
        QVERIFY(query_.Boxes.empty());
    }

    void canAdapterBoxOpensTheDialogWhenNoChannelIsOpen()
    {
        auto app = Start();
        QVERIFY(!Checked(*app, "CB_SendCAN"));

        Click(*app, "CB_SendCAN");   // dialog cancelled: unchecked again
        QCOMPARE(canDialog_.Executions, 1);
        QCOMPARE(S(canDialog_.ExecutedFor), QString("-"));
        QVERIFY(!Checked(*app, "CB_SendCAN"));

        canDialog_.Answer = true;
        canDialog_.Result = TTreeKey("Simulation");
        canDialog_.Result["Comm"]("<TEXT>") = "RAM 91 91";
        Click(*app, "CB_SendCAN");
        QCOMPARE(canDialog_.Executions, 2);
        QVERIFY(app->Engine().CanChannel() != nullptr);
        QVERIFY(Checked(*app, "CB_SendCAN"));
        QVERIFY(app->Engine().Controls.SendCan);
        QCOMPARE(S(app->Settings().CanAdapter().GetElement(0).Name()), QString("Simulation"));

        // With a channel open the box only switches the destination.
        Click(*app, "CB_SendCAN");
        Click(*app, "CB_SendCAN");
        QCOMPARE(canDialog_.Executions, 2);
        QVERIFY(Checked(*app, "CB_SendCAN"));

        // A configuration that fails closes the old channel and unchecks the box.
        canDialog_.Result = TTreeKey("NoSuchDriver");
        const size_t boxes = query_.Boxes.size();
        Click(*app, "B_CfgCAN");
        QVERIFY(app->Engine().CanChannel() == nullptr);
        QVERIFY(!Checked(*app, "CB_SendCAN"));
        QCOMPARE(query_.Boxes.size(), boxes + 1);
        QCOMPARE(S(query_.Boxes.back().Text), QString(FirstStartBox));

        // A driver the dialog does not offer gives a key without a name: reported as
        // an unsupported driver, and the settings file can still be written.
        canDialog_.Result = TTreeKey("");
        canDialog_.Result["DriverName"]("<TEXT>") = "Simulation";
        Click(*app, "B_CfgCAN");
        QVERIFY(app->Engine().CanChannel() == nullptr);
        QCOMPARE(S(query_.Boxes.back().Text), QString(FirstStartBox));
        QCOMPARE(S(app->Settings().CanAdapter().GetElement(0).Name()), QString("-"));
        QVERIFY(app->Settings().Save());
    }

    void missingVectorLibraryIsAskedForAndTriedAgain()
    {
        WriteFile("Quorvella.xml", QByteArray(VectorSettings).replace("%1", ""));
        WriteFile("vcand32.dll", "library");
        query_.OpenAnswers.push_back(TPath("vcand32.dll"));
        auto attempts = std::make_shared<int>(0);
        auto app = Start(DriversWithVector(attempts, 1));
        QCOMPARE(*attempts, 2);
        QCOMPARE(query_.OpenRequests.size(), size_t{1});
        QCOMPARE(S(query_.OpenRequests[0].Title), QString("File 'vcand32.dll' not found. Please enter path"));
        QCOMPARE(S(query_.OpenRequests[0].FileName), QString("vcand32.dll"));
        QVERIFY(query_.Boxes.empty());
        QVERIFY(app->Engine().CanChannel() != nullptr);
        QVERIFY(Checked(*app, "CB_SendCAN"));
        QCOMPARE(S(app->Settings().VectorDllPath()), Path("vcand32.dll"));
        app->Shutdown();
        TXmlElement saved;
        saved.LoadFromFile(TPath("Quorvella.xml"));
        QCOMPARE(S(saved["FileNameVectorDll"]("<TEXT>")), Path("vcand32.dll"));
    }

    void canConfigurationThroughTheDialogOpensTheChosenDriver()
    {
        auto app = Start(QtCanBusDriverTable(), true);
        query_.Boxes.clear();
        // The dialog offers every driver; the user picks a Vector card and confirms.
        query_.OnExec = [](QDialog& dialog) {
            auto* driver = dialog.findChild<QComboBox*>("CB_Driver");
            if (driver->count() != 5 || driver->findText("Simulation") < 0
                || driver->findText("Qt CAN bus (SocketCAN, PEAK, virtual CAN)") < 0)
                return int(QDialog::Rejected);
            driver->setCurrentText("Vector Informatik GmbH (VCANL 3.2)");
            dialog.findChild<QComboBox*>("CB_VectorCard")->setCurrentText("CANcaseXL");
            dialog.findChild<QComboBox*>("CB_VectorIndex")->setCurrentText("1");
            dialog.findChild<QComboBox*>("CB_VectorChannel")->setCurrentText("2");
            auto* init = dialog.findChild<QCheckBox*>("C_initaccess");
            if (init->isChecked()) init->click();
            dialog.findChild<QPushButton*>("B_OK")->click();
            return dialog.result();
        };
        Click(*app, "B_CfgCAN");
        QCOMPARE(query_.Dialogs.size(), size_t{1});
        const TXmlElement& key = app->Settings().CanAdapter().GetElement(0);
        QCOMPARE(S(key.Name()), QString("Vector3.2"));
        QCOMPARE(S(key["CardType"]("<TEXT>")), QString("CANcaseXL"));
        QCOMPARE(S(key["Channel"]("<TEXT>")), QString("2"));
        QVERIFY(!key.Contains("Baudrate"));

        // No Vector library on this machine: the path is asked for (cancelled), then
        // the driver's failure is shown and the destination is off.
        QCOMPARE(query_.OpenRequests.size(), size_t{1});
        QCOMPARE(S(query_.OpenRequests[0].Title), QString("File 'vcand32.dll' not found. Please enter path"));
        QCOMPARE(query_.Boxes.size(), size_t{1});
        QVERIFY(S(query_.Boxes[0].Text).startsWith("VECTOR initialisation error\nOpening driver failed. Errorcode="));
        QVERIFY(!Checked(*app, "CB_SendCAN"));

        // Cancel leaves the settings as they are.
        query_.OnExec = [](QDialog& dialog) {
            dialog.findChild<QPushButton*>("B_Cancel")->click();
            return dialog.result();
        };
        Click(*app, "B_CfgCAN");
        QCOMPARE(S(app->Settings().CanAdapter().GetElement(0).Name()), QString("Vector3.2"));
        QCOMPARE(query_.Boxes.size(), size_t{1});
    }

    void qtCanBusAdapterFromTheSettingsIsOpened()
    {
        WriteFile("Quorvella.xml",
                  "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<Quorvella>\n <CanAdapter>\n  <QtCanBus>\n"
                  "   <Plugin>virtualcan</Plugin>\n   <Interface>tcp://127.0.0.1:35617/can0</Interface>\n"
                  "  </QtCanBus>\n </CanAdapter>\n</Quorvella>\n");
        auto app = Start();
        QVERIFY2(query_.Boxes.empty(), query_.Boxes.empty() ? "" : query_.Boxes[0].Text.c_str());
        QVERIFY(app->Engine().CanChannel() != nullptr);
        QVERIFY(Checked(*app, "CB_SendCAN"));
    }

    void locatedFileThatIsNoVectorLibraryIsReportedOnce()
    {
        WriteFile("Quorvella.xml", QByteArray(VectorSettings).replace("%1", ""));
        WriteFile("junk.dll", "not a library");
        query_.OpenAnswers.push_back(TPath("junk.dll"));
        auto app = Start();   // the real Vector driver
        QCOMPARE(query_.OpenRequests.size(), size_t{1});   // the file exists now: no second question
        QCOMPARE(query_.Boxes.size(), size_t{1});
        QVERIFY(S(query_.Boxes[0].Text).startsWith("VECTOR initialisation error\nOpening driver failed. Errorcode="));
        QCOMPARE(S(VectorDllPath()), Path("junk.dll"));
        QVERIFY(!Checked(*app, "CB_SendCAN"));
    }

    void buttonsShowAndHideTheirWindows()
    {
        auto app = Start();
        const struct {
            const char* button;
            QWidget* window;
        } pairs[] = {{"RB_FzgSim", &app->Cockpit()},
                     {"B_ValidManip", &app->ValidFlagManip()},
                     {"B_Options", &app->Options()},
                     {"B_VehDataMon", &app->VehicleData()},
                     {"B_FrameTrace", &app->FrameTrace()}};
        for (const auto& p : pairs) {
            Click(*app, p.button);
            QVERIFY2(p.window->isVisible(), p.button);
            Click(*app, p.button);
            QVERIFY2(!p.window->isVisible(), p.button);
        }
        Click(*app, "B_Info");
        QCOMPARE(query_.Dialogs.size(), size_t{1});
        QCOMPARE(query_.Dialogs[0], static_cast<QDialog*>(&app->About()));
        QCOMPARE(app->About().findChild<QLabel*>("L_ProgName")->text(), QString("Quorvella"));
        QCOMPARE(app->About().findChild<QLabel*>("L_Version")->text(), QString("Version 2.12"));
    }

    void closeEndsTheMessageLoop()
    {
        auto app = Start();
        QTimer::singleShot(50, &app->MainWindow(), [&] { Click(*app, "B_Exit"); });
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(app->Exec(), 0);
        QVERIFY(app->Terminated());
        QVERIFY(clock.elapsed() < 5000);
    }

    void closingTheMainWindowEndsTheProgram()
    {
        auto app = Start();
        app->MainWindow().close();
        QVERIFY(app->Terminated());
        QCOMPARE(app->Exec(), 0);   // returns at once
        app.reset();
        QVERIFY(QFile::exists(Path("Quorvella.xml")));
    }

    void runDeliversFramesWithTheAppliedAddressAndPriority()
    {
        WriteFile("Quorvella.xml", SimulationSettings("RAM 1 2").toUtf8());
        auto app = Start();
        QVERIFY(query_.Boxes.empty());
        QVERIFY(app->Engine().CanChannel() != nullptr);
        QVERIFY(Checked(*app, "CB_SendCAN"));
        // A peer on the other end reads every frame the window's channel sends.
        TCanAdapters peers(QtCanBusDriverTable());
        TCanChannel* channel = peers.OpenChannel(TAString("Simulation RAM 2 1"));
        QVERIFY(channel != nullptr);

        query_.SaveAnswers.push_back(TPath("run.asc"));
        Click(*app, "CB_LogFile");
        QVERIFY(Checked(*app, "CB_LogFile"));

        Click(*app, "B_Options");
        auto* source = app->Options().findChild<QLineEdit*>("E_SourceAdr");
        auto* prio = app->Options().findChild<QLineEdit*>("E_Prio");
        source->selectAll();
        QTest::keyClicks(source, "x2A");
        prio->selectAll();
        QTest::keyClicks(prio, "3");
        QTest::mouseClick(app->Options().findChild<QPushButton*>("B_OK"), Qt::LeftButton);
        QCOMPARE(app->Engine().Options.SourceAddress, uint8_t{0x2A});
        QCOMPARE(app->Engine().Options.Priority, uint8_t{3});

        std::vector<TCanFrame> received;
        auto poll = [&](int ms) {
            QDeadlineTimer deadline(ms);
            while (!deadline.hasExpired()) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
                for (TCanFrame f = channel->Read(); !f.IsNone(); f = channel->Read()) received.push_back(f);
                QThread::usleep(300);
            }
        };
        Click(*app, "B_StartStop");
        poll(2000);
        Click(*app, "B_StartStop");
        poll(500);   // what is still in the transmit buffer leaves after Stop
        QVERIFY2(BoxesBesidesTimingNotices().isEmpty(), qPrintable(BoxesBesidesTimingNotices()));
        app->Shutdown();
        for (TCanFrame f = channel->Read(); !f.IsNone(); f = channel->Read()) received.push_back(f);

        QVERIFY2(received.size() >= 100, qPrintable(QString::number(received.size())));
        // The address claim keeps J1939's priority 6; the groups have the options' priority.
        for (const TCanFrame& f : received) {
            QCOMPARE(f.Id & 0xFFu, 0x2Au);
            if ((f.Id & 0x03FF0000u) == 0x00EE0000u) continue;
            QCOMPARE((f.Id >> 26) & 7u, 3u);
        }

        QFile log(Path("run.asc"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = log.readAll().split('\n');
        std::vector<QByteArray> logged;   // identifier and data of each line
        for (const QByteArray& line : lines) {
            if (line.isEmpty()) continue;
            QVERIFY(line.endsWith('\r'));
            QCOMPARE(line.size(), 34);
            QCOMPARE(line[3], '.');
            logged.push_back(line.mid(9, 24));
        }
        // Every frame on the channel is in the log, in the same order, and no other.
        QCOMPARE(logged.size(), received.size());
        size_t at = 0;
        for (const TCanFrame& f : received) {
            QByteArray text = QByteArray::number(f.Id, 16).toUpper().rightJustified(8, '0');
            for (uint8_t b : f.Data) text += QByteArray::number(b, 16).toUpper().rightJustified(2, '0');
            while (at < logged.size() && logged[at] != text) ++at;
            QVERIFY2(at < logged.size(), text.constData());
            ++at;
        }
    }
    // A large user log: the window goes on handling events while it loads and shows how
    // far it is; Cancel leaves no log at all, not even the one loaded before.
    void userLogLoadsInTheBackgroundAndCancelKeepsTheLogBefore()
    {
        std::atomic<bool> entered{false};
        std::atomic<bool> release{false};
        auto app = Start();
        TFQuorvella& w = app->MainWindow();
        w.SetLogReader([&](const TAString& name, const TCanLogReader::TControl& control) {
            control.Progress(3, 4);
            entered = true;
            while (!release && !control.Cancel->load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (!release) throw TBaseError("", "Logfile Read Error", name + ": loading stopped before the end of the file");
            return TCanLogReader::Parse("000.0000 18FEF100F315000CFFFFFFFF\n000.0020 18F00300FFFAFFFFFFFFFFFF\n", name);
        });
        query_.Boxes.clear();
        Click(*app, "RB_CanLog");
        query_.OpenAnswers.push_back(TPath("big.asc"));
        Click(*app, "B_LogFile");   // returns while the log loads
        QVERIFY(w.LoadingUserLog());
        QTRY_VERIFY_WITH_TIMEOUT(entered.load(), 10000);
        bool fired = false;
        QTimer::singleShot(0, &w, [&] { fired = true; });
        QTRY_VERIFY_WITH_TIMEOUT(fired, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(Find<QProgressBar>(*app, "PB_LogLoad")->value(), 750, 10000);
        QVERIFY(w.LoadingUserLog());
        QVERIFY(Find<QWidget>(*app, "PB_LogLoad")->isVisible());
        QVERIFY(Find<QWidget>(*app, "B_LogLoadCancel")->isVisible());
        QVERIFY(!Find<QWidget>(*app, "E_LogFile")->isVisible());
        QVERIFY(!Enabled(*app, "B_StartStop"));

        Click(*app, "B_LogLoadCancel");
        QTRY_VERIFY_WITH_TIMEOUT(!w.LoadingUserLog(), 10000);
        QCOMPARE(app->Engine().UserLines().Count(), 0);
        QCOMPARE(Find<QLineEdit>(*app, "E_LogFile")->text(), QString());
        QVERIFY(Find<QWidget>(*app, "E_LogFile")->isVisible());
        QVERIFY(!Find<QWidget>(*app, "PB_LogLoad")->isVisible());
        QVERIFY(!Enabled(*app, "B_StartStop"));
        QVERIFY(query_.Boxes.empty());   // the user cancelled: nothing to report

        // A load let finish brings its log to the engine.
        entered = false;
        query_.OpenAnswers.push_back(TPath("big.asc"));
        Click(*app, "B_LogFile");
        QTRY_VERIFY_WITH_TIMEOUT(entered.load(), 10000);
        release = true;
        QTRY_VERIFY_WITH_TIMEOUT(!w.LoadingUserLog(), 10000);
        QCOMPARE(app->Engine().UserLines().Count(), 2);
        QCOMPARE(Find<QLineEdit>(*app, "E_LogFile")->text(), Path("big.asc"));
        QVERIFY(Enabled(*app, "B_StartStop"));

        // The next load keeps that log until it has loaded: cancelled, the log loaded
        // before is the user log again, with its name and Start.
        release = false;
        entered = false;
        query_.OpenAnswers.push_back(TPath("big.asc"));
        Click(*app, "B_LogFile");
        QTRY_VERIFY_WITH_TIMEOUT(entered.load(), 10000);
        QCOMPARE(app->Engine().UserLines().Count(), 2);
        QVERIFY(!Enabled(*app, "B_StartStop"));
        Click(*app, "B_LogLoadCancel");
        QTRY_VERIFY_WITH_TIMEOUT(!w.LoadingUserLog(), 10000);
        QCOMPARE(app->Engine().UserLines().Count(), 2);
        QCOMPARE(Find<QLineEdit>(*app, "E_LogFile")->text(), Path("big.asc"));
        QVERIFY(Enabled(*app, "B_StartStop"));
        QVERIFY(query_.Boxes.empty());

        // So does a file dialog closed without a choice.
        Click(*app, "B_LogFile");
        QCOMPARE(app->Engine().UserLines().Count(), 2);
        QVERIFY(Enabled(*app, "B_StartStop"));

        // Ending the program while a log loads ends the load.
        entered = false;
        query_.OpenAnswers.push_back(TPath("big.asc"));
        Click(*app, "B_LogFile");
        QTRY_VERIFY_WITH_TIMEOUT(entered.load(), 10000);
        app.reset();
    }

    // Frames of the recording that the replay leaves out are named when the log is loaded.
    void userLogWithSkippedFramesSaysWhichWhenLoaded()
    {
        WriteFile("mixed.asc", "base hex  timestamps absolute\r\n"
                               "0.001000 1 18FEF100x Rx d 8 F3 15 00 0C FF FF FF FF\r\n"
                               "0.002000 1 123 Rx r\r\n");
        WriteFile("plain.asc", "date Mon Jan 06 02:03:04.005 PM 2025\r\n"
                               "0.001000 1 18FEF100x Rx d 8 F3 15 00 0C FF FF FF FF\r\n");
        auto app = Start();
        query_.Boxes.clear();
        Click(*app, "RB_CanLog");
        query_.OpenAnswers.push_back(TPath("mixed.asc"));
        Click(*app, "B_LogFile");
        QTRY_COMPARE_WITH_TIMEOUT(query_.Boxes.size(), size_t{1}, 10000);
        const QString summary =
            Path("mixed.asc") + ": 1 frame (ASC) on channel 1; 2 lines skipped: 1 header and comment line, 1 remote frame";
        QCOMPARE(S(query_.Boxes[0].Text), summary);
        QCOMPARE(query_.Boxes[0].Icon, TUserQuery::icInformation);
        QCOMPARE(Find<QLineEdit>(*app, "E_LogFile")->toolTip(), summary);
        QCOMPARE(app->Engine().UserLines().Count(), 1);

        // Header lines alone are no news.
        query_.OpenAnswers.push_back(TPath("plain.asc"));
        Click(*app, "B_LogFile");
        QTRY_VERIFY_WITH_TIMEOUT(!app->MainWindow().LoadingUserLog(), 10000);
        QCOMPARE(query_.Boxes.size(), size_t{1});
        QCOMPARE(Find<QLineEdit>(*app, "E_LogFile")->toolTip(),
                 Path("plain.asc") + ": 1 frame (ASC) on channel 1; 1 line skipped: 1 header and comment line");

        // A last line without a line end was cut off: the whole lines load, and the user is told.
        WriteFile("cut.log", "(1.0) can0 18FEF100#F315000CFFFFFFFF\n(1.1) can0 18FEF100#F315");
        query_.OpenAnswers.push_back(TPath("cut.log"));
        Click(*app, "B_LogFile");
        QTRY_COMPARE_WITH_TIMEOUT(query_.Boxes.size(), size_t{2}, 10000);
        QCOMPARE(S(query_.Boxes[1].Text), Path("cut.log") + ": 1 frame (candump) on interface can0; the last line (line 2) "
                                                            "has no line end and was not read: '(1.1) can0 18FEF100#F315'");
        QCOMPARE(app->Engine().UserLines().Count(), 1);
        QVERIFY(Enabled(*app, "B_StartStop"));
    }

    // A log of several channels offers them after loading: all merged, or one; Start
    // with frames layout 5 cannot hold and an output log in layout 5 is refused on the
    // status panel, without a box.
    void userLogOfSeveralChannelsOffersThemAndLayout5RefusesStart()
    {
        WriteFile("four.asc", "base hex  timestamps absolute\r\n"
                              "0.010000 3 0CF00400x Rx d 8 03 00 00 00 00 00 00 00\r\n"
                              "0.010100 1 18FEF100x Rx d 8 01 00 00 00 00 00 00 00\r\n"
                              "0.010050 2 18FEF100x Rx d 8 02 00 00 00 00 00 00 00\r\n"
                              "0.010300 4 123 Rx d 1 04\r\n"
                              "0.020000 2 18FEF100x Rx d 8 02 01 00 00 00 00 00 00\r\n"
                              "0.020000 4 18EA0021x Tx d 3 E5 FE 00\r\n"
                              "0.020100 1 18FEF100x Rx d 8 01 01 00 00 00 00 00 00\r\n"
                              "0.030000 3 0CF00400x Rx d 8 03 01 00 00 00 00 00 00\r\n"
                              "0.030000 2 18FEF100x Rx d 8 02 02 00 00 00 00 00 00\r\n"
                              "0.040000 2 18FEF100x Rx d 8 02 03 00 00 00 00 00 00\r\n"
                              "0.040000 2 18FEF100x Rx d 8 02 04 00 00 00 00 00 00\r\n");
        WriteFile("one.asc", "0.001000 1 18FEF100x Rx d 8 F3 15 00 0C FF FF FF FF\r\n");
        auto app = Start();
        query_.Boxes.clear();
        Click(*app, "RB_CanLog");
        query_.OpenAnswers.push_back(TPath("four.asc"));
        Click(*app, "B_LogFile");
        QTRY_VERIFY_WITH_TIMEOUT(!app->MainWindow().LoadingUserLog(), 10000);
        auto* channels = Find<QComboBox>(*app, "C_ReplayChannels");
        QVERIFY(channels->isVisible());
        QVERIFY(channels->isEnabled());
        QStringList items;
        for (int i = 0; i < channels->count(); ++i) items << channels->itemText(i);
        QCOMPARE(items, QStringList({"All 4 channels, merged", "Channel 1 (2 frames)", "Channel 2 (5 frames)",
                                     "Channel 3 (2 frames)", "Channel 4 (2 frames)"}));
        QCOMPARE(app->Engine().UserLines().Count(), 11);
        QVERIFY(query_.Boxes.empty());   // header lines only: no news

        const struct {
            int downs;   // from the item shown
            int frames;
            const char* summary;
        } steps[] = {
            {3, 2, ": 2 frames (ASC) from channel 3 of 4: 1 (2 frames, not replayed), 2 (5 frames, not replayed), "
                   "3 (2 frames), 4 (2 frames, not replayed); 1 line skipped: 1 header and comment line"},
            {1, 2, ": 2 frames (ASC) from channel 4 of 4: 1 (2 frames, not replayed), 2 (5 frames, not replayed), "
                   "3 (2 frames, not replayed), 4 (2 frames); 1 line skipped: 1 header and comment line"},
            {-2, 5, ": 5 frames (ASC) from channel 2 of 4: 1 (2 frames, not replayed), 2 (5 frames), 3 (2 frames, not "
                    "replayed), 4 (2 frames, not replayed); 1 line skipped: 1 header and comment line"},
            {-2, 11, ": 11 frames (ASC) from 4 channels merged into one replay: 1 (2 frames), 2 (5 frames), "
                     "3 (2 frames), 4 (2 frames); 1 line skipped: 1 header and comment line"},
        };
        for (const auto& step : steps) {
            for (int i = 0; i < std::abs(step.downs); ++i) QTest::keyClick(channels, step.downs > 0 ? Qt::Key_Down : Qt::Key_Up);
            QCOMPARE(app->Engine().UserLines().Count(), step.frames);
            QCOMPARE(Find<QLineEdit>(*app, "E_LogFile")->toolTip(), Path("four.asc") + step.summary);
        }

        // Channel 4 holds an 11-bit frame of 1 byte: layout 5 cannot write it.
        Find<QCheckBox>(*app, "CB_LogFile")->setChecked(true);
        Click(*app, "B_StartStop");
        QVERIFY(!app->Engine().Running());
        // The whole line, or its hint where the panel is too narrow for it.
        const auto* problem = Find<QLabel>(*app, "L_LogProblem");
        QCOMPARE(problem->toolTip().isEmpty() ? problem->text() : problem->toolTip(),
                 QString("Not started: layout 5 cannot hold the log's frame 0x123 (11-bit identifier) with 1 data byte "
                         "at line 5; choose ASC or candump"));
        QVERIFY(query_.Boxes.empty());
        QTest::keyClick(channels, Qt::Key_Down);   // channel 1: 29-bit frames of 8 bytes
        Click(*app, "B_StartStop");
        QVERIFY(app->Engine().Running());
        QCOMPARE(Find<QLabel>(*app, "L_LogProblem")->text(), QString());
        Click(*app, "B_StartStop");
        Find<QCheckBox>(*app, "CB_LogFile")->setChecked(false);

        // A log of one channel has no choice.
        query_.OpenAnswers.push_back(TPath("one.asc"));
        Click(*app, "B_LogFile");
        QTRY_VERIFY_WITH_TIMEOUT(!app->MainWindow().LoadingUserLog(), 10000);
        QVERIFY(!channels->isVisible());
        QCOMPARE(app->Engine().UserLines().Count(), 1);
    }

    // A log cut out of a long recording: with the box its first frame leaves at Start
    // and the run ends at once; without it the first frame would wait 100 s.
    void startAtFirstFrameBoxMakesTheFirstFrameLeaveAtStart()
    {
        WriteFile("late.asc", "100.0000 18FEF100F315000CFFFFFFFF\r\n100.0100 18F00300FFFAFFFFFFFFFFFF\r\n");
        auto app = Start();
        Click(*app, "RB_CanLog");
        query_.OpenAnswers.push_back(TPath("late.asc"));
        Click(*app, "B_LogFile");
        QTRY_COMPARE_WITH_TIMEOUT(app->Engine().UserLines().Count(), 2, 10000);
        Click(*app, "CB_FromFirstFrame");
        QVERIFY(app->Engine().Controls.FromFirstFrame);
        Click(*app, "B_StartStop");
        QTRY_VERIFY_WITH_TIMEOUT(!app->Engine().Running(), 10000);
        QVERIFY(app->Engine().SimTime() < 1000000);
        Click(*app, "CB_FromFirstFrame");
        QVERIFY(!app->Engine().Controls.FromFirstFrame);
    }

    // The output log's format: the save dialog offers its extension, a change closes the
    // file open in the other format, and the choice is kept in the settings file.
    void logFormatChoiceGivesTheSaveDialogItsExtensionAndIsRemembered()
    {
        {
            auto app = Start();
            query_.SaveAnswers.push_back(TPath("run.asc"));
            Click(*app, "B_FileNameLogOut");
            Click(*app, "CB_LogFile");
            QVERIFY(Checked(*app, "CB_LogFile"));
            auto* format = Find<QComboBox>(*app, "C_LogFormat");
            format->setFocus();
            QTest::keyClick(format, Qt::Key_Down);
            QTest::keyClick(format, Qt::Key_Down);
            QCOMPARE(format->currentText(), QString("candump"));
            QVERIFY(!app->Engine().LogOut().IsOpen());   // run.asc is complete in layout 5
            QVERIFY(!Checked(*app, "CB_LogFile"));
            QVERIFY(!app->Engine().Controls.LogFile);
            TFQuorvella& w = app->MainWindow();
            QCOMPARE(S(w.SD_LogFileOut.DefaultExt), QString("log"));
            QCOMPARE(S(w.SD_LogFileOut.Filter), QString("*.log|*.log"));

            query_.SaveAnswers.push_back(TPath("run.log"));
            Click(*app, "CB_LogFile");
            QCOMPARE(S(query_.SaveRequests.back().DefaultExt), QString("log"));
            QVERIFY(Checked(*app, "CB_LogFile"));
            Click(*app, "B_StartStop");
            QTRY_VERIFY_WITH_TIMEOUT(app->Engine().SimTime() >= 100000, 10000);
            Click(*app, "B_StartStop");
            QFile log(Path("run.log"));
            QVERIFY(log.open(QIODevice::ReadOnly));
            const QByteArray first = log.readLine();
            // Seconds since the epoch: the wall clock at Start plus the run time; sent: "T".
            const QRegularExpressionMatch line =
                QRegularExpression("^\\((\\d{10})\\.\\d{6}\\) can0 [0-9A-F]{8}#[0-9A-F]{16} T\n$").match(QString::fromLatin1(first));
            QVERIFY2(line.hasMatch(), first.constData());
            QVERIFY(std::abs(line.captured(1).toLongLong() - QDateTime::currentSecsSinceEpoch()) < 3600);
        }
        QFile settings(Path("Quorvella.xml"));
        QVERIFY(settings.open(QIODevice::ReadOnly));
        QVERIFY(settings.readAll().contains("<LogFileFormat>candump</LogFileFormat>"));
        auto again = Start();
        QCOMPARE(Find<QComboBox>(*again, "C_LogFormat")->currentText(), QString("candump"));
        QCOMPARE(S(again->MainWindow().SD_LogFileOut.DefaultExt), QString("log"));
        QCOMPARE(again->Engine().LogOut().Format(), TLogOutFormat::Candump);
    }

    // "Log received frames" cannot be ticked with layout 5 (its hint says why); with
    // ASC the frames the channel receives are "Rx" lines of the output log, counted in
    // the status; going back to layout 5 unticks it; the choice is kept.
    void logReceivedFramesNeedsAFormatWithDirectionAndIsRemembered()
    {
        {
            auto app = Start();
            auto* received = Find<QCheckBox>(*app, "CB_LogReceived");
            QVERIFY(!received->isEnabled());
            QVERIFY(!received->isChecked());
            QVERIFY(received->toolTip().contains("Layout 5 has no direction"));

            auto* format = Find<QComboBox>(*app, "C_LogFormat");
            format->setFocus();
            QTest::keyClick(format, Qt::Key_Down);
            QCOMPARE(format->currentText(), QString("ASC"));
            QVERIFY(received->isEnabled());
            QVERIFY(received->toolTip().contains("\"Rx\" lines"));
            Click(*app, "CB_LogReceived");
            QVERIFY(app->Engine().Controls.LogReceived);

            // A channel that hears what it sends: every frame comes back as received.
            canDialog_.Answer = true;
            canDialog_.Result = TTreeKey("Simulation");
            canDialog_.Result["Comm"]("<TEXT>") = "RAM 93 93";
            Click(*app, "CB_SendCAN");
            QVERIFY(app->Engine().CanChannel() != nullptr);
            query_.SaveAnswers.push_back(TPath("rx.asc"));
            Click(*app, "CB_LogFile");
            QVERIFY(Checked(*app, "CB_LogFile"));
            Click(*app, "B_StartStop");
            QTRY_VERIFY_WITH_TIMEOUT(app->Engine().ReceivedLogged() > 0, 10000);
            Click(*app, "B_StartStop");
            QVERIFY(Find<QLabel>(*app, "L_WrittenStatus")->toolTip().contains(" received") ||
                    Find<QLabel>(*app, "L_WrittenStatus")->text().contains(" received"));
            QVERIFY(app->Engine().LogOut().Flush());
            QFile log(Path("rx.asc"));
            QVERIFY(log.open(QIODevice::ReadOnly));
            const QByteArray text = log.readAll();
            QVERIFY2(text.contains("x       Rx   d 8 "), text.left(400).constData());
            QVERIFY(text.contains("x       Tx   d 8 "));
        }
        QFile settings(Path("Quorvella.xml"));
        QVERIFY(settings.open(QIODevice::ReadOnly));
        QVERIFY(settings.readAll().contains("<LogReceivedFrames>1</LogReceivedFrames>"));
        auto again = Start();
        auto* received = Find<QCheckBox>(*again, "CB_LogReceived");
        QVERIFY(received->isChecked());
        QVERIFY(again->Engine().Controls.LogReceived);

        // Back to layout 5: unticked, and it cannot be ticked.
        auto* format = Find<QComboBox>(*again, "C_LogFormat");
        format->setFocus();
        QTest::keyClick(format, Qt::Key_Up);
        QCOMPARE(format->currentText(), QString("Layout 5"));
        QVERIFY(!received->isChecked());
        QVERIFY(!received->isEnabled());
        QVERIFY(!again->Engine().Controls.LogReceived);
        QCOMPARE(S(again->Settings().Config()["LogReceivedFrames"]("<TEXT>")), QString("0"));
    }

    // The settings' NAME is the one claimed at Start on the channel; the status panel's
    // Sent line says where the claim stands (its tooltip in full), the problem line why
    // an entry was not used.
    void addressClaimFollowsTheSettingsAndIsShownInTheStatusPanel()
    {
        const struct {
            const char* entries;
            const char* sent;      // the Sent line's end while running
            const char* tooltip;   // its tooltip
            const char* problem;
        } rows[] = {
            {"<J1939Name>A00000000000FF12</J1939Name>", ", address 0x00 claimed",
             "Address claim: claimed 0x00, NAME A00000000000FF12", ""},
            {"<AddressClaim>0</AddressClaim>", " frames", "Address claim: off", ""},
            {"<J1939Name>xyz</J1939Name>", ", address 0x00 claimed", "Address claim: claimed 0x00, NAME 1000000000000001",
             "settings entry \"J1939Name\" is 'xyz', not 1 to 16 hexadecimal digits: the NAME is 1000000000000001"},
        };
        for (const auto& row : rows) {
            QString settings = SimulationSettings("RAM 94 95");
            settings.replace("</Quorvella>", QString(row.entries) + "</Quorvella>");
            WriteFile("Quorvella.xml", settings.toUtf8());
            query_ = TFakeUserQuery();
            auto app = Start();
            QVERIFY2(query_.Boxes.empty(), query_.Boxes.empty() ? "" : query_.Boxes.front().Text.c_str());
            TCanAdapters peers(QtCanBusDriverTable());
            TCanChannel* peer = peers.OpenChannel(TAString("Simulation RAM 95 94"));
            auto* sent = Find<QLabel>(*app, "L_SentStatus");
            auto* problem = Find<QLabel>(*app, "L_LogProblem");
            QCOMPARE(sent->text(), QString("0 frames"));
            QCOMPARE(problem->toolTip().isEmpty() ? problem->text() : problem->toolTip(), QString(row.problem));
            Click(*app, "B_StartStop");
            QTRY_VERIFY_WITH_TIMEOUT(app->Engine().SimTime() >= 300000, 10000);
            QVERIFY2(sent->text().endsWith(row.sent), qPrintable(sent->text()));
            if (!sent->text().contains(QChar(0x2026))) QCOMPARE(sent->toolTip(), QString(row.tooltip));
            // The peer reads all the time, so that every frame is delivered.
            std::vector<TCanFrame> received;
            auto poll = [&](int ms) {
                QDeadlineTimer deadline(ms);
                while (!deadline.hasExpired()) {
                    QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
                    for (TCanFrame f = peer->Read(); !f.IsNone(); f = peer->Read()) received.push_back(f);
                    QThread::usleep(300);
                }
            };
            poll(500);
            Click(*app, "B_StartStop");
            poll(500);
            QVERIFY(received.size() >= 20);
            const bool claimed = QString(row.tooltip).contains("claimed 0x00");
            QCOMPARE(received.front().Id == 0x18EEFF00u, claimed);
            if (QString(row.entries).contains("A00000000000FF12"))
                QCOMPARE(received.front().Data, (std::array<uint8_t, 8>{0x12, 0xFF, 0, 0, 0, 0, 0, 0xA0}));
            app->Shutdown();
            peers.CloseChannel(peer);
            QVERIFY2(BoxesBesidesTimingNotices().isEmpty(), qPrintable(BoxesBesidesTimingNotices()));
        }
    }
};

QTEST_MAIN(TFQuorvellaTest)
#include "tfquorvella_test.moc"
