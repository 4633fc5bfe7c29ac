// quorvella-screenshots DIR: starts the program offscreen in a scratch working
// directory, drives it into a running vehicle simulation (engine running, third gear,
// frames going to an in-memory CAN channel and an output log) and renders every window
// into DIR as <window class>.png, and the main window once more while a large user log
// loads. The windows that watch the bus (the data monitor filtered to the speeds as
// TFVehicleData_Filtered.png, the plot of speed and engine speed during the drive as
// TFPlot.png, the frame trace as a list and in fixed mode as TFFrameTrace.png and
// TFFrameTrace_Fixed.png) are rendered once more with everything scaled by 1.5, as
// <name>_150.png: the program runs itself again with QT_SCALE_FACTOR=1.5 and
// --watch-only for them.

#include "logs/tcanlogreader.h"
#include "engine/trunengine.h"
#include "app/ui/tcanchanneldialog.h"
#include "app/ui/tfbformueber.h"
#include "app/ui/tferrorhandler.h"
#include "app/ui/tfoptions.h"
#include "app/ui/tfplot.h"
#include "app/ui/tfquorvella.h"
#include "app/ui/tquorvellaapp.h"
#include "app/ui/tuserquery.h"
#include "can/ui/canshowcase.h"
#include "fms/tbusfmsstandard.h"
#include "fms/ui/fmsshowcase.h"
#include "fms/ui/tfframetrace.h"
#include "fms/ui/tfvalidflagmanip.h"
#include "fms/ui/tfvehicledata.h"
#include "sim/ui/cockpitscreenshot.h"
#include "sim/ui/tfsim_lkw.h"
#include "support/tbaseerror.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLineEdit>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

// Nobody answers: boxes are noted, file dialogs cancelled (but the output log, which
// goes to the scratch directory), dialogs not run.
class TQuietQuery final : public TUserQuery {
public:
    TAString OutputLog;
    void Message(QWidget*, const TAString& caption, const TAString& text, TIcon) override
    {
        std::fprintf(stderr, "quorvella-screenshots: box \"%s\": %s\n", caption.c_str(), text.c_str());
    }
    std::optional<TAString> OpenFileName(QWidget*, const TFileRequest&) override { return std::nullopt; }
    std::optional<TAString> SaveFileName(QWidget*, const TFileRequest&) override
    {
        if (OutputLog.IsEmpty()) return std::nullopt;
        return OutputLog;
    }
    int Exec(QDialog&) override { return 0; }
};

// Lets the program run for ms of real time.
void RunFor(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

// The file names' ending: "" at the normal scale, "_150" with everything scaled by 1.5.
QString g_suffix;

bool Render(QWidget& window, const QString& dir, const char* className)
{
    window.show();
    window.ensurePolished();
    QApplication::processEvents();
    const QString file = QDir(dir).filePath(QString::fromLatin1(className) + g_suffix + ".png");
    const bool ok = window.grab().save(file, "PNG");
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", file.toLocal8Bit().constData());
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    const bool watchOnly = argc == 3 && std::string(argv[2]) == "--watch-only";
    if (argc != 2 && !watchOnly) {
        std::fprintf(stderr, "usage: quorvella-screenshots DIR\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(outDir)) {
        std::fprintf(stderr, "quorvella-screenshots: cannot make %s\n", argv[1]);
        return 1;
    }

    // A working directory of its own, with an in-memory loopback channel as the adapter.
    QTemporaryDir work;
    if (!work.isValid()) return 1;
    {
        QFile settings(QDir(work.path()).filePath("Quorvella.xml"));
        if (!settings.open(QIODevice::WriteOnly)) return 1;
        QTextStream(&settings) << "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
                                  "<Quorvella>\n <CanAdapter>\n  <Simulation>\n"
                                  "   <DriverName>Simulation</DriverName>\n   <Comm>RAM 201 201</Comm>\n"
                                  "  </Simulation>\n </CanAdapter>\n</Quorvella>\n";
    }

    TQuietQuery query;
    TQuorvellaApp::TSetup setup;
    setup.WorkingDirectory = TAString(work.path().toStdString());
    TQuorvellaApp program(query, setup);

    if (watchOnly) g_suffix = "_150";
    PrepareCockpitScreenshot(program.Cockpit());
    // The plot follows the drive from its start: the vehicle's speed and engine speed.
    TFPlot& plot = program.Plot();
    const TBusFmsStandard& catalogue = program.Engine().Catalogue();
    for (int i = 0; i < catalogue.SignalCount(); ++i)
        if (catalogue.Signal(i).Name == "Wheel based speed" || catalogue.Signal(i).Name == "Engine speed")
            plot.Plot(i, catalogue.Signal(i).Name, catalogue.Signal(i).Unit);
    plot.resize(640, 420);
    // The trace follows the drive too (its list fills while it is shown).
    TFFrameTrace trace(program.Engine().Trace());
    trace.resize(760, 460);
    trace.show();
    // The run also writes an output log, which the main window's status names.
    query.OutputLog = TAString(QDir(work.path()).filePath("drive.asc").toStdString());
    if (auto* logFile = program.MainWindow().findChild<QAbstractButton*>("CB_LogFile")) logFile->click();
    program.MainWindow().B_StartStopClick();
    RunFor(watchOnly ? 3000 : 1500);

    // The windows that watch the bus, during the drive.
    auto watching = [&] {
        bool done = true;
        if (auto* filter = program.VehicleData().findChild<QLineEdit*>("E_Filter")) filter->setText("speed");
        done &= Render(program.VehicleData(), outDir, "TFVehicleData_Filtered");
        if (auto* filter = program.VehicleData().findChild<QLineEdit*>("E_Filter")) filter->clear();
        plot.Refresh();
        plot.ZoomAll();
        done &= Render(plot, outDir, "TFPlot");
        trace.Poll();
        done &= Render(trace, outDir, "TFFrameTrace");
        if (auto* fixed = trace.findChild<QCheckBox*>("CB_Fixed")) fixed->setChecked(true);
        trace.Poll();
        done &= Render(trace, outDir, "TFFrameTrace_Fixed");
        if (auto* fixed = trace.findChild<QCheckBox*>("CB_Fixed")) fixed->setChecked(false);
        trace.hide();
        return done;
    };
    bool ok = true;
    if (watchOnly) {
        ok &= watching();
        program.MainWindow().B_StartStopClick();
        program.Shutdown();
        return ok ? 0 : 1;
    }
    RunFor(1500);
    ok &= watching();
    // A few signals forced (engine speed among them, so only after the plot): the
    // validity window and the monitor show them.
    FmsShowcase::ValidFlagManip(program.ValidFlagManip());
    RunFor(500);
    ok &= Render(program.MainWindow(), outDir, "TFQuorvella");
    ok &= Render(program.Cockpit(), outDir, "TFSim_Lkw");
    ok &= Render(program.VehicleData(), outDir, "TFVehicleData");
    ok &= Render(program.ValidFlagManip(), outDir, "TFValidFlagManip");
    program.MainWindow().B_StartStopClick();

    // A 2,000,000-line user log two fifths read: the progress bar and Cancel stand in
    // for the file name. The reader stands still there until the load is cancelled.
    TFQuorvella& main = program.MainWindow();
    main.SetLogReader([](const TAString& name, const TCanLogReader::TControl& control) -> TCanLog {
        control.Progress(28000000, 70000000);
        while (!control.Cancel->load()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        throw TBaseError("", "Logfile Read Error", name + ": loading stopped before the end of the file");
    });
    if (auto* userLog = main.findChild<QRadioButton*>("RB_CanLog")) userLog->click();
    main.LoadUserLog(TAString(QDir(work.path()).filePath("drive-2M.asc").toStdString()));
    RunFor(300);
    ok &= Render(main, outDir, "TFQuorvella_LogLoading");
    main.B_LogLoadCancelClick();
    QDeadlineTimer loadEnd(5000);
    while (main.LoadingUserLog() && !loadEnd.hasExpired()) RunFor(20);
    ok &= !main.LoadingUserLog();
    if (auto* simulation = main.findChild<QRadioButton*>("RB_Simulation")) simulation->click();

    ok &= Render(program.Options(), outDir, "TFOptions");
    program.About().ShowInfo(TFQuorvella::ProgName, TFQuorvella::Version);
    ok &= Render(program.About(), outDir, "TFBFormUeber");
    program.ErrorHandler().ShowDetails(TBaseError("TCanDrvVector::TCanDrvVector", "ncdOpenDriver 201"));
    ok &= Render(program.ErrorHandler(), outDir, "TFErrorHandler");

    CanShowcase::SimulationPanel(program.CanChannelDialog().Window());
    ok &= Render(program.CanChannelDialog().Window(), outDir, "TFCanChannel_Simulation");
    CanShowcase::CardWithBitTiming(program.CanChannelDialog().Window());
    ok &= Render(program.CanChannelDialog().Window(), outDir, "TFCanChannel");

    program.Shutdown();

    // The watching windows once more, with everything scaled by 1.5.
    QProcess scaled;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_SCALE_FACTOR", "1.5");
    scaled.setProcessEnvironment(env);
    scaled.setProcessChannelMode(QProcess::ForwardedChannels);
    scaled.start(QCoreApplication::applicationFilePath(), {outDir, "--watch-only"});
    const bool scaledOk = scaled.waitForFinished(120000) && scaled.exitStatus() == QProcess::NormalExit &&
                          scaled.exitCode() == 0;
    if (!scaledOk) std::fprintf(stderr, "quorvella-screenshots: the windows at 150 %% were not all written\n");
    return ok && scaledOk ? 0 : 1;
}
