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
#include <QFontDatabase>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

#include <filesystem>
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

    OD_LogFile = TFileRequest{"", "", "asc", "*.asc|*.asc"};
    SD_LogFileOut = TFileRequest{"", "", "asc", "*.asc|*.asc"};
    OpenDialog2 = TFileRequest{"File 'vcand32.dll' not found. Please enter path", "vcand32.dll", "", ""};

    BuildControls();

    timerSys_.setInterval(TRunEngine::TickIntervalMs);
    timerSys_.setTimerType(Qt::PreciseTimer);
    connect(&timerSys_, &QTimer::timeout, this, &TFQuorvella::TimerSysTimer);

    engine_.InternalLines = TInternalLog::Log();
    ReadControls();
    engine_.SetView(this);
    engine_.SetErrorReporter(this);
}

TFQuorvella::~TFQuorvella()
{
    timerSys_.stop();
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
    RB_InternLog = radio(source, "RB_InternLog", "Internal LogFile", QRect(10, 48, 150, 22));
    RB_CanLog = radio(source, "RB_CanLog", "User Logfile", QRect(10, 74, 150, 22));
    C_Replay = check(source, "C_Replay", "Repeat", QRect(rightColumn, 74, 82, 22), false);
    C_Replay->setEnabled(false);
    C_Replay->setToolTip("When checked 'Replay' the opened logfile is sended continuos");
    E_LogFile = new QLineEdit(source);
    E_LogFile->setObjectName("E_LogFile");
    E_LogFile->setGeometry(10, 106, groupWidth - 56, 24);
    E_LogFile->setReadOnly(true);
    E_LogFile->setEnabled(false);
    B_LogFile = button(source, "B_LogFile", "...", QRect(groupWidth - 40, 105, 30, 26));
    B_LogFile->setEnabled(false);

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
    for (QCheckBox* c : {C_Replay, CB_VFMActive, CB_Display})
        connect(c, &QCheckBox::clicked, this, &TFQuorvella::ReadControls);
    connect(Edit2, &QLineEdit::textChanged, this, &TFQuorvella::ReadControls);
}

void TFQuorvella::ReadControls()
{
    TRunControls& c = engine_.Controls;
    c.Simulation = RB_Simulation->isChecked();
    c.InternalLog = RB_InternLog->isChecked();
    c.Repeat = C_Replay->isChecked();
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
                       static_cast<QWidget*>(CB_Display), static_cast<QWidget*>(B_Options)})
        w->setEnabled(simulation);
    for (QWidget* w : {static_cast<QWidget*>(B_LogFile), static_cast<QWidget*>(C_Replay),
                       static_cast<QWidget*>(E_LogFile)})
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
    ReadControls();
    if (engine_.LoadUserLog(*name)) {
        E_LogFile->setText(Q(*name));
        B_StartStop->setEnabled(true);
    } else {
        // The field names the file that is replayed; none is loaded now.
        E_LogFile->clear();
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
            if (const uint64_t lost = old ? adapters_.CloseChannel(old) : 0)
                ShowError(TCanAdapters::NotDelivered(lost, TCanAdapters::DefaultDrain));
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
