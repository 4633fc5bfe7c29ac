#include "sim/ui/tfsim_lkw.h"

#include "app/terrorreporter.h"
#include "sim/tlkw.h"
#include "sim/ui/tanzeigerund.h"
#include "sim/ui/tastringedit.h"
#include "sim/ui/telltales/ttelltalesymbols.h"
#include "support/tbaseerror.h"
#include "support/txmlelement.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>
#include <string>

// The tell-tale image: reports where the mouse button is released and where the
// mouse moves (tracking is on, so moves without a button count too).
class TTellTaleField final : public QLabel {
public:
    explicit TTellTaleField(QWidget* parent) : QLabel(parent)
    {
        setMouseTracking(true);
        setFixedSize(TTellTales::FieldWidth, TTellTales::FieldHeight);
        setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }
    std::function<void(int, int)> Released;
    std::function<void(int, int)> Moved;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (Released) Released(event->position().toPoint().x(), event->position().toPoint().y());
        QLabel::mouseReleaseEvent(event);
    }
    void mouseMoveEvent(QMouseEvent* event) override
    {
        if (Moved) Moved(event->position().toPoint().x(), event->position().toPoint().y());
        QLabel::mouseMoveEvent(event);
    }
};

namespace {

constexpr const char* TagProperty = "tag";
constexpr int GaugeSize = 150;

QString Q(const TAString& text) { return QString::fromStdString(text.str()); }

QLabel* Caption(const TAString& text, const TAString& name, QWidget* parent)
{
    auto* label = new QLabel(Q(text), parent);
    label->setObjectName(Q("L_" + name));
    return label;
}

QSlider* TrackBar(const char* name, int max, int position, QWidget* parent)
{
    auto* bar = new QSlider(Qt::Vertical, parent);
    bar->setObjectName(name);
    bar->setRange(0, max);
    // Position 0 at the top, as the user reads the pedals and the gear lever.
    bar->setInvertedAppearance(true);
    bar->setInvertedControls(true);
    bar->setTickPosition(QSlider::TicksBothSides);
    bar->setTickInterval(max > 10 ? 10 : 1);
    bar->setPageStep(max > 10 ? 10 : 1);
    bar->setValue(position);
    bar->setMinimumHeight(110);
    return bar;
}

QGroupBox* Group(const char* caption, QWidget* parent)
{
    auto* box = new QGroupBox(caption, parent);
    box->setObjectName(QString("GB_") + QString(caption).simplified().replace(' ', '_'));
    return box;
}

}  // namespace

// What the controls hold, as MVCockpitChange reads it: committed values of the edits,
// current texts of the combo boxes, states of the check boxes.
class TFSim_Lkw::TControlValues final : public TCockpitValues {
public:
    explicit TControlValues(const TFSim_Lkw& window) : w_(window) {}

    bool Checked(const TCockpitControl& c) const override
    {
        auto* box = qobject_cast<QCheckBox*>(w_.controls_.at(c.Name.str()));
        return box && box->isChecked();
    }
    TAString Text(const TCockpitControl& c) const override
    {
        if (auto* combo = qobject_cast<QComboBox*>(w_.controls_.at(c.Name.str())))
            return TAString(combo->currentText().toStdString());
        auto it = w_.edits_.find(c.Name.str());
        return it == w_.edits_.end() ? TAString() : it->second->Committed();
    }
    double Number(const TCockpitControl& c) const override
    {
        auto it = w_.edits_.find(c.Name.str());
        if (it == w_.edits_.end()) return 0.0;
        auto* num = dynamic_cast<const TANumEdit*>(it->second.get());
        return num ? num->GetNumber() : 0.0;
    }

private:
    const TFSim_Lkw& w_;
};

TFSim_Lkw::TFSim_Lkw(TXmlElement* settings, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      settings_(settings)
{
    setObjectName("TFSim_Lkw");
    setWindowTitle("Tessmar - Vehicle Simulation");
    setFixedSize(ClientWidth, ClientHeight);

    ReadPosition();
    CreateModel();
    BuildWindow();   // the controls and their edit wrappers

    lkw_->SetTellTales(tellTales_.Text());

    // Speed 0..120 km/h in 12 intervals, engine speed 0..3500 rpm in 14, both in hundredths.
    speedGauge_ = std::make_unique<TAnzeigeRund>(
        ImgTacho, static_cast<TANumEdit*>(edits_.at("ETacho").get()), 0, 120, 12, 0.01, 0);
    engineGauge_ = std::make_unique<TAnzeigeRund>(
        ImgDrehzahl, static_cast<TANumEdit*>(edits_.at("EDrehzahl").get()), 0, 3500, 14, 0.01, 0);

    tellTaleImage_ = QImage(TTellTales::FieldWidth, TTellTales::FieldHeight, QImage::Format_RGB32);
    tellTaleImage_.fill(Qt::black);
    for (int i = 0; i < TTellTales::Count; ++i) DrawTellTale(i);

    ready_ = true;
    TB_ClutchChange();
    TB_BrakeChange();
    TB_AccelChange();
    TB_GangChange();
    MVCockpitChange(nullptr);
    WriteModelToControls();
}

TFSim_Lkw::~TFSim_Lkw()
{
    // The controls outlive the members: nothing they still send may reach the model.
    ready_ = false;
    speedGauge_.reset();
    engineGauge_.reset();
    edits_.clear();
}

void TFSim_Lkw::ReadPosition()
{
    int top = 0;
    int left = 0;
    move(left, top);
    if (!settings_) return;
    const TXmlElement& key = *settings_;
    try {
        top = key["Position Top"]("<TEXT>").AsInt32();
        move(left, top);
        left = key["Position Left"]("<TEXT>").AsInt32();
        move(left, top);
    } catch (...) {
        // A missing or unreadable coordinate stays 0.
    }
}

void TFSim_Lkw::StorePosition()
{
    if (!settings_) return;
    (*settings_)["Position Top"]("<TEXT>") = TAString(static_cast<int32_t>(y()));
    (*settings_)["Position Left"]("<TEXT>") = TAString(static_cast<int32_t>(x()));
}

void TFSim_Lkw::CreateModel()
{
    try {
        lkw_ = std::make_unique<TLkw>();
        for (const TAString& name : TCockpitTable::ExtraValueNames()) lkw_->AddMV(name, 0.0);
    } catch (const TBaseError&) {
        throw TBaseError("Exit", "Null");
    }
}

void TFSim_Lkw::SetRunControl(std::function<void()> start, std::function<bool()> running)
{
    startRun_ = std::move(start);
    runInProgress_ = std::move(running);
}

template <class T> T* TFSim_Lkw::Control(const char* name) const
{
    auto it = controls_.find(name);
    return it == controls_.end() ? nullptr : qobject_cast<T*>(it->second);
}

// ---------------------------------------------------------------- layout

void TFSim_Lkw::BuildWindow()
{
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(6, 6, 6, 6);
    auto* groups = new QHBoxLayout;
    top->addLayout(groups, 1);
    groups->addWidget(BuildCockpitGroup());
    groups->addWidget(BuildMeasuredGroup(), 1);

    auto* bottom = new QHBoxLayout;
    top->addLayout(bottom);
    CB_Manual = new QCheckBox("No automatic simulation ", this);
    CB_Manual->setObjectName("CB_Manual");
    B_Beenden = new QPushButton("Hide", this);
    B_Beenden->setObjectName("B_Beenden");
    connect(B_Beenden, &QPushButton::clicked, this, &QWidget::hide);
    bottom->addWidget(CB_Manual);
    bottom->addStretch(1);
    bottom->addWidget(B_Beenden);
}

QWidget* TFSim_Lkw::BuildCockpitGroup()
{
    QGroupBox* box = Group("Simulation Cockpit ", this);
    box->setFixedWidth(455);
    auto* column = new QVBoxLayout(box);

    // Gauges, each above its value field.
    auto* gauges = new QHBoxLayout;
    column->addLayout(gauges);
    auto gauge = [&](const char* imageName, const char* editName, QLabel*& image) {
        auto* col = new QVBoxLayout;
        image = new QLabel(box);
        image->setObjectName(imageName);
        image->setFixedSize(GaugeSize, GaugeSize);
        col->addWidget(image, 0, Qt::AlignHCenter);
        const TCockpitControl& c = *TCockpitTable::FindName(editName);
        auto* row = new QHBoxLayout;
        row->addWidget(Caption(c.Caption, c.Name, box));
        row->addWidget(MakeSignalControl(c));
        col->addLayout(row);
        gauges->addLayout(col);
    };
    gauge("ImgTacho", "ETacho", ImgTacho);
    gauge("ImgDrehzahl", "EDrehzahl", ImgDrehzahl);

    // Pedals, gear lever and switches.
    auto* pedals = new QHBoxLayout;
    column->addLayout(pedals);
    auto pedal = [&](const char* caption, QSlider* bar, QWidget* extra) {
        QGroupBox* g = Group(caption, box);
        auto* l = new QVBoxLayout(g);
        bar->setParent(g);
        l->addWidget(bar, 1, Qt::AlignHCenter);
        if (extra) {
            extra->setParent(g);
            l->addWidget(extra);
        }
        pedals->addWidget(g);
    };
    TB_Accel = TrackBar("TB_Accel", 100, 0, box);
    TB_Brake = TrackBar("TB_Brake", 100, 100, box);
    TB_Clutch = TrackBar("TB_Clutch", 100, 100, box);
    TB_Gang = TrackBar("TB_Gang", 8, 7, box);
    CBAutoClutch = new QCheckBox("Auto", box);
    CBAutoClutch->setObjectName("CBAutoClutch");
    CBAutoClutch->setChecked(true);
    pedal("Accel.", TB_Accel, nullptr);
    pedal("Brake", TB_Brake, nullptr);
    pedal("Clutch", TB_Clutch, CBAutoClutch);
    pedal("Gear", TB_Gang, nullptr);

    auto* switches = new QVBoxLayout;
    pedals->addLayout(switches);
    CB_Ignition = new QCheckBox("Ignition", box);
    CB_Ignition->setObjectName("CB_Ignition");
    CB_Ignition->setChecked(true);
    Starter = new QPushButton("Starter", box);
    Starter->setObjectName("Starter");
    CB_Tempomat = new QCheckBox("Cruise control", box);
    CB_Tempomat->setObjectName("CB_Tempomat");
    switches->addWidget(CB_Ignition);
    switches->addWidget(Starter);
    switches->addWidget(CB_Tempomat);
    switches->addWidget(MakeSignalControl(*TCockpitTable::FindName("C_Park")));
    switches->addStretch(1);

    connect(TB_Accel, &QSlider::valueChanged, this, [this] { TB_AccelChange(); });
    connect(TB_Brake, &QSlider::valueChanged, this, [this] { TB_BrakeChange(); });
    connect(TB_Clutch, &QSlider::valueChanged, this, [this] { TB_ClutchChange(); });
    connect(CBAutoClutch, &QCheckBox::toggled, this, [this] { TB_ClutchChange(); });
    connect(TB_Gang, &QSlider::valueChanged, this, [this] { TB_GangChange(); });
    connect(CB_Ignition, &QCheckBox::toggled, this, [this] { CB_IgnitionClick(); });
    connect(Starter, &QPushButton::clicked, this, [this] { StarterClick(); });
    connect(CB_Tempomat, &QCheckBox::toggled, this, [this] { CB_TempomatClick(); });

    // The main value fields, two to a row.
    auto* fields = new QGridLayout;
    column->addLayout(fields);
    int n = 0;
    for (const TCockpitControl& c : TCockpitTable::Controls()) {
        if (c.Group != "Simulation Cockpit " || c.Kind == TCockpitKind::Check || c.Name == "ETacho" ||
            c.Name == "EDrehzahl")
            continue;
        if (c.Kind == TCockpitKind::Text) {   // the vehicle identification takes a row of its own
            const int row = (n + 1) / 2;
            fields->addWidget(Caption(c.Caption, c.Name, box), row, 0);
            fields->addWidget(MakeSignalControl(c), row, 1, 1, 3);
            n = 2 * (row + 1);
            continue;
        }
        const int row = n / 2;
        const int col = 2 * (n % 2);
        fields->addWidget(Caption(c.Caption, c.Name, box), row, col);
        QWidget* edit = MakeSignalControl(c);
        edit->setFixedWidth(68);
        fields->addWidget(edit, row, col + 1);
        ++n;
    }
    column->addStretch(1);
    return box;
}

QWidget* TFSim_Lkw::BuildMeasuredGroup()
{
    QGroupBox* box = Group("Measured values", this);
    auto* outer = new QVBoxLayout(box);
    auto* scroll = new QScrollArea(box);
    scroll->setObjectName("SB_MeasuredValues");
    scroll->setWidgetResizable(true);
    outer->addWidget(scroll);
    auto* content = new QWidget(scroll);
    content->setObjectName("SB_Content");
    auto* column = new QVBoxLayout(content);
    scroll->setWidget(content);

    QGroupBox* tellTales = Group("Tell Tale Status", content);
    auto* tl = new QVBoxLayout(tellTales);
    ImgTellTale = new TTellTaleField(tellTales);
    ImgTellTale->setObjectName("ImgTellTale");
    ImgTellTale->Released = [this](int x, int y) { TellTaleReleased(x, y); };
    ImgTellTale->Moved = [this](int x, int y) { TellTaleMoved(x, y); };
    tl->addWidget(ImgTellTale, 0, Qt::AlignLeft);
    column->addWidget(tellTales);

    // The further groups in table order; the drivers of the tachograph in boxes of
    // their own, the doors of "Door Control 2" as a grid of ten columns.
    std::map<std::string, QGridLayout*> grids;
    std::map<std::string, int> rows;
    for (const TCockpitControl& c : TCockpitTable::Controls()) {
        if (c.Group == "Simulation Cockpit ") continue;
        std::string key = c.Group.str();
        if (!grids.count(key)) {
            QGroupBox* g = Group(c.Group.c_str(), content);
            grids[key] = new QGridLayout(g);
            column->addWidget(g);
        }
        QGridLayout* grid = grids[key];
        if (!c.SubGroup.IsEmpty()) {
            const std::string subKey = key + "/" + c.SubGroup.str();
            if (!grids.count(subKey)) {
                QGroupBox* g = Group(c.SubGroup.c_str(), content);
                g->setObjectName(Q("GB_" + c.SubGroup.str()).replace(' ', '_'));
                grids[subKey] = new QGridLayout(g);
                grid->addWidget(g, rows[key]++, 0, 1, 2);
            }
            grid = grids[subKey];
            key = subKey;
        }
        if (c.Door > 0) {
            auto* parent = grid->parentWidget();
            if (c.Door == 1 && c.DoorRow == 0) {
                const int r = rows[key]++;
                grid->addWidget(new QLabel("Door Index", parent), r, 0);
                auto* numbers = new QLabel(" 1   2    3   4   5    6   7    8   9  10", parent);
                numbers->setObjectName("L_DoorNumbers");
                grid->addWidget(numbers, r, 1, 1, 10);
                grid->setColumnStretch(11, 1);   // the ten door columns stay narrow
            }
            const int r = rows[key] + c.DoorRow;
            if (c.Door == 1) {
                static const char* const RowCaption[3] = {"Lock Status", "Open Status", "Enable Status"};
                grid->addWidget(new QLabel(RowCaption[c.DoorRow], parent), r, 0);
            }
            grid->addWidget(MakeSignalControl(c), r, c.Door);
            if (c.Door == 10 && c.DoorRow == 2) rows[key] += 3;
            continue;
        }
        const int r = rows[key]++;
        auto* parent = grid->parentWidget();
        if (c.Kind == TCockpitKind::Check) {
            grid->addWidget(MakeSignalControl(c), r, 0, 1, 2);
        } else {
            grid->addWidget(Caption(c.Caption, c.Name, parent), r, 0);
            grid->addWidget(MakeSignalControl(c), r, 1);
        }
    }
    column->addStretch(1);
    return box;
}

QWidget* TFSim_Lkw::MakeSignalControl(const TCockpitControl& c)
{
    QWidget* control = nullptr;
    auto notify = [this](QWidget* sender) { MVCockpitChange(sender); };
    switch (c.Kind) {
    case TCockpitKind::Check: {
        auto* box = new QCheckBox(Q(c.Caption), this);
        box->setChecked(c.Initial == "1");
        connect(box, &QCheckBox::toggled, this, [this, box] { MVCockpitChange(box); });
        control = box;
        break;
    }
    case TCockpitKind::Combo: {
        auto* combo = new QComboBox(this);
        for (const TAString& item : TCockpitTable::ComboItems(c.Items)) combo->addItem(Q(item));
        combo->setCurrentIndex(combo->findText(Q(c.Initial)));
        connect(combo, &QComboBox::currentIndexChanged, this, [this, combo] { MVCockpitChange(combo); });
        control = combo;
        break;
    }
    case TCockpitKind::Number:
    case TCockpitKind::Text: {
        auto* edit = new QLineEdit(Q(c.Initial), this);
        control = edit;
        break;
    }
    }
    control->setObjectName(Q(c.Name));
    control->setProperty(TagProperty, c.Tag);
    controls_[c.Name.str()] = control;

    if (c.Kind == TCockpitKind::Number) {
        edits_[c.Name.str()] = std::make_unique<TANumEdit>(control, notify, c.Min, c.Max, 1.0);
    } else if (c.Kind == TCockpitKind::Text) {
        edits_[c.Name.str()] = std::make_unique<TAStringEdit>(control, notify, static_cast<int16_t>(c.Min),
                                                              static_cast<int16_t>(c.Max));
    }
    // These two also write on every change of their text.
    if (c.Name == "E_FmsVersion" || c.Name == "E_AmbTemp") {
        auto* edit = static_cast<QLineEdit*>(control);
        connect(edit, &QLineEdit::textChanged, this, [this, edit] { MVCockpitChange(edit); });
    }
    return control;
}

// ---------------------------------------------------------------- model

void TFSim_Lkw::MVCockpitChange(QWidget* sender)
{
    if (!ready_) return;
    const int tag = sender ? sender->property(TagProperty).toInt() : 0;
    TCockpitSignals::Change(*lkw_, TControlValues(*this), tag);
}

void TFSim_Lkw::WriteModelToControls()
{
    for (const TCockpitControl& c : TCockpitTable::Controls()) {
        QWidget* control = controls_.at(c.Name.str());
        switch (c.Kind) {
        case TCockpitKind::Check:
            static_cast<QCheckBox*>(control)->setChecked(lkw_->GetMV(c.ValueName) != 0.0);
            break;
        case TCockpitKind::Combo: {
            const int index = TCockpitTable::ComboIndex(c.Items, lkw_->GetMV(c.ValueName));
            if (index >= 0) static_cast<QComboBox*>(control)->setCurrentIndex(index);
            break;
        }
        case TCockpitKind::Number:
            if (c.Width >= 0) edits_.at(c.Name.str())->Commit(TCockpitTable::WriteBackText(c, lkw_->GetMV(c.ValueName)));
            break;
        case TCockpitKind::Text:
            if (c.Target == TCockpitTarget::VehicleId) edits_.at(c.Name.str())->Commit(lkw_->GetVehicleId());
            break;
        }
    }
}

TAString TFSim_Lkw::Step(double dt, bool refresh)
{
    if (!CB_Manual->isChecked()) {
        lkw_->Step(dt);
        if (refresh) UpdateDisplay();
    }
    return lkw_->BuildValueLine();
}

TAString TFSim_Lkw::ValueLine() { return lkw_->BuildValueLine(); }

void TFSim_Lkw::UpdateDisplay()
{
    speedGauge_->SetValue(TCockpitSignals::GaugeRaw(lkw_->GetMV("Geschwindigkeit")));
    engineGauge_->SetValue(TCockpitSignals::GaugeRaw(lkw_->GetMV("Drehzahl")));
    // A field the user is typing in keeps the typed text (the wrapper only validates).
    for (const TCockpitDisplayField& f : TCockpitTable::DisplayFields())
        edits_.at(f.Name.str())->Commit(TAString(lkw_->GetMV(f.ValueName), f.Width, f.Decimals));

    if (CB_Tempomat->isChecked()) {
        if (lkw_->GetMV("Tempomat") == 0.0) CB_Tempomat->setChecked(false);
        // The bar shows the controller's pedal; moving it must not feed back into the model.
        const QSignalBlocker block(TB_Accel);
        TB_Accel->setValue(TCockpitSignals::AcceleratorPosition(lkw_->GetMV("Gaspedal")));
    }
}

// ---------------------------------------------------------------- driving controls

void TFSim_Lkw::TB_AccelChange()
{
    if (ready_) lkw_->SetAccelerator(100 - TB_Accel->value());
}

void TFSim_Lkw::TB_BrakeChange()
{
    if (ready_) lkw_->SetBrake(100 - TB_Brake->value());
}

void TFSim_Lkw::TB_ClutchChange()
{
    if (ready_) lkw_->SetClutch(TB_Clutch->value(), CBAutoClutch->isChecked());
}

void TFSim_Lkw::TB_GangChange()
{
    if (ready_) lkw_->SetGear(8 - TB_Gang->value());
}

void TFSim_Lkw::CB_IgnitionClick()
{
    if (ready_) lkw_->SetIgnition(CB_Ignition->isChecked());
}

void TFSim_Lkw::CB_TempomatClick()
{
    if (ready_) lkw_->SetCruiseControl(CB_Tempomat->isChecked());
}

void TFSim_Lkw::StarterClick()
{
    if (!ready_) return;
    try {
        if (startRun_ && !(runInProgress_ && runInProgress_())) startRun_();
    } catch (const TBaseError& e) {
        if (errors_) errors_->ShowError(e);
    }
    if (CB_Ignition->isChecked()) lkw_->StartEngine();
}

// ---------------------------------------------------------------- tell-tales

void TFSim_Lkw::DrawTellTale(int index)
{
    const QImage symbol = TTellTaleSymbols::Symbol(index);
    const int state = tellTales_.State(index);
    const int x0 = (index % TTellTales::Columns) * TTellTales::CellSize + 1;
    const int y0 = (index / TTellTales::Columns) * TTellTales::CellSize + 1;
    for (int y = 0; y < TTellTales::SymbolSize; ++y) {
        const uchar* line = symbol.constScanLine(y);
        for (int x = 0; x < TTellTales::SymbolSize; ++x) {
            const TTellTaleColour c = TTellTales::Tint(line[x], state);
            tellTaleImage_.setPixel(x0 + x, y0 + y, qRgb(c.R, c.G, c.B));
        }
    }
    if (ImgTellTale) ImgTellTale->setPixmap(QPixmap::fromImage(tellTaleImage_));
}

void TFSim_Lkw::ClickTellTale(int index)
{
    if (!tellTales_.Click(index)) return;
    DrawTellTale(index);
    lkw_->SetTellTales(tellTales_.Text());
    // The hint of the cell under the mouse names the new state at once.
    if (index == hintCell_) ImgTellTale->setToolTip(Q(tellTales_.Hint(index)));
}

void TFSim_Lkw::TellTaleReleased(int x, int y)
{
    const int index = TTellTales::CellAt(x, y);
    if (index >= 0 && index < TTellTales::Count) ClickTellTale(index);
}

void TFSim_Lkw::TellTaleMoved(int x, int y)
{
    const int index = TTellTales::CellAt(x, y);
    if (index == hintCell_) return;
    hintCell_ = index;
    ImgTellTale->setToolTip(Q(tellTales_.Hint(index)));
}
