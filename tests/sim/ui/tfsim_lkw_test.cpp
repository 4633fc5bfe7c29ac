// The cockpit window driven as a user would, by object name.
#include "sim/tlkw.h"
#include "sim/ui/cockpitscreenshot.h"
#include "sim/ui/tfsim_lkw.h"
#include "support/txmlelement.h"
#include "tests/wheelevent.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <iterator>
#include <string>
#include <vector>

namespace {

// The number the model hands over for signal id (NaN when it is no number).
double Number(const TSignalSnapshot& values, TSignalId id)
{
    const double* v = std::get_if<double>(&values.Entry(id).Content);
    return v ? *v : std::nan("");
}

}  // namespace

class TFSim_LkwTest : public QObject {
    Q_OBJECT

private:
    struct Shown {
        TFSim_Lkw window;
        Shown()
        {
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
        }
        template <class T> T* Get(const char* name)
        {
            T* w = window.findChild<T*>(name);
            if (!w) qFatal("no control %s", name);
            return w;
        }
        double MV(const char* name) { return window.Lkw().GetMV(name); }
    };

    // The middle button sets a slider to the position clicked, as on the screen.
    static void ClickSliderAt(QSlider* slider, bool top)
    {
        const QPoint at(slider->width() / 2, top ? 1 : slider->height() - 2);
        QTest::mouseClick(slider, Qt::MiddleButton, {}, at);
    }

    static void TypeInto(QLineEdit* edit, const QString& text)
    {
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, text);
        QTest::keyClick(edit, Qt::Key_Return);
    }

    static QPoint CellCentre(int index) { return {(index % 8) * 32 + 16, (index / 8) * 32 + 16}; }

private slots:
    // The fill of the pedal bars is checked in the style's own colours.
    void initTestCase() { QApplication::setStyle("Fusion"); }

    void InitialStateOfTheControlsAndTheModel()
    {
        Shown s;
        QCOMPARE(s.window.windowTitle(), QString("Tessmar - Vehicle Simulation"));
        // The designed size, or larger where the font needs it; no scroll bars on a
        // screen that holds the window.
        QVERIFY(s.window.width() >= 792 && s.window.height() >= 567);
        QVERIFY(QGuiApplication::primaryScreen()->availableGeometry().contains(s.window.frameGeometry()));
        auto* frame = s.Get<QScrollArea>("SB_Window");
        QVERIFY(!frame->horizontalScrollBar()->isVisible() && !frame->verticalScrollBar()->isVisible());
        QCOMPARE(s.Get<QCheckBox>("CB_Manual")->text(), QString("No automatic simulation "));
        QCOMPARE(s.Get<QPushButton>("B_Beenden")->text(), QString("Hide"));
        QCOMPARE(s.Get<QPushButton>("Starter")->text(), QString("Starter"));
        QCOMPARE(s.Get<QCheckBox>("CB_Tempomat")->text(), QString("Cruise control"));
        QCOMPARE(s.Get<QSlider>("TB_Accel")->value(), 0);
        QCOMPARE(s.Get<QSlider>("TB_Brake")->value(), 100);
        QCOMPARE(s.Get<QSlider>("TB_Clutch")->value(), 100);
        QCOMPARE(s.Get<QSlider>("TB_Gang")->value(), 7);
        QVERIFY(s.Get<QCheckBox>("CBAutoClutch")->isChecked());
        QVERIFY(s.Get<QCheckBox>("CB_Ignition")->isChecked());
        QVERIFY(!s.Get<QCheckBox>("CB_Tempomat")->isChecked());
        QVERIFY(s.Get<QCheckBox>("CB_Diagnose")->isChecked());
        QVERIFY(!s.Get<QCheckBox>("C_DCE10")->isChecked());
        QCOMPARE(s.Get<QCheckBox>("C_DCE10")->property("tag").toInt(), 3441);
        QCOMPARE(s.Get<QLineEdit>("E_Year")->property("tag").toInt(), 0);
        QCOMPARE(s.Get<QComboBox>("CO_PosDoor")->currentText(), QString("0010 = all doors closed"));
        QCOMPARE(s.Get<QComboBox>("CO_D2Time")->count(), 7);

        // The pedal handlers ran: gear 1, full accelerator, brake released, clutch engaged.
        QCOMPARE(s.MV("Gang"), 1.0);
        QCOMPARE(s.MV("Gaspedal"), 100.0);
        QCOMPARE(s.MV("Bremspedal"), 0.0);
        QCOMPARE(s.MV("Kupplungspedal"), 100.0);
        // Every signal control went into the model and came back formatted.
        QCOMPARE(s.MV("DCPosDoor"), 2.0);
        QCOMPARE(s.MV("Can:Anfragen"), 1.0);
        QCOMPARE(s.MV("Fms:Version"), 0.02);
        QCOMPARE(s.MV("Day"), 9.0);
        QCOMPARE(s.Get<QLineEdit>("E_FmsVersion")->text(), QString(" 0.02"));
        QCOMPARE(s.Get<QLineEdit>("E_WTemp")->text(), QString("15"));
        QCOMPARE(s.Get<QLineEdit>("E_Day")->text(), QString("9.00"));
        QCOMPARE(s.Get<QLineEdit>("E_Sec")->text(), QString("0.00"));
        // "999.99" lies outside 0 .. 250.996: never committed, the model keeps 0.
        QCOMPARE(s.Get<QLineEdit>("ETacho")->text(), QString("999.99"));
        QCOMPARE(s.MV("Geschwindigkeit"), 0.0);
        QCOMPARE(s.window.Lkw().GetVehicleId(), TAString("Vehicle_ID_0001_abcdefg"));
        QCOMPARE(s.window.Lkw().GetDriverId2(), TAString("GB_Driver_ID_000002"));
        QCOMPARE(s.window.Lkw().GetTellTales(), TAString(std::string(41, '0')));
    }

    void GearBarTopIsEighthGearBottomIsNeutral()
    {
        Shown s;
        auto* gear = s.Get<QSlider>("TB_Gang");
        ClickSliderAt(gear, true);
        QCOMPARE(s.MV("Gang"), 8.0);
        ClickSliderAt(gear, false);
        QCOMPARE(s.MV("Gang"), 0.0);
    }

    void AcceleratorTopIsFullBrakeBottomIsReleased()
    {
        Shown s;
        auto* accel = s.Get<QSlider>("TB_Accel");
        ClickSliderAt(accel, false);
        QCOMPARE(s.MV("Gaspedal"), 0.0);
        ClickSliderAt(accel, true);
        QCOMPARE(s.MV("Gaspedal"), 100.0);
        auto* brake = s.Get<QSlider>("TB_Brake");
        ClickSliderAt(brake, true);
        QCOMPARE(s.MV("Bremspedal"), 100.0);
        ClickSliderAt(brake, false);
        QCOMPARE(s.MV("Bremspedal"), 0.0);
    }

    void SixClicksReturnATellTaleToOffThroughTintedStates()
    {
        Shown s;
        auto* field = s.Get<QLabel>("ImgTellTale");
        const int index = 9;   // fuel level
        const QPoint at = CellCentre(index);
        // The brightest pixel of the cell shows the state's colour.
        auto brightest = [&] {
            QRgb best = qRgb(0, 0, 0);
            const QImage& img = s.window.TellTaleImage();
            for (int y = (index / 8) * 32; y < (index / 8) * 32 + 32; ++y)
                for (int x = (index % 8) * 32; x < (index % 8) * 32 + 32; ++x)
                    if (qGray(img.pixel(x, y)) > qGray(best)) best = img.pixel(x, y);
            return best;
        };
        QRgb off = brightest();
        QVERIFY(qRed(off) > 0 && qRed(off) == qGreen(off) && qGreen(off) == qBlue(off));
        QVERIFY(qRed(off) <= 127);

        const int states[] = {1, 2, 3, 6, 7, 0};
        for (int state : states) {
            QTest::mouseClick(field, Qt::LeftButton, {}, at);
            QCOMPARE(s.window.TellTales().State(index), state);
            QCOMPARE(s.window.Lkw().GetTellTales()[index], static_cast<char>('0' + state));
            const QRgb c = brightest();
            switch (state) {
            case 1: QVERIFY(qRed(c) > qGreen(c) && qGreen(c) == qBlue(c)); break;   // light red
            case 2: QVERIFY(qRed(c) == qGreen(c) && qGreen(c) > qBlue(c)); break;   // light yellow
            case 3: QVERIFY(qRed(c) > 200 && qRed(c) == qBlue(c)); break;           // white
            case 6: QVERIFY(qRed(c) == 0 && qBlue(c) > 200); break;                 // blue
            case 7: QCOMPARE(c, qRgb(0, 0, 0)); break;                              // black
            default: QCOMPARE(c, off); break;
            }
        }
        QCOMPARE(s.window.Lkw().GetTellTales(), TAString(std::string(41, '0')));

        // Below the last tell-tale nothing happens.
        QTest::mouseClick(field, Qt::LeftButton, {}, CellCentre(41));
        QCOMPARE(s.window.Lkw().GetTellTales(), TAString(std::string(41, '0')));
    }

    void TellTaleHintNamesStateCellAndTellTale()
    {
        Shown s;
        auto* field = s.Get<QLabel>("ImgTellTale");
        QTest::mouseMove(field, CellCentre(2));
        QTRY_COMPARE(field->toolTip(), QString("Off - 3 - Low beam, dipped beam"));
        QTest::mouseClick(field, Qt::LeftButton, {}, CellCentre(2));
        QCOMPARE(field->toolTip(), QString("Cond. Red - 3 - Low beam, dipped beam"));
        QTest::mouseMove(field, CellCentre(44));
        QTRY_COMPARE(field->toolTip(), QString());
    }

    void EditingYearWritesEverySignalControl()
    {
        Shown s;
        TLkw& lkw = s.window.Lkw();
        lkw.SetMV("ParkBrake", 5);
        lkw.SetMV("WPFL", -1);
        lkw.SetMV("DCPosDoor", 7);
        lkw.SetMV("Can:Diagnose", 0);
        lkw.SetVehicleId("x");
        lkw.SetDriverId1("y");
        TypeInto(s.Get<QLineEdit>("E_Year"), "2010");
        QCOMPARE(s.MV("Year"), 2010.0);
        QCOMPARE(s.MV("ParkBrake"), 0.0);
        QCOMPARE(s.MV("WPFL"), 400.0);
        QCOMPARE(s.MV("DCPosDoor"), 2.0);
        QCOMPARE(s.MV("Can:Diagnose"), 1.0);
        QCOMPARE(lkw.GetVehicleId(), TAString("Vehicle_ID_0001_abcdefg"));
        QCOMPARE(lkw.GetDriverId1(), TAString("GB_Driver_ID_000001"));

        // A field with a tag writes only itself. (Leaving "Year" commits it once more.)
        s.Get<QLineEdit>("E_WPHR")->setFocus();
        lkw.SetMV("ParkBrake", 5);
        TypeInto(s.Get<QLineEdit>("E_WPHR"), "123.4");
        QCOMPARE(s.MV("WPHR"), 123.4);
        QCOMPARE(s.MV("ParkBrake"), 5.0);
        // Out of range: red and not written.
        TypeInto(s.Get<QLineEdit>("E_WPHR"), "7000");
        QCOMPARE(s.MV("WPHR"), 123.4);
    }

    void ComboTextStoresItsBinaryNumber()
    {
        Shown s;
        auto* combo = s.Get<QComboBox>("CO_D1Time");
        combo->setCurrentIndex(combo->findText("0110 = 16 h reached"));
        QCOMPARE(s.MV("TCO:D1 ZeitStatus"), 6.0);
        combo->setCurrentIndex(-1);
        QCOMPARE(combo->currentText(), QString());
        QCOMPARE(s.MV("TCO:D1 ZeitStatus"), 0.0);
        s.Get<QComboBox>("CO_D2Status")->setCurrentIndex(3);   // "011 = Drive"
        QCOMPARE(s.MV("TCO:D2 Status"), 3.0);
    }

    void TypedWheelSpeedIsSentAsTypedWithoutAutomaticSimulation()
    {
        Shown s;
        s.Get<QSlider>("TB_Gang")->setValue(5);
        s.window.Lkw().StartEngine();
        QTest::mouseClick(s.Get<QCheckBox>("CB_Manual"), Qt::LeftButton);
        QVERIFY(s.Get<QCheckBox>("CB_Manual")->isChecked());
        auto* speed = s.Get<QLineEdit>("ETacho");
        TypeInto(speed, "55.5");
        s.Get<QLineEdit>("E_Year")->setFocus();
        const TSignalSnapshot* values = nullptr;
        for (int i = 0; i < 20; ++i) values = &s.window.Step(0.02, true);
        QCOMPARE(speed->text(), QString("55.5"));
        QCOMPARE(s.MV("Geschwindigkeit"), 55.5);
        QCOMPARE(s.MV("Drehzahl"), 245.0);   // not stepped
        // The wheel based speed and the tachograph speed handed over.
        QCOMPARE(Number(*values, fmssignal::WheelSpeed), 55.5);
        QCOMPARE(Number(*values, fmssignal::TachoSpeed), 55.5);

        // With automatic simulation the gauge writes the model's speed into the field.
        QTest::mouseClick(s.Get<QCheckBox>("CB_Manual"), Qt::LeftButton);
        s.window.Step(0.02, true);
        QVERIFY(speed->text() != QString("55.5"));
        QVERIFY(qAbs(speed->text().toDouble() - 55.5) < 1.0);
    }

    void DisplayLeavesAFieldAloneWhileItIsTypedIn()
    {
        Shown s;
        auto* fuel = s.Get<QLineEdit>("E_Tankinhalt");
        s.window.Lkw().StartEngine();
        s.window.Step(0.02, true);
        // Width 5 and one decimal: a full tank just started reads "100.0".
        QCOMPARE(fuel->text(), QString(TAString(s.MV("Tankinhalt"), 5, 1).c_str()));
        fuel->setFocus();
        fuel->selectAll();
        QTest::keyClicks(fuel, "4");
        s.window.Step(0.02, true);
        QCOMPARE(fuel->text(), QString("4"));
        QTest::keyClick(fuel, Qt::Key_Return);
        QCOMPARE(s.MV("Tankinhalt"), 4.0);
        s.Get<QLineEdit>("E_Year")->setFocus();
        s.window.Step(0.02, true);
        QCOMPARE(fuel->text(), QString(TAString(s.MV("Tankinhalt"), 5, 1).c_str()));
        // Not refreshed: the field keeps what it showed.
        const QString shown = fuel->text();
        for (int i = 0; i < 100; ++i) s.window.Step(0.02, false);
        QCOMPARE(fuel->text(), shown);
    }

    void CruiseControlMovesTheAcceleratorBar()
    {
        Shown s;
        auto* accel = s.Get<QSlider>("TB_Accel");
        s.Get<QSlider>("TB_Gang")->setValue(8 - 3);
        accel->setValue(40);   // 60 %
        s.window.Lkw().StartEngine();
        for (int i = 0; i < 500; ++i) s.window.Step(0.02, false);
        QTest::mouseClick(s.Get<QCheckBox>("CB_Tempomat"), Qt::LeftButton);
        QCOMPARE(s.MV("Tempomat"), 1.0);
        accel->setValue(0);   // the driver lets the controller do it
        for (int i = 0; i < 50; ++i) s.window.Step(0.02, false);
        s.window.Step(0.02, true);
        const double after = s.MV("Gaspedal");
        QCOMPARE(accel->value(), static_cast<int>(100 - after));
        QVERIFY(accel->value() != 0);
        // Showing the controller's pedal does not feed back into the model.
        s.window.UpdateDisplay();
        QCOMPARE(s.MV("Gaspedal"), after);

        // Once the model's cruise control is off, the box follows.
        s.window.Lkw().SetMV("Tempomat", 0);
        s.window.Step(0.02, true);
        QVERIFY(!s.Get<QCheckBox>("CB_Tempomat")->isChecked());
    }

    void StarterStartsARunOnlyWhenNoneIsInProgress()
    {
        Shown s;
        int starts = 0;
        bool running = false;
        s.window.SetRunControl([&] { ++starts; running = true; }, [&] { return running; });
        auto* starter = s.Get<QPushButton>("Starter");
        QTest::mouseClick(starter, Qt::LeftButton);
        QCOMPARE(starts, 1);
        QCOMPARE(s.MV("Drehzahl"), 245.0);
        QTest::mouseClick(starter, Qt::LeftButton);
        QCOMPARE(starts, 1);

        // Without ignition the starter does not turn the engine over.
        s.window.Lkw().SetMV("Drehzahl", 0);
        QTest::mouseClick(s.Get<QCheckBox>("CB_Ignition"), Qt::LeftButton);
        QCOMPARE(s.MV("Zuendung"), 0.0);
        QTest::mouseClick(starter, Qt::LeftButton);
        QCOMPARE(s.MV("Drehzahl"), 0.0);
    }

    void PositionIsReadAndStoredUnderFzgSim()
    {
        TXmlElement key("FzgSim");
        key["Position Top"]("<TEXT>") = "12";
        key["Position Left"]("<TEXT>") = "left";
        {
            TFSim_Lkw w(&key);
            QCOMPARE(w.y(), 12);
            QCOMPARE(w.x(), 0);
            w.move(3, 4);
            w.StorePosition();
        }
        QCOMPARE(key["Position Top"]("<TEXT>"), TAString("4"));
        QCOMPARE(key["Position Left"]("<TEXT>"), TAString("3"));

        // A missing position leaves 0, 0 and creates nothing.
        TXmlElement empty("FzgSim");
        TFSim_Lkw w(&empty);
        QCOMPARE(w.pos(), QPoint(0, 0));
        QCOMPARE(empty.Count(), 0);
    }

    void StoredPositionOffTheScreenIsBroughtBack()
    {
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        const struct {
            const char* top;
            const char* left;
        } stored[] = {{"3000", "3000"}, {"-500", "-800"}, {"3000", "0"}};
        for (const auto& p : stored) {
            TXmlElement key("FzgSim");
            key["Position Top"]("<TEXT>") = p.top;
            key["Position Left"]("<TEXT>") = p.left;
            TFSim_Lkw w(&key);
            QVERIFY2(area.contains(w.frameGeometry()), p.top);
        }
        // At 3000, 3000 the least move puts the window in the bottom right corner.
        TXmlElement key("FzgSim");
        key["Position Top"]("<TEXT>") = "3000";
        key["Position Left"]("<TEXT>") = "3000";
        TFSim_Lkw w(&key);
        QCOMPARE(w.frameGeometry().bottomRight(), area.bottomRight());
    }

    void OpensWithTheFocusOnTheAcceleratorAndTabsThroughTheDrivingControls()
    {
        Shown s;
        s.window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&s.window));
        QCOMPARE(QApplication::focusWidget(), s.Get<QWidget>("TB_Accel"));
        const char* chain[] = {"TB_Brake", "TB_Clutch", "CBAutoClutch", "TB_Gang", "CB_Ignition",
                               "Starter",  "CB_Tempomat", "C_Park",     "ETacho"};
        for (const char* next : chain) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), QString(next));
        }
    }

    // The issue of fields fed by the running model: clicking into one and leaving it
    // without typing must not set the vehicle back to what the field showed.
    void FocusInAndOutOfAModelFedFieldLeavesTheModelAlone()
    {
        Shown s;
        TLkw& lkw = s.window.Lkw();
        s.Get<QSlider>("TB_Gang")->setValue(8 - 3);
        s.Get<QSlider>("TB_Accel")->setValue(100 - 60);
        lkw.StartEngine();
        for (int i = 0; i < 1000; ++i) s.window.Step(0.02, i % 10 == 0);
        QVERIFY(s.MV("Geschwindigkeit") > 20.0);

        auto* elsewhere = s.Get<QWidget>("TB_Accel");
        const char* fields[] = {"ETacho",        "EDrehzahl",  "EDKmStand", "E_Tankinhalt", "E_TotFuelUsed",
                                "E_BetrZeit",    "E_WTemp",    "E_FuRa",    "E_InFuEc"};
        const char* values[] = {"Geschwindigkeit", "Drehzahl",   "Kilometerstand",
                                "Tankinhalt",      "Verbrauch total", "Motor:Betriebszeit",
                                "Motor:Kuehlmitteltemperatur", "FURA", "IFEff"};
        for (std::size_t k = 0; k < std::size(fields); ++k) {
            auto* field = s.Get<QLineEdit>(fields[k]);
            field->setFocus();
            // The model runs on while the field has the focus (and shows what it showed).
            for (int i = 0; i < 50; ++i) s.window.Step(0.02, true);
            const double running = s.MV(values[k]);
            elsewhere->setFocus();
            QVERIFY2(s.MV(values[k]) == running, fields[k]);
            // Enter without a change commits nothing either.
            field->setFocus();
            for (int i = 0; i < 50; ++i) s.window.Step(0.02, true);
            const double again = s.MV(values[k]);
            QTest::keyClick(field, Qt::Key_Return);
            QVERIFY2(s.MV(values[k]) == again, fields[k]);
            elsewhere->setFocus();
        }
        // A changed text is still the user's value.
        auto* fuel = s.Get<QLineEdit>("E_Tankinhalt");
        fuel->setFocus();
        fuel->selectAll();
        QTest::keyClicks(fuel, "42");
        elsewhere->setFocus();
        QCOMPARE(s.MV("Tankinhalt"), 42.0);
    }

    void AnotherWindowTakingTheFocusDoesNotRewindTheSpeed()
    {
        Shown s;
        s.window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&s.window));
        s.Get<QSlider>("TB_Gang")->setValue(8 - 3);
        s.Get<QSlider>("TB_Accel")->setValue(100 - 60);
        s.window.Lkw().StartEngine();
        for (int i = 0; i < 1000; ++i) s.window.Step(0.02, i % 10 == 0);
        QVERIFY(s.MV("Geschwindigkeit") > 20.0);
        // The user had clicked into the speed field; the vehicle runs on meanwhile.
        s.Get<QLineEdit>("ETacho")->setFocus(Qt::MouseFocusReason);
        for (int i = 0; i < 50; ++i) s.window.Step(0.02, true);
        const double speed = s.MV("Geschwindigkeit");
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QCOMPARE(s.MV("Geschwindigkeit"), speed);
        s.window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&s.window));
        QCOMPARE(s.MV("Geschwindigkeit"), speed);
    }

    void EditingYearKeepsWhatTheModelComputed()
    {
        Shown s;
        s.Get<QSlider>("TB_Gang")->setValue(8 - 3);
        s.Get<QSlider>("TB_Accel")->setValue(100 - 60);
        s.window.Lkw().StartEngine();
        for (int i = 0; i < 300; ++i) s.window.Step(0.02, i % 10 == 0);
        // Values the fields no longer show exactly: the model ran on without a refresh.
        for (int i = 0; i < 5; ++i) s.window.Step(0.02, false);
        const char* values[] = {"Geschwindigkeit", "Drehzahl", "Kilometerstand", "Tankinhalt", "Verbrauch total",
                                "Motor:Betriebszeit", "FURA"};
        std::vector<double> before;
        for (const char* v : values) before.push_back(s.MV(v));
        s.window.Lkw().SetMV("ParkBrake", 5);
        TypeInto(s.Get<QLineEdit>("E_Year"), "2011");
        QCOMPARE(s.MV("Year"), 2011.0);
        QCOMPARE(s.MV("ParkBrake"), 0.0);   // the other controls are written as before
        for (std::size_t k = 0; k < std::size(values); ++k) QVERIFY2(s.MV(values[k]) == before[k], values[k]);
    }

    void IdentificationFieldsTakeOnlyWhatParsesAsSent()
    {
        Shown s;
        TLkw& lkw = s.window.Lkw();
        auto* driver = s.Get<QLineEdit>("E_DID1");
        const struct {
            QString typed;
            bool taken;
        } cases[] = {
            {"AB*CD", false},                  // "*" ends the field on the bus
            {QString::fromUtf8("M\xC3\xBCller"), false},   // not ASCII
            {QString(20, 'D'), false},         // one more than the field takes; never cut
            {"Fahrer 1", true},
            {QString(19, 'D'), true},
        };
        for (const auto& c : cases) {
            const TAString before = lkw.GetDriverId1();
            // Pasted rather than typed: the key simulation knows only ASCII keys.
            driver->setFocus();
            driver->selectAll();
            driver->insert(c.typed);
            QTest::keyClick(driver, Qt::Key_Return);
            const TAString expected = c.taken ? TAString(c.typed.toStdString()) : before;
            QVERIFY2(lkw.GetDriverId1() == expected, qPrintable(c.typed));
            const QColor red(255, 0, 0);
            QCOMPARE(driver->palette().color(QPalette::Text) == red, !c.taken);
        }
        TypeInto(s.Get<QLineEdit>("E_FzgID"), "VIN*1");
        QCOMPARE(lkw.GetVehicleId(), TAString("Vehicle_ID_0001_abcdefg"));
    }

    void ValueOutsideItsRangeShowsRedInItsField()
    {
        Shown s;
        s.window.Lkw().SetMV("Tankinhalt", 150);   // not from the field: it refuses that
        s.window.Step(0.02, true);
        auto* fuel = s.Get<QLineEdit>("E_Tankinhalt");
        QCOMPARE(fuel->text(), QString("150.0"));
        QCOMPARE(fuel->palette().color(QPalette::Text), QColor(255, 0, 0));
    }

    void TimeAndDateRunAndAnEditStartsThemAnew()
    {
        Shown s;
        // 12:20:00 on 9 November 2009, 135 s on: 12:22:15, shown in the fields.
        for (int i = 0; i < 6750; ++i) s.window.Step(0.02, i == 6749);
        QCOMPARE(s.MV("Min"), 22.0);
        QCOMPARE(s.MV("Sec"), 15.0);
        QCOMPARE(s.Get<QLineEdit>("E_Min")->text(), QString("22"));
        QCOMPARE(s.Get<QLineEdit>("E_Sec")->text(), QString("15.00"));

        // The hour typed in; the other fields as shown: 23:22:15, then 37 min 45 s to
        // midnight.
        TypeInto(s.Get<QLineEdit>("E_Hours"), "23");
        QCOMPARE(s.MV("Hours"), 23.0);
        QCOMPARE(s.MV("Min"), 22.0);
        // Without automatic simulation the clock runs on all the same.
        QTest::mouseClick(s.Get<QCheckBox>("CB_Manual"), Qt::LeftButton);
        for (int i = 0; i < 113250; ++i) s.window.Step(0.02, i == 113249);
        QCOMPARE(s.MV("Hours"), 0.0);
        QCOMPARE(s.MV("Min"), 0.0);
        QCOMPARE(s.MV("Sec"), 0.0);
        QCOMPARE(s.MV("Day"), 10.0);
        QCOMPARE(s.Get<QLineEdit>("E_Day")->text(), QString("10.00"));
    }

    void DoorNumbersStandOverTheirColumns()
    {
        Shown s;
        auto* doors = s.Get<QGroupBox>("GB_Door_Control_2");
        // The centre of a check box's box, in the group's coordinates.
        auto boxCentre = [&](const QString& name) {
            auto* box = s.Get<QCheckBox>(qPrintable(name));
            QStyleOptionButton option;
            option.initFrom(box);
            const QRect indicator = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
            return box->mapTo(doors, indicator.center());
        };
        for (int door = 1; door <= 10; ++door) {
            QLabel* number = nullptr;
            for (QLabel* l : doors->findChildren<QLabel*>())
                if (l->text().trimmed() == QString::number(door)) number = l;
            QVERIFY2(number, qPrintable(QString::number(door)));
            // Where the digits are drawn: the label's text rectangle, centred.
            const QRect text = QStyle::alignedRect(Qt::LeftToRight, number->alignment(),
                                                   number->fontMetrics().size(0, number->text()),
                                                   number->contentsRect());
            const QPoint digits = number->mapTo(doors, text.center());
            for (const char* row : {"C_DCL", "C_DCO", "C_DCE"}) {
                const QPoint box = boxCentre(QString("%1%2").arg(row).arg(door));
                QVERIFY2(qAbs(box.x() - digits.x()) <= 2,
                         qPrintable(QString("door %1 %2: digits at %3, box at %4").arg(door).arg(row).arg(digits.x()).arg(box.x())));
                QVERIFY(box.y() > digits.y());
            }
        }
        // Ticking the lock box under "6" locks door 6, nothing else.
        QTest::mouseClick(s.Get<QCheckBox>("C_DCL6"), Qt::LeftButton);
        QCOMPARE(s.MV("DoorLock6"), 1.0);
        QCOMPARE(s.MV("DoorLock2"), 0.0);
    }

    void MeasuredValuesFitTheirViewAndTheWheelScrollsThem()
    {
        Shown s;
        auto* scroll = s.Get<QScrollArea>("SB_MeasuredValues");
        QVERIFY(!scroll->horizontalScrollBar()->isVisible());
        QVERIFY(scroll->widget()->width() <= scroll->viewport()->width());
        QVERIFY(scroll->widget()->minimumSizeHint().width() <= scroll->viewport()->width());

        s.window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&s.window));
        for (const char* name : {"CO_D1Status", "CO_D2Time", "CO_PosDoor"}) {
            auto* combo = s.Get<QComboBox>(name);
            const QString before = combo->currentText();
            scroll->verticalScrollBar()->setValue(0);
            for (int notch = 0; notch < 6; ++notch) WheelDown(combo);
            QCOMPARE(combo->currentText(), before);
            QVERIFY2(scroll->verticalScrollBar()->value() > 0, name);
        }
        QCOMPARE(s.MV("DCPosDoor"), 2.0);
        QCOMPARE(s.MV("TCO:D1 Status"), 0.0);
        // Focused, the box takes the wheel.
        auto* door = s.Get<QComboBox>("CO_PosDoor");
        door->setFocus(Qt::TabFocusReason);
        WheelDown(door);
        QCOMPARE(door->currentIndex(), 2);   // the last item: "down" stays there
        door->setCurrentIndex(0);
        WheelDown(door);
        QCOMPARE(s.MV("DCPosDoor"), 1.0);   // "0001 = closing last door"
    }

    // On a short screen the whole body scrolls: the wheel over a bar the user is not
    // working on must not shift the gear or a pedal.
    void WheelChangesOnlyTheFocusedTrackBar()
    {
        Shown s;
        s.window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&s.window));
        QCOMPARE(QApplication::focusWidget(), s.Get<QWidget>("TB_Accel"));
        for (const char* name : {"TB_Gang", "TB_Brake", "TB_Clutch"}) {
            auto* bar = s.Get<QSlider>(name);
            const int before = bar->value();
            WheelDown(bar);
            QVERIFY2(bar->value() == before, name);
        }
        QCOMPARE(s.MV("Gang"), 1.0);   // gear lever at position 7
        auto* accel = s.Get<QSlider>("TB_Accel");
        accel->setValue(50);
        WheelDown(accel);
        QVERIFY(accel->value() != 50);
        QCOMPARE(s.window.Lkw().GetMV("Gaspedal"), 100.0 - accel->value());
    }

    void PedalBarsFillWithThePedalsTravel()
    {
        Shown s;
        // Whether the bar's groove is filled a fraction of its height from the top.
        auto filled = [](QSlider* bar, double fromTop) {
            const QImage image = bar->grab().toImage();
            const QRgb p = image.pixel(image.width() / 2, static_cast<int>(image.height() * fromTop));
            return qBlue(p) - qRed(p) > 60;   // the highlight, not the grey groove
        };
        const struct {
            const char* bar;
            int position;
            bool lowerFilled;
            bool upperFilled;
        } cases[] = {
            {"TB_Accel", 0, true, true},       // 100 % accelerator: full
            {"TB_Accel", 100, false, false},   // released: empty
            {"TB_Accel", 70, true, false},     // 30 %: the lower part
            {"TB_Brake", 100, false, false},   // released brake: empty
            {"TB_Brake", 0, true, true},       // pressed: full
            {"TB_Clutch", 100, false, false},  // engaged clutch (pedal up): empty
            {"TB_Clutch", 0, true, true},      // pressed: full
        };
        for (const auto& c : cases) {
            auto* bar = s.Get<QSlider>(c.bar);
            bar->setValue(c.position);
            const QString what = QString("%1 at %2").arg(c.bar).arg(c.position);
            QVERIFY2(filled(bar, 0.85) == c.lowerFilled, qPrintable(what));
            QVERIFY2(filled(bar, 0.2) == c.upperFilled, qPrintable(what));
        }
    }

    void HideOnlyHidesAndTheModelRunsOn()
    {
        Shown s;
        QTest::mouseClick(s.Get<QPushButton>("B_Beenden"), Qt::LeftButton);
        QVERIFY(!s.window.isVisible());
        s.window.Lkw().StartEngine();
        s.window.Step(0.02, true);
        QVERIFY(s.MV("Drehzahlstand") > 0.0);
    }

    void ScreenshotShowsADriveWithTellTalesLit()
    {
        QTemporaryDir dir;
        TFSim_Lkw w;
        const QString file = dir.filePath("TFSim_Lkw.png");
        QVERIFY(RenderCockpitScreenshot(w, file));
        QImage png(file);
        QCOMPARE(png.size(), w.size());
        QVERIFY(w.Lkw().GetMV("Geschwindigkeit") > 10.0);
        QVERIFY(w.Lkw().GetTellTales() != TAString(std::string(41, '0')));
    }
};

QTEST_MAIN(TFSim_LkwTest)
#include "tfsim_lkw_test.moc"
