#include "app/ui/tfquorvella.h"

#include "engine/terrortable.h"
#include "logs/tinternallog.h"
#include "engine/trunengine.h"
#include "engine/trunstatus.h"
#include "engine/tsettingsfile.h"
#include "app/ui/tcanchannelport.h"
#include "app/ui/tfbformueber.h"
#include "app/ui/tferrorhandler.h"
#include "app/ui/tfplot.h"
#include "app/ui/tscenariodrive.h"
#include "can/vector/tsharedlibrary.h"
#include "can/tcanadapters.h"
#include "can/vector/tcandrivervector.h"
#include "support/tbaseerror.h"
#include "support/tsafefile.h"
#include "support/txmlelement.h"
#include "support/ui/tscreenfit.h"
#include "support/ui/tqtext.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFrame>
#include <QKeySequence>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QVBoxLayout>
#include <QScrollArea>
#include <QStyle>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <new>
#include <optional>
#include <system_error>
#include <vector>

namespace {

using qv::Q;
using qv::T;


// One line of the status: a text longer than the line keeps its beginning and end,
// with the whole text as the hint (otherwise the hint set for it).
class TStatusLine final : public QLabel {
public:
    explicit TStatusLine(QWidget* parent) : QLabel(parent)
    {
        // The line fits its text into the window's width, not the window into the text.
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        setMinimumHeight(fontMetrics().height());
    }
    void SetLine(const QString& line, const QString& hint)
    {
        line_ = line;
        hint_ = hint;
        Fit();
    }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QLabel::resizeEvent(event);
        Fit();
    }

private:
    void Fit()
    {
        const QString shown = fontMetrics().elidedText(line_, Qt::ElideMiddle, contentsRect().width());
        if (text() != shown) setText(shown);
        setToolTip(shown == line_ ? hint_ : line_);
    }
    QString line_;
    QString hint_;
};

// The user log's progress: "Loading <file>: 42%". A file name too long for the bar
// keeps its beginning and end, the whole name in the hint; the count is always shown.
class TLoadBar final : public QProgressBar {
public:
    explicit TLoadBar(QWidget* parent) : QProgressBar(parent) {}
    void SetFileName(const QString& name)
    {
        name_ = name;
        setToolTip(name);
        update();
    }
    QString text() const override
    {
        const QString whole = Line(name_);
        const int room = contentsRect().width() - 2 * TextMargin;
        if (fontMetrics().horizontalAdvance(whole) <= room) return whole;
        const int rest = fontMetrics().horizontalAdvance(Line(QString()));
        return Line(fontMetrics().elidedText(name_, Qt::ElideMiddle, std::max(0, room - rest)));
    }
    // Room the style leaves between the bar's edge and its text, each side.
    static constexpr int TextMargin = 4;

private:
    QString Line(const QString& name) const
    {
        const int span = maximum() - minimum();
        const int percent = span > 0 ? static_cast<int>((100LL * (value() - minimum())) / span) : 0;
        return QString("Loading %1: %2%").arg(name).arg(percent);
    }
    QString name_;
};

bool FileExists(const TAString& name)
{
    std::error_code ec;
    return std::filesystem::is_regular_file(std::filesystem::path(name.str()), ec);
}

// C_LogFormat's items, in this order, and the settings key that keeps the choice.
constexpr TLogOutFormat LogFormats[] = {TLogOutFormat::Layout5, TLogOutFormat::Asc, TLogOutFormat::Candump};
constexpr const char* LogFormatCaptions[] = {"Layout 5", "ASC", "candump"};
constexpr const char* LogFormatKey = "LogFileFormat";
constexpr const char* LogReceivedKey = "LogReceivedFrames";
constexpr const char* LogReceivedHint =
    "Frames the channel receives (a device's requests and any other) go to the output log too: "
    "as \"Rx\" lines in ASC, as \"R\" lines in a candump log (sent frames: \"Tx\", \"T\")";
constexpr const char* LogReceivedRefused =
    "Layout 5 has no direction to tell received frames from sent ones: choose ASC or candump to log them";
// The child key of "CanAdapter" in the settings of a first start: no adapter chosen yet.
constexpr const char* NoAdapterKey = "-";
constexpr const char* NoAdapterHint = "none configured: choose one with Config beside CAN-Adapter";
// The user log's progress bar counts in tenths of a percent.
constexpr int LogLoadSteps = 1000;

}  // namespace

struct TFQuorvella::TLoadedScenario {
    TScenario Scenario;
    TAString FileName;   // without its folder
};

TFQuorvella::TFQuorvella(TRunEngine& engine, TCanAdapters& adapters, const std::vector<TCanDriverEntry>& drivers,
                         TSettingsFile& settings, TUserQuery& query, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      engine_(engine), adapters_(adapters), drivers_(drivers), settings_(settings), query_(query)
{
    setObjectName("TFQuorvella");
    setWindowTitle("Tessmar - Quorvella");

    // A candump log is a ".log" file.
    OD_LogFile = TFileRequest{"", "", "asc", "CAN logs|*.asc;*.log|*.asc|*.asc|*.log|*.log"};
    SD_LogFileOut = TFileRequest{"", "", "asc", "*.asc|*.asc"};
    OpenDialog2 = TFileRequest{"File 'vcand32.dll' not found. Please enter path", "vcand32.dll", "", ""};
    OD_Scenario = TFileRequest{"Scenario", "", "txt", "Scenarios|*.txt;*.scn|All files|*"};

    BuildControls();

    timerSys_.setInterval(TRunEngine::TickIntervalMs);
    timerSys_.setTimerType(Qt::PreciseTimer);
    connect(&timerSys_, &QTimer::timeout, this, &TFQuorvella::TimerSysTimer);
    pollTimer_.setTimerType(Qt::PreciseTimer);
    connect(&pollTimer_, &QTimer::timeout, this, &TFQuorvella::PollTimer);
    logLoadTimer_.setInterval(TRunEngine::TickIntervalMs);
    connect(&logLoadTimer_, &QTimer::timeout, this, &TFQuorvella::LogLoadTimer);
    controlTimer_.setInterval(TRunEngine::TickIntervalMs);
    connect(&controlTimer_, &QTimer::timeout, this, [this] {
        if (!engine_.Running()) DriveTick();
    });

    // The output log's format as the user left it.
    try {
        const TXmlElement& config = settings_.Config();
        if (config.Contains(LogFormatKey)) {
            const std::optional<TLogOutFormat> format = TLogLineWriter::FromName(config[LogFormatKey]("<TEXT>").str());
            for (int i = 0; format && i < C_LogFormat->count(); ++i)
                if (LogFormats[i] == *format) C_LogFormat->setCurrentIndex(i);
        }
    } catch (const TBaseError&) {
        // A key without text: the default format.
    }
    try {
        const TXmlElement& config = settings_.Config();
        CB_LogReceived->setChecked(config.Contains(LogReceivedKey) && config[LogReceivedKey]("<TEXT>") == "1");
    } catch (const TBaseError&) {
        // A key without text: not ticked.
    }
    ApplyLogFormat();
    // The vehicle as a J1939 node, as the settings file has it.
    const TSettingsFile::TClaimSettings claim = TSettingsFile::AddressClaim(settings_.Config());
    engine_.AddressClaim().SetEnabled(claim.Enabled);
    engine_.AddressClaim().SetName(claim.Name);
    claimProblem_ = claim.Problem;

    engine_.InternalLines = TInternalLog::Log();
    ReadControls();
    engine_.SetView(this);
    engine_.SetErrorReporter(this);
    ShowStatus();
    TScreenFit::Centre(*this);
    TScreenFit::Keep(*this);
}

TFQuorvella::~TFQuorvella()
{
    timerSys_.stop();
    pollTimer_.stop();
    logLoadTimer_.stop();
    controlTimer_.stop();
    // The server's thread ends before the hub and the checks it reads; the cockpit may
    // be gone already, so the engine is left without one.
    if (drive_) {
        drive_->StopControl();
        engine_.SetCockpit(nullptr);
        engine_.SetReceivedFrameSink(nullptr);
        drive_.reset();
    }
    engine_.SetView(nullptr);
    engine_.SetErrorReporter(nullptr);
}

void TFQuorvella::BuildControls()
{
    auto button = [](QWidget* parent, const char* name, const char* caption) {
        auto* b = new QPushButton(caption, parent);
        b->setObjectName(name);
        return b;
    };
    auto check = [](QWidget* parent, const char* name, const char* caption, bool checked) {
        auto* c = new QCheckBox(caption, parent);
        c->setObjectName(name);
        c->setChecked(checked);
        return c;
    };
    auto radio = [](QWidget* parent, const char* name, const char* caption) {
        auto* r = new QRadioButton(caption, parent);
        r->setObjectName(name);
        return r;
    };
    // A group of rows: a choice on the left, its button in a right column of equal
    // buttons; the middle column is free for what a row may need later.
    auto grid = [](QGroupBox* group) {
        auto* g = new QGridLayout(group);
        g->setColumnStretch(1, 1);
        g->setVerticalSpacing(4);
        return g;
    };

    // Every caption carries a mnemonic (Alt and the underlined letter); no two share one.
    auto* source = new QGroupBox("Source of FMS-Standard", this);
    source->setObjectName("GB_Source");
    QGridLayout* s = grid(source);
    RB_Simulation = radio(source, "RB_Simulation", "Ve&hicle Simulation");
    RB_Simulation->setChecked(true);
    RB_FzgSim = button(source, "RB_FzgSim", "Si&mulation");
    // Every letter of "Scenario..." is another control's mnemonic, and so is every letter
    // of "Stop", which "Play" turns into while a scenario plays: both are reached with Tab.
    B_Scenario = button(source, "B_Scenario", "Scenario...");
    B_Scenario->setToolTip("Load a scenario: a drive written as timed steps, one a line");
    B_ScenarioPlay = button(source, "B_ScenarioPlay", "Play");
    B_ScenarioPlay->setToolTip("Play the scenario on the run's clock (starts the run when none goes), or stop it");
    B_ScenarioPlay->setEnabled(false);
    RB_InternLog = radio(source, "RB_InternLog", "I&nternal LogFile");
    RB_CanLog = radio(source, "RB_CanLog", "&User Logfile");
    C_Replay = check(source, "C_Replay", "&Repeat", false);
    C_Replay->setEnabled(false);
    C_Replay->setToolTip("When checked 'Replay' the opened logfile is sended continuos");
    CB_FromFirstFrame = check(source, "CB_FromFirstFrame", "Start &at first frame", false);
    CB_FromFirstFrame->setEnabled(false);
    CB_FromFirstFrame->setToolTip("The log's first frame is sent at Start, the others as far after it as the log says");
    E_LogFile = new QLineEdit(source);
    E_LogFile->setObjectName("E_LogFile");
    E_LogFile->setReadOnly(true);
    E_LogFile->setEnabled(false);
    B_LogFile = button(source, "B_LogFile", "...");
    B_LogFile->setEnabled(false);
    B_LogFile->setToolTip("Choose the user log file");
    B_LogFile->setFixedWidth(std::max(30, B_LogFile->fontMetrics().horizontalAdvance("...") + 16));
    // While a user log loads, in place of the file name and "...".
    PB_LogLoad = new TLoadBar(source);
    PB_LogLoad->setObjectName("PB_LogLoad");
    PB_LogLoad->setRange(0, LogLoadSteps);
    PB_LogLoad->hide();
    // Every letter of "Cancel" is another control's mnemonic: Escape presses it while a
    // log loads (the shortcut is live only while the button is shown).
    B_LogLoadCancel = button(source, "B_LogLoadCancel", "Cancel");
    B_LogLoadCancel->setShortcut(QKeySequence(Qt::Key_Escape));
    B_LogLoadCancel->setToolTip("Stop loading the user log (Esc)");
    B_LogLoadCancel->hide();
    // Shown for a user log of several channels or interfaces.
    C_ReplayChannels = new QComboBox(source);
    C_ReplayChannels->setObjectName("C_ReplayChannels");
    C_ReplayChannels->setToolTip("The channels of the user log that are replayed: all of them merged, or one");
    C_ReplayChannels->hide();
    s->addWidget(RB_Simulation, 0, 0);
    s->addWidget(RB_FzgSim, 0, 2);
    s->addWidget(RB_InternLog, 1, 0);
    s->addWidget(B_Scenario, 1, 2);
    s->addWidget(RB_CanLog, 2, 0);
    s->addWidget(B_ScenarioPlay, 2, 2);
    auto* replay = new QHBoxLayout;
    replay->addWidget(C_Replay);
    replay->addSpacing(12);
    replay->addWidget(CB_FromFirstFrame);
    replay->addStretch(1);
    s->addLayout(replay, 3, 0, 1, 3);
    auto* file = new QHBoxLayout;
    file->addWidget(E_LogFile, 1);
    file->addWidget(B_LogFile);
    file->addWidget(PB_LogLoad, 1);
    file->addWidget(B_LogLoadCancel);
    s->addLayout(file, 4, 0, 1, 3);
    s->addWidget(C_ReplayChannels, 5, 0, 1, 3);

    auto* manipulation = new QGroupBox("Manipulation", this);
    manipulation->setObjectName("GB_Manipulation");
    QGridLayout* m = grid(manipulation);
    CB_VFMActive = check(manipulation, "CB_VFMActive", "&Valid Manipulation", true);
    B_ValidManip = button(manipulation, "B_ValidManip", "Con&fig");
    B_Options = button(manipulation, "B_Options", "&Options");
    m->addWidget(CB_VFMActive, 0, 0);
    m->addWidget(B_ValidManip, 0, 2);
    m->addWidget(B_Options, 1, 2);

    auto* destination = new QGroupBox("Destination of FMS-Standard", this);
    destination->setObjectName("GB_Destination");
    QGridLayout* d = grid(destination);
    CB_Display = check(destination, "CB_Display", "&Data Monitor", true);
    B_VehDataMon = button(destination, "B_VehDataMon", "Moni&tor");
    B_FrameTrace = button(destination, "B_FrameTrace", "&Bus Trace");
    B_FrameTrace->setToolTip("The frames on the bus as they leave and arrive");
    // Every letter of "Plot" is another control's mnemonic: it is reached with Tab only.
    B_Plot = button(destination, "B_Plot", "Plot");
    B_Plot->setToolTip("Plot signals over time (pick them in the data monitor or in the plot window)");
    CB_SendCAN = check(destination, "CB_SendCAN", "CAN-Ada&pter", true);
    B_CfgCAN = button(destination, "B_CfgCAN", "Confi&g");
    CB_LogFile = check(destination, "CB_LogFile", "&Logfile", false);
    C_LogFormat = new QComboBox(destination);
    C_LogFormat->setObjectName("C_LogFormat");
    for (const char* caption : LogFormatCaptions) C_LogFormat->addItem(caption);
    C_LogFormat->setToolTip("The output log's format: layout 5, ASC or a candump log");
    B_FileNameLogOut = button(destination, "B_FileNameLogOut", "Sav&e");
    // Every letter of "Log received frames" is another control's mnemonic: it is reached
    // with Tab only.
    CB_LogReceived = check(destination, "CB_LogReceived", "Log received frames", false);
    CB_LogReceived->setToolTip(LogReceivedHint);
    d->addWidget(CB_Display, 0, 0);
    {
        // Plot and Bus Trace share the cell between the monitor's box and its button.
        auto* views = new QHBoxLayout;
        views->setContentsMargins(0, 0, 0, 0);
        views->addWidget(B_Plot);
        views->addWidget(B_FrameTrace);
        d->addLayout(views, 0, 1, Qt::AlignRight);
    }
    d->addWidget(B_VehDataMon, 0, 2);
    d->addWidget(CB_SendCAN, 1, 0);
    d->addWidget(B_CfgCAN, 1, 2);
    d->addWidget(CB_LogFile, 2, 0);
    d->addWidget(C_LogFormat, 2, 1, Qt::AlignLeft);
    d->addWidget(B_FileNameLogOut, 2, 2);
    d->addWidget(CB_LogReceived, 3, 0, 1, 3, Qt::AlignLeft);   // as wide as its caption: a click beside it misses

    B_StartStop = button(this, "B_StartStop", "&Start");
    B_Info = button(this, "B_Info", "&Info");
    B_Exit = button(this, "B_Exit", "&Close");

    // The status line: what the run is doing and where its frames went.
    auto* status = new QFrame(this);
    status_ = status;
    status->setObjectName("P_Status");
    status->setFrameShape(QFrame::StyledPanel);
    status->setFrameShadow(QFrame::Sunken);
    auto* lines = new QGridLayout(status);
    statusLines_ = lines;
    lines->setContentsMargins(6, 3, 6, 3);
    lines->setVerticalSpacing(1);
    lines->setColumnStretch(1, 1);
    const struct {
        const char* caption;
        const char* name;
        QLabel*& value;
    } rows[] = {{TRunStatus::RunCaption, "L_RunStatus", L_RunStatus},
                {TRunStatus::SentCaption, "L_SentStatus", L_SentStatus},
                {TRunStatus::LogCaption, "L_LogStatus", L_LogStatus},
                {TRunStatus::WrittenCaption, "L_WrittenStatus", L_WrittenStatus},
                {nullptr, "L_LogProblem", L_LogProblem},
                {TRunStatus::TimerCaption, "L_TimerStatus", L_TimerStatus},
                {"Library:", "L_LibraryStatus", L_LibraryStatus},
                {"Adapter:", "L_AdapterStatus", L_AdapterStatus},
                {"Scenario:", "L_ScenarioStatus", L_ScenarioStatus},
                {"Control:", "L_ControlStatus", L_ControlStatus}};
    int row = 0;
    for (const auto& r : rows) {
        if (r.caption == nullptr) {
            // The reason an output log failed, under its count; empty otherwise.
            r.value = new TStatusLine(status);
            r.value->setObjectName(r.name);
            QPalette warning = r.value->palette();
            warning.setColor(QPalette::WindowText, Qt::red);
            r.value->setPalette(warning);
            lines->addWidget(r.value, row++, 0, 1, 2);
            continue;
        }
        auto* caption = new QLabel(r.caption, status);
        caption->setObjectName(QString(r.name).replace("Status", "Caption"));
        r.value = new TStatusLine(status);
        r.value->setObjectName(r.name);
        lines->addWidget(caption, row, 0);
        lines->addWidget(r.value, row, 1);
        ++row;
    }
    // Room for a long run's counts beside their captions; longer texts (a file name)
    // are shortened in the middle, whole in their hint.
    // The timer's longest scheduling text stays whole too.
    const QFontMetrics metrics = L_SentStatus->fontMetrics();
    statusWidth_ = std::max({metrics.horizontalAdvance("9999999 frames (CAN-Adapter off)"),
                             metrics.horizontalAdvance("real-time (SCHED_FIFO 10), memory not locked"),
                             metrics.horizontalAdvance("normal (no permission for real-time scheduling)")});
    lines->setColumnMinimumWidth(1, statusWidth_);
    // Shown only while no adapter is configured: where to configure one.
    L_AdapterStatus->setVisible(false);
    findChild<QWidget*>("L_AdapterCaption")->setVisible(false);
    // Shown once a scenario is loaded, and while the control API is on.
    for (const char* line : {"L_ScenarioStatus", "L_ScenarioCaption", "L_ControlStatus", "L_ControlCaption"})
        findChild<QWidget*>(line)->setVisible(false);

    // Everything stands in a scroll area that shows scroll bars only on a screen too
    // small for the window, so that no control is ever squeezed below its size.
    body_ = new QWidget;
    body_->setObjectName("P_Body");
    auto* column = new QVBoxLayout(body_);
    column->setContentsMargins(8, 6, 8, 6);
    column->addWidget(source);
    column->addWidget(manipulation);
    column->addWidget(destination);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {B_StartStop, B_Info, B_Exit}) {
        b->setMinimumHeight(30);
        buttons->addWidget(b, 1);
    }
    column->addSpacing(4);
    column->addLayout(buttons);
    column->addWidget(status);

    // The right column's buttons all as wide as the widest one.
    int buttonWidth = 82;
    for (QPushButton* b : {RB_FzgSim, B_Scenario, B_ScenarioPlay, B_ValidManip, B_Options, B_VehDataMon, B_CfgCAN,
                           B_FileNameLogOut})
        buttonWidth = std::max(buttonWidth, b->sizeHint().width());
    for (QPushButton* b : {RB_FzgSim, B_Scenario, B_ScenarioPlay, B_ValidManip, B_Options, B_VehDataMon, B_CfgCAN,
                           B_FileNameLogOut})
        b->setFixedWidth(buttonWidth);

    // The frame watch: beyond the client area, never shown.
    Edit1 = new QLineEdit(Q(engine_.Controls.FrameWatchBits), this);
    Edit1->setObjectName("Edit1");
    Edit1->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    Edit1->setGeometry(300, 8, 286, 22);
    Edit2 = new QLineEdit(Q(engine_.Controls.FrameWatchPgn), this);
    Edit2->setObjectName("Edit2");
    Edit2->setGeometry(300, 36, 80, 22);
    Button1 = button(this, "Button1", "Button1");
    Button1->setGeometry(390, 34, 80, 26);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName("Memo1");
    Memo1->setGeometry(300, 66, 286, 390);
    for (QWidget* hidden : {static_cast<QWidget*>(Edit1), static_cast<QWidget*>(Edit2),
                            static_cast<QWidget*>(Button1), static_cast<QWidget*>(Memo1)}) {
        hidden->hide();
        hidden->setFocusPolicy(Qt::NoFocus);
    }

    // Sources, manipulation, destinations, then Start, Info and Close.
    // Controls that are hidden or disabled at the moment are passed over.
    const std::vector<QWidget*> chain = {RB_Simulation, RB_InternLog,    RB_CanLog,    RB_FzgSim,  B_Scenario,
                                         B_ScenarioPlay, C_Replay,
                                         CB_FromFirstFrame, E_LogFile,   B_LogFile,    B_LogLoadCancel, C_ReplayChannels,
                                         CB_VFMActive,  B_ValidManip,    B_Options,    CB_Display, B_Plot, B_FrameTrace,
                                         B_VehDataMon,  CB_SendCAN,    B_CfgCAN,        CB_LogFile,   C_LogFormat,
                                         B_FileNameLogOut, CB_LogReceived, B_StartStop,  B_Info,       B_Exit};
    for (std::size_t i = 1; i < chain.size(); ++i) setTabOrder(chain[i - 1], chain[i]);

    connect(B_StartStop, &QPushButton::clicked, this, &TFQuorvella::B_StartStopClick);
    for (QRadioButton* r : {RB_Simulation, RB_InternLog, RB_CanLog})
        connect(r, &QRadioButton::clicked, this, &TFQuorvella::ChangeDataSourceClick);
    connect(B_LogFile, &QPushButton::clicked, this, &TFQuorvella::B_LogFileClick);
    connect(B_LogLoadCancel, &QPushButton::clicked, this, &TFQuorvella::B_LogLoadCancelClick);
    connect(C_ReplayChannels, &QComboBox::activated, this, &TFQuorvella::C_ReplayChannelsChange);
    connect(C_LogFormat, &QComboBox::activated, this, &TFQuorvella::C_LogFormatChange);
    connect(RB_FzgSim, &QPushButton::clicked, this, &TFQuorvella::RB_FzgSimClick);
    connect(B_Scenario, &QPushButton::clicked, this, &TFQuorvella::B_ScenarioClick);
    connect(B_ScenarioPlay, &QPushButton::clicked, this, &TFQuorvella::B_ScenarioPlayClick);
    connect(B_ValidManip, &QPushButton::clicked, this, &TFQuorvella::B_ValidManipClick);
    connect(B_Options, &QPushButton::clicked, this, &TFQuorvella::B_OptionsClick);
    connect(B_VehDataMon, &QPushButton::clicked, this, &TFQuorvella::B_VehDataMonClick);
    connect(B_FrameTrace, &QPushButton::clicked, this, &TFQuorvella::B_FrameTraceClick);
    connect(B_Plot, &QPushButton::clicked, this, &TFQuorvella::B_PlotClick);
    connect(CB_SendCAN, &QCheckBox::clicked, this, &TFQuorvella::CB_SendCANClick);
    connect(B_CfgCAN, &QPushButton::clicked, this, &TFQuorvella::B_CfgCANClick);
    connect(CB_LogFile, &QCheckBox::clicked, this, &TFQuorvella::CB_LogFileClick);
    connect(B_FileNameLogOut, &QPushButton::clicked, this, &TFQuorvella::B_FileNameLogOutClick);
    connect(CB_LogReceived, &QCheckBox::clicked, this, &TFQuorvella::CB_LogReceivedClick);
    connect(B_Info, &QPushButton::clicked, this, &TFQuorvella::B_InfoClick);
    connect(B_Exit, &QPushButton::clicked, this, &TFQuorvella::B_ExitClick);
    for (QCheckBox* c : {C_Replay, CB_FromFirstFrame, CB_VFMActive, CB_Display})
        connect(c, &QCheckBox::clicked, this, &TFQuorvella::ReadControls);
    connect(Edit2, &QLineEdit::textChanged, this, &TFQuorvella::ReadControls);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* frame = new QScrollArea(this);
    frame->setObjectName("SB_Window");
    frame->setFrameShape(QFrame::NoFrame);
    frame->setWidgetResizable(true);
    frame->setWidget(body_);
    outer->addWidget(frame);
    FitWindow();
}

void TFQuorvella::KeepWhole(QLabel* line, const QString& text)
{
    const int need = line->fontMetrics().horizontalAdvance(text) + 2 * line->margin() + 2;
    if (need <= statusWidth_) return;
    statusWidth_ = need;
    statusLines_->setColumnMinimumWidth(1, statusWidth_);
    FitWindow();
}

void TFQuorvella::FitWindow()
{
    // The designed size where the font allows it, larger where it needs more room, and
    // no larger than the usable area of the screen. A window cut to the screen scrolls;
    // it is made wider (higher) by the scroll bar where the screen allows, so that it
    // need not scroll both ways.
    // A status line's new width reaches the window only once every layout on the way
    // forgets what it measured before.
    statusLines_->invalidate();
    status_->updateGeometry();
    body_->layout()->invalidate();
    body_->layout()->activate();
    const QSize want =
        body_->minimumSizeHint().expandedTo(QSize(ClientWidth, ClientHeight + status_->sizeHint().height()));
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    setFixedSize(want);
    TScreenFit::Apply(*this);
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    const QSize cut = size();
    if (cut.height() < want.height() && cut.width() >= want.width()) {
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        setFixedSize(want.width() + bar, cut.height());
        TScreenFit::Apply(*this);
    } else if (cut.width() < want.width() && cut.height() >= want.height()) {
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        setFixedSize(cut.width(), want.height() + bar);
        TScreenFit::Apply(*this);
    }
}

void TFQuorvella::ShowStatus()
{
    TRunStatusFacts f;
    f.Running = engine_.Running();
    f.Started = started_;
    f.SimTimeMicros = engine_.SimTime();
    f.FramesSent = engine_.FramesSent();
    f.SendCan = engine_.Controls.SendCan && engine_.CanChannel();
    f.FramesLogged = engine_.FramesLogged();
    f.ReceivedLogged = engine_.ReceivedLogged();
    f.LogFile = engine_.Controls.LogFile;
    f.LogFileName = logOutFileName_;
    // A log that failed in a write was open: the frames written before still count.
    f.LogOpen = engine_.LogOut().IsOpen() ||
                (engine_.LogOut().Failed() && engine_.LogOut().Error().Operation() != "TLogOut::Open");
    f.LogError = logError_;
    f.RunErrors = runErrors_;
    if (transmitTimer_ && transmitTimer_->Scheduling() != TMultimediaTimer::scUnknown)
        f.TimerScheduling = transmitTimer_->SchedulingText();
    else if (!transmitTimer_)
        f.TimerScheduling = timerScheduling_;
    f.AddressClaim = engine_.AddressClaim().ShortText();
    const TRunStatusText text = TRunStatus::Text(f);
    static_cast<TStatusLine*>(L_RunStatus)->SetLine(Q(text.Run), QString());
    // The claim's whole state is the Sent line's tooltip.
    static_cast<TStatusLine*>(L_SentStatus)
        ->SetLine(Q(text.Sent), Q("Address claim: " + engine_.AddressClaim().StateText(engine_.SimTime())));
    static_cast<TStatusLine*>(L_LogStatus)->SetLine(Q(text.Log), Q(logOutFileName_));
    static_cast<TStatusLine*>(L_WrittenStatus)->SetLine(Q(text.Written), QString());
    const TAString& problem = !text.Problem.IsEmpty() ? text.Problem : !startRefusal_.IsEmpty() ? startRefusal_ : claimProblem_;
    static_cast<TStatusLine*>(L_LogProblem)->SetLine(Q(problem), QString());
    // The timer's scheduling and the adapter hint are never cut: a text longer than its
    // line makes the window wider.
    KeepWhole(L_TimerStatus, Q(text.Timer));
    static_cast<TStatusLine*>(L_TimerStatus)->SetLine(Q(text.Timer), QString());
    const bool hint = !adapterHint_.IsEmpty();
    if (hint) KeepWhole(L_AdapterStatus, Q(adapterHint_));
    static_cast<TStatusLine*>(L_AdapterStatus)->SetLine(Q(adapterHint_), QString());
    if (L_AdapterStatus->isVisibleTo(this) != hint) {
        L_AdapterStatus->setVisible(hint);
        findChild<QWidget*>("L_AdapterCaption")->setVisible(hint);
        FitWindow();
    }
    // The vendor library code was loaded from: settings may name one, so the user sees
    // which. The line is there only while one is loaded (the window stays as small as it
    // was without one).
    TAString libraries;
    for (const TAString& file : TSharedLibrary::Loaded()) libraries += (libraries.IsEmpty() ? "" : ", ") + file;
    static_cast<TStatusLine*>(L_LibraryStatus)->SetLine(Q(libraries), Q(libraries));
    L_LibraryStatus->setVisible(!libraries.IsEmpty());
    if (QWidget* caption = findChild<QWidget*>("L_LibraryCaption")) caption->setVisible(!libraries.IsEmpty());
    ShowDriveStatus();
}

void TFQuorvella::ReadControls()
{
    TRunControls& c = engine_.Controls;
    c.Simulation = RB_Simulation->isChecked();
    c.InternalLog = RB_InternLog->isChecked();
    c.Repeat = C_Replay->isChecked();
    c.FromFirstFrame = CB_FromFirstFrame->isChecked();
    c.ValidManip = CB_VFMActive->isChecked();
    c.Display = CB_Display->isChecked();
    c.SendCan = CB_SendCAN->isChecked();
    c.LogFile = CB_LogFile->isChecked();
    c.LogReceived = CB_LogReceived->isChecked();
    c.FrameWatchPgn = T(Edit2->text());
}

void TFQuorvella::RunStateChanged(bool running)
{
    B_StartStop->setText(running ? "&Stop" : "&Start");
    if (running) {
        started_ = true;
        runErrors_ = 0;
        if (windows_.ErrorHandler) windows_.ErrorHandler->Clear();
        if (windows_.Plot) windows_.Plot->RunStarted();
        if (drive_) drive_->RunStarted();
        timerSys_.start();
        pollTimer_.start(1);
    } else {
        timerSys_.stop();
        // The run ended under the scenario: it ends with it.
        if (drive_ && drive_->Player().Playing()) {
            drive_->Halt();
            scenarioEnd_ = "stopped with the run at line " + TAString(static_cast<int32_t>(drive_->Player().Line()));
        }
        if (engine_.TransmitPending() > 0)
            pollTimer_.start(TRunEngine::TickIntervalMs);
        else
            pollTimer_.stop();
    }
    ShowStatus();
}

void TFQuorvella::ControlsChanged()
{
    CB_SendCAN->setChecked(engine_.Controls.SendCan);
    // The engine switches the output log off when a line cannot be written, and has told
    // the user why: the status line keeps the reason.
    const bool logLost = CB_LogFile->isChecked() && !engine_.Controls.LogFile && engine_.LogOut().Failed();
    CB_LogFile->setChecked(engine_.Controls.LogFile);
    Edit1->setText(Q(engine_.Controls.FrameWatchBits));
    if (logLost) {
        logError_ = engine_.LogOut().Reason();
        ShowStatus();
    }
}

void TFQuorvella::ShowError(const TBaseError& error)
{
    // While a run goes on nothing may hold it up: its errors are listed in the error
    // window, which opens without a modal loop, and counted in the status panel.
    if (windows_.ErrorHandler && engine_.Running()) {
        windows_.ErrorHandler->Report(error);
        ++runErrors_;
        ShowStatus();
        return;
    }
    if (windows_.ErrorHandler) {
        windows_.ErrorHandler->ShowError(error);
        return;
    }
    query_.Message(this, TErrorTable::Caption, TErrorTable::Lookup(error).BoxText, TUserQuery::icError);
}

void TFQuorvella::TimerSysTimer()
{
    engine_.TimerSysTimer();
    DriveTick();
    ShowStatus();
}

void TFQuorvella::PollTimer()
{
    if (engine_.Running()) {
        engine_.PollReceived();
        return;
    }
    engine_.CollectDepartures();
    if (engine_.TransmitPending() == 0) pollTimer_.stop();
    ShowStatus();
}

void TFQuorvella::B_StartStopClick()
{
    ReadControls();
    if (engine_.Running()) {
        engine_.Stop();
        return;
    }
    startRefusal_ = TAString();
    if (engine_.Controls.LogFile && LogOutFormat() == TLogOutFormat::Layout5 && !engine_.Controls.Simulation) {
        const TCanLog& log = engine_.ActiveLines();
        if (const std::optional<std::size_t> i = log.FirstFrameNotInLayout5()) {
            startRefusal_ = "Not started: layout 5 cannot hold the log's " + TCanLog::Describe(log.Frames[*i]) +
                            "; choose ASC or candump";
            ShowStatus();
            return;
        }
    }
    engine_.Start();
    ShowStatus();
}

void TFQuorvella::ChangeDataSourceClick()
{
    // The source already running, clicked again (or its mnemonic): nothing changes.
    if (engine_.Running() && RB_Simulation->isChecked() == engine_.Controls.Simulation &&
        RB_InternLog->isChecked() == engine_.Controls.InternalLog)
        return;
    engine_.Stop();
    const bool simulation = RB_Simulation->isChecked();
    // The data monitor shows what leaves for every source (a replay decoded too).
    for (QWidget* w : {static_cast<QWidget*>(RB_FzgSim), static_cast<QWidget*>(CB_VFMActive),
                       static_cast<QWidget*>(B_ValidManip), static_cast<QWidget*>(B_FileNameLogOut),
                       static_cast<QWidget*>(CB_LogFile), static_cast<QWidget*>(C_LogFormat),
                       static_cast<QWidget*>(B_Options)})
        w->setEnabled(simulation);
    for (QWidget* w : {static_cast<QWidget*>(B_LogFile), static_cast<QWidget*>(C_Replay),
                       static_cast<QWidget*>(CB_FromFirstFrame), static_cast<QWidget*>(E_LogFile),
                       static_cast<QWidget*>(C_ReplayChannels)})
        w->setEnabled(!simulation);
    if (!simulation) CB_LogFile->setChecked(false);
    EnableLogReceived();
    EnableScenario();
    ReadControls();
    // A source with lines can be started; switching from an empty user log to the
    // internal log must not leave Start disabled.
    B_StartStop->setEnabled(simulation || engine_.ActiveLines().Count() > 0);
}

void TFQuorvella::B_LogFileClick()
{
    engine_.Stop();
    B_StartStop->setEnabled(false);
    const std::optional<TAString> name = query_.OpenFileName(this, OD_LogFile);
    // No file chosen: the log loaded before stays, and so does Start.
    if (!name) {
        B_StartStop->setEnabled(RB_Simulation->isChecked() || engine_.ActiveLines().Count() > 0);
        return;
    }
    LoadUserLog(*name);
}

void TFQuorvella::LoadUserLog(const TAString& fileName)
{
    ReadControls();
    engine_.Stop();
    // The log loaded before stays until this one has loaded: a load that fails or is
    // cancelled leaves it as it was. The user log's run waits for the load's end.
    B_StartStop->setEnabled(RB_Simulation->isChecked() || RB_InternLog->isChecked());
    PB_LogLoad->setValue(0);
    static_cast<TLoadBar*>(PB_LogLoad)->SetFileName(QFileInfo(Q(fileName)).fileName());
    logLoad_.Start(fileName);
    ShowLogLoading(true);
    logLoadTimer_.start();
}

void TFQuorvella::B_LogLoadCancelClick()
{
    logLoad_.Cancel();
    LogLoadTimer();
}

void TFQuorvella::ShowLogLoading(bool loading)
{
    // The keyboard's focus goes with the button that stands in for the other.
    const bool moveFocus = (loading ? B_LogFile : B_LogLoadCancel)->hasFocus();
    PB_LogLoad->setVisible(loading);
    B_LogLoadCancel->setVisible(loading);
    E_LogFile->setVisible(!loading);
    B_LogFile->setVisible(!loading);
    if (moveFocus) (loading ? B_LogLoadCancel : B_LogFile)->setFocus(Qt::OtherFocusReason);
}

void TFQuorvella::LogLoadTimer()
{
    if (!logLoad_.Busy()) {
        logLoadTimer_.stop();
        return;
    }
    PB_LogLoad->setValue(static_cast<int>(logLoad_.Progress() * LogLoadSteps));
    if (!logLoad_.Finished()) return;
    logLoadTimer_.stop();
    TLogLoadTask::TResult result = logLoad_.Take();
    ShowLogLoading(false);
    if (result.Log) {
        fullLog_ = TCanLog();
        C_ReplayChannels->clear();
        C_ReplayChannels->hide();
        const TCanLog& log = *result.Log;
        const TAString summary = log.Summary();
        const bool framesSkipped =
            log.Skipped[skRemote] + log.Skipped[skError] + log.Skipped[skFd] > 0 || log.CutLine != 0;
        if (log.Channels.size() > 1) {
            const bool asc = log.Kind == lkAsc;
            C_ReplayChannels->addItem(QString("All %1 %2, merged").arg(log.Channels.size()).arg(asc ? "channels" : "interfaces"));
            for (const TLogChannel& c : log.Channels)
                C_ReplayChannels->addItem(QString("%1%2 (%3 frame%4)")
                                              .arg(asc ? "Channel " : "")
                                              .arg(Q(c.Name))
                                              .arg(c.Frames)
                                              .arg(c.Frames == 1 ? "" : "s"));
            C_ReplayChannels->setCurrentIndex(0);
            C_ReplayChannels->show();
            fullLog_ = log;
        }
        engine_.SetUserLog(std::move(*result.Log));
        E_LogFile->setText(Q(result.FileName));
        E_LogFile->setToolTip(Q(summary));
        B_StartStop->setEnabled(true);
        // Frames of the recording that the replay leaves out: the user is told which.
        if (framesSkipped) query_.Message(this, TErrorTable::Caption, summary, TUserQuery::icInformation);
    } else {
        // Failed or cancelled: the log loaded before is still the user log.
        B_StartStop->setEnabled(RB_Simulation->isChecked() || engine_.ActiveLines().Count() > 0);
        if (result.Error) ShowError(*result.Error);
    }
}

void TFQuorvella::C_ReplayChannelsChange()
{
    const int index = C_ReplayChannels->currentIndex();
    if (fullLog_.Channels.empty() || index < 0) return;
    std::vector<TAString> names;
    for (std::size_t i = 0; i < fullLog_.Channels.size(); ++i)
        if (index == 0 || static_cast<int>(i) + 1 == index) names.push_back(fullLog_.Channels[i].Name);
    ReadControls();
    engine_.SetUserLog(fullLog_.SelectChannels(names));
    E_LogFile->setToolTip(Q(engine_.UserLines().Summary()));
    B_StartStop->setEnabled(RB_Simulation->isChecked() || engine_.ActiveLines().Count() > 0);
}

TCanAdapters::TClosing TFQuorvella::ClosingHandover()
{
    // What the channel took before it closed reaches the output log like any received
    // frame; what it lost or could not deliver is told.
    TCanAdapters::TClosing closing;
    closing.received = [this](const TCanFrame& frame) { engine_.LogReceived(frame); };
    closing.error = [this](const TBaseError& error) { ShowError(error); };
    return closing;
}

void TFQuorvella::ToggleWindow(QWidget* window)
{
    if (!window) return;
    if (window->isVisible()) {
        window->hide();
    } else {
        window->show();
        window->raise();
    }
}

void TFQuorvella::RB_FzgSimClick()
{
    ToggleWindow(windows_.Cockpit);
}

void TFQuorvella::B_ValidManipClick()
{
    ToggleWindow(windows_.ValidFlagManip);
}

void TFQuorvella::B_OptionsClick()
{
    ToggleWindow(windows_.Options);
}

void TFQuorvella::B_VehDataMonClick()
{
    ToggleWindow(windows_.VehicleData);
}

void TFQuorvella::B_FrameTraceClick()
{
    ToggleWindow(windows_.FrameTrace);
}

void TFQuorvella::B_PlotClick()
{
    ToggleWindow(windows_.Plot);
}

void TFQuorvella::CB_SendCANClick()
{
    ReadControls();
    if (CB_SendCAN->isChecked() && !engine_.CanChannel()) B_CfgCANClick();
    ShowStatus();
}

void TFQuorvella::B_CfgCANClick()
{
    if (windows_.CanChannel) {
        try {
            TXmlElement& adapter = settings_.CanAdapter();
            if (adapter.CountKeys() == 0) adapter["-"];
            TXmlElement& key = adapter.GetElement(0);
            if (windows_.CanChannel->Execute(key)) {
                key.Assign(windows_.CanChannel->ResultKey());
                // A driver the dialog does not offer gives a key without a name, which
                // the settings file cannot hold; "-" opens as the same unsupported driver.
                if (key.Name().IsEmpty()) key.SetName("-");
                InitCan(key);
                // The user configured the adapter to use it: the destination is on.
                if (engine_.CanChannel()) {
                    adapterHint_ = TAString();
                    CB_SendCAN->setChecked(true);
                    ReadControls();
                }
            }
        } catch (const TBaseError& e) {
            ShowError(e);
        }
    }
    if (!engine_.CanChannel()) {
        CB_SendCAN->setChecked(false);
        ReadControls();
    }
    ShowStatus();
}

void TFQuorvella::InitCan(const TTreeKey& key)
{
    bool retry = true;
    while (retry) {
        retry = false;
        try {
            TCanChannel* old = engine_.CanChannel();
            engine_.SetCanChannel(nullptr);
            if (old) adapters_.CloseChannel(old, TCanAdapters::DefaultDrain, ClosingHandover());
            engine_.SetCanChannel(adapters_.OpenChannel(TCanAdapters::ChannelDescription(key, drivers_)));
        } catch (const TBaseError& e) {
            if (e.Operation() == "TCanDrvVector::TCanDrvVector" && e.Message().SubString(0, 13) == "ncdOpenDriver"
                && !FileExists(VectorDllPath())) {
                if (const std::optional<TAString> file = query_.OpenFileName(this, OpenDialog2)) {
                    settings_.SetVectorDllPath(*file);
                    VectorDllPath() = *file;
                    retry = true;
                    continue;
                }
            }
            engine_.SetCanChannel(nullptr);
            CB_SendCAN->setChecked(false);
            ReadControls();
            ShowError(e);
        } catch (...) {
            engine_.SetCanChannel(nullptr);
            CB_SendCAN->setChecked(false);
            ReadControls();
            ShowError(TBaseError("TFQuorvella::InitCan", "CAN: unknown error"));
        }
    }
}

void TFQuorvella::OpenConfiguredChannel()
{
    adapterHint_ = TAString();
    try {
        // The settings of a first start name no adapter ("-"): the adapter stays off
        // without an error, and the status panel says where to choose one.
        if (settings_.CanAdapter().GetElement(0).Name() == NoAdapterKey) {
            CB_SendCAN->setChecked(false);
            ReadControls();
            adapterHint_ = NoAdapterHint;
            ShowStatus();
            return;
        }
        InitCan(settings_.CanAdapter().GetElement(0));
    } catch (...) {
        CB_SendCAN->setChecked(false);
        ReadControls();
    }
    ShowStatus();
}

void TFQuorvella::CB_LogFileClick()
{
    // Ticked again after a failed write: a new attempt, reported anew if it fails.
    if (CB_LogFile->isChecked() && engine_.LogOut().IsOpen()) logError_ = TAString();
    engine_.LogOut().Flush();
    if (!engine_.LogOut().IsOpen() && CB_LogFile->isChecked()) B_FileNameLogOutClick();
    ReadControls();
    ShowStatus();
}

TLogOutFormat TFQuorvella::LogOutFormat() const
{
    const int index = C_LogFormat->currentIndex();
    return index >= 0 && index < static_cast<int>(std::size(LogFormats)) ? LogFormats[index] : TLogOutFormat::Layout5;
}

void TFQuorvella::C_LogFormatChange()
{
    settings_.Config()[LogFormatKey]("<TEXT>") = TLogLineWriter::Name(LogOutFormat());
    ApplyLogFormat();
}

void TFQuorvella::CB_LogReceivedClick()
{
    settings_.Config()[LogReceivedKey]("<TEXT>") = CB_LogReceived->isChecked() ? "1" : "0";
    ReadControls();
}

void TFQuorvella::EnableLogReceived()
{
    const bool direction = TLogLineWriter::HasDirection(LogOutFormat());
    if (!direction && CB_LogReceived->isChecked()) {
        CB_LogReceived->setChecked(false);
        settings_.Config()[LogReceivedKey]("<TEXT>") = "0";
    }
    // With the output log's other controls (the simulation's), and only where the format
    // can tell received frames from sent ones.
    CB_LogReceived->setEnabled(direction && CB_LogFile->isEnabled());
    CB_LogReceived->setToolTip(direction ? LogReceivedHint : LogReceivedRefused);
}

void TFQuorvella::ApplyLogFormat()
{
    const TLogOutFormat format = LogOutFormat();
    EnableLogReceived();
    ReadControls();
    const TAString extension = TLogLineWriter::Extension(format);
    SD_LogFileOut.DefaultExt = extension;
    SD_LogFileOut.Filter = "*." + extension + "|*." + extension;
    if (engine_.LogOut().Format() == format) return;
    engine_.LogOut().SetFormat(format);
    // The file open so far is complete in its own format; the next one is asked for.
    if (engine_.LogOut().IsOpen()) {
        engine_.LogOut().Close();
        CB_LogFile->setChecked(false);
        ReadControls();
    }
}

void TFQuorvella::B_FileNameLogOutClick()
{
    if (const std::optional<TAString> name = query_.SaveFileName(this, SD_LogFileOut)) {
        // The program's own inputs never take the log's lines: refused, and the log open
        // so far stays as it is.
        const TAString userLog(E_LogFile->text().toStdString());
        const TAString input = TSafeFile::SameFile(*name, settings_.FilePath()) ? TAString("the settings file")
                               : !userLog.IsEmpty() && TSafeFile::SameFile(*name, userLog) ? TAString("the user log loaded")
                                                                                            : TAString();
        if (!input.IsEmpty()) {
            ShowError(TBaseError("TLogOut::Open", "Output log not opened",
                                 "'" + *name + "' is " + input + "; the log would be written into it"));
        } else {
            logOutFileName_ = *name;
            logError_ = TAString();
            if (!engine_.OpenLogOut(*name)) {
                // The engine has said which file and why; the status line keeps the reason.
                logError_ = engine_.LogOut().Reason();
                CB_LogFile->setChecked(false);
                ReadControls();
                ShowStatus();
                return;
            }
        }
    }
    if (!engine_.LogOut().IsOpen()) CB_LogFile->setChecked(false);
    ReadControls();
    ShowStatus();
}

void TFQuorvella::B_InfoClick()
{
    if (windows_.About) windows_.About->ShowInfo(ProgName, Version);
}

void TFQuorvella::B_ExitClick()
{
    close();
}

void TFQuorvella::closeEvent(QCloseEvent* event)
{
    event->accept();
    if (terminated_) return;
    terminated_ = true;
    // Nobody answers requests once the window is gone.
    controlTimer_.stop();
    if (drive_) drive_->StopControl();
    if (onTerminate_) onTerminate_();
}

// ---------------------------------------------------------------- scenario and control API

void TFQuorvella::SetVehicle(TRunCockpit& cockpit, TLkw& lkw, TValidManip& validity)
{
    ReleaseVehicle();
    plainCockpit_ = &cockpit;
    drive_ = std::make_unique<TScenarioDrive>(engine_, cockpit, lkw, validity);
    engine_.SetCockpit(&drive_->Cockpit());
    engine_.SetReceivedFrameSink(&drive_->Received());
    EnableScenario();
    ApplyControlSetting();
}

void TFQuorvella::ReleaseVehicle()
{
    if (!drive_) return;
    controlTimer_.stop();
    drive_->StopControl();
    engine_.SetCockpit(plainCockpit_);
    engine_.SetReceivedFrameSink(nullptr);
    drive_.reset();
    scenario_.reset();
    controlPort_ = 0;
    controlText_ = TAString();
    EnableScenario();
    ShowStatus();
}

void TFQuorvella::TellDrive(const TBaseError& error)
{
    // Never a modal box: a test bench may drive the window with nobody at it.
    if (windows_.ErrorHandler) {
        windows_.ErrorHandler->Report(error);
        return;
    }
    query_.Message(this, TErrorTable::Caption, TErrorTable::Lookup(error).BoxText, TUserQuery::icError);
}

void TFQuorvella::EnableScenario()
{
    const bool simulation = RB_Simulation->isChecked();
    B_Scenario->setEnabled(simulation && drive_);
    B_ScenarioPlay->setEnabled(simulation && drive_ && (scenario_ || drive_->Player().Playing()));
}

bool TFQuorvella::ScenarioPlaying() const
{
    return drive_ && drive_->Player().Playing();
}

void TFQuorvella::B_ScenarioClick()
{
    if (const std::optional<TAString> file = query_.OpenFileName(this, OD_Scenario)) LoadScenario(*file);
}

bool TFQuorvella::LoadScenario(const TAString& file)
{
    static const char* const op = "TFQuorvella::LoadScenario";
    static const char* const message = "Scenario not loaded";
    if (!drive_) return false;
    TAString text;
    try {
        // Only a regular file of reasonable size: never a device, a FIFO or a folder.
        text = TSafeFile::ReadInput(file, TSafeFile::SettingsLimit);
    } catch (const TBaseError& e) {
        TellDrive(TBaseError(op, message, e.Detail().IsEmpty() ? "'" + file + "': " + e.Message() : e.Detail()));
        return false;
    } catch (const std::bad_alloc&) {
        TellDrive(TBaseError(op, message, "'" + file + "': not enough memory to load it"));
        return false;
    }
    TScenarioDrive::TLoad load = drive_->Load(text);
    const TAString name(QFileInfo(Q(file)).fileName().toStdString());
    if (load.Refusal) {
        TellDrive(TBaseError(op, message, "'" + file + "' " + load.Refusal->Describe()));
        if (!ScenarioPlaying()) scenarioEnd_ = name + " refused, " + load.Refusal->Describe();
        ShowStatus();
        return false;
    }
    if (ScenarioPlaying()) drive_->Halt();
    scenario_ = std::make_unique<TLoadedScenario>();
    scenario_->Scenario = std::move(*load.Scenario);
    scenario_->FileName = name;
    scenarioEnd_ = TAString();
    EnableScenario();
    ShowStatus();
    return true;
}

void TFQuorvella::B_ScenarioPlayClick()
{
    if (!drive_) return;
    // Whatever plays (a scenario posted to the control API too) is stopped.
    if (drive_->Player().Playing()) {
        drive_->Halt();
        scenarioEnd_ = "stopped at line " + TAString(static_cast<int32_t>(drive_->Player().Line()));
        ShowStatus();
        return;
    }
    if (!scenario_) return;
    ReadControls();
    if (!engine_.Controls.Simulation) return;
    // From the run's start when Play starts it, otherwise from now.
    if (!engine_.Running()) B_StartStopClick();
    if (!engine_.Running()) return;
    drive_->Play(scenario_->Scenario);
    stopSeen_ = false;
    scenarioEnd_ = TAString();
    ShowStatus();
}

void TFQuorvella::DriveTick()
{
    if (!drive_) return;
    if (drive_->Player().StopReached() && !stopSeen_) {
        stopSeen_ = true;
        scenarioEnd_ = "ended at line " + TAString(static_cast<int32_t>(drive_->Player().Line())) + ": " +
                       drive_->Player().LineText();
        if (engine_.Running()) engine_.Stop();
    }
    switch (drive_->Publish(runErrors_)) {
    case TControlHub::TRunRequest::Start:
        if (!engine_.Running()) B_StartStopClick();
        break;
    case TControlHub::TRunRequest::Stop: engine_.Stop(); break;
    case TControlHub::TRunRequest::None: break;
    }
    ShowDriveStatus();
}

void TFQuorvella::ShowDriveStatus()
{
    if (!L_ScenarioStatus) return;
    TAString scenario;
    if (ScenarioPlaying()) {
        const TScenarioPlayer& player = drive_->Player();
        scenario = player.Line() == 0 ? (scenario_ ? scenario_->FileName : TAString("scenario")) + ": playing"
                                      : "line " + TAString(static_cast<int32_t>(player.Line())) + ": " + player.LineText();
    } else if (!scenarioEnd_.IsEmpty()) {
        scenario = scenarioEnd_;
    } else if (scenario_) {
        scenario = scenario_->FileName + ": loaded, " +
                   TAString(static_cast<int32_t>(scenario_->Scenario.Steps.size())) + " steps";
    }
    if (B_ScenarioPlay) {
        B_ScenarioPlay->setText(ScenarioPlaying() ? "Stop" : "Play");
        EnableScenario();
    }
    const struct {
        QLabel* line;
        const char* caption;
        const TAString& text;
    } lines[] = {{L_ScenarioStatus, "L_ScenarioCaption", scenario}, {L_ControlStatus, "L_ControlCaption", controlText_}};
    for (const auto& l : lines) {
        static_cast<TStatusLine*>(l.line)->SetLine(Q(l.text), Q(l.text));
        const bool shown = !l.text.IsEmpty();
        if (l.line->isVisibleTo(this) != shown) {
            l.line->setVisible(shown);
            findChild<QWidget*>(l.caption)->setVisible(shown);
            FitWindow();
        }
    }
}

void TFQuorvella::ApplyControlSetting()
{
    static const char* const op = "TFQuorvella::StartControl";
    static const char* const message = "Control API not started";
    if (!drive_) return;
    controlTimer_.stop();
    drive_->StopControl();
    controlPort_ = 0;
    controlText_ = TAString();
    const TSettingsFile::TControlSettings control = TSettingsFile::Control(settings_.Config());
    auto refuse = [&](const TAString& why) {
        controlText_ = "off: " + why;
        TellDrive(TBaseError(op, message, why));
        ShowStatus();
    };
    if (!control.Problem.IsEmpty()) return refuse(control.Problem);
    if (!control.Enabled) {
        ShowStatus();
        return;
    }
    const TAString address = control.Address.IsEmpty() ? TAString("127.0.0.1") : control.Address;
    std::string token;
    if (!control.TokenFile.IsEmpty()) {
        try {
            token = TSafeFile::ReadInput(control.TokenFile, 4096).str();
        } catch (const TBaseError& e) {
            return refuse(e.Detail().IsEmpty() ? "'" + control.TokenFile + "': " + e.Message() : e.Detail());
        }
        while (!token.empty() && (token.back() == '\n' || token.back() == '\r' || token.back() == ' ')) token.pop_back();
        if (token.empty() || token.find_first_of(" \t\r\n") != std::string::npos)
            return refuse("'" + control.TokenFile + "' holds no token (one line without blanks)");
    } else if (!TControlServer::IsLoopback(address)) {
        return refuse("the address " + address + " is not the loopback address: it needs a token file");
    }
    try {
        controlPort_ = drive_->StartControl(address, control.Port, token);
    } catch (const TBaseError& e) {
        controlText_ = "off: " + (e.Detail().IsEmpty() ? e.Message() : e.Detail());
        TellDrive(e);
        ShowStatus();
        return;
    }
    controlText_ = "http://" + (address.Find(":") >= 0 ? "[" + address + "]" : address) + ":" +
                   TAString(static_cast<int32_t>(controlPort_)) + (token.empty() ? "" : " (token required)");
    controlTimer_.start();
    DriveTick();
    ShowStatus();
}
