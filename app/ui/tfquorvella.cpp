#include "app/ui/tfquorvella.h"

#include "app/terrortable.h"
#include "app/tinternallog.h"
#include "app/trunengine.h"
#include "app/tsettingsfile.h"
#include "app/ui/tcanchannelport.h"
#include "app/ui/tfbformueber.h"
#include "app/ui/tferrorhandler.h"
#include "can/tcanadapters.h"
#include "can/vector/tcandrivervector.h"
#include "support/tbaseerror.h"
#include "support/txmlelement.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

#include <filesystem>
#include <iterator>
#include <optional>
#include <system_error>

namespace {

QString Q(const TAString& text)
{
    return QString::fromUtf8(text.c_str(), text.Length());
}

TAString T(const QString& text)
{
    return TAString(text.toStdString());
}

// The client area: the outer size less a single border and the caption.
constexpr int ClientWidth = TFQuorvella::OuterWidth - 6;
constexpr int ClientHeight = TFQuorvella::OuterHeight - 28;

bool FileExists(const TAString& name)
{
    std::error_code ec;
    return std::filesystem::is_regular_file(std::filesystem::path(name.str()), ec);
}

// C_LogFormat's items, in this order, and the settings key that keeps the choice.
constexpr TLogOutFormat LogFormats[] = {TLogOutFormat::Layout5, TLogOutFormat::Asc, TLogOutFormat::Candump};
constexpr const char* LogFormatCaptions[] = {"Layout 5", "ASC", "candump"};
constexpr const char* LogFormatKey = "LogFileFormat";
// The user log's progress bar counts in tenths of a percent.
constexpr int LogLoadSteps = 1000;

}  // namespace

TFQuorvella::TFQuorvella(TRunEngine& engine, TCanAdapters& adapters, const std::vector<TCanDriverEntry>& drivers,
                         TSettingsFile& settings, TUserQuery& query, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      engine_(engine), adapters_(adapters), drivers_(drivers), settings_(settings), query_(query)
{
    setObjectName("TFQuorvella");
    setWindowTitle("Tessmar - Quorvella");
    setFixedSize(ClientWidth, ClientHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(OuterWidth / 2, OuterHeight / 2));

    // A candump log is a ".log" file.
    OD_LogFile = TFileRequest{"", "", "asc", "CAN logs|*.asc;*.log|*.asc|*.asc|*.log|*.log"};
    SD_LogFileOut = TFileRequest{"", "", "asc", "*.asc|*.asc"};
    OpenDialog2 = TFileRequest{"File 'vcand32.dll' not found. Please enter path", "vcand32.dll", "", ""};

    BuildControls();

    timerSys_.setInterval(TRunEngine::TickIntervalMs);
    timerSys_.setTimerType(Qt::PreciseTimer);
    connect(&timerSys_, &QTimer::timeout, this, &TFQuorvella::TimerSysTimer);
    logLoadTimer_.setInterval(TRunEngine::TickIntervalMs);
    connect(&logLoadTimer_, &QTimer::timeout, this, &TFQuorvella::LogLoadTimer);

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
    ApplyLogFormat();

    engine_.InternalLines = TInternalLog::Log();
    ReadControls();
    engine_.SetView(this);
    engine_.SetErrorReporter(this);
}

TFQuorvella::~TFQuorvella()
{
    timerSys_.stop();
    logLoadTimer_.stop();
    engine_.SetView(nullptr);
    engine_.SetErrorReporter(nullptr);
}

void TFQuorvella::BuildControls()
{
    auto button = [](QWidget* parent, const char* name, const char* caption, QRect geometry) {
        auto* b = new QPushButton(caption, parent);
        b->setObjectName(name);
        b->setGeometry(geometry);
        return b;
    };
    auto check = [](QWidget* parent, const char* name, const char* caption, QRect geometry, bool checked) {
        auto* c = new QCheckBox(caption, parent);
        c->setObjectName(name);
        c->setGeometry(geometry);
        // Only the box and its caption take clicks, as the user sees them.
        c->resize(c->sizeHint().width(), geometry.height());
        c->setChecked(checked);
        return c;
    };
    auto radio = [](QWidget* parent, const char* name, const char* caption, QRect geometry) {
        auto* r = new QRadioButton(caption, parent);
        r->setObjectName(name);
        r->setGeometry(geometry);
        r->resize(r->sizeHint().width(), geometry.height());
        return r;
    };

    const int groupWidth = ClientWidth - 16;
    const int rightColumn = groupWidth - 92;

    auto* source = new QGroupBox("Source of FMS-Standard", this);
    source->setObjectName("GB_Source");
    source->setGeometry(8, 6, groupWidth, 148);
    RB_Simulation = radio(source, "RB_Simulation", "Vehicle Simulation", QRect(10, 22, 150, 22));
    RB_Simulation->setChecked(true);
    RB_FzgSim = button(source, "RB_FzgSim", "Simulation", QRect(rightColumn, 20, 82, 26));
    RB_InternLog = radio(source, "RB_InternLog", "Internal LogFile", QRect(10, 45, 150, 22));
    RB_CanLog = radio(source, "RB_CanLog", "User Logfile", QRect(10, 68, 150, 22));
    // The replay's options side by side on a row of their own.
    C_Replay = check(source, "C_Replay", "Repeat", QRect(10, 92, 82, 22), false);
    C_Replay->setEnabled(false);
    C_Replay->setToolTip("When checked 'Replay' the opened logfile is sended continuos");
    CB_FromFirstFrame = check(source, "CB_FromFirstFrame", "Start at first frame",
                              QRect(C_Replay->x() + C_Replay->width() + 12, 92, 150, 22), false);
    CB_FromFirstFrame->setEnabled(false);
    CB_FromFirstFrame->setToolTip("The log's first frame is sent at Start, the others as far after it as the log says");
    E_LogFile = new QLineEdit(source);
    E_LogFile->setObjectName("E_LogFile");
    E_LogFile->setGeometry(10, 118, groupWidth - 56, 24);
    E_LogFile->setReadOnly(true);
    E_LogFile->setEnabled(false);
    B_LogFile = button(source, "B_LogFile", "...", QRect(groupWidth - 40, 117, 30, 26));
    B_LogFile->setEnabled(false);
    // While a user log loads, in place of the file name and "...".
    PB_LogLoad = new QProgressBar(source);
    PB_LogLoad->setObjectName("PB_LogLoad");
    PB_LogLoad->setGeometry(10, 118, groupWidth - 90, 24);
    PB_LogLoad->setRange(0, LogLoadSteps);
    PB_LogLoad->hide();
    B_LogLoadCancel = button(source, "B_LogLoadCancel", "Cancel", QRect(groupWidth - 74, 117, 64, 26));
    B_LogLoadCancel->hide();

    auto* manipulation = new QGroupBox("Manipulation", this);
    manipulation->setObjectName("GB_Manipulation");
    manipulation->setGeometry(8, 160, groupWidth, 84);
    CB_VFMActive = check(manipulation, "CB_VFMActive", "Valid Manipulation", QRect(10, 22, 150, 22), true);
    B_ValidManip = button(manipulation, "B_ValidManip", "Config", QRect(rightColumn, 20, 82, 26));
    B_Options = button(manipulation, "B_Options", "Options", QRect(rightColumn, 50, 82, 26));

    auto* destination = new QGroupBox("Destination of FMS-Standard", this);
    destination->setObjectName("GB_Destination");
    destination->setGeometry(8, 250, groupWidth, 116);
    CB_Display = check(destination, "CB_Display", "Data Monitor", QRect(10, 22, 150, 22), true);
    B_VehDataMon = button(destination, "B_VehDataMon", "Monitor", QRect(rightColumn, 20, 82, 26));
    CB_SendCAN = check(destination, "CB_SendCAN", "CAN-Adapter", QRect(10, 52, 150, 22), true);
    B_CfgCAN = button(destination, "B_CfgCAN", "Config", QRect(rightColumn, 50, 82, 26));
    CB_LogFile = check(destination, "CB_LogFile", "Logfile", QRect(10, 82, 150, 22), false);
    C_LogFormat = new QComboBox(destination);
    C_LogFormat->setObjectName("C_LogFormat");
    for (const char* caption : LogFormatCaptions) C_LogFormat->addItem(caption);
    C_LogFormat->setGeometry(CB_LogFile->x() + CB_LogFile->width() + 6, 81, rightColumn - CB_LogFile->width() - 22, 24);
    C_LogFormat->setToolTip("The output log's format: layout 5, ASC or a candump log");
    B_FileNameLogOut = button(destination, "B_FileNameLogOut", "Save", QRect(rightColumn, 80, 82, 26));

    const int buttonWidth = (groupWidth - 16) / 3;
    B_StartStop = button(this, "B_StartStop", "Start", QRect(8, 378, buttonWidth, 30));
    B_Info = button(this, "B_Info", "Info", QRect(16 + buttonWidth, 378, buttonWidth, 30));
    B_Exit = button(this, "B_Exit", "Close", QRect(24 + 2 * buttonWidth, 378, buttonWidth, 30));

    // The frame watch: beyond the client area, never shown.
    Edit1 = new QLineEdit(Q(engine_.Controls.FrameWatchBits), this);
    Edit1->setObjectName("Edit1");
    Edit1->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    Edit1->setGeometry(300, 8, 286, 22);
    Edit2 = new QLineEdit(Q(engine_.Controls.FrameWatchPgn), this);
    Edit2->setObjectName("Edit2");
    Edit2->setGeometry(300, 36, 80, 22);
    Button1 = button(this, "Button1", "Button1", QRect(390, 34, 80, 26));
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName("Memo1");
    Memo1->setGeometry(300, 66, 286, 390);
    for (QWidget* hidden : {static_cast<QWidget*>(Edit1), static_cast<QWidget*>(Edit2),
                            static_cast<QWidget*>(Button1), static_cast<QWidget*>(Memo1)})
        hidden->hide();

    connect(B_StartStop, &QPushButton::clicked, this, &TFQuorvella::B_StartStopClick);
    for (QRadioButton* r : {RB_Simulation, RB_InternLog, RB_CanLog})
        connect(r, &QRadioButton::clicked, this, &TFQuorvella::ChangeDataSourceClick);
    connect(B_LogFile, &QPushButton::clicked, this, &TFQuorvella::B_LogFileClick);
    connect(B_LogLoadCancel, &QPushButton::clicked, this, &TFQuorvella::B_LogLoadCancelClick);
    connect(C_LogFormat, &QComboBox::activated, this, &TFQuorvella::C_LogFormatChange);
    connect(RB_FzgSim, &QPushButton::clicked, this, &TFQuorvella::RB_FzgSimClick);
    connect(B_ValidManip, &QPushButton::clicked, this, &TFQuorvella::B_ValidManipClick);
    connect(B_Options, &QPushButton::clicked, this, &TFQuorvella::B_OptionsClick);
    connect(B_VehDataMon, &QPushButton::clicked, this, &TFQuorvella::B_VehDataMonClick);
    connect(CB_SendCAN, &QCheckBox::clicked, this, &TFQuorvella::CB_SendCANClick);
    connect(B_CfgCAN, &QPushButton::clicked, this, &TFQuorvella::B_CfgCANClick);
    connect(CB_LogFile, &QCheckBox::clicked, this, &TFQuorvella::CB_LogFileClick);
    connect(B_FileNameLogOut, &QPushButton::clicked, this, &TFQuorvella::B_FileNameLogOutClick);
    connect(B_Info, &QPushButton::clicked, this, &TFQuorvella::B_InfoClick);
    connect(B_Exit, &QPushButton::clicked, this, &TFQuorvella::B_ExitClick);
    for (QCheckBox* c : {C_Replay, CB_FromFirstFrame, CB_VFMActive, CB_Display})
        connect(c, &QCheckBox::clicked, this, &TFQuorvella::ReadControls);
    connect(Edit2, &QLineEdit::textChanged, this, &TFQuorvella::ReadControls);
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
    c.FrameWatchPgn = T(Edit2->text());
}

void TFQuorvella::RunStateChanged(bool running)
{
    B_StartStop->setText(running ? "Stop" : "Start");
    if (running)
        timerSys_.start();
    else
        timerSys_.stop();
}

void TFQuorvella::ControlsChanged()
{
    CB_SendCAN->setChecked(engine_.Controls.SendCan);
    CB_LogFile->setChecked(engine_.Controls.LogFile);
    Edit1->setText(Q(engine_.Controls.FrameWatchBits));
}

void TFQuorvella::ShowError(const TBaseError& error)
{
    if (windows_.ErrorHandler) {
        windows_.ErrorHandler->ShowError(error);
        return;
    }
    query_.Message(this, TErrorTable::Caption, TErrorTable::Lookup(error).BoxText, TUserQuery::icError);
}

void TFQuorvella::TimerSysTimer()
{
    engine_.TimerSysTimer();
}

void TFQuorvella::B_StartStopClick()
{
    ReadControls();
    if (engine_.Running())
        engine_.Stop();
    else
        engine_.Start();
}

void TFQuorvella::ChangeDataSourceClick()
{
    engine_.Stop();
    const bool simulation = RB_Simulation->isChecked();
    for (QWidget* w : {static_cast<QWidget*>(RB_FzgSim), static_cast<QWidget*>(CB_VFMActive),
                       static_cast<QWidget*>(B_ValidManip), static_cast<QWidget*>(B_VehDataMon),
                       static_cast<QWidget*>(B_FileNameLogOut), static_cast<QWidget*>(CB_LogFile),
                       static_cast<QWidget*>(C_LogFormat), static_cast<QWidget*>(CB_Display),
                       static_cast<QWidget*>(B_Options)})
        w->setEnabled(simulation);
    for (QWidget* w : {static_cast<QWidget*>(B_LogFile), static_cast<QWidget*>(C_Replay),
                       static_cast<QWidget*>(CB_FromFirstFrame), static_cast<QWidget*>(E_LogFile)})
        w->setEnabled(!simulation);
    if (!simulation) {
        CB_LogFile->setChecked(false);
        CB_Display->setChecked(false);
    }
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
    if (!name) return;
    LoadUserLog(*name);
}

void TFQuorvella::LoadUserLog(const TAString& fileName)
{
    ReadControls();
    engine_.Stop();
    // The log loaded before is gone from now on, whatever becomes of this load.
    engine_.SetUserLog(TCanLog());
    E_LogFile->clear();
    E_LogFile->setToolTip(QString());
    B_StartStop->setEnabled(RB_Simulation->isChecked() || engine_.ActiveLines().Count() > 0);
    PB_LogLoad->setValue(0);
    PB_LogLoad->setFormat("Loading " + QFileInfo(Q(fileName)).fileName() + ": %p%");
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
    E_LogFile->setVisible(!loading);
    B_LogFile->setVisible(!loading);
    PB_LogLoad->setVisible(loading);
    B_LogLoadCancel->setVisible(loading);
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
        const TCanLog& log = *result.Log;
        const TAString summary = log.Summary();
        const bool framesSkipped = log.Skipped[skStandard] + log.Skipped[skRemote] + log.Skipped[skError] > 0;
        engine_.SetUserLog(std::move(*result.Log));
        E_LogFile->setText(Q(result.FileName));
        E_LogFile->setToolTip(Q(summary));
        B_StartStop->setEnabled(true);
        // Frames of the recording that the replay leaves out: the user is told which.
        if (framesSkipped) query_.Message(this, TErrorTable::Caption, summary, TUserQuery::icInformation);
    } else if (result.Error) {
        ShowError(*result.Error);
    }
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

void TFQuorvella::CB_SendCANClick()
{
    ReadControls();
    if (CB_SendCAN->isChecked() && !engine_.CanChannel()) B_CfgCANClick();
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
            }
        } catch (const TBaseError& e) {
            ShowError(e);
        }
    }
    if (!engine_.CanChannel()) {
        CB_SendCAN->setChecked(false);
        ReadControls();
    }
}

void TFQuorvella::InitCan(const TTreeKey& key)
{
    bool retry = true;
    while (retry) {
        retry = false;
        try {
            TCanChannel* old = engine_.CanChannel();
            engine_.SetCanChannel(nullptr);
            if (old) adapters_.CloseChannel(old);
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
    try {
        InitCan(settings_.CanAdapter().GetElement(0));
    } catch (...) {
        CB_SendCAN->setChecked(false);
        ReadControls();
    }
}

void TFQuorvella::CB_LogFileClick()
{
    engine_.LogOut().Flush();
    if (!engine_.LogOut().IsOpen() && CB_LogFile->isChecked()) B_FileNameLogOutClick();
    ReadControls();
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

void TFQuorvella::ApplyLogFormat()
{
    const TLogOutFormat format = LogOutFormat();
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
        logOutFileName_ = *name;
        engine_.OpenLogOut(*name);
    }
    if (!engine_.LogOut().IsOpen()) CB_LogFile->setChecked(false);
    ReadControls();
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
    if (onTerminate_) onTerminate_();
}
