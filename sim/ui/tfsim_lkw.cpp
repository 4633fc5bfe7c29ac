#include "sim/ui/tfsim_lkw.h"

#include "engine/terrorreporter.h"
#include "sim/tlkw.h"
#include "sim/ui/tanzeigerund.h"
#include "sim/ui/tastringedit.h"
#include "sim/ui/telltales/ttelltalesymbols.h"
#include "engine/tscenario.h"
#include "engine/tscenarioplayer.h"
#include "engine/tvehiclechecks.h"
#include "support/tbaseerror.h"
#include "support/tsafefile.h"
#include "support/txmlelement.h"
#include "support/ui/tscreenfit.h"
#include "support/ui/twheelguard.h"
#include "support/ui/tqtext.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyleOptionSlider>
#include <QStylePainter>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

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

// A vertical track bar whose fill shows the travel from its bottom end up to the
// handle, whatever the value's direction: the driving controls keep position 0 at the
// top (full accelerator, pressed brake and clutch, eighth gear), and a pressed pedal
// looks full. Styles fill a bar from its minimum's end, so the bar is painted as its
// mirror image: minimum at the bottom, and the handle where this bar has it.
class TPedalBar final : public QSlider {
public:
    explicit TPedalBar(QWidget* parent) : QSlider(Qt::Vertical, parent) {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        option.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderHandle;
        if (tickPosition() != NoTicks) option.subControls |= QStyle::SC_SliderTickmarks;
        if (isSliderDown()) {
            option.activeSubControls = QStyle::SC_SliderHandle;
            option.state |= QStyle::State_Sunken;
        }
        option.upsideDown = !option.upsideDown;
        option.sliderPosition = option.minimum + option.maximum - option.sliderPosition;
        option.sliderValue = option.minimum + option.maximum - option.sliderValue;
        QStylePainter painter(this);
        painter.drawComplexControl(QStyle::CC_Slider, option);
    }
};

namespace {

constexpr const char* TagProperty = "tag";
constexpr int GaugeSize = 150;
constexpr int MinGaugeSize = 90;   // what a gauge keeps on a short screen

using qv::Q;

QLabel* Caption(const TAString& text, const TAString& name, QWidget* parent)
{
    auto* label = new QLabel(Q(text), parent);
    label->setObjectName(Q("L_" + name));
    return label;
}

// Wide enough for sample in the edit's font, with the frame and text margins.
int EditWidthFor(const QLineEdit* edit, const QString& sample)
{
    return edit->fontMetrics().horizontalAdvance(sample) + 2 * edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) + 8;
}

QSlider* TrackBar(const char* name, int max, int position, QWidget* parent)
{
    auto* bar = new TPedalBar(parent);
    bar->setObjectName(name);
    bar->setRange(0, max);
    // Position 0 at the top, as the user reads the pedals and the gear lever.
    bar->setInvertedAppearance(true);
    bar->setInvertedControls(true);
    bar->setTickPosition(QSlider::TicksBothSides);
    bar->setTickInterval(max > 10 ? 10 : 1);
    bar->setPageStep(max > 10 ? 10 : 1);
    bar->setValue(position);
    bar->setMinimumHeight(90);
    return bar;
}

// Counts a nesting for as long as it lives: actions inside another one (or inside the
// model's step) are not recorded on their own.
class TDepth {
public:
    explicit TDepth(int& depth) : depth_(depth) { ++depth_; }
    ~TDepth() { --depth_; }
    TDepth(const TDepth&) = delete;
    TDepth& operator=(const TDepth&) = delete;

private:
    int& depth_;
};

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

    CreateModel();
    BuildWindow();   // the controls and their edit wrappers
    SetTabOrder();
    ReadPosition();

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
    if (settings_) {
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
    // A position stored on a monitor that is gone, or a window larger than this
    // screen, is brought where the user sees all of it. On a screen too short for the
    // window the gauges give up height first (down to MinGaugeSize), so that every
    // control stays in view; a window still cut to the screen's height scrolls up and
    // down: it is made wider by the scroll bar where the screen allows, so that it need
    // not scroll sideways as well.
    const QSize designed = size();
    TScreenFit::Apply(*this);
    auto* body = findChild<QWidget*>("P_Body");
    // On a screen narrower than the window the measured values go below the cockpit,
    // so that nothing lies beyond the window's right edge (the doors' columns did):
    // the window then scrolls up and down only, made wider by the scroll bar.
    if (width() < designed.width()) {
        groups_->setDirection(QBoxLayout::TopToBottom);
        measured_->setMinimumHeight(std::max(measured_->minimumSizeHint().height(), StackedMeasuredHeight));
        body->layout()->activate();
        const QSize stacked = body->minimumSizeHint();
        const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        setFixedSize(stacked.width() + bar, stacked.height());
        TScreenFit::Apply(*this);
        TScreenFit::Keep(*this);
        return;
    }
    // A window cut to the screen allows for a few pixels more of frame once it is shown.
    constexpr int FrameSlack = 8;
    const bool cut = height() < designed.height();
    const int shortBy = cut ? body->minimumSizeHint().height() - height() + FrameSlack : 0;
    if (shortBy > 0) {
        const int side = std::max(MinGaugeSize, GaugeSize - shortBy);
        ImgTacho->setFixedSize(side, side);
        ImgDrehzahl->setFixedSize(side, side);
        body->layout()->activate();
    }
    if (cut && body->minimumSizeHint().height() + FrameSlack > height()) {
        const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
        setMaximumWidth(QWIDGETSIZE_MAX);
        setFixedWidth(designed.width() + bar);
        TScreenFit::Apply(*this);
    }
    TScreenFit::Keep(*this);
}

void TFSim_Lkw::SetTabOrder()
{
    // From the driving controls through the value fields to the measured values and
    // the buttons at the bottom. The window opens with the accelerator focused: a
    // control whose focus changes nothing (a value field would stop showing the model).
    std::vector<QWidget*> chain = {TB_Accel, TB_Brake,    TB_Clutch,  CBAutoClutch,
                                   TB_Gang,  CB_Ignition, Starter,    CB_Tempomat};
    for (const TCockpitControl& c : TCockpitTable::Controls())
        if (c.Group == "Simulation Cockpit ") chain.push_back(controls_.at(c.Name.str()));
    for (const TCockpitControl& c : TCockpitTable::Controls())
        if (c.Group != "Simulation Cockpit " && c.Door == 0) chain.push_back(controls_.at(c.Name.str()));
    for (int row = 0; row < 3; ++row)
        for (const TCockpitControl& c : TCockpitTable::Controls())
            if (c.Door > 0 && c.DoorRow == row) chain.push_back(controls_.at(c.Name.str()));
    // The park brake sits with the switches, before the value fields.
    auto park = std::find(chain.begin(), chain.end(), controls_.at("C_Park"));
    std::rotate(chain.begin() + 8, park, park + 1);
    chain.push_back(CB_Manual);
    chain.push_back(B_Record);
    chain.push_back(B_Beenden);
    for (std::size_t i = 1; i < chain.size(); ++i) setTabOrder(chain[i - 1], chain[i]);
    TB_Accel->setFocus();
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
    // The body stands in a scroll area of its own that shows scroll bars only on a
    // screen too small for the window; every size below follows the font.
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* frame = new QScrollArea(this);
    frame->setObjectName("SB_Window");
    frame->setFrameShape(QFrame::NoFrame);
    frame->setWidgetResizable(true);
    outer->addWidget(frame);
    auto* body = new QWidget(frame);
    body->setObjectName("P_Body");

    auto* top = new QVBoxLayout(body);
    top->setContentsMargins(6, 6, 6, 6);
    auto* groups = new QHBoxLayout;
    groups_ = groups;
    top->addLayout(groups, 1);
    groups->addWidget(BuildCockpitGroup(body), 1);
    measured_ = BuildMeasuredGroup(body);
    groups->addWidget(measured_);

    auto* bottom = new QHBoxLayout;
    top->addLayout(bottom);
    CB_Manual = new QCheckBox("No automatic simulation ", body);
    CB_Manual->setObjectName("CB_Manual");
    B_Beenden = new QPushButton("Hide", body);
    B_Beenden->setObjectName("B_Beenden");
    connect(B_Beenden, &QPushButton::clicked, this, &QWidget::hide);
    B_Record = new QPushButton("Record", body);
    B_Record->setObjectName("B_Record");
    B_Record->setCheckable(true);
    B_Record->setToolTip("Record what is done in the cockpit, with its times, as a scenario that plays the drive back");
    connect(B_Record, &QPushButton::clicked, this, [this] { B_RecordClick(); });
    // A scenario has no word for these: a recording that saw them is told as incomplete.
    connect(CB_Manual, &QCheckBox::toggled, this, [this] {
        if (recorder_.Recording()) notRecorded_.insert("\"No automatic simulation\" switched");
    });
    bottom->addWidget(CB_Manual);
    bottom->addStretch(1);
    bottom->addWidget(B_Record);
    bottom->addWidget(B_Beenden);
    frame->setWidget(body);
    // The measured values scroll, and so does the whole body on a screen too short for
    // it: the wheel scrolls them, and a combo box or track bar under the pointer takes
    // the wheel only once it has the focus (the accelerator has it when the window opens).
    TWheelGuard::Install(body);

    // The designed size where the font allows it, larger where it needs more room.
    body->layout()->activate();
    setFixedSize(body->minimumSizeHint().expandedTo(QSize(ClientWidth, ClientHeight)));
}

QWidget* TFSim_Lkw::BuildCockpitGroup(QWidget* parent)
{
    QGroupBox* box = Group("Simulation Cockpit ", parent);
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
        auto* edit = static_cast<QLineEdit*>(MakeSignalControl(c, box));
        edit->setFixedWidth(EditWidthFor(edit, "88888.88"));
        row->addWidget(edit);
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
    switches->addWidget(MakeSignalControl(*TCockpitTable::FindName("C_Park"), box));
    switches->addStretch(1);

    connect(TB_Accel, &QSlider::valueChanged, this, [this] { TB_AccelChange(); });
    connect(TB_Brake, &QSlider::valueChanged, this, [this] { TB_BrakeChange(); });
    connect(TB_Clutch, &QSlider::valueChanged, this, [this] { TB_ClutchChange(); });
    connect(CBAutoClutch, &QCheckBox::toggled, this, [this] {
        if (recorder_.Recording()) notRecorded_.insert("the auto clutch switched");
        TB_ClutchChange();
    });
    connect(TB_Gang, &QSlider::valueChanged, this, [this] { TB_GangChange(); });
    connect(CB_Ignition, &QCheckBox::toggled, this, [this] { CB_IgnitionClick(); });
    connect(Starter, &QPushButton::clicked, this, [this] { StarterClick(); });
    connect(CB_Tempomat, &QCheckBox::toggled, this, [this] { CB_TempomatClick(); });

    // The main value fields, two to a row.
    auto* fields = new QGridLayout;
    column->addLayout(fields);
    fields->setColumnStretch(0, 1);
    fields->setColumnStretch(2, 1);
    int n = 0;
    for (const TCockpitControl& c : TCockpitTable::Controls()) {
        if (c.Group != "Simulation Cockpit " || c.Kind == TCockpitKind::Check || c.Name == "ETacho" ||
            c.Name == "EDrehzahl")
            continue;
        QLabel* caption = Caption(c.Caption, c.Name, box);
        QWidget* edit = MakeSignalControl(c, box);
        caption->setBuddy(edit);
        if (c.Kind == TCockpitKind::Text) {   // the vehicle identification takes a row of its own
            const int row = (n + 1) / 2;
            fields->addWidget(caption, row, 0);
            fields->addWidget(edit, row, 1, 1, 3);
            n = 2 * (row + 1);
            continue;
        }
        const int row = n / 2;
        const int col = 2 * (n % 2);
        fields->addWidget(caption, row, col);
        edit->setFixedWidth(EditWidthFor(static_cast<QLineEdit*>(edit), "8888.888"));
        fields->addWidget(edit, row, col + 1);
        ++n;
    }
    column->addStretch(1);
    return box;
}

QWidget* TFSim_Lkw::BuildMeasuredGroup(QWidget* parent)
{
    QGroupBox* box = Group("Measured values", parent);
    auto* outer = new QVBoxLayout(box);
    outer->setContentsMargins(4, 4, 4, 4);
    auto* scroll = new QScrollArea(box);
    scroll->setObjectName("SB_MeasuredValues");
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    outer->addWidget(scroll);
    auto* content = new QWidget(scroll);
    content->setObjectName("SB_Content");
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(2, 2, 2, 2);

    QGroupBox* tellTales = Group("Tell Tale Status", content);
    auto* tl = new QVBoxLayout(tellTales);
    tl->setContentsMargins(4, 4, 4, 4);
    ImgTellTale = new TTellTaleField(tellTales);
    ImgTellTale->setObjectName("ImgTellTale");
    ImgTellTale->Released = [this](int x, int y) { TellTaleReleased(x, y); };
    ImgTellTale->Moved = [this](int x, int y) { TellTaleMoved(x, y); };
    tl->addWidget(ImgTellTale, 0, Qt::AlignLeft);
    column->addWidget(tellTales);

    // The further groups in table order, each a form whose field goes below its caption
    // where both do not fit side by side; the drivers of the tachograph in boxes of
    // their own; the doors of "Door Control 2" as a grid of ten narrow columns, each
    // under its number.
    std::map<std::string, QVBoxLayout*> groups;
    std::map<std::string, QFormLayout*> forms;
    QGridLayout* doors = nullptr;
    auto formIn = [&](const std::string& key, QVBoxLayout* inside) {
        QFormLayout*& form = forms[key];
        if (!form) {
            form = new QFormLayout;
            form->setRowWrapPolicy(QFormLayout::WrapLongRows);
            form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
            form->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            inside->addLayout(form);
        }
        return form;
    };
    for (const TCockpitControl& c : TCockpitTable::Controls()) {
        if (c.Group == "Simulation Cockpit ") continue;
        const std::string key = c.Group.str();
        QVBoxLayout*& group = groups[key];
        if (!group) {
            QGroupBox* g = Group(c.Group.c_str(), content);
            group = new QVBoxLayout(g);
            column->addWidget(g);
        }
        QWidget* owner = group->parentWidget();
        std::string formKey = key;
        QVBoxLayout* inside = group;
        if (!c.SubGroup.IsEmpty()) {
            formKey = key + "/" + c.SubGroup.str();
            QVBoxLayout*& sub = groups[formKey];
            if (!sub) {
                QGroupBox* g = Group(c.SubGroup.c_str(), owner);
                g->setObjectName(Q("GB_" + c.SubGroup.str()).replace(' ', '_'));
                sub = new QVBoxLayout(g);
                group->addWidget(g);
            }
            inside = sub;
            owner = sub->parentWidget();
        }
        if (c.Door > 0) {
            if (!doors) {
                doors = new QGridLayout;
                doors->setHorizontalSpacing(2);
                group->addLayout(doors);
                doors->addWidget(new QLabel("Door Index", owner), 0, 0);
                for (int door = 1; door <= 10; ++door) {
                    auto* number = new QLabel(QString::number(door), owner);
                    number->setObjectName(QString("L_Door%1").arg(door));
                    number->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
                    doors->addWidget(number, 0, door, Qt::AlignHCenter);
                }
                doors->setColumnStretch(11, 1);   // the ten door columns stay narrow
                static const char* const RowCaption[3] = {"Lock Status", "Open Status", "Enable Status"};
                for (int row = 0; row < 3; ++row) doors->addWidget(new QLabel(RowCaption[row], owner), row + 1, 0);
            }
            doors->addWidget(MakeSignalControl(c, owner), c.DoorRow + 1, c.Door, Qt::AlignHCenter);
            continue;
        }
        if (c.Kind == TCockpitKind::Check) {
            formIn(formKey, inside)->addRow(MakeSignalControl(c, owner));
        } else {
            QLabel* caption = Caption(c.Caption, c.Name, owner);
            QWidget* control = MakeSignalControl(c, owner);
            caption->setBuddy(control);
            if (auto* edit = qobject_cast<QLineEdit*>(control)) {
                const bool text = c.Kind == TCockpitKind::Text;
                edit->setMinimumWidth(EditWidthFor(edit, text ? Q(c.Initial) : QString("88888.8")));
            }
            formIn(formKey, inside)->addRow(caption, control);
        }
    }
    column->addStretch(1);
    scroll->setWidget(content);

    // The list scrolls up and down only: its view is as wide as its widest row.
    column->activate();
    scroll->setMinimumWidth(content->minimumSizeHint().width() + 2 * scroll->frameWidth() +
                            scroll->verticalScrollBar()->sizeHint().width());
    box->setFixedWidth(box->minimumSizeHint().width());
    return box;
}

QWidget* TFSim_Lkw::MakeSignalControl(const TCockpitControl& c, QWidget* parent)
{
    QWidget* control = nullptr;
    auto notify = [this](QWidget* sender) { MVCockpitChange(sender); };
    switch (c.Kind) {
    case TCockpitKind::Check: {
        auto* box = new QCheckBox(Q(c.Caption), parent);
        box->setChecked(c.Initial == "1");
        connect(box, &QCheckBox::toggled, this, [this, box] { MVCockpitChange(box); });
        control = box;
        break;
    }
    case TCockpitKind::Combo: {
        auto* combo = new QComboBox(parent);
        for (const TAString& item : TCockpitTable::ComboItems(c.Items)) combo->addItem(Q(item));
        combo->setCurrentIndex(combo->findText(Q(c.Initial)));
        connect(combo, &QComboBox::currentIndexChanged, this, [this, combo] { MVCockpitChange(combo); });
        control = combo;
        break;
    }
    case TCockpitKind::Number:
    case TCockpitKind::Text: {
        auto* edit = new QLineEdit(Q(c.Initial), parent);
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
        // Identifications go on the bus as typed: printable ASCII without "*", within
        // the field's length; anything else stays red and is never written.
        edits_[c.Name.str()] = TAStringEdit::WithRule(
            control, notify, std::make_unique<TIdTextRule>(static_cast<int>(c.Min), static_cast<int>(c.Max)));
    }
    // These two also write on every change of their text.
    if (c.Name == "E_FmsVersion" || c.Name == "E_AmbTemp") {
        auto* edit = static_cast<QLineEdit*>(control);
        connect(edit, &QLineEdit::textChanged, this, [this, edit] { MVCockpitChange(edit); });
    }
    return control;
}

// ---------------------------------------------------------------- model

bool TFSim_Lkw::ModelFed(const TCockpitControl& control)
{
    if (control.Name == "ETacho" || control.Name == "EDrehzahl") return true;
    for (const TCockpitDisplayField& f : TCockpitTable::DisplayFields())
        if (f.Name == control.Name) return true;
    return false;
}

void TFSim_Lkw::MVCockpitChange(QWidget* sender)
{
    if (!ready_) return;
    Recorded([&] {
        const int tag = sender ? sender->property(TagProperty).toInt() : 0;
        if (!sender || tag >= 1) {
            TCockpitSignals::Change(*lkw_, TControlValues(*this), tag);
            return;
        }
        // A time or date field the user changed writes every control but the fields that
        // show the running model: those hold what the model computed a moment ago, and
        // writing them back would set the vehicle back to it.
        const TControlValues values(*this);
        for (const TCockpitControl* c : TCockpitTable::InTagOrder())
            if (!ModelFed(*c)) TCockpitSignals::Apply(*lkw_, values, *c);
    });
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

const TSignalSnapshot& TFSim_Lkw::Step(double dt, bool refresh)
{
    // What the display writes back while the model steps is the model's own doing, not
    // the user's: never recorded.
    const TDepth quiet(recordDepth_);
    if (!CB_Manual->isChecked()) {
        lkw_->Step(dt);
        if (refresh) UpdateDisplay();
    } else {
        // The date and time run with the run even while the vehicle stands still.
        lkw_->AdvanceClock(dt);
        if (refresh) UpdateClockFields();
    }
    return lkw_->Snapshot();
}

void TFSim_Lkw::UpdateClockFields()
{
    // The fields show the running clock, so that an edit of one of them (which writes
    // them all) starts the clock anew from the time shown with that one change.
    for (const TCockpitControl& c : TCockpitTable::Controls())
        if (c.Kind == TCockpitKind::Number && c.Tag == 0 && c.Width >= 0)
            edits_.at(c.Name.str())->Commit(TCockpitTable::WriteBackText(c, lkw_->GetMV(c.ValueName)));
}

const TSignalSnapshot& TFSim_Lkw::Values() { return lkw_->Snapshot(); }

void TFSim_Lkw::UpdateDisplay()
{
    speedGauge_->SetValue(TCockpitSignals::GaugeRaw(lkw_->GetMV("Geschwindigkeit")));
    engineGauge_->SetValue(TCockpitSignals::GaugeRaw(lkw_->GetMV("Drehzahl")));
    // A field the user is typing in keeps the typed text (the wrapper only validates).
    for (const TCockpitDisplayField& f : TCockpitTable::DisplayFields())
        edits_.at(f.Name.str())->Commit(TAString(lkw_->GetMV(f.ValueName), f.Width, f.Decimals));
    UpdateClockFields();

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
    if (ready_) Recorded([&] { lkw_->SetAccelerator(100 - TB_Accel->value()); });
}

void TFSim_Lkw::TB_BrakeChange()
{
    if (ready_) Recorded([&] { lkw_->SetBrake(100 - TB_Brake->value()); });
}

void TFSim_Lkw::TB_ClutchChange()
{
    if (ready_) Recorded([&] { lkw_->SetClutch(TB_Clutch->value(), CBAutoClutch->isChecked()); });
}

void TFSim_Lkw::TB_GangChange()
{
    if (ready_) Recorded([&] { lkw_->SetGear(8 - TB_Gang->value()); });
}

void TFSim_Lkw::CB_IgnitionClick()
{
    if (ready_) Recorded([&] { lkw_->SetIgnition(CB_Ignition->isChecked()); });
}

void TFSim_Lkw::CB_TempomatClick()
{
    if (ready_) Recorded([&] { lkw_->SetCruiseControl(CB_Tempomat->isChecked()); });
}

void TFSim_Lkw::StarterClick()
{
    if (!ready_) return;
    try {
        if (startRun_ && !(runInProgress_ && runInProgress_())) startRun_();
    } catch (const TBaseError& e) {
        if (errors_) errors_->ShowError(e);
    }
    if (CB_Ignition->isChecked()) {
        lkw_->StartEngine();
        if (recorder_.Recording() && recordDepth_ == 0) recorder_.Starter(RecordTime());
    }
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
    Recorded([&] { lkw_->SetTellTales(tellTales_.Text()); });
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

// ---------------------------------------------------------------- recording

void TFSim_Lkw::SetRecording(std::function<int64_t()> now, std::function<std::optional<TAString>()> askFile)
{
    recordClock_ = std::move(now);
    recordFile_ = std::move(askFile);
}

int64_t TFSim_Lkw::RecordTime()
{
    // A run started anew begins its clock at 0 again: the recording goes on from where
    // it was, so that its steps stay in the order they were done.
    const int64_t t = recordClock_ ? recordClock_() : 0;
    if (t + recordOffset_ < recordLast_) recordOffset_ = recordLast_ - t;
    recordLast_ = t + recordOffset_;
    return recordLast_;
}

TFSim_Lkw::TModelState TFSim_Lkw::Capture() const
{
    TModelState state;
    state.Values.reserve(static_cast<std::size_t>(lkw_->Count()));
    for (int i = 0; i < lkw_->Count(); ++i) state.Values.push_back(lkw_->GetMV(lkw_->Name(i)));
    state.VehicleId = lkw_->GetVehicleId();
    state.Driver1 = lkw_->GetDriverId1();
    state.Driver2 = lkw_->GetDriverId2();
    state.TellTales = lkw_->GetTellTales();
    return state;
}

template <class F> void TFSim_Lkw::Recorded(F&& action)
{
    if (!recorder_.Recording() || recordDepth_ > 0) {
        action();
        return;
    }
    const TModelState before = Capture();
    {
        const TDepth inside(recordDepth_);
        action();
    }
    const TModelState after = Capture();
    const int64_t now = RecordTime();
    const std::size_t n = std::min(before.Values.size(), after.Values.size());
    for (std::size_t i = 0; i < n; ++i) {
        const double was = before.Values[i];
        const double is = after.Values[i];
        if (was == is || (std::isnan(was) && std::isnan(is))) continue;
        recorder_.Set(now, lkw_->Name(static_cast<int>(i)), is);
    }
    if (after.VehicleId != before.VehicleId) recorder_.Identification(now, "E_FzgID", after.VehicleId);
    if (after.Driver1 != before.Driver1) recorder_.Identification(now, "E_DID1", after.Driver1);
    if (after.Driver2 != before.Driver2) recorder_.Identification(now, "E_DID2", after.Driver2);
    const std::string& was = before.TellTales.str();
    const std::string& is = after.TellTales.str();
    for (std::size_t i = 0; i < is.size(); ++i) {
        const char old = i < was.size() ? was[i] : '0';
        if (is[i] != old && is[i] >= '0' && is[i] <= '7')
            recorder_.TellTale(now, static_cast<int>(i) + 1, is[i] - '0');
    }
}

void TFSim_Lkw::B_RecordClick()
{
    if (recorder_.Recording()) {
        FinishRecording();
        return;
    }
    // As the starter: a recording is of a run, so one is started when none goes.
    try {
        if (startRun_ && !(runInProgress_ && runInProgress_())) startRun_();
    } catch (const TBaseError& e) {
        if (errors_) errors_->ShowError(e);
    }
    notRecorded_.clear();
    recordOffset_ = 0;
    recordLast_ = 0;
    recordLast_ = RecordTime();
    recorder_.Start(recordLast_);
    const QSignalBlocker block(B_Record);
    B_Record->setChecked(true);
    B_Record->setText("Stop recording");
}

void TFSim_Lkw::FinishRecording()
{
    static const char* const op = "TFSim_Lkw::Record";
    recorder_.Finish(RecordTime());
    {
        const QSignalBlocker block(B_Record);
        B_Record->setChecked(false);
        B_Record->setText("Record");
    }
    const TAString& text = recorder_.Text();
    // What the recording cannot play back is told before it is written: the drive is
    // kept whole either way.
    TAString missing;
    for (const std::string& what : notRecorded_) missing += (missing.IsEmpty() ? "" : ", ") + TAString(what);
    const TScenarioParse parse = ParseScenario(text);
    std::optional<TScenarioRefusal> refusal = parse.Refusal;
    if (!refusal) refusal = TScenarioPlayer::Check(parse.Scenario, TVehicleChecks(*lkw_));
    if (refusal) missing += (missing.IsEmpty() ? "" : "; ") + TAString("a step it would refuse, ") + refusal->Describe();
    if (!missing.IsEmpty() && errors_)
        errors_->ShowError(TBaseError(op, "Recording incomplete", "not in the recorded scenario: " + missing));
    if (!recordFile_) return;
    const std::optional<TAString> file = recordFile_();
    if (!file) return;
    try {
        TSafeFile::Write(*file, text);
    } catch (const TBaseError& e) {
        if (errors_)
            errors_->ShowError(TBaseError(op, "Recording not written", e.Detail().IsEmpty() ? "'" + *file + "': " + e.Message()
                                                                                              : e.Detail()));
    }
}
