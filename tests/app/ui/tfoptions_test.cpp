// The options window, typed into and clicked as a user would.
#include "app/ui/tfoptions.h"
#include "fakeuserquery.h"
#include "fms/tbusfmsstandard.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

class TFOptionsTest : public QObject {
    Q_OBJECT

    struct Form {
        TFakeUserQuery query;
        TBusFmsStandard catalogue{"00.02"};
        TFrameOptions applied;
        TFOptions window{catalogue, applied, query};
        QLineEdit* source = window.findChild<QLineEdit*>("E_SourceAdr");
        QLineEdit* prio = window.findChild<QLineEdit*>("E_Prio");
        QListWidget* frames = window.findChild<QListWidget*>("CLB_Frames");
        QPushButton* ok = window.findChild<QPushButton*>("B_OK");
        QPushButton* apply = window.findChild<QPushButton*>("B_Apply");
        QPushButton* cancel = window.findChild<QPushButton*>("B_Cancel");
        Form()
        {
            window.show();
        }
        void Type(QLineEdit* edit, const QString& text)
        {
            edit->selectAll();
            QTest::keyClick(edit, Qt::Key_Delete);
            QTest::keyClicks(edit, text);
        }
        void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
        void ToggleItem(int row)
        {
            QListWidgetItem* item = frames->item(row);
            item->setCheckState(item->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
        }
    };

    static bool Red(QLineEdit* edit) { return edit->palette().color(QPalette::Text) == QColor(Qt::red); }

private slots:
    void createdWithDefaultsAndEveryGroupChecked()
    {
        Form f;
        QCOMPARE(f.window.windowTitle(), QString("Tessmar - Manipulation - Options"));
        QCOMPARE(f.source->text(), QString("x00"));
        QCOMPARE(f.prio->text(), QString("6"));
        QVERIFY(!f.apply->isEnabled());
        QCOMPARE(f.applied.Priority, uint8_t{6});
        QCOMPARE(f.applied.SourceAddress, uint8_t{0});
        QCOMPARE(f.frames->count(), 22);
        QCOMPARE(f.frames->item(0)->text(), QString("xxFEF1  Cruise Control/Vehicle Speed"));
        for (int i = 0; i < f.frames->count(); ++i) QCOMPARE(f.frames->item(i)->checkState(), Qt::Checked);
        QCOMPARE(f.source->toolTip(), QString("Source address for all CAN messages"));
        QCOMPARE(f.prio->toolTip(), QString("Priority for all CAN messages"));
        QCOMPARE(f.frames->toolTip(), QString("Posibility to stop sending CAN frames ( not FMS-Standard )"));
    }

    void sourceAddressInHexApplies()
    {
        Form f;
        f.Type(f.source, "xFE");
        QVERIFY(f.apply->isEnabled());
        QVERIFY(!Red(f.source));
        f.Click(f.apply);
        QCOMPARE(f.applied.SourceAddress, uint8_t{254});
        QCOMPARE(f.source->text(), QString("xFE"));
        QVERIFY(!f.apply->isEnabled());
        QVERIFY(f.query.Boxes.empty());

        f.Type(f.source, "1f");
        f.Click(f.apply);
        QCOMPARE(f.applied.SourceAddress, uint8_t{0x1F});
    }

    void sourceAddressOutOfRangeResetsToZero()
    {
        Form f;
        f.Type(f.source, "xFE");
        f.Click(f.apply);
        f.Type(f.source, "x100");
        QVERIFY(Red(f.source));
        f.Click(f.apply);
        QCOMPARE(f.applied.SourceAddress, uint8_t{0});
        QCOMPARE(f.source->text(), QString("x00"));
        QVERIFY(!Red(f.source));
        QVERIFY(!f.apply->isEnabled());
    }

    void priorityTakesTheLowByte()
    {
        Form f;
        f.Type(f.prio, "256");
        QVERIFY(Red(f.prio));
        f.Click(f.apply);
        QCOMPARE(f.applied.Priority, uint8_t{0});
        QCOMPARE(f.prio->text(), QString("256"));

        f.Type(f.prio, "-1");
        QVERIFY(Red(f.prio));
        f.Click(f.apply);
        QCOMPARE(f.applied.Priority, uint8_t{6});
        QCOMPARE(f.prio->text(), QString("6"));

        f.Type(f.prio, "3");
        QVERIFY(!Red(f.prio));
        f.Click(f.ok);
        QCOMPARE(f.applied.Priority, uint8_t{3});
        QVERIFY(!f.window.isVisible());
    }

    void cancelShowsTheAppliedValuesAgain()
    {
        Form f;
        f.Type(f.source, "x2A");
        f.Type(f.prio, "4");
        f.Click(f.apply);

        f.Type(f.source, "x10");
        f.Type(f.prio, "5");
        f.ToggleItem(3);
        f.Click(f.cancel);
        QVERIFY(!f.window.isVisible());
        QCOMPARE(f.source->text(), QString("x2A"));
        QCOMPARE(f.prio->text(), QString("4"));
        QCOMPARE(f.frames->item(3)->checkState(), Qt::Checked);
        QCOMPARE(f.applied.SourceAddress, uint8_t{0x2A});
        QCOMPARE(f.applied.Priority, uint8_t{4});
        QVERIFY(f.apply->isEnabled());   // the edits were not applied

        f.window.show();
        f.Click(f.apply);
        f.Click(f.cancel);
        QVERIFY(!f.apply->isEnabled());   // keeps its state either way
    }

    void leavingOutAGroupWarnsAtEveryApply()
    {
        Form f;
        f.ToggleItem(2);
        QVERIFY(f.apply->isEnabled());
        f.Click(f.ok);
        QCOMPARE(f.query.Boxes.size(), size_t{1});
        QCOMPARE(QString::fromStdString(f.query.Boxes[0].Text.str()), QString("Output is not conform to FMS-Standard"));
        QCOMPARE(QString::fromStdString(f.query.Boxes[0].Caption.str()), QString("Warning"));
        QCOMPARE(f.query.Boxes[0].Icon, TUserQuery::icNone);
        QCOMPARE(f.applied.FrameFlags[2], uint8_t{0});
        QCOMPARE(f.applied.FrameFlags[1], uint8_t{1});

        f.window.show();
        f.Click(f.apply);   // enabled again? only by an edit; a click on the list is one
        QCOMPARE(f.query.Boxes.size(), size_t{1});
        QTest::mouseClick(f.frames->viewport(), Qt::LeftButton, {}, QPoint(200, 5));
        QVERIFY(f.apply->isEnabled());
        f.Click(f.apply);
        QCOMPARE(f.query.Boxes.size(), size_t{2});
        QCOMPARE(f.applied.FrameFlags[2], uint8_t{0});
    }

    void clickIntoAnEditEnablesApply()
    {
        Form f;
        QVERIFY(!f.apply->isEnabled());
        QTest::mouseClick(f.prio, Qt::LeftButton);
        QVERIFY(f.apply->isEnabled());
    }

    void enterIsOkAndEscapeIsCancel()
    {
        Form f;
        f.window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f.window));
        f.source->setFocus();
        f.Type(f.source, "x2A");
        QTest::keyClick(f.source, Qt::Key_Escape);
        QVERIFY(!f.window.isVisible());
        QCOMPARE(f.applied.SourceAddress, uint8_t{0});
        QCOMPARE(f.source->text(), QString("x00"));

        f.window.show();
        QVERIFY(QTest::qWaitForWindowActive(&f.window));
        f.prio->setFocus();
        f.Type(f.prio, "3");
        QTest::keyClick(f.prio, Qt::Key_Return);
        QVERIFY(!f.window.isVisible());
        QCOMPARE(f.applied.Priority, uint8_t{3});

        // On the focused Cancel button Enter is Cancel.
        f.window.show();
        QVERIFY(QTest::qWaitForWindowActive(&f.window));
        f.Type(f.prio, "5");
        f.cancel->setFocus();
        QTest::keyClick(f.cancel, Qt::Key_Return);
        QVERIFY(!f.window.isVisible());
        QCOMPARE(f.applied.Priority, uint8_t{3});
        QCOMPARE(f.prio->text(), QString("3"));
    }
};

QTEST_MAIN(TFOptionsTest)
#include "tfoptions_test.moc"
