#pragma once
// The cockpit window "Tessmar - Vehicle Simulation": the user drives the simulated
// vehicle with track bars and switches and sets every further signal; the window owns
// the vehicle model, writes each control into it under the control's value name
// (MVCockpitChange), shows the model on two round gauges and in value fields, and is
// stepped by the main tick through TRunCockpit.
//
// Every control carries its object name; signal controls carry their J1939 SPN as the
// dynamic property "tag" (0 for the time and date fields).
//
// "Record" (B_Record) writes what the user does in the cockpit, with the run's times, as
// a scenario (TScenarioRecorder): every model value, identification and tell-tale an
// action changed becomes a line, the starter a "starter" line. Pressed while no run
// goes, it starts one, as the starter does. Pressed again, it ends the recording with a
// stop step and asks for the file to write it to. What a scenario cannot say (the auto
// clutch box, "No automatic simulation ") is told in the error display, as is a
// recording that could not be written; the text is never cut.

#include "engine/truncockpit.h"
#include "engine/tscenariorecorder.h"
#include "sim/tcockpitsignals.h"
#include "sim/ttelltales.h"

#include <QImage>
#include <QWidget>

#include <functional>
#include <map>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

class QBoxLayout;
class QCheckBox;
class QLabel;
class QPushButton;
class QSlider;
class TANumEdit;
class TAStringEdit;
class TAnzeigeRund;
class TErrorReporter;
class TLkw;
class TTellTaleField;
class TXmlElement;

class TFSim_Lkw : public QWidget, public TRunCockpit {
    Q_OBJECT
public:
    // The designed client area. The window is larger where its font needs more room,
    // and no larger than the usable area of its screen (its body then scrolls).
    static constexpr int ClientWidth = 792;
    static constexpr int ClientHeight = 567;
    // The measured values' height below the cockpit on a narrow screen: a few groups
    // of the list in view.
    static constexpr int StackedMeasuredHeight = 320;

    // settings: the "FzgSim" key of the settings tree, or nullptr (the window then
    // starts at 0, 0 and stores nothing). It must outlive the window.
    // Throws TBaseError("Exit", "Null") when the model cannot be built.
    explicit TFSim_Lkw(TXmlElement* settings = nullptr, QWidget* parent = nullptr);
    ~TFSim_Lkw() override;
    TFSim_Lkw(const TFSim_Lkw&) = delete;
    TFSim_Lkw& operator=(const TFSim_Lkw&) = delete;

    // The tick's entry, every 20 ms of simulated time: unless "No automatic
    // simulation " is checked the model advances by dt and, when refresh is set, the
    // gauges and value fields show it; checked, only the date and time advance. The
    // model's values (TLkw::Snapshot) are returned either way.
    const TSignalSnapshot& Step(double dt, bool refresh) override;
    const TSignalSnapshot& Values() override;

    // What the starter uses to start a run: start is called when running() says that
    // no run is in progress (the main window passes the run engine's Start and Running).
    void SetRunControl(std::function<void()> start, std::function<bool()> running);
    // The run's time in µs (the run engine's SimTime), which recorded steps are stamped
    // with, and where a finished recording goes: the file the user chooses (nothing:
    // cancelled). Without a clock every step is stamped 0.
    void SetRecording(std::function<int64_t()> now, std::function<std::optional<TAString>()> askFile);
    // "Record": starts a recording (and the run when none goes), or ends it and writes it.
    void B_RecordClick();
    bool Recording() const { return recorder_.Recording(); }
    // The recording so far, or the last one.
    const TAString& RecordedText() const { return recorder_.Text(); }

    // Where errors of the window's own actions are shown; nullptr: nowhere.
    void SetErrorReporter(TErrorReporter* reporter) { errors_ = reporter; }

    // Writes the window's top and left as decimal text under "Position Top" and
    // "Position Left" of the settings key (at shutdown, before the settings are saved).
    void StorePosition();

    // Writes the control sender (by its tag) into the model; with no sender, every
    // signal control in ascending tag order; with a sender whose tag is below 1 (a time
    // or date field), every signal control but those the model feeds (ModelFed).
    void MVCockpitChange(QWidget* sender);
    // A field the display update rewrites from the running model: the two gauge
    // fields and TCockpitTable::DisplayFields.
    static bool ModelFed(const TCockpitControl& control);

    // The display update of Step, on its own.
    void UpdateDisplay();
    // The time and date fields rewritten from the model's running clock (also while the
    // vehicle model stands still).
    void UpdateClockFields();

    TLkw& Lkw() { return *lkw_; }
    const TTellTales& TellTales() const { return tellTales_; }
    // As a click on the tell-tale cell index (0..40; other indices do nothing).
    void ClickTellTale(int index);
    // The tell-tale field as drawn (256 x 192).
    const QImage& TellTaleImage() const { return tellTaleImage_; }

private:
    class TControlValues;

    void BuildWindow();
    QWidget* BuildCockpitGroup(QWidget* parent);
    QWidget* BuildMeasuredGroup(QWidget* parent);
    QWidget* MakeSignalControl(const TCockpitControl& control, QWidget* parent);
    void SetTabOrder();
    void ReadPosition();
    void CreateModel();
    void WriteModelToControls();

    void TB_AccelChange();
    void TB_BrakeChange();
    void TB_ClutchChange();
    void TB_GangChange();
    void CB_IgnitionClick();
    void StarterClick();
    void CB_TempomatClick();

    void DrawTellTale(int index);
    void TellTaleReleased(int x, int y);
    void TellTaleMoved(int x, int y);

    template <class T> T* Control(const char* name) const;

    // What a recording compares before and after a user's action.
    struct TModelState {
        std::vector<double> Values;
        TAString VehicleId, Driver1, Driver2, TellTales;
    };
    TModelState Capture() const;
    // Runs action; while recording, writes every change it made to the model.
    template <class F> void Recorded(F&& action);
    int64_t RecordTime();
    void FinishRecording();

    TScenarioRecorder recorder_;
    std::function<int64_t()> recordClock_;
    std::function<std::optional<TAString>()> recordFile_;
    int recordDepth_ = 0;
    int64_t recordLast_ = 0;       // the last stamp, µs of the recording's clock
    int64_t recordOffset_ = 0;     // added when a new run starts the run's clock at 0 again
    std::set<std::string> notRecorded_;   // what the recording could not hold

    TXmlElement* settings_;
    std::unique_ptr<TLkw> lkw_;
    TTellTales tellTales_;
    QImage tellTaleImage_;
    int hintCell_ = -1;
    bool ready_ = false;   // the controls and the model are complete

    std::function<void()> startRun_;
    std::function<bool()> runInProgress_;
    TErrorReporter* errors_ = nullptr;

    QSlider* TB_Accel = nullptr;
    QSlider* TB_Brake = nullptr;
    QSlider* TB_Clutch = nullptr;
    QSlider* TB_Gang = nullptr;
    QCheckBox* CBAutoClutch = nullptr;
    QCheckBox* CB_Ignition = nullptr;
    QPushButton* Starter = nullptr;
    QCheckBox* CB_Tempomat = nullptr;
    QCheckBox* CB_Manual = nullptr;
    QPushButton* B_Beenden = nullptr;
    QPushButton* B_Record = nullptr;
    QLabel* ImgTacho = nullptr;
    QLabel* ImgDrehzahl = nullptr;
    TTellTaleField* ImgTellTale = nullptr;
    QBoxLayout* groups_ = nullptr;      // the cockpit beside (or above) the measured values
    QWidget* measured_ = nullptr;       // "Measured values"

    // Signal controls by object name, and the edit wrapper of each edit.
    std::map<std::string, QWidget*> controls_;
    std::map<std::string, std::unique_ptr<TAStringEdit>> edits_;
    std::unique_ptr<TAnzeigeRund> speedGauge_;
    std::unique_ptr<TAnzeigeRund> engineGauge_;
};
