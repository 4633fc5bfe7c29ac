#pragma once
// The program from start-up to shutdown, with every process-wide object: the settings,
// the transmit buffer and its 2 ms timer, the adapter registry, the run engine and the
// windows.
//
// Construction is the start-up: the settings file of the working directory is loaded,
// the transmit timer started (2 ms, resolution 1 ms), the windows made in the order
// main window, options, validity manipulation, data monitor, cockpit, about box, error
// dialog, CAN channel dialog; a notice about a damaged settings file is shown; the
// configured channel (first child of "CanAdapter") is opened and the main window shown.
// Exec runs the message loop until the user ends the program, or SIGTERM, SIGHUP or
// SIGINT ends it the same way; Shutdown (also run by the destructor) closes the output
// log, lets the cockpit store its position, saves the settings and stops the transmit
// timer. A save that fails is reported: on standard error, and in a message box unless
// a signal closed the program (nobody may be there to answer it).
//
// Everything runs on the window thread; a QApplication must exist.

#include "engine/tcanbuffer.h"
#include "engine/tcanbuffertransmit.h"
#include "engine/tmultimediatimer.h"
#include "engine/tplotfeed.h"
#include "engine/trunengine.h"
#include "engine/tsettingsfile.h"
#include "can/tcanadapters.h"
#include "can/qtcanbus/qtcanbusdriverentry.h"
#include "can/tcandriverentry.h"

#include <memory>
#include <mutex>
#include <vector>

class QEventLoop;
class TCloseSignals;
class TCanChannelDialog;
class TCanChannelPort;
class TFBFormUeber;
class TFErrorHandler;
class TFOptions;
class TFPlot;
class TFQuorvella;
class TFSim_Lkw;
class TFValidFlagManip;
class TFVehicleData;
class TFFrameTrace;
class TUserQuery;

class TQuorvellaApp {
public:
    // The transmit timer.
    static constexpr uint32_t CanTimerPeriodMs = 2;
    static constexpr uint32_t CanTimerResolutionMs = 1;

    struct TSetup {
        // Where "Quorvella.xml" is read and written; empty: the process's working directory.
        TAString WorkingDirectory;
        // The drivers the registry offers (tests give drivers of their own).
        std::vector<TCanDriverEntry> Drivers = QtCanBusDriverTable();
        // The CAN channel dialog as the main window uses it; nullptr: the program's own.
        TCanChannelPort* CanChannelDialog = nullptr;
    };

    // Start-up; every question to the user goes to query, which must outlive this object.
    TQuorvellaApp(TUserQuery& query, TSetup setup);
    ~TQuorvellaApp();
    TQuorvellaApp(const TQuorvellaApp&) = delete;
    TQuorvellaApp& operator=(const TQuorvellaApp&) = delete;

    // Runs the message loop until the program ends (at once when it has ended already).
    int Exec();
    // The shutdown; the second and later calls do nothing.
    void Shutdown();
    // The user has ended the program (Close, or closing the main window).
    bool Terminated() const { return terminated_; }
    // The signal that closed the program, 0 when none did.
    int CloseSignal() const;
    // False when the shutdown could not save the settings.
    bool SettingsSaved() const { return settingsSaved_; }

    TSettingsFile& Settings() { return settings_; }
    TRunEngine& Engine() { return engine_; }
    TCanAdapters& Adapters() { return adapters_; }
    TCanBuffer& CanBuffer() { return canBuffer_; }
    TMultimediaTimer* CanTimer() { return canTimer_.get(); }
    bool CanTimerStarted() const { return canTimerStarted_; }

    TFQuorvella& MainWindow() { return *main_; }
    TFOptions& Options() { return *options_; }
    TFValidFlagManip& ValidFlagManip() { return *validFlagManip_; }
    TFVehicleData& VehicleData() { return *vehicleData_; }
    TFFrameTrace& FrameTrace() { return *frameTrace_; }
    TFPlot& Plot() { return *plot_; }
    TFSim_Lkw& Cockpit() { return *cockpit_; }
    TFBFormUeber& About() { return *about_; }
    TFErrorHandler& ErrorHandler() { return *errorHandler_; }
    TCanChannelDialog& CanChannelDialog() { return *canChannelDialog_; }

private:
    void Terminate();

    TUserQuery& query_;
    TSettingsFile settings_;
    std::mutex timerLock_;
    TCanBuffer canBuffer_;
    TCanBufferTransmit transmit_;
    std::vector<TCanDriverEntry> drivers_;
    TCanAdapters adapters_;
    // Declared after the registry: it stops (and joins its thread) before any channel
    // the buffer may still hold is deleted with its driver.
    std::unique_ptr<TMultimediaTimer> canTimer_;
    bool canTimerStarted_ = false;
    TRunEngine engine_;

    std::unique_ptr<TFQuorvella> main_;
    std::unique_ptr<TFOptions> options_;
    std::unique_ptr<TFValidFlagManip> validFlagManip_;
    std::unique_ptr<TFVehicleData> vehicleData_;
    std::unique_ptr<TFFrameTrace> frameTrace_;
    TPlotFeed plotFeed_;   // reads the plotted signals out of the frames that left
    std::unique_ptr<TFPlot> plot_;
    uint64_t plotSeen_ = 0;   // the last frame of the trace the plot has read
    std::unique_ptr<TFSim_Lkw> cockpit_;
    std::unique_ptr<TFBFormUeber> about_;
    std::unique_ptr<TFErrorHandler> errorHandler_;
    std::unique_ptr<TCanChannelDialog> canChannelDialog_;
    TCanChannelPort* canChannel_ = nullptr;   // canChannelDialog_ or the one given

    std::unique_ptr<TCloseSignals> closeSignals_;
    QEventLoop* loop_ = nullptr;
    bool terminated_ = false;
    bool settingsSaved_ = true;
    bool shutDown_ = false;
};

// The program's entry: the application object, the C number format for the log files,
// the real user query, start-up in the working directory, the message loop, shutdown.
int QuorvellaMain(int argc, char** argv);
