#include "can/ui/tfcanchannel.h"

#include "can/qtcanbus/qtcanbusdriverentry.h"
#include "can/qtcanbus/tcandriverqtcanbus.h"
#include "can/tbittiming.h"
#include "can/tcanadapters.h"
#include "can/ui/tusermessage.h"
#include "support/tbaseerror.h"
#include "support/ui/tscreenfit.h"
#include "support/ui/tqtext.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionComboBox>

#include <algorithm>

namespace {

constexpr const char* TextNode = "<TEXT>";
constexpr const char* TimingHint = "please refer to 'Vector CAN Driver Library - User Interface Description'";

constexpr const char* VectorCards[] = {"CANcardX",  "CANcardY",  "CANcardXL",  "CANcard2",     "CAN-AC2-PCI", "CAN-AC2",
                                       "CANpari",   "EDICcard",  "CANcaseXL",  "CANboardXL",   "CANboardXL_C", "Virtual"};
constexpr const char* Vci2Cards[] = {"USBtoCAN",   "CANdy",      "CANdyLite",  "tinCAN",         "iPCI165ISA",
                                     "iPCI320ISA", "iPCI386",    "iPCI165PCI", "iPCI320PCI",     "iCP350PCI",
                                     "byteflightCARD", "PC-I04PCI", "PC-I03",  "USBtoCAN_Compact", "CANaNET"};
constexpr const char* Vci3Cards[] = {"USB2CANCOMPACT", "USBTOCANV2",  "USB2CANII",   "CANDYLITE",   "CANATNET2",
                                     "PCI04PCI",       "PCI04104",    "IPCI320PCI",  "IPCI320104",  "IPCI165ISA",
                                     "IPCI165PCI",     "IPCIXC16PCI", "TINCANV4",    "TINCAN161",   "IPCIXC16PCIE",
                                     "EPLIB2XXPCI",    "PLIB320PCI",  "FLEXRAYPCIE"};
constexpr const char* Rates[] = {"10000", "20000", "50000", "100000", "125000", "250000", "500000", "1000000"};

// The caption the driver table gives the driver of identifier; the dialog shows it and
// stores it as DriverName, the registry's table being the one place where it is written.
QString Caption(const char* identifier)
{
    for (const TCanDriverEntry& entry : QtCanBusDriverTable())
        if (entry.Identifier == identifier) return QString::fromStdString(entry.Caption.str());
    return QString::fromUtf8(identifier);
}

using qv::Q;
using qv::T;

// The program's message box.
class TMessageBoxMessage final : public TUserMessage {
public:
    explicit TMessageBoxMessage(QWidget* parent) : parent_(parent) {}
    void ShowMessage(const TAString& text, const TAString& caption) override
    {
        QMessageBox::warning(parent_, Q(caption), Q(text), QMessageBox::Ok);
    }

private:
    QWidget* parent_;
};

// The text of the child at address: a key's text node or a value's text; empty when
// there is no such child.
TAString ChildText(const TTreeKey& key, const TAString& address)
{
    try {
        const TTreeKey& child = key[address];
        return child.Contains(TextNode) ? child(TextNode) : TAString();
    } catch (const TBaseError&) {
    }
    try {
        return key(address);
    } catch (const TBaseError&) {
        return TAString();
    }
}

void SetChildText(TXmlElement& key, const TAString& address, const TAString& text)
{
    key[address](TextNode) = text;
}

void Paint(QWidget* w, bool good)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Text, good ? Qt::black : Qt::red);
    w->setPalette(p);
}

QLabel* Label(const char* text, const char* name, QWidget* parent, int x, int y)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    l->move(x, y);
    return l;
}

QComboBox* Combo(const char* name, QWidget* parent, const QRect& at)
{
    auto* c = new QComboBox(parent);
    c->setObjectName(name);
    c->setEditable(true);
    c->setInsertPolicy(QComboBox::NoInsert);
    c->setGeometry(at);
    return c;
}

// Fills an editable combo box with items and leaves none selected, showing text.
template <std::size_t N>
void Items(QComboBox* c, const char* const (&items)[N], const char* text)
{
    for (const char* item : items)
        c->addItem(item);
    c->setCurrentIndex(-1);
    c->setEditText(text);
}

// The width an editable combo box needs to show each of texts whole: the texts, the
// field's margins and cursor, and what the style draws around the field.
int ComboWidthFor(QComboBox* c, const QStringList& texts)
{
    int text = 0;
    for (const QString& t : texts)
        text = std::max(text, c->fontMetrics().horizontalAdvance(t));
    QStyleOptionComboBox option;
    option.initFrom(c);
    option.editable = c->isEditable();
    option.rect = QRect(0, 0, 400, 24);
    const QRect field = c->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, c);
    return text + (option.rect.width() - field.width()) + 8;
}

QLineEdit* Edit(const char* name, QWidget* parent, const QRect& at)
{
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setGeometry(at);
    return e;
}

}  // namespace

TFCanChannel::TFCanChannel(TUserMessage* messages, QWidget* parent)
    : QDialog(parent), ownMessages_(std::make_unique<TMessageBoxMessage>(this)),
      messages_(messages ? messages : ownMessages_.get()), working_("-"), result_("-")
{
    Build();
    SetStyle(true, true, true, true);
}

TFCanChannel::~TFCanChannel() = default;

void TFCanChannel::SetMessages(TUserMessage* messages)
{
    messages_ = messages ? messages : ownMessages_.get();
}

void TFCanChannel::Build()
{
    setObjectName("TFCanChannel");
    setWindowTitle("Tessmar - CAN-Adapter - Config");
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(true);

    // The controls are made first and placed below, in columns as wide as their texts
    // need in the dialog's font.
    auto* group = new QGroupBox("CAN", this);
    group->setObjectName("GB_CAN");

    Label("CAN Driver", "L_Driver", group, 0, 0);
    driver_ = Combo("CB_Driver", group, QRect());
    connect(driver_, &QComboBox::editTextChanged, this, [this] { SelectDriver(); });

    simulation_ = new QWidget(group);
    simulation_->setObjectName("P_Simulation");
    simulation_->setToolTip(
        "CAN Simulation example: WR: HDD a.txt a.txt ; C1 = HDD b.txt dummy ; C2 = HDD c.txt dummy");
    for (int i = 0; i < SimChannels; ++i) {
        const QString caption = i == 0 ? QString("Channel WR") : QString("Channel %1").arg(i);
        auto* l = new QLabel(caption, simulation_);
        l->setObjectName(QString("L_SimComm%1").arg(i + 1));
        QLineEdit* e = Edit("", simulation_, QRect());
        e->setObjectName(QString("E_SimComm%1").arg(i + 1));
        e->setToolTip(i == 0 ? "Write / Read Channel ( normaly own node )"
                             : "Write only channel, no read operation. Possibility to write to other nodes ");
        l->setBuddy(e);
        comm_[static_cast<std::size_t>(i)] = e;
    }

    sja1000_ = new QWidget(group);
    sja1000_->setObjectName("P_SJA1000");
    Label("Card Type", "L_CardType", sja1000_, 0, 0);
    vectorCard_ = Combo("CB_VectorCard", sja1000_, QRect());
    Items(vectorCard_, VectorCards, "-");
    vci2Card_ = Combo("CB_Vci2Card", sja1000_, QRect());
    Items(vci2Card_, Vci2Cards, "-");
    vci3Card_ = Combo("CB_Vci3Card", sja1000_, QRect());
    Items(vci3Card_, Vci3Cards, "-");
    constexpr const char* OneToFour[] = {"1", "2", "3", "4"};
    Label("Card Index", "L_CardIndex", sja1000_, 0, 0);
    index_ = Combo("CB_VectorIndex", sja1000_, QRect());
    Items(index_, OneToFour, "-");
    index_->setToolTip("Index of the hardware ( same type )");
    Label("Card Channel", "L_CardChannel", sja1000_, 0, 0);
    channel_ = Combo("CB_VectorChannel", sja1000_, QRect());
    Items(channel_, OneToFour, "-");
    channel_->setToolTip("Index of the channel ( same hardware )");
    initAccess_ = new QCheckBox("init access", sja1000_);
    initAccess_->setObjectName("C_initaccess");
    connect(initAccess_, &QCheckBox::clicked, this, [this] { SelectDriver(); });

    initPanel_ = new QWidget(sja1000_);
    initPanel_->setObjectName("P_VectorInitAccess");
    Label("Baudrate", "L_Baudrate", initPanel_, 0, 0);
    baudrate_ = Combo("CB_Baudrate", initPanel_, QRect());
    Items(baudrate_, Rates, "");
    Label("sjw", "L_sjw", initPanel_, 0, 0);
    sjw_ = Edit("E_sjw", initPanel_, QRect());
    Label("tseg1", "L_tseg1", initPanel_, 0, 0);
    tseg1_ = Edit("E_tseg1", initPanel_, QRect());
    Label("tseg2", "L_tseg2", initPanel_, 0, 0);
    tseg2_ = Edit("E_tseg2", initPanel_, QRect());
    Label("sam", "L_sam", initPanel_, 0, 0);
    sam_ = Edit("E_sam", initPanel_, QRect());
    Label("presc", "L_presc", initPanel_, 0, 0);
    presc_ = Edit("E_presc", initPanel_, QRect());
    presc_->setReadOnly(true);
    for (QWidget* w : std::initializer_list<QWidget*>{baudrate_, sjw_, tseg1_, tseg2_, sam_, presc_})
        w->setToolTip(TimingHint);
    connect(baudrate_, &QComboBox::editTextChanged, this, [this] { ProposeTiming(); });
    connect(sjw_, &QLineEdit::textChanged, this, [this] { CheckSjw(); });
    connect(tseg1_, &QLineEdit::textChanged, this, [this] { RecomputePresc(); });
    connect(tseg2_, &QLineEdit::textChanged, this, [this] { RecomputePresc(); });
    connect(sam_, &QLineEdit::textChanged, this, [this] { CheckSam(); });

    BuildQtCanBus(group);

    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("B_OK");
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setObjectName("B_Cancel");
    // Enter is OK wherever the focus is but on Cancel; Escape is Cancel (reject).
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, [this] { B_OKClick(); });
    connect(cancel, &QPushButton::clicked, this, [this] { B_CancelClick(); });

    PlaceControls(group, ok, cancel);
    TScreenFit::TopLeft(*this);
    TScreenFit::Keep(*this);
}

void TFCanChannel::PlaceControls(QWidget* group, QPushButton* ok, QPushButton* cancel)
{
    ensurePolished();   // measured as the style will draw them
    // The designed geometry: captions at x 4 in their panels, fields at x 92, 28 pixels
    // a row; wide fields 244, narrow ones 64 and 100 pixels. A larger font widens the
    // caption column and the fields and spreads the rows.
    // Until it is first shown a combo box gives its items' width as its minimum only.
    const auto fits = [](QComboBox* c, int designed) {
        return std::max({designed, c->sizeHint().width(), c->minimumSizeHint().width()});
    };
    // The driver field is as wide as the longest driver caption, whichever drivers are offered.
    QStringList captions;
    for (const TCanDriverEntry& entry : QtCanBusDriverTable()) captions << Q(entry.Caption);
    int wide = std::max(244, ComboWidthFor(driver_, captions));
    int captionWidth = 0;
    int rowHeight = 22;
    for (QLabel* l : group->findChildren<QLabel*>()) {
        l->resize(l->sizeHint());
        captionWidth = std::max(captionWidth, l->width());
    }
    for (QWidget* w : group->findChildren<QWidget*>())
        if (qobject_cast<QComboBox*>(w) || qobject_cast<QLineEdit*>(w) || qobject_cast<QCheckBox*>(w))
            rowHeight = std::max(rowHeight, w->sizeHint().height());
    const int pitch = std::max(28, rowHeight + 6);
    const int fieldLeft = std::max(92, 4 + captionWidth + 6);
    for (QComboBox* c : {vectorCard_, vci2Card_, vci3Card_}) wide = fits(c, wide);
    const int narrow = std::max({64, fits(index_, 64), fits(channel_, 64),
                                 sjw_->fontMetrics().horizontalAdvance("88888") + 16});
    const int rate = std::max({100, fits(baudrate_, 100), fits(qtBaudrate_, 100)});
    const int panelWidth = fieldLeft + wide;

    const auto row = [&](QWidget* panel, const char* label, QWidget* field, int index, int width) {
        const int y = pitch * index;
        if (label) {
            auto* l = panel->findChild<QLabel*>(label, Qt::FindDirectChildrenOnly);
            l->move(4, y + (rowHeight - l->height()) / 2);
        }
        field->setGeometry(fieldLeft, y, width, rowHeight);
        if (label) panel->findChild<QLabel*>(label, Qt::FindDirectChildrenOnly)->setBuddy(field);
    };

    for (int i = 0; i < SimChannels; ++i)
        row(simulation_, qPrintable(QString("L_SimComm%1").arg(i + 1)), comm_[static_cast<std::size_t>(i)], i, wide);
    const int simulationHeight = pitch * SimChannels;

    for (QComboBox* c : {vectorCard_, vci2Card_, vci3Card_}) row(sja1000_, "L_CardType", c, 0, wide);
    row(sja1000_, "L_CardIndex", index_, 1, narrow);
    row(sja1000_, "L_CardChannel", channel_, 2, narrow);
    initAccess_->move(4, pitch * 3 + 2);
    initAccess_->resize(initAccess_->sizeHint());
    row(initPanel_, "L_Baudrate", baudrate_, 0, rate);
    row(initPanel_, "L_sjw", sjw_, 1, narrow);
    row(initPanel_, "L_tseg1", tseg1_, 2, narrow);
    row(initPanel_, "L_tseg2", tseg2_, 3, narrow);
    row(initPanel_, "L_sam", sam_, 4, narrow);
    row(initPanel_, "L_presc", presc_, 5, narrow);
    const int initTop = pitch * 4;
    initPanel_->setGeometry(0, initTop, panelWidth, pitch * 6);
    const int cardHeight = initTop + pitch * 6;

    row(qtCanBus_, "L_QtPlugin", qtPlugin_, 0, wide);
    row(qtCanBus_, "L_QtInterface", qtInterface_, 1, wide);
    row(qtCanBus_, "L_QtBaudrate", qtBaudrate_, 2, rate);

    // The panels share one place below the driver row.
    const int panelHeight = std::max(simulationHeight, cardHeight);
    const int driverTop = group->fontMetrics().height() + 8;
    const int panelTop = driverTop + pitch;
    for (QWidget* panel : {simulation_, sja1000_, qtCanBus_}) panel->setGeometry(8, panelTop, panelWidth, panelHeight);
    auto* driverLabel = group->findChild<QLabel*>("L_Driver", Qt::FindDirectChildrenOnly);
    driverLabel->move(12, driverTop + (rowHeight - driverLabel->height()) / 2);
    driver_->setGeometry(8 + fieldLeft, driverTop, wide, rowHeight);
    group->setGeometry(8, 8, 8 + panelWidth + 8, panelTop + panelHeight + 8);

    const int buttonWidth = std::max({75, ok->sizeHint().width(), cancel->sizeHint().width()});
    const int buttonHeight = std::max(25, ok->sizeHint().height());
    const int buttonsTop = group->y() + group->height() + 8;
    cancel->setGeometry(group->x() + group->width() - buttonWidth, buttonsTop, buttonWidth, buttonHeight);
    ok->setGeometry(cancel->x() - 10 - buttonWidth, buttonsTop, buttonWidth, buttonHeight);
    setFixedSize(group->x() + group->width() + 8, buttonsTop + buttonHeight + 8);
}

void TFCanChannel::BuildQtCanBus(QWidget* group)
{
    qtCanBus_ = new QWidget(group);
    qtCanBus_->setObjectName("P_QtCanBus");
    qtCanBus_->setToolTip("Any adapter Qt's CAN bus plugins reach: a SocketCAN interface (can0, vcan0), "
                          "PEAK (peakcan usb0) or Qt's virtual bus (virtualcan can0)");
    Label("Plugin", "L_QtPlugin", qtCanBus_, 0, 0);
    qtPlugin_ = Combo("CB_QtPlugin", qtCanBus_, QRect());
    qtPlugin_->setToolTip("Qt CAN bus plugin, for example socketcan, peakcan or virtualcan");
    Label("Interface", "L_QtInterface", qtCanBus_, 0, 0);
    qtInterface_ = Combo("CB_QtInterface", qtCanBus_, QRect());
    qtInterface_->setToolTip("Interface of the plugin, for example can0");
    Label("Baudrate", "L_QtBaudrate", qtCanBus_, 0, 0);
    qtBaudrate_ = Combo("CB_QtBaudrate", qtCanBus_, QRect());
    Items(qtBaudrate_, Rates, "");
    qtBaudrate_->setToolTip("Optional: empty keeps the interface's own bit rate (set with ip link for SocketCAN)");
    connect(qtPlugin_, &QComboBox::currentTextChanged, this, [this] { FillQtInterfaces(); });
}

void TFCanChannel::FillQtPlugins()
{
    if (qtPlugin_->count() > 0)
        return;
    const QSignalBlocker quiet(qtPlugin_);
    const QString text = qtPlugin_->currentText();
    for (const std::string& plugin : TCanDriverQtCanBus::Plugins())
        qtPlugin_->addItem(QString::fromStdString(plugin));
    qtPlugin_->setCurrentIndex(-1);
    qtPlugin_->setEditText(text);
}

void TFCanChannel::FillQtInterfaces()
{
    const QString keep = qtInterface_->currentText();
    const QSignalBlocker quiet(qtInterface_);
    qtInterface_->clear();
    const QString plugin = qtPlugin_->currentText().trimmed();
    if (!plugin.isEmpty()) {
        for (const std::string& name : TCanDriverQtCanBus::Interfaces(plugin.toStdString()))
            qtInterface_->addItem(QString::fromStdString(name));
    }
    qtInterface_->setCurrentIndex(-1);
    qtInterface_->setEditText(keep);
}

void TFCanChannel::SetStyle(bool vector, bool vci2, bool vci3, bool simulation, bool qtCanBus)
{
    {
        const QSignalBlocker quiet(driver_);
        driver_->clear();
        ids_.clear();
        const auto offer = [this](const char* identifier) {
            driver_->addItem(Caption(identifier));
            ids_.emplace_back(identifier);
        };
        if (vector)
            offer("Vector3.2");
        if (vci2)
            offer("Vci2.0");
        if (vci3)
            offer("Vci3.0");
        if (simulation)
            offer("Simulation");
        if (qtCanBus)
            offer("QtCanBus");
        driver_->setCurrentIndex(-1);
        driver_->setEditText(QString());
    }
    SelectDriver();
}

QComboBox* TFCanChannel::CardBox() const
{
    if (selected_ == "Vci2.0")
        return vci2Card_;
    if (selected_ == "Vci3.0")
        return vci3Card_;
    return vectorCard_;
}

void TFCanChannel::SelectDriver()
{
    selected_ = TAString();
    const QString text = driver_->currentText();
    for (int i = 0; i < driver_->count() && i < static_cast<int>(ids_.size()); ++i)
        if (driver_->itemText(i) == text) {
            selected_ = ids_[static_cast<std::size_t>(i)];
            break;
        }

    sja1000_->hide();
    simulation_->hide();
    qtCanBus_->hide();
    if (selected_ == "Simulation") {
        simulation_->show();
    } else if (selected_ == "QtCanBus") {
        FillQtPlugins();
        qtCanBus_->show();
    } else if (selected_ == "Vector3.2") {
        vectorCard_->show();
        vci2Card_->hide();
        vci3Card_->hide();
        sja1000_->show();
        initAccess_->setEnabled(true);
        initPanel_->setVisible(initAccess_->isChecked());
    } else if (selected_ == "Vci2.0" || selected_ == "Vci3.0") {
        vectorCard_->hide();
        vci2Card_->setVisible(selected_ == "Vci2.0");
        vci3Card_->setVisible(selected_ == "Vci3.0");
        initAccess_->setEnabled(false);
        initAccess_->setChecked(true);
        sja1000_->show();
        initPanel_->show();
    }
}

void TFCanChannel::ProposeTiming()
{
    const auto timing = BitTiming::Propose(BitTiming::FieldInt(T(baudrate_->currentText())));
    if (!timing)
        return;
    sjw_->setText(QString::number(timing->Sjw));
    tseg1_->setText(QString::number(timing->Tseg1));
    tseg2_->setText(QString::number(timing->Tseg2));
    sam_->setText(QString::number(timing->Sam));
    RecomputePresc();
}

void TFCanChannel::RecomputePresc()
{
    const int rate = BitTiming::FieldInt(T(baudrate_->currentText()));
    const int t1 = BitTiming::FieldInt(T(tseg1_->text()));
    const int t2 = BitTiming::FieldInt(T(tseg2_->text()));
    const double presc = BitTiming::Presc(rate, t1, t2);
    presc_->setText(Q(BitTiming::PrescText(presc)));
    Paint(tseg1_, BitTiming::Tseg1Ok(t1));
    Paint(tseg2_, BitTiming::Tseg2Ok(t2));
    Paint(presc_, BitTiming::PrescOk(presc));
}

void TFCanChannel::CheckSjw()
{
    Paint(sjw_, BitTiming::SjwOk(BitTiming::FieldInt(T(sjw_->text()))));
}

void TFCanChannel::CheckSam()
{
    Paint(sam_, BitTiming::SamOk(BitTiming::FieldInt(T(sam_->text()))));
}

void TFCanChannel::Fill(const TTreeKey& key)
{
    modalResult_ = mrNone;
    result_.Assign(key);
    working_.Assign(key);

    driver_->setEditText(Q(ChildText(working_, "DriverName")));
    driver_->lineEdit()->setCursorPosition(0);
    SelectDriver();

    if (selected_ == "Simulation") {
        for (int i = 0; i < SimChannels; ++i)
            comm_[static_cast<std::size_t>(i)]->setText(Q(ChildText(working_, TAString::Indexed("Comm", i))));
    } else if (selected_ == "QtCanBus") {
        qtPlugin_->setEditText(Q(ChildText(working_, "Plugin")));
        qtInterface_->setEditText(Q(ChildText(working_, "Interface")));
        qtBaudrate_->setEditText(Q(ChildText(working_, "Baudrate")));
    } else if (!selected_.IsEmpty()) {
        CardBox()->setEditText(Q(ChildText(working_, "CardType")));
        index_->setEditText(Q(ChildText(working_, "CardIndex")));
        channel_->setEditText(Q(ChildText(working_, "Channel")));
        if (working_.Contains("Baudrate")) {
            initAccess_->setChecked(true);
            baudrate_->setEditText(Q(ChildText(working_, "Baudrate")));
            sjw_->setText(Q(ChildText(working_, "sjw")));
            tseg1_->setText(Q(ChildText(working_, "tseg1")));
            tseg2_->setText(Q(ChildText(working_, "tseg2")));
            sam_->setText(Q(ChildText(working_, "sam")));
            // A text equal to the one before changes nothing, so the colours are
            // brought up to date here whatever the fields held.
            CheckSjw();
            CheckSam();
            RecomputePresc();
            presc_->setText(Q(ChildText(working_, "presc")));
        } else {
            initAccess_->setChecked(false);
        }
        // Shows the bit-timing panel as "init access" now says. The IXXAT drivers
        // cannot open a channel without bit timing: for them this ticks "init access"
        // again, so OK insists on a timing.
        SelectDriver();
    }
}

int TFCanChannel::Execute(const TTreeKey& key)
{
    Fill(key);
    exec();
    return modalResult_ == mrOk ? mrOk : mrCancel;
}

TAString TFCanChannel::ChannelDescription(const TTreeKey& key)
{
    return TCanAdapters::ChannelDescription(key, QtCanBusDriverTable());
}

void TFCanChannel::B_OKClick()
{
    TXmlElement key(selected_);
    SetChildText(key, "DriverName", T(driver_->currentText()));

    if (selected_ == "Simulation") {
        for (int i = 0; i < SimChannels; ++i) {
            const QString text = comm_[static_cast<std::size_t>(i)]->text();
            if (!text.isEmpty())
                SetChildText(key, TAString::Indexed("Comm", i), T(text));
        }
    } else if (selected_ == "QtCanBus") {
        SetChildText(key, "Plugin", T(qtPlugin_->currentText().trimmed()));
        SetChildText(key, "Interface", T(qtInterface_->currentText().trimmed()));
        const QString rate = qtBaudrate_->currentText().trimmed();
        if (!rate.isEmpty())
            SetChildText(key, "Baudrate", T(rate));
    } else if (!selected_.IsEmpty()) {
        const QString card = CardBox()->currentText();
        SetChildText(key, "CardType", card.isEmpty() ? TAString("-") : T(card));
        SetChildText(key, "CardIndex", T(index_->currentText()));
        SetChildText(key, "Channel", T(channel_->currentText()));
        if (initAccess_->isChecked()) {
            // The range and consistency checks first; then no field may be empty or other
            // than a whole number, since each becomes one word of the channel description.
            auto refusal = BitTiming::CheckOnOk(T(baudrate_->currentText()), T(tseg1_->text()), T(tseg2_->text()),
                                                T(presc_->text()));
            if (!refusal)
                refusal = BitTiming::CheckNumbersOnOk(T(baudrate_->currentText()), T(sjw_->text()),
                                                      T(tseg1_->text()), T(tseg2_->text()), T(sam_->text()));
            if (refusal) {
                messages_->ShowMessage(*refusal, "Error");
                return;
            }
            SetChildText(key, "Baudrate", T(baudrate_->currentText()));
            SetChildText(key, "sjw", T(sjw_->text()));
            SetChildText(key, "tseg1", T(tseg1_->text()));
            SetChildText(key, "tseg2", T(tseg2_->text()));
            SetChildText(key, "sam", T(sam_->text()));
            SetChildText(key, "presc", T(presc_->text()));
        }
    }
    result_ = std::move(key);
    modalResult_ = mrOk;
    accept();
}

void TFCanChannel::B_CancelClick()
{
    reject();
}

void TFCanChannel::reject()
{
    modalResult_ = mrCancel;
    QDialog::reject();
}
