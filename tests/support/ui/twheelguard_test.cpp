// TWheelGuard: in a scrolling list the wheel scrolls the list, and changes a control
// only while the control has the focus.
#include "support/ui/twheelguard.h"

#include "tests/wheelevent.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QtTest>


class TWheelGuardTest : public QObject {
    Q_OBJECT

    // A short scrolling list: a combo box, an editable one, a spin box and a slider
    // near its top, then enough height to scroll, and an edit to hold the focus.
    struct List {
        QScrollArea area;
        QComboBox* combo = nullptr;
        QComboBox* editable = nullptr;
        QSpinBox* spin = nullptr;
        QSlider* slider = nullptr;
        QLineEdit* edit = nullptr;
        List()
        {
            auto* content = new QWidget;
            auto* column = new QVBoxLayout(content);
            combo = new QComboBox;
            combo->addItems({"000 = Rest", "001 = Available", "010 = Work", "011 = Drive"});
            editable = new QComboBox;
            editable->setEditable(true);
            editable->addItems({"Valid Signal", "FF = not available", "FE = Error"});
            spin = new QSpinBox;
            spin->setRange(0, 10);
            slider = new QSlider(Qt::Horizontal);
            slider->setRange(0, 10);
            edit = new QLineEdit;
            for (QWidget* w : std::initializer_list<QWidget*>{edit, combo, editable, spin, slider}) column->addWidget(w);
            column->addSpacing(2000);
            area.setWidget(content);
            area.setWidgetResizable(true);
            area.resize(240, 200);
            TWheelGuard::Install(content);
            area.show();
            edit->setFocus();
        }
        int Scrolled() const { return area.verticalScrollBar()->value(); }
        void ScrollBack() { area.verticalScrollBar()->setValue(0); }
    };

private slots:
    void wheelOverAnUnfocusedControlScrollsTheListAndChangesNothing()
    {
        List list;
        QVERIFY(QTest::qWaitForWindowExposed(&list.area));
        QVERIFY(list.edit->hasFocus());
        const struct {
            const char* what;
            QWidget* control;
        } controls[] = {{"combo box", list.combo},
                        {"editable combo box", list.editable},
                        {"spin box", list.spin},
                        {"slider", list.slider}};
        for (const auto& c : controls) {
            list.ScrollBack();
            WheelDown(c.control);
            QVERIFY2(list.Scrolled() > 0, c.what);   // the wheel reached the list
            QVERIFY2(!c.control->hasFocus(), c.what);
        }
        QCOMPARE(list.combo->currentIndex(), 0);
        QCOMPARE(list.editable->currentText(), QString("Valid Signal"));
        QCOMPARE(list.spin->value(), 0);
        QCOMPARE(list.slider->value(), 0);
    }

    void wheelOverTheFocusedControlChangesIt()
    {
        List list;
        QVERIFY(QTest::qWaitForWindowExposed(&list.area));
        list.combo->setFocus();
        WheelDown(list.combo);
        QCOMPARE(list.combo->currentIndex(), 1);
        QCOMPARE(list.Scrolled(), 0);

        list.editable->setFocus();
        WheelDown(list.editable);
        QCOMPARE(list.editable->currentText(), QString("FF = not available"));

        list.spin->setFocus();
        WheelDown(list.spin);
        QCOMPARE(list.spin->value(), 0);   // down from the minimum stays there
        list.spin->setValue(5);
        WheelDown(list.spin);
        QCOMPARE(list.spin->value(), 4);

        list.slider->setFocus();
        list.slider->setValue(5);
        WheelDown(list.slider);
        QVERIFY(list.slider->value() != 5);
        QCOMPARE(list.Scrolled(), 0);
    }
};

QTEST_MAIN(TWheelGuardTest)
#include "twheelguard_test.moc"
