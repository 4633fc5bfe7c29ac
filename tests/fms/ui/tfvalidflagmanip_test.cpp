// The validity manipulation window, driven as a user would, checked end to end through
// the main tick: what the window applies is what the next frames carry.
#include "fms/ui/tfvalidflagmanip.h"

#include "fms/ui/fmsshowcase.h"
#include "runharness.h"
#include "support/tbaseerror.h"
#include "tests/wheelevent.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QtTest>

#include <algorithm>

namespace {

constexpr int ClutchSwitch = 2;
constexpr int FuelLevel = 7;
constexpr int EngineSpeed = 8;
constexpr int Vin = 10;
constexpr int Driver1TimeRelState = 20;

constexpr uint32_t Ccvs = 0xFEF1;
constexpr uint32_t Eec1 = 0xF004;
constexpr uint32_t VinGroup = 0xFEEC;
constexpr uint32_t TpCm = 0xECFF;

}  // namespace

class TFValidFlagManipTest : public QObject {
    Q_OBJECT

private:
    // A window wired to a run whose engine speed is 1500 rpm (raw 12000 = 0x2EE0).
    struct Rig {
        TRunHarness run;
        TFValidFlagManip window;
        Rig()
        {
            run.cockpit.SetField(EngineSpeed, "1500.000");
            run.engine.SetValidity(&window);
            window.show();
        }
        QComboBox* Box(int row) { return window.findChild<QComboBox*>(QString("C_Range%1").arg(row)); }
        QPushButton* Button(const char* name) { return window.findChild<QPushButton*>(name); }
        void Choose(int row, const char* item)
        {
            QComboBox* box = Box(row);
            const int i = box->findText(item);
            QVERIFY2(i >= 0, item);
            box->setCurrentIndex(i);
        }
        void Click(const char* name) { QTest::mouseClick(Button(name), Qt::LeftButton); }
    };

    static bool AllEec1Are(const TRunHarness& run, int64_t fromUs, uint8_t b3, uint8_t b4)
    {
        const auto frames = run.Frames(Eec1, fromUs);
        if (frames.empty())
            return false;
        for (const auto& d : frames)
            if (d[3] != b3 || d[4] != b4)
                return false;
        return true;
    }

private slots:
    void initTestCase() { QVERIFY(qEnvironmentVariableIsSet("QT_QPA_PLATFORM")); }

    void WindowIsLaidOutAsBuilt()
    {
        TFValidFlagManip w;
        QCOMPARE(w.windowTitle(), QString("Tessmar - Valid Manipulation - Config"));
        // At the top left of the screen's usable area, at least as wide as designed,
        // 822 high or as high as the screen allows.
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(w.width() >= 407);
        QCOMPARE(w.height(), std::min(822, area.height()));
        QCOMPARE(w.pos(), area.topLeft());
        QCOMPARE(w.findChild<QLabel*>("L_MeasuredValueName")->text(), QString("Measured Value Name"));
        QCOMPARE(w.findChild<QLabel*>("L_MeasuredValueName")->x(), 16);

        // Two columns: every name left of the boxes, the boxes one above the other at
        // x 208 or further right, 24 pixels or more apart, the "Range Name" heading
        // over them.
        QCOMPARE(w.findChildren<QComboBox*>().size(), 86);
        QComboBox* first = w.findChild<QComboBox*>("C_Range0");
        const int pitch = w.findChild<QComboBox*>("C_Range1")->y() - first->y();
        QVERIFY(first->x() >= 208);
        QCOMPARE(first->y(), 16);
        QVERIFY(pitch >= 24);
        QCOMPARE(w.findChild<QLabel*>("L_RangeName")->x(), 8 + first->x());
        for (int i = 0; i < 86; ++i) {
            QComboBox* box = w.findChild<QComboBox*>(QString("C_Range%1").arg(i));
            QLabel* name = w.findChild<QLabel*>(QString("L_Name%1").arg(i));
            QCOMPARE(box->geometry().topLeft(), QPoint(first->x(), pitch * i + 16));
            QVERIFY(box->width() >= 145);
            QCOMPARE(name->x(), 8);
            QVERIFY2(name->geometry().right() < box->x(), qPrintable(name->text()));
        }
        QComboBox* box = w.findChild<QComboBox*>("C_Range3");
        QVERIFY(box->isEditable());
        QCOMPARE(box->currentText(), QString("Valid Signal"));
        QCOMPARE(w.findChild<QLabel*>("L_Name3")->text(), QString("Brake switch"));
        QComboBox* fourBits = w.findChild<QComboBox*>(QString("C_Range%1").arg(Driver1TimeRelState));
        QCOMPARE(fourBits->count(), 3);
        QCOMPARE(fourBits->itemText(1), QString("1111 = not available "));

        QVERIFY(!w.findChild<QPushButton*>("B_Apply")->isEnabled());
        QVERIFY(w.findChild<QPushButton*>("B_OK")->isEnabled());
        QCOMPARE(w.findChild<QPushButton*>("B_Cancel")->text(), QString("Cancel"));
        QVERIFY(!w.findChild<QCheckBox*>("CB_Autoapply")->isChecked());
        QCOMPARE(w.findChild<QCheckBox*>("CB_Autoapply")->text(), QString("Autoapply"));

        // The list fills the window from below the headings to 42 pixels above its
        // bottom, the buttons 32 pixels above it, whatever height the user gives it.
        auto* scroll = w.findChild<QScrollArea*>("SB_Rows");
        const int top = scroll->y();
        QVERIFY(top >= 24);
        QCOMPARE(scroll->geometry(), QRect(8, top, w.width() - 22, w.height() - top - 42));
        const int width = w.width();
        w.show();   // a hidden window gets its resize event when shown
        w.resize(600, 500);
        QTRY_COMPARE(w.height(), 500);
        QCOMPARE(w.width(), width);
        QCOMPARE(scroll->height(), 500 - top - 42);
        QCOMPARE(w.findChild<QWidget*>("P_Buttons")->y(), 500 - 32);
        // Every row's box fits beside the scroll bar: nothing to scroll sideways.
        QVERIFY(scroll->widget()->width() <= scroll->viewport()->width());
    }

    void ClutchErrorReachesTheNextCcvsOnlyAfterApply()
    {
        Rig r;
        r.run.engine.Start();
        // Arrow keys pick "10 = Error" (item 2) in the clutch's box, as a user would.
        QComboBox* box = r.Box(ClutchSwitch);
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Down);
        QTest::keyClick(box, Qt::Key_Down);
        QCOMPARE(box->currentText(), QString("10 = Error"));
        QVERIFY(r.Button("B_Apply")->isEnabled());
        r.run.RunFor(300);
        for (const auto& d : r.run.Frames(Ccvs))
            QCOMPARE(d[3] >> 6, 0);   // released, sent as 00

        r.Click("B_Apply");
        QVERIFY(!r.Button("B_Apply")->isEnabled());
        const int64_t applied = r.run.engine.SimTime();
        r.run.RunFor(300);
        // Frames queued before the Apply may still leave in the next 5 ms.
        const auto after = r.run.Frames(Ccvs, applied + 6000);
        QVERIFY(after.size() >= 2);
        for (const auto& d : after)
            QCOMPARE(d[3] >> 6, 0b10);
    }

    void ErrorAndNotAvailableFillTheirFieldsWithTheIndicatorBytes()
    {
        Rig r;
        r.Choose(EngineSpeed, "FE = Error");
        r.Choose(Vin, "FF = not available");
        r.Click("B_OK");
        QVERIFY(!r.window.isVisible());
        r.run.engine.Start();
        r.run.RunFor(1000);

        QVERIFY(AllEec1Are(r.run, 0, 0xFF, 0xFE));
        const auto vin = r.run.Frames(VinGroup);
        QCOMPARE(vin.size(), std::size_t{1});
        QCOMPARE(vin[0], (std::array<uint8_t, 8>{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
        for (const auto& d : r.run.Frames(TpCm))   // no multipacket announcement of the VIN
            QVERIFY(!(d[5] == 0xEC && d[6] == 0xFE));
    }

    void AutoapplyTakesEveryChangeAtOnce()
    {
        Rig r;
        r.Choose(FuelLevel, "FF = not available");   // pending only
        QTest::mouseClick(r.window.findChild<QCheckBox*>("CB_Autoapply"), Qt::LeftButton);
        QVERIFY(r.window.findChild<QCheckBox*>("CB_Autoapply")->isChecked());
        QCOMPARE(r.window.Manip().Row(FuelLevel).Applied, 1);   // ticking applied it
        QVERIFY(!r.Button("B_Apply")->isEnabled());

        r.run.engine.Start();
        r.run.RunFor(100);
        QVERIFY(AllEec1Are(r.run, 0, 0xE0, 0x2E));
        r.Choose(EngineSpeed, "FE = Error");
        QVERIFY(!r.Button("B_Apply")->isEnabled());
        const int64_t chosen = r.run.engine.SimTime();
        r.run.RunFor(200);
        QVERIFY(AllEec1Are(r.run, chosen + 6000, 0xFF, 0xFE));
    }

    void TypedTextMatchingNoItemSendsTheValue()
    {
        Rig r;
        r.Choose(EngineSpeed, "FE = Error");
        r.Click("B_Apply");
        r.run.engine.Start();
        r.run.RunFor(100);
        QVERIFY(AllEec1Are(r.run, 0, 0xFF, 0xFE));

        QLineEdit* edit = r.Box(EngineSpeed)->lineEdit();
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, "FE = error");   // the case differs from the item
        QCOMPARE(r.window.Manip().Row(EngineSpeed).Pending, TValidManip::NoItem);
        r.Click("B_Apply");
        QCOMPARE(r.window.Manip().Row(EngineSpeed).Applied, TValidManip::NoItem);
        const int64_t applied = r.run.engine.SimTime();
        r.run.RunFor(200);
        QVERIFY(AllEec1Are(r.run, applied + 6000, 0xE0, 0x2E));   // 1500 rpm
    }

    void OutOfRangeStaysVisibleUnderValidSignal()
    {
        Rig r;
        r.run.cockpit.SetField(FuelLevel, "150");   // beyond 100 %: "o"
        constexpr uint32_t Dd = 0xFEFC;
        r.run.engine.Start();
        r.run.RunFor(1100);
        QCOMPARE(r.window.Manip().Row(FuelLevel).Applied, 0);   // "Valid Signal"
        QVERIFY(r.window.ShowsOutOfRange(FuelLevel));
        QVERIFY(!r.window.ShowsOutOfRange(EngineSpeed));
        auto* label = r.window.findChild<QLabel*>(QString("L_Name%1").arg(FuelLevel));
        QCOMPARE(label->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QVERIFY(!label->toolTip().isEmpty());
        const auto dd = r.run.Frames(Dd);
        QCOMPARE(dd.size(), std::size_t{2});   // at 6 and 1006 ms
        for (const auto& d : dd)
            QCOMPARE(d[1], 0xFA);   // 100 %, the top of the range, never wrapped

        // Forced, then given back: the row shows "o" again once the value is its own.
        r.Choose(FuelLevel, "FF = not available");
        r.Click("B_Apply");
        r.run.RunFor(100);
        QVERIFY(!r.window.ShowsOutOfRange(FuelLevel));
        r.Choose(FuelLevel, "Valid Signal");
        r.Click("B_Apply");
        r.run.RunFor(100);
        QVERIFY(r.window.ShowsOutOfRange(FuelLevel));
    }

    void CancelRestoresAndALaterApplyKeepsItCancelled()
    {
        Rig r;
        r.Choose(EngineSpeed, "FF = not available");
        r.Click("B_Apply");
        r.Choose(EngineSpeed, "FE = Error");
        r.Choose(ClutchSwitch, "10 = Error");
        r.Click("B_Cancel");
        QVERIFY(!r.window.isVisible());
        QCOMPARE(r.Box(EngineSpeed)->currentText(), QString("FF = not available"));
        QCOMPARE(r.Box(ClutchSwitch)->currentText(), QString("Valid Signal"));

        r.window.show();
        r.Choose(FuelLevel, "FE = Error");   // an unrelated change, then Apply
        r.Click("B_Apply");
        r.run.engine.Start();
        r.run.RunFor(300);
        QVERIFY(AllEec1Are(r.run, 0, 0xFF, 0xFF));
        const auto ccvs = r.run.Frames(Ccvs);
        QVERIFY(!ccvs.empty());
        for (const auto& d : ccvs)
            QCOMPARE(d[3] >> 6, 0);
    }

    void WheelScrollsTheListAndChangesOnlyTheFocusedChoice()
    {
        Rig r;
        QVERIFY(QTest::qWaitForWindowExposed(&r.window));
        r.Button("B_OK")->setFocus();
        const int row = r.window.Manip().FindRow("Driver 2 working state");
        QVERIFY(row >= 0);
        QComboBox* box = r.Box(row);
        auto* scroll = r.window.findChild<QScrollArea*>("SB_Rows");
        // Six notches over the box while the user scrolls: the list moves, the choice stays.
        for (int notch = 0; notch < 6; ++notch) WheelDown(box);
        QVERIFY(scroll->verticalScrollBar()->value() > 0);
        QCOMPARE(box->currentText(), QString("Valid Signal"));
        QCOMPARE(r.window.Manip().Row(row).Pending, 0);
        QVERIFY(!r.Button("B_Apply")->isEnabled());
        QVERIFY(!box->hasFocus());

        // Clicked into, the box takes the wheel.
        box->setFocus(Qt::MouseFocusReason);
        WheelDown(box);
        QCOMPARE(box->currentText(), QString("111 = not available"));
        QCOMPARE(r.window.Manip().Row(row).Pending, 1);
        QVERIFY(r.Button("B_Apply")->isEnabled());
    }

    void EnterIsOkAndEscapeIsCancel()
    {
        Rig r;
        QVERIFY(QTest::qWaitForWindowExposed(&r.window));
        r.Choose(EngineSpeed, "FE = Error");
        QLineEdit* edit = r.Box(EngineSpeed)->lineEdit();
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_Escape);
        QVERIFY(!r.window.isVisible());
        QCOMPARE(r.Box(EngineSpeed)->currentText(), QString("Valid Signal"));
        QCOMPARE(r.window.Manip().Row(EngineSpeed).Applied, 0);

        r.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&r.window));
        r.Choose(EngineSpeed, "FE = Error");
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_Return);
        QVERIFY(!r.window.isVisible());
        QCOMPARE(r.window.Manip().Row(EngineSpeed).Applied, 2);

        // On a focused button Enter presses that button: Cancel.
        r.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&r.window));
        r.Choose(ClutchSwitch, "10 = Error");
        r.Button("B_Cancel")->setFocus();
        QTest::keyClick(r.Button("B_Cancel"), Qt::Key_Return);
        QVERIFY(!r.window.isVisible());
        QCOMPARE(r.window.Manip().Row(ClutchSwitch).Applied, 0);
        QCOMPARE(r.window.Manip().Row(EngineSpeed).Applied, 2);
    }

    void ChangeFromAnythingButARowBoxIsACastError()
    {
        TFValidFlagManip w;
        QComboBox stranger;
        stranger.setProperty("row", 2);
        for (QObject* sender : {static_cast<QObject*>(w.findChild<QPushButton*>("B_OK")),
                                static_cast<QObject*>(&stranger), static_cast<QObject*>(nullptr)}) {
            try {
                w.OnRangeChange(sender);
                QFAIL("no error");
            } catch (const TBaseError& e) {
                QCOMPARE(e.Operation(), TAString("TFValidFlagManip::OnRangeChange"));
                QCOMPARE(e.Message(), TAString("CastError"));
            }
        }
        QVERIFY(!w.findChild<QPushButton*>("B_Apply")->isEnabled());
    }

    void FilterShowsTheMatchingRowsAndKeepsEveryChoice()
    {
        Rig r;
        r.Choose(FuelLevel, "FF = not available");
        r.Click("B_Apply");
        auto* filter = r.window.findChild<QLineEdit*>("E_Filter");
        QVERIFY(filter);
        QTest::keyClicks(filter, "engine speed");
        for (int i = 0; i < 86; ++i)
            QCOMPARE(r.window.RowShown(i), i == EngineSpeed);
        // The one row left moves to the top of the list, where it can be used.
        QComboBox* box = r.Box(EngineSpeed);
        QVERIFY(box->isVisible());
        QVERIFY(!r.Box(FuelLevel)->isVisible());
        QCOMPARE(box->y(), 16);
        r.Choose(EngineSpeed, "FE = Error");
        r.Click("B_Apply");

        // By PGN (EEC1), by SPN (seconds) and by group (the two door control groups).
        filter->clear();
        QTest::keyClicks(filter, "61444");
        QVERIFY(r.window.RowShown(EngineSpeed));
        filter->clear();
        QTest::keyClicks(filter, "959");
        QVERIFY(r.window.RowShown(63));
        QVERIFY(!r.window.RowShown(EngineSpeed));
        filter->clear();
        QTest::keyClicks(filter, "door control");
        int shown = 0;
        for (int i = 0; i < 86; ++i) shown += r.window.RowShown(i) ? 1 : 0;
        QCOMPARE(shown, 33);

        // Every row back, each where it was built, with the choices made before.
        filter->clear();
        const int pitch = r.Box(1)->y() - r.Box(0)->y();
        for (int i = 0; i < 86; ++i) {
            QVERIFY(r.window.RowShown(i));
            QCOMPARE(r.Box(i)->y(), pitch * i + 16);
        }
        QCOMPARE(r.Box(FuelLevel)->currentText(), QString("FF = not available"));
        QCOMPARE(r.Box(EngineSpeed)->currentText(), QString("FE = Error"));
        r.run.engine.Start();
        r.run.RunFor(200);
        QVERIFY(AllEec1Are(r.run, 0, 0xFF, 0xFE));
    }

    void ShowcaseAppliesAFewRows()
    {
        TFValidFlagManip w;
        FmsShowcase::ValidFlagManip(w);
        QCOMPARE(w.Manip().Row(ClutchSwitch).Applied, 2);
        QCOMPARE(w.Manip().Row(FuelLevel).Applied, 1);
        QCOMPARE(w.Manip().Row(EngineSpeed).Applied, 2);
        QCOMPARE(w.Manip().Row(Vin).Applied, 1);
        QCOMPARE(w.RangeBox(EngineSpeed)->currentText(), QString("FE = Error"));
    }
};

QTEST_MAIN(TFValidFlagManipTest)
#include "tfvalidflagmanip_test.moc"
