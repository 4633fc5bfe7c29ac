// The CAN channel dialog, filled from settings keys and driven as a user would; its
// message boxes go to a recorder, so nothing ever waits for a click.
#include "can/ui/tfcanchannel.h"
#include "can/qtcanbus/qtcanbusdriverentry.h"

#include "can/tcanadapters.h"
#include "can/ui/canshowcase.h"
#include "can/ui/tusermessage.h"
#include "support/tbaseerror.h"
#include "support/txmlelement.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <utility>
#include <vector>

namespace {

class TRecordingMessages final : public TUserMessage {
public:
    void ShowMessage(const TAString& text, const TAString& caption) override { shown.emplace_back(text, caption); }
    std::vector<std::pair<TAString, TAString>> shown;
};

using Children = std::vector<std::pair<const char*, const char*>>;

TXmlElement Key(const char* identifier, const Children& children)
{
    TXmlElement key(identifier);
    for (const auto& [address, text] : children)
        key[address]("<TEXT>") = text;
    return key;
}

const Children VectorCard = {
    {"DriverName", "Vector Informatik GmbH (VCANL 3.2)"}, {"CardType", "CANcaseXL"}, {"CardIndex", "1"}, {"Channel", "2"}};

Children With(Children base, const Children& more)
{
    base.insert(base.end(), more.begin(), more.end());
    return base;
}

TAString Text(const TTreeKey& key, const char* address)
{
    return key[address]("<TEXT>");
}

}  // namespace

class TFCanChannelTest : public QObject {
    Q_OBJECT

private:
    TRecordingMessages messages;

    template <class W>
    static W* Find(const TFCanChannel& d, const char* name)
    {
        W* w = d.findChild<W*>(name);
        if (!w)
            qFatal("no control %s", name);
        return w;
    }
    static QLineEdit* Edit(const TFCanChannel& d, const char* name) { return Find<QLineEdit>(d, name); }
    static QComboBox* Combo(const TFCanChannel& d, const char* name) { return Find<QComboBox>(d, name); }
    static bool Red(QWidget* w) { return w->palette().color(QPalette::Text) == QColor(Qt::red); }
    static bool Black(QWidget* w) { return w->palette().color(QPalette::Text) == QColor(Qt::black); }
    static bool Shown(const TFCanChannel& d, const char* name) { return Find<QWidget>(d, name)->isVisibleTo(&d); }
    static void Type(QComboBox* box, const char* text)
    {
        box->lineEdit()->selectAll();
        QTest::keyClicks(box->lineEdit(), text);
    }
    static void Type(QLineEdit* edit, const char* text)
    {
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }
    static void Ok(TFCanChannel& d) { Find<QPushButton>(d, "B_OK")->click(); }

private slots:
    void init() { messages.shown.clear(); }

    void ControlsAreBuiltAsOffered()
    {
        TFCanChannel d(&messages);
        QCOMPARE(d.windowTitle(), QString("Tessmar - CAN-Adapter - Config"));
        QCOMPARE(d.pos(), QPoint(0, 0));
        QComboBox* driver = Combo(d, "CB_Driver");
        QCOMPARE(driver->count(), 4);
        QCOMPARE(driver->itemText(0), QString("Vector Informatik GmbH (VCANL 3.2)"));
        QCOMPARE(driver->itemText(1), QString("IXXAT GmbH (VCI 2.x)"));
        QCOMPARE(driver->itemText(2), QString("IXXAT GmbH (VCI 3.x)"));
        QCOMPARE(driver->itemText(3), QString("Simulation"));
        QVERIFY(!Shown(d, "P_Simulation"));
        QVERIFY(!Shown(d, "P_SJA1000"));

        QCOMPARE(Combo(d, "CB_VectorCard")->count(), 12);
        QCOMPARE(Combo(d, "CB_VectorCard")->itemText(11), QString("Virtual"));
        QCOMPARE(Combo(d, "CB_Vci2Card")->count(), 15);
        QCOMPARE(Combo(d, "CB_Vci2Card")->itemText(13), QString("USBtoCAN_Compact"));
        QCOMPARE(Combo(d, "CB_Vci3Card")->count(), 18);
        QCOMPARE(Combo(d, "CB_Vci3Card")->itemText(17), QString("FLEXRAYPCIE"));
        for (const char* name : {"CB_VectorCard", "CB_Vci2Card", "CB_Vci3Card", "CB_VectorIndex", "CB_VectorChannel"}) {
            QCOMPARE(Combo(d, name)->currentText(), QString("-"));
            QVERIFY(Combo(d, name)->isEditable());
        }
        QCOMPARE(Combo(d, "CB_VectorIndex")->itemText(3), QString("4"));
        QCOMPARE(Combo(d, "CB_VectorIndex")->toolTip(), QString("Index of the hardware ( same type )"));
        QCOMPARE(Combo(d, "CB_VectorChannel")->toolTip(), QString("Index of the channel ( same hardware )"));
        QCOMPARE(Combo(d, "CB_Baudrate")->count(), 8);
        QCOMPARE(Combo(d, "CB_Baudrate")->itemText(7), QString("1000000"));
        QCOMPARE(Edit(d, "E_tseg2")->toolTip(),
                 QString("please refer to 'Vector CAN Driver Library - User Interface Description'"));
        QVERIFY(Edit(d, "E_presc")->isReadOnly());
        QCOMPARE(Find<QCheckBox>(d, "C_initaccess")->text(), QString("init access"));

        QCOMPARE(Find<QWidget>(d, "P_Simulation")->toolTip(),
                 QString("CAN Simulation example: WR: HDD a.txt a.txt ; C1 = HDD b.txt dummy ; C2 = HDD c.txt dummy"));
        QCOMPARE(Edit(d, "E_SimComm1")->toolTip(), QString("Write / Read Channel ( normaly own node )"));
        QCOMPARE(Edit(d, "E_SimComm8")->toolTip(),
                 QString("Write only channel, no read operation. Possibility to write to other nodes "));

        d.SetStyle(true, false, true, false);
        QCOMPARE(driver->count(), 2);
        QCOMPARE(driver->itemText(1), QString("IXXAT GmbH (VCI 3.x)"));
    }

    void EnterIsOkAndEscapeIsCancel()
    {
        TFCanChannel d(&messages);
        d.SetStyle(true, true, true, true, true);
        d.Fill(Key("Simulation", {{"DriverName", "Simulation"}}));
        d.show();
        d.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        QLineEdit* wr = Edit(d, "E_SimComm1");
        wr->setFocus();
        Type(wr, "RAM 1 1");
        QTest::keyClick(wr, Qt::Key_Return);
        QCOMPARE(d.ModalResult(), int(TFCanChannel::mrOk));
        QCOMPARE(Text(d.ResultKey(), "Comm[0]"), TAString("RAM 1 1"));

        // Enter in a combo box's field is OK as well.
        d.Fill(Key("Vector3.2", VectorCard));
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        QComboBox* card = Combo(d, "CB_VectorCard");
        card->setFocus();
        Type(card, "CANcardXL");
        QTest::keyClick(card->lineEdit(), Qt::Key_Return);
        QCOMPARE(d.ModalResult(), int(TFCanChannel::mrOk));
        QCOMPARE(Text(d.ResultKey(), "CardType"), TAString("CANcardXL"));

        // Escape cancels, and the result key stays what the last OK built.
        d.Fill(d.ResultKey());
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        Type(card, "Virtual");
        QTest::keyClick(card->lineEdit(), Qt::Key_Escape);
        QCOMPARE(d.ModalResult(), int(TFCanChannel::mrCancel));
        QVERIFY(!d.isVisible());
        QCOMPARE(Text(d.ResultKey(), "CardType"), TAString("CANcardXL"));
    }

    void EveryDriverCaptionAndCardNameShowsWhole()
    {
        TFCanChannel d(&messages);
        d.SetStyle(true, true, true, true, true);
        QComboBox* driver = Combo(d, "CB_Driver");
        for (int i = 0; i < driver->count(); ++i) {
            d.Fill(Key("x", {{"DriverName", qPrintable(driver->itemText(i))}}));
            d.show();
            QVERIFY(QTest::qWaitForWindowExposed(&d));
            // Shown from its first character, and all of it fits.
            QCOMPARE(driver->lineEdit()->cursorPosition(), 0);
            QVERIFY2(driver->lineEdit()->fontMetrics().horizontalAdvance(driver->currentText()) <=
                         driver->lineEdit()->width() - 4,
                     qPrintable(driver->currentText()));
        }
        for (const char* name : {"CB_Driver", "CB_VectorCard", "CB_Vci2Card", "CB_Vci3Card", "CB_Baudrate"})
            QVERIFY2(Combo(d, name)->width() >= Combo(d, name)->sizeHint().width(), name);
        // Every caption left of its field.
        for (QLabel* l : d.findChildren<QLabel*>()) {
            QWidget* field = l->buddy();
            if (field)
                QVERIFY2(l->geometry().right() < field->x(), qPrintable(l->text()));
            QVERIFY2(l->width() >= l->sizeHint().width(), qPrintable(l->text()));
        }
    }

    void StandardRateProposesTheTableTiming()
    {
        TFCanChannel d(&messages);
        d.Fill(Key("Vector3.2", VectorCard));
        QTest::mouseClick(Find<QCheckBox>(d, "C_initaccess"), Qt::LeftButton);
        QVERIFY(Shown(d, "P_VectorInitAccess"));
        QComboBox* rate = Combo(d, "CB_Baudrate");
        rate->setCurrentIndex(rate->findText("250000"));
        QCOMPARE(Edit(d, "E_tseg1")->text(), QString("8"));
        QCOMPARE(Edit(d, "E_tseg2")->text(), QString("7"));
        QCOMPARE(Edit(d, "E_sjw")->text(), QString("2"));
        QCOMPARE(Edit(d, "E_sam")->text(), QString("1"));
        QCOMPARE(Edit(d, "E_presc")->text(), QString("2"));
        for (const char* name : {"E_tseg1", "E_tseg2", "E_sjw", "E_sam", "E_presc"})
            QVERIFY2(Black(Edit(d, name)), name);

        Ok(d);
        QCOMPARE(d.ModalResult(), int(TFCanChannel::mrOk));
        QCOMPARE(TFCanChannel::ChannelDescription(d.ResultKey()), TAString("Vector3.2 CANcaseXL 1 2 250000 2 8 7 1 2"));
    }

    void RateWithoutWholePrescalerIsRefusedAtOk()
    {
        TFCanChannel d(&messages);
        const TXmlElement key = Key("Vector3.2", VectorCard);
        d.Fill(key);
        QTest::mouseClick(Find<QCheckBox>(d, "C_initaccess"), Qt::LeftButton);
        Type(Combo(d, "CB_Baudrate"), "33333");
        QCOMPARE(Edit(d, "E_tseg1")->text(), QString("0"));
        QCOMPARE(Edit(d, "E_tseg2")->text(), QString("0"));
        QCOMPARE(Edit(d, "E_sjw")->text(), QString("0"));
        QCOMPARE(Edit(d, "E_sam")->text(), QString("3"));
        // 16000000 / (33333 x 2 x 1) = 240.0024..., "%g" keeps six digits.
        QCOMPARE(Edit(d, "E_presc")->text(), QString("240.002"));
        QVERIFY(Red(Edit(d, "E_presc")));
        QVERIFY(Red(Edit(d, "E_tseg1")));
        QVERIFY(Red(Edit(d, "E_sjw")));

        Ok(d);
        QCOMPARE(messages.shown.size(), std::size_t{1});
        QCOMPARE(messages.shown[0].first, TAString("tseg1 is not between 1 and 16"));
        QCOMPARE(messages.shown[0].second, TAString("Error"));
        QCOMPARE(d.ModalResult(), int(TFCanChannel::mrNone));
        QVERIFY(!d.ResultKey().Contains("Baudrate"));   // still the key given
        QCOMPARE(Combo(d, "CB_Baudrate")->currentText(), QString("33333"));
    }

    void OtherRateTakesTheFirstFittingLengthFromSixteenUp()
    {
        TFCanChannel d(&messages);
        d.Fill(Key("Vci2.0", {{"DriverName", "IXXAT GmbH (VCI 2.x)"}, {"CardType", "USBtoCAN"},
                              {"CardIndex", "1"}, {"Channel", "1"}}));
        Type(Combo(d, "CB_Baudrate"), "40000");
        // n = 20: 16000000 / (2 x 40000 x 20) = 10; tseg1 = int(0.65 x 20) = 13, sjw = int(200 / 51) = 3.
        QCOMPARE(Edit(d, "E_tseg1")->text(), QString("13"));
        QCOMPARE(Edit(d, "E_tseg2")->text(), QString("6"));
        QCOMPARE(Edit(d, "E_sjw")->text(), QString("3"));
        QCOMPARE(Edit(d, "E_sam")->text(), QString("3"));
        QCOMPARE(Edit(d, "E_presc")->text(), QString("10"));
        QVERIFY(Black(Edit(d, "E_presc")));
    }

    void OutOfRangeFieldsTurnRedTseg1IsRefusedSjwAndSamOnlyColoured()
    {
        TFCanChannel d(&messages);
        d.Fill(Key("Vector3.2", With(VectorCard, {{"Baudrate", "250000"}, {"sjw", "2"}, {"tseg1", "8"},
                                                  {"tseg2", "7"}, {"sam", "1"}, {"presc", "2"}})));
        Type(Edit(d, "E_sjw"), "5");
        Type(Edit(d, "E_sam"), "2");
        QVERIFY(Red(Edit(d, "E_sjw")));
        QVERIFY(Red(Edit(d, "E_sam")));
        Ok(d);   // sjw and sam are never refused
        QVERIFY(messages.shown.empty());
        QCOMPARE(Text(d.ResultKey(), "sjw"), TAString("5"));
        QCOMPARE(Text(d.ResultKey(), "sam"), TAString("2"));

        Type(Edit(d, "E_tseg1"), "17");
        QVERIFY(Red(Edit(d, "E_tseg1")));
        QCOMPARE(Edit(d, "E_presc")->text(), QString("1.28"));   // 16000000 / (250000 x 2 x 25)
        QVERIFY(Red(Edit(d, "E_presc")));
        Type(Edit(d, "E_tseg2"), "9");
        QVERIFY(Red(Edit(d, "E_tseg2")));
        Ok(d);
        QCOMPARE(messages.shown.back().first, TAString("tseg1 is not between 1 and 16"));
        Type(Edit(d, "E_tseg1"), "8");
        QVERIFY(Black(Edit(d, "E_tseg1")));
        Ok(d);
        QCOMPARE(messages.shown.back().first, TAString("tseg2 is not between 1 and 8"));
        QCOMPARE(messages.shown.size(), std::size_t{2});
    }

    void EmptyOrNonNumericTimingFieldIsRefusedAtOk()
    {
        TFCanChannel d(&messages);
        const TXmlElement filled = Key("Vci2.0", {{"DriverName", "IXXAT GmbH (VCI 2.x)"}, {"CardType", "USBtoCAN"},
                                               {"CardIndex", "1"}, {"Channel", "1"}, {"Baudrate", "250000"},
                                               {"sjw", "2"}, {"tseg1", "8"}, {"tseg2", "7"}, {"sam", "1"},
                                               {"presc", "2"}});
        const struct {
            const char* field;
            const char* text;
            const char* message;
        } cases[] = {
            {"E_sjw", "", "sjw is not a number"},   // cleared: the card would run at 13.9 kbit/s
            {"E_sjw", "two", "sjw is not a number"},
            {"E_tseg1", "", "tseg1 is not between 1 and 16"},   // the range check comes first
            {"E_tseg2", "7 ", "tseg2 is not between 1 and 8"},   // "7 " reads as no number
            {"E_sam", "", "sam is not a number"},
        };
        for (const auto& c : cases) {
            d.Fill(filled);
            Edit(d, c.field)->setText(c.text);
            Ok(d);
            QVERIFY2(messages.shown.back().first == TAString(c.message), messages.shown.back().first.c_str());
            QCOMPARE(messages.shown.back().second, TAString("Error"));
            QCOMPARE(d.ModalResult(), TFCanChannel::mrNone);   // the dialog stays open
            QCOMPARE(Text(d.ResultKey(), "sjw"), TAString("2"));   // nothing stored
        }
        d.Fill(filled);
        Combo(d, "CB_Baudrate")->setEditText("250000x");   // read as 250000 by the consistency check
        Edit(d, "E_presc")->setText("2");
        Ok(d);
        QCOMPARE(messages.shown.back().first, TAString("Baudrate is not a number"));
        QCOMPARE(messages.shown.size(), std::size_t{6});
    }

    void DriverCaptionsAreTheDriverTables()
    {
        // One table: the dialog shows, and stores as DriverName, what the registry's rows say.
        TFCanChannel d(&messages);
        d.SetStyle(true, true, true, true, true);
        QComboBox* driver = Combo(d, "CB_Driver");
        const char* const order[] = {"Vector3.2", "Vci2.0", "Vci3.0", "Simulation", "QtCanBus"};
        QCOMPARE(driver->count(), 5);
        for (int i = 0; i < 5; ++i) {
            TAString caption;
            for (const TCanDriverEntry& entry : QtCanBusDriverTable())
                if (entry.Identifier == order[i]) caption = entry.Caption;
            QCOMPARE(driver->itemText(i), QString::fromStdString(caption.str()));
        }
        // Settings files hold this caption since the driver was first offered.
        QCOMPARE(driver->itemText(4), QString("Qt CAN bus (SocketCAN, PEAK, virtual CAN)"));
    }

    void StoredTimingThatGivesAnotherRateIsRefused()
    {
        TFCanChannel d(&messages);
        d.Fill(Key("Vector3.2", With(VectorCard, {{"Baudrate", "500000"}, {"sjw", "1"}, {"tseg1", "8"},
                                                  {"tseg2", "7"}, {"sam", "1"}, {"presc", "2"}})));
        QVERIFY(Find<QCheckBox>(d, "C_initaccess")->isChecked());
        QVERIFY(Shown(d, "P_VectorInitAccess"));
        QCOMPARE(Edit(d, "E_presc")->text(), QString("2"));   // the stored one, not the 1 computed
        QCOMPARE(Edit(d, "E_sjw")->text(), QString("1"));
        Ok(d);
        QCOMPARE(messages.shown.size(), std::size_t{1});
        QCOMPARE(messages.shown[0].first, TAString("Chip param not consistent with baudrate"));
        QCOMPARE(messages.shown[0].second, TAString("Error"));
        QCOMPARE(d.ModalResult(), int(TFCanChannel::mrNone));
        QCOMPARE(Edit(d, "E_tseg1")->text(), QString("8"));
    }

    void VectorWithoutInitAccessStoresNoTiming()
    {
        TFCanChannel d(&messages);
        d.Fill(Key("Vector3.2", With(VectorCard, {{"Baudrate", "250000"}, {"sjw", "2"}, {"tseg1", "8"},
                                                  {"tseg2", "7"}, {"sam", "1"}, {"presc", "2"}})));
        QTest::mouseClick(Find<QCheckBox>(d, "C_initaccess"), Qt::LeftButton);   // untick
        QVERIFY(!Shown(d, "P_VectorInitAccess"));
        Ok(d);
        QCOMPARE(d.ModalResult(), int(TFCanChannel::mrOk));
        const TTreeKey& r = d.ResultKey();
        QCOMPARE(r.Name(), TAString("Vector3.2"));
        QVERIFY(!r.Contains("Baudrate"));
        QVERIFY(!r.Contains("presc"));
        QCOMPARE(Text(r, "DriverName"), TAString("Vector Informatik GmbH (VCANL 3.2)"));
        QCOMPARE(TFCanChannel::ChannelDescription(r), TAString("Vector3.2 CANcaseXL 1 2"));

        d.Fill(Key("Vector3.2", VectorCard));   // settings without a Baudrate untick it
        QVERIFY(!Find<QCheckBox>(d, "C_initaccess")->isChecked());
        QVERIFY(Find<QCheckBox>(d, "C_initaccess")->isEnabled());
    }

    void IxxatTicksAndGreysInitAccessAndVectorKeepsItTicked()
    {
        TFCanChannel d(&messages);
        d.Fill(Key("Vector3.2", VectorCard));
        auto* init = Find<QCheckBox>(d, "C_initaccess");
        QVERIFY(!init->isChecked());
        QComboBox* driver = Combo(d, "CB_Driver");
        driver->setCurrentIndex(driver->findText("IXXAT GmbH (VCI 3.x)"));
        QCOMPARE(d.SelectedDriver(), TAString("Vci3.0"));
        QVERIFY(init->isChecked());
        QVERIFY(!init->isEnabled());
        QVERIFY(Shown(d, "CB_Vci3Card"));
        QVERIFY(!Shown(d, "CB_Vci2Card"));
        QVERIFY(!Shown(d, "CB_VectorCard"));
        QVERIFY(Shown(d, "P_VectorInitAccess"));

        driver->setCurrentIndex(driver->findText("Vector Informatik GmbH (VCANL 3.2)"));
        QVERIFY(init->isEnabled());
        QVERIFY(init->isChecked());
        QVERIFY(Shown(d, "CB_VectorCard"));
        QVERIFY(Shown(d, "P_VectorInitAccess"));
    }

    void IxxatSettingsWithoutTimingStillAskForOne()
    {
        TFCanChannel d(&messages);
        d.Fill(Key("Vci3.0", {{"DriverName", "IXXAT GmbH (VCI 3.x)"}, {"CardType", "USBTOCANV2"},
                              {"CardIndex", "1"}, {"Channel", "1"}}));
        QCOMPARE(Combo(d, "CB_Vci3Card")->currentText(), QString("USBTOCANV2"));
        QVERIFY(Find<QCheckBox>(d, "C_initaccess")->isChecked());
        Edit(d, "E_tseg1")->clear();
        Ok(d);
        QCOMPARE(messages.shown.size(), std::size_t{1});
        QCOMPARE(messages.shown[0].first, TAString("tseg1 is not between 1 and 16"));
    }

    void EmptyCardTypeIsStoredAsDash()
    {
        TFCanChannel d(&messages);
        d.Fill(Key("Vector3.2", VectorCard));
        Combo(d, "CB_VectorCard")->lineEdit()->clear();
        Ok(d);
        QCOMPARE(Text(d.ResultKey(), "CardType"), TAString("-"));
        QCOMPARE(Text(d.ResultKey(), "CardIndex"), TAString("1"));
        QCOMPARE(Text(d.ResultKey(), "Channel"), TAString("2"));
    }

    void DriverNotOfferedSelectsNothingAndStoresANamelessKey()
    {
        TFCanChannel d(&messages);
        d.SetStyle(true, true, true, false);
        d.Fill(Key("Simulation", {{"DriverName", "Simulation"}, {"Comm[0]", "RAM 1 2"}}));
        QCOMPARE(Combo(d, "CB_Driver")->currentText(), QString("Simulation"));
        QCOMPARE(d.SelectedDriver(), TAString());
        QVERIFY(!Shown(d, "P_Simulation"));
        QVERIFY(!Shown(d, "P_SJA1000"));
        Ok(d);
        QCOMPARE(d.ModalResult(), int(TFCanChannel::mrOk));
        const TTreeKey& r = d.ResultKey();
        QCOMPARE(r.Name(), TAString());
        QCOMPARE(r.Count(), 1);
        QCOMPARE(Text(r, "DriverName"), TAString("Simulation"));
        TCanAdapters registry;
        try {
            registry.OpenChannel(TFCanChannel::ChannelDescription(r));
            QFAIL("opened");
        } catch (const TBaseError& e) {
            QCOMPARE(e.Message(), TAString("Driver not supported"));
        }
    }

    void SimulationStoresTheFilledFieldsAtTheirIndices()
    {
        TFCanChannel d(&messages);
        d.Fill(Key("Simulation", {{"DriverName", "Simulation"}, {"Comm[0]", "RAM 1 2"}, {"Comm[2]", "RAM 3 4"}}));
        QVERIFY(Shown(d, "P_Simulation"));
        QVERIFY(!Shown(d, "P_SJA1000"));
        QCOMPARE(Edit(d, "E_SimComm1")->text(), QString("RAM 1 2"));
        QCOMPARE(Edit(d, "E_SimComm2")->text(), QString());
        QCOMPARE(Edit(d, "E_SimComm3")->text(), QString("RAM 3 4"));
        Edit(d, "E_SimComm3")->clear();
        Type(Edit(d, "E_SimComm5"), "HDD b.txt dummy");
        Ok(d);
        const TTreeKey& r = d.ResultKey();
        QCOMPARE(r.Name(), TAString("Simulation"));
        QCOMPARE(Text(r, "Comm[0]"), TAString("RAM 1 2"));
        QCOMPARE(Text(r, "Comm[4]"), TAString("HDD b.txt dummy"));
        QVERIFY(!r["Comm[2]"].Contains("<TEXT>"));   // only a placeholder
        QCOMPARE(TFCanChannel::ChannelDescription(r), TAString("Simulation RAM 1 2,HDD b.txt dummy"));
    }

    void QtCanBusOffersPluginsAndStoresPluginInterfaceAndOptionalRate()
    {
        TFCanChannel d(&messages);
        d.SetStyle(true, true, true, true, true);
        Combo(d, "CB_Driver")->setEditText("Qt CAN bus (SocketCAN, PEAK, virtual CAN)");
        QCOMPARE(d.SelectedDriver(), TAString("QtCanBus"));
        QVERIFY(Shown(d, "P_QtCanBus"));
        QVERIFY(!Shown(d, "P_SJA1000"));
        QVERIFY(!Shown(d, "P_Simulation"));
        QComboBox* plugin = Combo(d, "CB_QtPlugin");
        QVERIFY(plugin->findText("virtualcan") >= 0);
        QVERIFY(plugin->findText("socketcan") >= 0);
        Type(plugin, "virtualcan");
        // The virtual bus reports its interfaces.
        QVERIFY(Combo(d, "CB_QtInterface")->findText("can0") >= 0);
        Type(Combo(d, "CB_QtInterface"), "can1");
        Ok(d);
        const TTreeKey& r = d.ResultKey();
        QCOMPARE(r.Name(), TAString("QtCanBus"));
        QCOMPARE(Text(r, "Plugin"), TAString("virtualcan"));
        QCOMPARE(Text(r, "Interface"), TAString("can1"));
        QVERIFY(!r.Contains("Baudrate"));
        QCOMPARE(TFCanChannel::ChannelDescription(r), TAString("QtCanBus virtualcan can1"));

        d.Fill(r);
        Type(Combo(d, "CB_QtBaudrate"), "250000");
        Ok(d);
        QCOMPARE(TFCanChannel::ChannelDescription(d.ResultKey()), TAString("QtCanBus virtualcan can1 250000"));
    }

    void CancelKeepsTheKeyGivenAndExecuteReturnsItsResult()
    {
        TFCanChannel d(&messages);
        const TXmlElement given = Key("Vector3.2", VectorCard);
        QTimer::singleShot(0, &d, [&d] { Find<QPushButton>(d, "B_Cancel")->click(); });
        QCOMPARE(d.Execute(given), int(TFCanChannel::mrCancel));
        QCOMPARE(d.ModalResult(), int(TFCanChannel::mrCancel));
        QCOMPARE(TFCanChannel::ChannelDescription(d.ResultKey()), TAString("Vector3.2 CANcaseXL 1 2"));

        QTimer::singleShot(0, &d, [&d] {
            Type(Combo(d, "CB_VectorChannel"), "3");
            Ok(d);
        });
        QCOMPARE(d.Execute(given), int(TFCanChannel::mrOk));
        QCOMPARE(TFCanChannel::ChannelDescription(d.ResultKey()), TAString("Vector3.2 CANcaseXL 1 3"));

        QTimer::singleShot(0, &d, [&d] { d.reject(); });   // the close box
        QCOMPARE(d.Execute(given), int(TFCanChannel::mrCancel));
        QCOMPARE(Text(d.ResultKey(), "Channel"), TAString("2"));
    }

    void ShowcaseStates()
    {
        TFCanChannel d(&messages);
        CanShowcase::SimulationPanel(d);
        QVERIFY(Shown(d, "P_Simulation"));
        QCOMPARE(Edit(d, "E_SimComm2")->text(), QString("HDD b.txt dummy"));
        CanShowcase::CardWithBitTiming(d);
        QVERIFY(Shown(d, "P_VectorInitAccess"));
        QCOMPARE(Edit(d, "E_presc")->text(), QString("2"));
        QVERIFY(Black(Edit(d, "E_presc")));
    }
};

QTEST_MAIN(TFCanChannelTest)
#include "tfcanchannel_test.moc"
