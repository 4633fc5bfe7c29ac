#include "app/ui/tquorvellaapp.h"

#include "app/ui/tcanchanneldialog.h"
#include "app/ui/tclosesignals.h"
#include "app/ui/tfbformueber.h"
#include "app/ui/tferrorhandler.h"
#include "app/ui/tfoptions.h"
#include "app/ui/tfplot.h"
#include "app/ui/tfquorvella.h"
#include "app/ui/tqtuserquery.h"
#include "engine/terrortable.h"
#include "can/vector/tcandrivervector.h"
#include "fms/ui/tfframetrace.h"
#include "fms/ui/tfvalidflagmanip.h"
#include "fms/ui/tfvehicledata.h"
#include "sim/ui/tfsim_lkw.h"
#include "support/Communication/tathread.h"
#include "support/tbaseerror.h"

#include <QApplication>
#include <QTableView>
#include <QEventLoop>
#include <QMessageBox>

#include <clocale>
#include <cstdio>
#include <exception>
#include <filesystem>

namespace {

// An error that escapes an event handler is shown as the error dialog shows errors it
// does not know, and the program goes on.
class TQuorvellaApplication final : public QApplication {
public:
    TQuorvellaApplication(int& argc, char** argv) : QApplication(argc, argv) {}

    bool notify(QObject* receiver, QEvent* event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (const TBaseError& e) {
            Show(TErrorTable::Lookup(e).BoxText);
        } catch (const std::exception& e) {
            Show(TAString("Fatal error occured\nMessage: ") + e.what());
        }
        return false;
    }

private:
    static void Show(const TAString& text)
    {
        TQtUserQuery().Message(nullptr, TErrorTable::Caption, text, TUserQuery::icError);
    }
};

TAString DirectoryOf(const TAString& workingDirectory)
{
    if (!workingDirectory.IsEmpty()) return workingDirectory;
    return TAString(std::filesystem::current_path().string());
}

}  // namespace

TQuorvellaApp::TQuorvellaApp(TUserQuery& query, TSetup setup)
    : query_(query),
      settings_(DirectoryOf(setup.WorkingDirectory)),
      canBuffer_(TMonotonicTimeSource::Instance()),
      transmit_(canBuffer_, true),
      drivers_(std::move(setup.Drivers)),
      adapters_(drivers_),
      engine_(TMonotonicTimeSource::Instance(), transmit_),
      canChannel_(setup.CanChannelDialog)
{
    // Settings and transmit timing.
    settings_.Load();
    VectorDllPath() = settings_.VectorDllPath();
    canTimer_ = std::make_unique<TMultimediaTimer>(&canBuffer_, timerLock_);
    // The transmit path runs at real-time priority where the system permits it.
    canTimer_->SetRealTime(true);
    uint32_t timerError = 0;
    canTimerStarted_ = canTimer_->Start(CanTimerPeriodMs, timerError, CanTimerResolutionMs);

    // The windows, in their order.
    main_ = std::make_unique<TFQuorvella>(engine_, adapters_, drivers_, settings_, query_);
    options_ = std::make_unique<TFOptions>(engine_.Catalogue(), engine_.Options, query_);
    validFlagManip_ = std::make_unique<TFValidFlagManip>(engine_.Catalogue());
    vehicleData_ = std::make_unique<TFVehicleData>();
    frameTrace_ = std::make_unique<TFFrameTrace>(engine_.Trace());
    plot_ = std::make_unique<TFPlot>(query_);
    plot_->SetCatalogue(plotFeed_);
    // The plot reads what left from the engine's frame trace, from where it stopped.
    plot_->SetFeed([this](TPlotStore& store) { plotSeen_ = plotFeed_.FromTrace(engine_.Trace(), plotSeen_, store); },
                   [this] { plotSeen_ = engine_.Trace().Last(); });
    plot_->PickFrom(*vehicleData_->View());
    cockpit_ = std::make_unique<TFSim_Lkw>(&settings_.FzgSim());
    about_ = std::make_unique<TFBFormUeber>(query_);
    errorHandler_ = std::make_unique<TFErrorHandler>(query_);
    canChannelDialog_ = std::make_unique<TCanChannelDialog>(query_);
    if (!canChannel_) canChannel_ = canChannelDialog_.get();

    validFlagManip_->SetErrorReporter(main_.get());
    cockpit_->SetErrorReporter(main_.get());
    cockpit_->SetRunControl([this] { main_->B_StartStopClick(); }, [this] { return engine_.Running(); });
    engine_.SetValidity(validFlagManip_.get());
    engine_.SetMonitor(vehicleData_.get());
    engine_.SetCockpit(cockpit_.get());
    // Scenarios, the cockpit's recording and the control API drive the same vehicle.
    cockpit_->SetRecording([this] { return engine_.SimTime(); }, [this] {
        return query_.SaveFileName(cockpit_.get(), TFileRequest{"Save the recorded drive", "drive.txt", "txt",
                                                                "Scenarios|*.txt;*.scn"});
    });

    TFQuorvella::TWindows windows;
    windows.Cockpit = cockpit_.get();
    windows.ValidFlagManip = validFlagManip_.get();
    windows.Options = options_.get();
    windows.VehicleData = vehicleData_.get();
    windows.FrameTrace = frameTrace_.get();
    windows.About = about_.get();
    windows.ErrorHandler = errorHandler_.get();
    windows.CanChannel = canChannel_;
    windows.Plot = plot_.get();
    main_->SetWindows(windows);
    main_->SetTransmitTimer(canTimer_.get());
    main_->SetOnTerminate([this] { Terminate(); });
    // After the windows: a port in use is told in the error display, never in a box.
    main_->SetVehicle(*cockpit_, cockpit_->Lkw(), validFlagManip_->Manip());
    options_->SetControl(settings_.Config(), [this] { main_->ApplyControlSetting(); });

    const TAString notice = settings_.TakeNotice();
    if (!notice.IsEmpty()) query_.Message(main_.get(), TErrorTable::Caption, notice, TUserQuery::icWarning);

    // On Linux every driver that can work here is offered: the vendor drivers (a
    // compatible library may be installed), the simulation driver and the Qt CAN bus.
    canChannel_->SetStyle(true, true, true, true, true);
    // An error that ends a channel's thread, or a loss a channel reports, comes on that
    // thread; the error display shows it on the window thread, once.
    TAThread::SetReporter([main = main_.get()](const TAString&, const TAString&, const TBaseError& error) {
        QMetaObject::invokeMethod(main, [main, error] { main->ShowError(error); }, Qt::QueuedConnection);
    });
    main_->OpenConfiguredChannel();
    main_->show();
    // A stop signal closes the program as the Close button does.
    closeSignals_ = std::make_unique<TCloseSignals>([this](int) { Terminate(); });
}

TQuorvellaApp::~TQuorvellaApp()
{
    Shutdown();
    TAThread::SetReporter(nullptr);
    // The windows go before the engine that points at them.
    engine_.SetCockpit(nullptr);
    engine_.SetMonitor(nullptr);
    engine_.SetValidity(nullptr);
}

int TQuorvellaApp::CloseSignal() const
{
    return closeSignals_ ? closeSignals_->Signal() : 0;
}

void TQuorvellaApp::Terminate()
{
    terminated_ = true;
    if (loop_) loop_->quit();
}

int TQuorvellaApp::Exec()
{
    if (terminated_) return 0;
    QEventLoop loop;
    loop_ = &loop;
    loop.exec();
    loop_ = nullptr;
    return 0;
}

void TQuorvellaApp::Shutdown()
{
    if (shutDown_) return;
    shutDown_ = true;
    engine_.Stop();
    // The control API's thread ends before anything it reads.
    main_->ReleaseVehicle();
    // The channel first: what it took before it closes still reaches the output log.
    if (canTimer_) canTimer_->Stop();
    canTimer_.reset();
    if (TCanChannel* channel = engine_.CanChannel()) {
        engine_.SetCanChannel(nullptr);
        adapters_.CloseChannel(channel, TCanAdapters::DefaultDrain, main_->ClosingHandover());
    }
    // The frames that left since the last tick, and the late ones told: the rest of the
    // transmit buffer no longer leaves.
    engine_.CollectDepartures();
    engine_.TellLateness();
    engine_.LogOut().Close();
    try {
        cockpit_->StorePosition();
    } catch (...) {
        // A position that cannot be stored keeps the one in the settings.
    }
    settingsSaved_ = settings_.Save();
    if (!settingsSaved_) {
        const TBaseError error("TSettingsFile::Save", "Settings not saved", settings_.SaveError());
        const TAString text = TErrorTable::Lookup(error).BoxText;
        std::fprintf(stderr, "quorvella: %s", text.c_str());
        std::fflush(stderr);
        if (CloseSignal() == 0) query_.Message(main_.get(), TErrorTable::Caption, text, TUserQuery::icError);
    }
    for (QWidget* w : {static_cast<QWidget*>(cockpit_.get()), static_cast<QWidget*>(vehicleData_.get()),
                       static_cast<QWidget*>(plot_.get()),
                       static_cast<QWidget*>(validFlagManip_.get()), static_cast<QWidget*>(options_.get()),
                       static_cast<QWidget*>(main_.get())})
        w->hide();
}

int QuorvellaMain(int argc, char** argv)
{
    TQuorvellaApplication application(argc, argv);
    // Qt sets the user's locale; the log files keep a decimal point.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setQuitOnLastWindowClosed(false);
    TQtUserQuery query;
    try {
        TQuorvellaApp program(query, TQuorvellaApp::TSetup{});
        int status = program.Exec();
        program.Shutdown();
        if (!program.SettingsSaved()) status = 1;
        return status;
    } catch (const TBaseError& e) {
        QMessageBox::critical(nullptr, TErrorTable::Caption, QString::fromStdString(e.DescribeText().str()));
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, TErrorTable::Caption, QString::fromUtf8(e.what()));
    }
    return 1;
}
