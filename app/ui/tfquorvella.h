#pragma once
// The main window "Tessmar - Quorvella": where the traffic comes from (vehicle
// simulation, internal log, user log), where it goes (CAN adapter, output log, data
// monitor), the manipulation and options windows, Start/Stop, the about box and Close.
//
// The window is a shell around the run engine: every click writes the control into
// TRunEngine::Controls and calls the engine; the engine reports back through TRunView
// (Start/Stop caption, the 50 ms TimerSys, destinations it switched off) and
// TErrorReporter (errors go to the error dialog). Every modal box goes through the
// user query.
//
// The frame-watch controls Edit1, Edit2, Button1 and Memo1 exist but lie outside the
// window's client area and are never shown.
//
// Below the buttons a status panel ("P_Status": "L_RunStatus", "L_SentStatus",
// "L_LogStatus", "L_WrittenStatus", "L_LogProblem", "L_TimerStatus", "L_LibraryStatus", "L_AdapterStatus") says what the run is
// doing, where its frames went and which scheduling the transmit timer got (TRunStatus); a failure to open or write the output log is shown there and in
// the error dialog. Every button and check box
// has a mnemonic of its own.
//
// A user log is loaded on a thread of its own (TLogLoadTask): while it loads, a progress
// bar and a Cancel button stand in for the file name and "...", and the window goes on
// handling events; the log reaches the engine on the window thread when it is complete.
// A log of several channels (ASC) or interfaces (candump) offers them in
// "C_ReplayChannels" below the file name: all of them merged (the default) or one.
//
// "Scenario..." (B_Scenario) below the vehicle simulation's button opens a scenario file:
// a bad one is refused in the error display with its line number, the line and what
// was expected, and nothing is loaded. "Play" (B_ScenarioPlay) plays the loaded one on
// the run's simulated clock from the run's start (it starts the run when none goes) or
// from now; "Stop" ends the playing, and the run goes on. A "stop" step ends the run.
// The status panel's "Scenario:" line (L_ScenarioStatus) shows the step carried out
// last while it plays, and that it ended or was stopped.
//
// The HTTP control API is a setting (TSettingsFile::Control, off by default): when on,
// the window serves it from the vehicle's start-up until the window closes, across
// runs (so that POST /run/start can start one); "Control:" (L_ControlStatus) shows
// where it listens or why it is not. A port in use is told in the error display and
// everything else goes on.
//
// Layout 5 holds only 29-bit frames of 8 bytes: Start with a user log holding other
// frames and an output log in layout 5 is refused, and the status panel says why.

#include "logs/tcanlog.h"
#include "engine/terrorreporter.h"
#include "logs/tlogloadtask.h"
#include "logs/tloglinewriter.h"
#include "engine/tmultimediatimer.h"
#include "engine/trunview.h"
#include "app/ui/tuserquery.h"
#include "can/tcanadapters.h"
#include "can/tcandriverentry.h"
#include "support/tastring.h"

#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QProgressBar;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class TCanAdapters;
class TCanChannelPort;
class TFBFormUeber;
class TFErrorHandler;
class TFPlot;
class TLkw;
class TRunCockpit;
class TRunEngine;
class TScenarioDrive;
class TValidManip;
class TSettingsFile;
class TTreeKey;

class TFQuorvella : public QWidget, public TRunView, public TErrorReporter {
    Q_OBJECT
public:
    // Outer size of the window; the designed client area is 594 x 469, the frame-watch
    // controls lie beyond this size. The window is as large as this plus its status
    // line, or larger where its font needs it.
    static constexpr int OuterWidth = 287;
    static constexpr int OuterHeight = 448;
    // The client area: the outer size less a single border and the caption.
    static constexpr int ClientWidth = OuterWidth - 6;
    static constexpr int ClientHeight = OuterHeight - 28;
    static constexpr const char* ProgName = "Quorvella";
    static constexpr const char* Version = "Version 2.12";

    // drivers: the registry's table, which turns a settings key into a channel description.
    TFQuorvella(TRunEngine& engine, TCanAdapters& adapters, const std::vector<TCanDriverEntry>& drivers,
                TSettingsFile& settings, TUserQuery& query, QWidget* parent = nullptr);
    ~TFQuorvella() override;
    TFQuorvella(const TFQuorvella&) = delete;
    TFQuorvella& operator=(const TFQuorvella&) = delete;

    // The windows the buttons show and hide and the dialogs they open; any may be
    // nullptr (its button then does nothing).
    struct TWindows {
        QWidget* Cockpit = nullptr;
        QWidget* ValidFlagManip = nullptr;
        QWidget* Options = nullptr;
        QWidget* VehicleData = nullptr;
        QWidget* FrameTrace = nullptr;
        TFBFormUeber* About = nullptr;
        TFErrorHandler* ErrorHandler = nullptr;
        TCanChannelPort* CanChannel = nullptr;
        TFPlot* Plot = nullptr;
    };
    void SetWindows(const TWindows& windows) { windows_ = windows; }
    // The transmit timer whose scheduling the status panel shows; it must outlive the
    // window or be unset (nullptr) first.
    void SetTransmitTimer(const TMultimediaTimer* timer)
    {
        transmitTimer_ = timer;
        ShowStatus();
    }
    // The scheduling the "Timer:" line shows while no transmit timer is set (a timer
    // elsewhere, or tests): its words as TMultimediaTimer::SchedulingText gives them.
    void SetTimerScheduling(const TAString& text)
    {
        timerScheduling_ = text;
        ShowStatus();
    }

    // The vehicle a scenario and the control API drive: the cockpit window that owns
    // lkw, and the validity choices. The engine then steps the cockpit through the
    // scenario player; the control API starts when the settings say so. Each must
    // outlive the window, or ReleaseVehicle be called first.
    void SetVehicle(TRunCockpit& cockpit, TLkw& lkw, TValidManip& validity);
    // Ends the control API's thread and gives the engine the cockpit itself again.
    void ReleaseVehicle();

    // "Scenario...": asks for a file (OD_Scenario) and loads it.
    void B_ScenarioClick();
    // Reads, parses and checks file; true when it is the loaded scenario now. A refusal
    // or a file that cannot be read is shown in the error display, and the scenario
    // loaded before stays.
    bool LoadScenario(const TAString& file);
    // Play / Stop.
    void B_ScenarioPlayClick();
    bool ScenarioPlaying() const;

    // (Re)starts or stops the control API as the settings now say; the options window
    // calls it after Apply. The port it listens on, 0 while it does not.
    void ApplyControlSetting();
    uint16_t ControlPort() const { return controlPort_; }

    // Called once when the user ends the program (Close, or closing the window).
    void SetOnTerminate(std::function<void()> onTerminate) { onTerminate_ = std::move(onTerminate); }

    // Opens the channel the settings key describes, closing the open one first. When the
    // Vector library is missing the user is asked for its path and the open is tried
    // again. Every failure unchecks CB_SendCAN and is shown.
    void InitCan(const TTreeKey& key);
    // Start-up: InitCan with the first child key of "CanAdapter"; CB_SendCAN is
    // unchecked when there is none. The settings of a first start name no adapter (the
    // key "-"): nothing is opened and no error shown; "L_AdapterStatus" in the status
    // panel says where to choose one until a channel is configured.
    void OpenConfiguredChannel();

    // The handlers.
    void B_StartStopClick();
    void ChangeDataSourceClick();
    void B_LogFileClick();
    // Starts loading fileName as the user log (what B_LogFileClick does once a file is chosen).
    void LoadUserLog(const TAString& fileName);
    // Ends the load in progress without a log.
    void B_LogLoadCancelClick();
    // A user log is being loaded.
    bool LoadingUserLog() const { return logLoad_.Busy(); }
    // The channel chosen in C_ReplayChannels: the log's frames of all of them (item 0)
    // or of the one chosen go to the engine.
    void C_ReplayChannelsChange();
    // The reader of user logs (tests give one they control).
    void SetLogReader(TLogLoadTask::TReader reader) { logLoad_.SetReader(std::move(reader)); }
    // The output log's format chosen in C_LogFormat (kept in the settings file as
    // "LogFileFormat": "l5", "asc" or "candump"). A change closes the output log open
    // in the other format and unchecks CB_LogFile; the save dialog offers the format's
    // extension.
    TLogOutFormat LogOutFormat() const;
    void C_LogFormatChange();
    // "Log received frames" (CB_LogReceived, kept as "LogReceivedFrames": "1" or "0"):
    // what the channel receives goes to the output log too. Layout 5 has no direction:
    // with it the box is unticked and cannot be ticked, and its hint says why.
    void CB_LogReceivedClick();
    void RB_FzgSimClick();
    void B_ValidManipClick();
    void B_OptionsClick();
    void B_VehDataMonClick();
    void B_FrameTraceClick();
    // "Plot" (B_Plot): shows or hides the plot window.
    void B_PlotClick();
    void CB_SendCANClick();
    void B_CfgCANClick();
    void CB_LogFileClick();
    void B_FileNameLogOutClick();
    void B_InfoClick();
    void B_ExitClick();
    void TimerSysTimer();
    // Every millisecond of a run: reads what the channel received and answers requests
    // at once. After Stop, every 50 ms until the transmit buffer is empty: the frames
    // written before the stop still leave, and count (Sent, the output log) when the
    // medium took them.
    void PollTimer();

    // TRunView
    void RunStateChanged(bool running) override;
    void ControlsChanged() override;
    // TErrorReporter: through the error dialog.
    void ShowError(const TBaseError& error) override;
    // How a channel closed by the window hands over what it took and tells what it lost.
    TCanAdapters::TClosing ClosingHandover();

    const TAString& LogOutFileName() const { return logOutFileName_; }
    const QTimer& TimerSys() const { return timerSys_; }
    const QTimer& PollTimerSys() const { return pollTimer_; }

    // The file dialogs as the user sees them.
    TFileRequest OD_LogFile;
    TFileRequest SD_LogFileOut;
    TFileRequest OpenDialog2;
    TFileRequest OD_Scenario;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void ReadControls();
    void ShowStatus();
    // The window's size from its contents, limited to the screen (scrolling there).
    void FitWindow();
    // Makes the status texts' column wide enough for text in line.
    void KeepWhole(QLabel* line, const QString& text);
    void LogLoadTimer();
    void ApplyLogFormat();
    void EnableLogReceived();
    void ShowLogLoading(bool loading);
    static void ToggleWindow(QWidget* window);
    // The scenario and the control API after each tick and, while no run goes and the
    // API is on, every tick's time as well.
    void DriveTick();
    void ShowDriveStatus();
    void TellDrive(const TBaseError& error);
    void EnableScenario();

    TRunEngine& engine_;
    TCanAdapters& adapters_;
    const std::vector<TCanDriverEntry>& drivers_;
    TSettingsFile& settings_;
    TUserQuery& query_;
    TWindows windows_;
    std::function<void()> onTerminate_;
    bool terminated_ = false;
    TAString logOutFileName_;
    TAString logError_;      // why the output log could not be opened or written
    int runErrors_ = 0;      // errors of the current (or last) run, listed in the error window
    bool started_ = false;   // a run has started since the window was made
    QTimer timerSys_;
    QTimer pollTimer_;
    TLogLoadTask logLoad_;
    TCanLog fullLog_;         // the user log with every channel, while it has several
    TAString startRefusal_;   // why Start was refused, for the status panel
    QTimer logLoadTimer_;

    QRadioButton* RB_Simulation = nullptr;
    QRadioButton* RB_InternLog = nullptr;
    QRadioButton* RB_CanLog = nullptr;
    QPushButton* RB_FzgSim = nullptr;
    QCheckBox* C_Replay = nullptr;
    QCheckBox* CB_FromFirstFrame = nullptr;
    QLineEdit* E_LogFile = nullptr;
    QPushButton* B_LogFile = nullptr;
    QProgressBar* PB_LogLoad = nullptr;
    QPushButton* B_LogLoadCancel = nullptr;
    QComboBox* C_ReplayChannels = nullptr;
    QCheckBox* CB_VFMActive = nullptr;
    QPushButton* B_ValidManip = nullptr;
    QPushButton* B_Options = nullptr;
    QCheckBox* CB_Display = nullptr;
    QPushButton* B_VehDataMon = nullptr;
    QPushButton* B_FrameTrace = nullptr;
    QPushButton* B_Plot = nullptr;
    QCheckBox* CB_SendCAN = nullptr;
    QPushButton* B_CfgCAN = nullptr;
    QCheckBox* CB_LogFile = nullptr;
    QComboBox* C_LogFormat = nullptr;
    QCheckBox* CB_LogReceived = nullptr;
    QPushButton* B_FileNameLogOut = nullptr;
    QPushButton* B_StartStop = nullptr;
    QPushButton* B_Info = nullptr;
    QPushButton* B_Exit = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QPushButton* Button1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QLabel* L_RunStatus = nullptr;
    QLabel* L_SentStatus = nullptr;
    QLabel* L_LogStatus = nullptr;
    QLabel* L_WrittenStatus = nullptr;
    QLabel* L_LogProblem = nullptr;
    QLabel* L_TimerStatus = nullptr;
    QLabel* L_LibraryStatus = nullptr;   // the vendor libraries loaded, with their paths
    QLabel* L_AdapterStatus = nullptr;   // where to configure an adapter while none is
    QWidget* body_ = nullptr;            // every control, in the scroll area "SB_Window"
    QWidget* status_ = nullptr;
    QGridLayout* statusLines_ = nullptr;
    int statusWidth_ = 0;                // the status texts' column, pixels
    TAString timerScheduling_;
    TAString adapterHint_;
    TAString claimProblem_;              // why a settings entry of the address claim was not used
    const TMultimediaTimer* transmitTimer_ = nullptr;

    // The scenario and the control API.
    std::unique_ptr<TScenarioDrive> drive_;
    TRunCockpit* plainCockpit_ = nullptr;
    struct TLoadedScenario;
    std::unique_ptr<TLoadedScenario> scenario_;
    TAString scenarioEnd_;       // how the last playing ended ("ended at line 9: stop")
    bool stopSeen_ = false;      // the scenario's stop step has ended the run
    uint16_t controlPort_ = 0;
    TAString controlText_;       // the "Control:" line
    QTimer controlTimer_;        // the API's requests while no run goes
    QPushButton* B_Scenario = nullptr;
    QPushButton* B_ScenarioPlay = nullptr;
    QLabel* L_ScenarioStatus = nullptr;
    QLabel* L_ControlStatus = nullptr;
};
