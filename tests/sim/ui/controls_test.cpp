// The cockpit's edit wrappers and round gauge, driven as a user would.
#include "sim/ui/tanzeigerund.h"
#include "sim/ui/tastringedit.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QtTest>

#include <vector>

class ControlsTest : public QObject {
    Q_OBJECT

private:
    static QColor TextColour(QWidget* w) { return w->palette().color(QPalette::Text); }
    static const QColor kRed;
    static const QColor kGreen;
    static const QColor kBlack;

    // A window with the field and a second field to move the focus to.
    struct Form {
        QWidget window;
        QLineEdit* edit = new QLineEdit(&window);
        QLineEdit* other = new QLineEdit(&window);
        Form()
        {
            edit->move(0, 0);
            other->move(0, 40);
            window.resize(200, 100);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
        }
    };

private slots:
    void NumberFieldColoursCommitsOnEnterAndNotifies()
    {
        Form form;
        form.edit->setText("10");
        int notified = 0;
        QWidget* sender = nullptr;
        TANumEdit num(form.edit, [&](QWidget* s) { ++notified; sender = s; }, 0, 250, 1);
        QCOMPARE(num.GetNumber(), 10.0);
        QCOMPARE(TextColour(form.edit), kBlack);

        form.edit->setFocus();
        QTest::keyClick(form.edit, Qt::Key_End);
        QTest::keyClicks(form.edit, "0");   // "100": valid and changed
        QCOMPARE(TextColour(form.edit), kGreen);
        QTest::keyClicks(form.edit, "0");   // "1000": out of range
        QCOMPARE(TextColour(form.edit), kRed);
        QTest::keyClick(form.edit, Qt::Key_Backspace);
        QTest::keyClick(form.edit, Qt::Key_Return);
        QCOMPARE(notified, 1);
        QCOMPARE(sender, form.edit);
        QCOMPARE(num.GetNumber(), 100.0);
        QCOMPARE(num.Committed(), TAString("100"));
        QCOMPARE(TextColour(form.edit), kBlack);
        QVERIFY(!num.Editing());
    }

    void EscapeRestoresAndInvalidTextIsNeverCommitted()
    {
        Form form;
        form.edit->setText("5");
        int notified = 0;
        TANumEdit num(form.edit, [&](QWidget*) { ++notified; }, 0, 250, 1);
        form.edit->setFocus();
        QTest::keyClicks(form.edit, "x");
        QCOMPARE(TextColour(form.edit), kRed);
        QTest::keyClick(form.edit, Qt::Key_Return);   // a user commit of invalid text
        QCOMPARE(notified, 1);
        QCOMPARE(num.GetNumber(), 5.0);
        QCOMPARE(TextColour(form.edit), kRed);
        QTest::keyClick(form.edit, Qt::Key_Escape);
        QCOMPARE(form.edit->text(), QString("5"));
        QCOMPARE(TextColour(form.edit), kBlack);
    }

    void BoundsAreAccepted()
    {
        Form form;
        TANumEdit num(form.edit, nullptr, -40, 210, 1);
        QVERIFY(num.Commit("-40"));
        QCOMPARE(num.GetNumber(), -40.0);
        QVERIFY(num.Commit("210"));
        QVERIFY(!num.Commit("210.5"));
        QCOMPARE(num.GetNumber(), 210.0);
    }

    void LeavingTheFieldCommitsAndNotifies()
    {
        Form form;
        int notified = 0;
        TAStringEdit text(form.edit, [&](QWidget*) { ++notified; }, 0, 17);
        form.edit->setFocus();
        QTest::keyClicks(form.edit, "WDB1234");
        QCOMPARE(TextColour(form.edit), kGreen);
        form.other->setFocus();
        QCOMPARE(notified, 1);
        QCOMPARE(text.Committed(), TAString("WDB1234"));
        QCOMPARE(TextColour(form.edit), kBlack);
    }

    void OnlyTextTheUserChangedIsCommitted()
    {
        Form form;
        std::vector<QString> notified;   // the control's text at each notification
        TANumEdit num(form.edit, [&](QWidget* s) { notified.push_back(static_cast<QLineEdit*>(s)->text()); }, 0, 300, 1);
        num.Commit("57.60");   // the model's value shown by the program
        form.window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form.window));

        // In and out, and Enter, without typing: nothing is committed or notified.
        form.other->setFocus();   // the window gave the edit the focus before the wrapper existed
        form.edit->setFocus();
        QVERIFY(num.Editing());
        form.other->setFocus();
        form.edit->setFocus();
        QTest::keyClick(form.edit, Qt::Key_Return);
        QVERIFY(!num.Editing());
        form.other->setFocus();
        QVERIFY(notified.empty());

        // While the field is not focused the program shows newer values; focusing and
        // leaving it still commits nothing.
        num.Commit("61.25");
        form.edit->setFocus();
        form.other->setFocus();
        QVERIFY(notified.empty());
        QCOMPARE(num.GetNumber(), 61.25);

        // Typed and typed back to what was shown: unchanged, nothing committed.
        form.edit->setFocus();
        QTest::keyClick(form.edit, Qt::Key_End);
        QTest::keyClicks(form.edit, "0");
        QTest::keyClick(form.edit, Qt::Key_Backspace);
        form.other->setFocus();
        QVERIFY(notified.empty());

        // A changed text is committed once: on Enter, not again on leaving.
        form.edit->setFocus();
        form.edit->selectAll();
        QTest::keyClicks(form.edit, "80");
        QTest::keyClick(form.edit, Qt::Key_Return);
        form.other->setFocus();
        QCOMPARE(notified, std::vector<QString>{"80"});
        QCOMPARE(num.GetNumber(), 80.0);

        // Escape after typing shows the committed text again: leaving commits nothing.
        form.edit->setFocus();
        QTest::keyClicks(form.edit, "5");
        QTest::keyClick(form.edit, Qt::Key_Escape);
        form.other->setFocus();
        QCOMPARE(notified.size(), std::size_t{1});
    }

    void ProgramCommitWhileTypingKeepsTheTypedTextButValidatesIt()
    {
        Form form;
        int notified = 0;
        TANumEdit num(form.edit, [&](QWidget*) { ++notified; }, 0, 100, 1);
        num.Commit("20");
        QCOMPARE(form.edit->text(), QString("20"));
        form.edit->setFocus();
        QTest::keyClick(form.edit, Qt::Key_End);
        QTest::keyClicks(form.edit, "5");   // "205" typed, not committed
        QVERIFY(!num.Commit("30"));          // the typed text is invalid: nothing stored
        QCOMPARE(form.edit->text(), QString("205"));
        QCOMPARE(num.GetNumber(), 20.0);
        QCOMPARE(TextColour(form.edit), kRed);
        QCOMPARE(notified, 0);               // a program commit never notifies
    }

    void MemoCommitsOnlyWhenLeft()
    {
        QWidget window;
        auto* memo = new QPlainTextEdit(&window);
        auto* other = new QLineEdit(&window);
        other->move(0, 120);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        int notified = 0;
        TAStringEdit text(memo, [&](QWidget*) { ++notified; }, 0, 100);
        memo->setFocus();
        QTest::keyClicks(memo, "line");
        QTest::keyClick(memo, Qt::Key_Return);
        QCOMPARE(notified, 0);
        QCOMPARE(text.Committed(), TAString(""));
        other->setFocus();
        QCOMPARE(notified, 1);
        QCOMPARE(text.Committed(), TAString("line\n"));
    }

    void ComboBoxCommitsItsText()
    {
        QWidget window;
        auto* combo = new QComboBox(&window);
        combo->setEditable(true);
        combo->addItems({"0000 = rest", "0110 = 16 h reached"});
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        TAStringEdit text(combo, nullptr, 0, 50);
        QCOMPARE(text.Committed(), TAString("0000 = rest"));
        QVERIFY(text.Commit("0110 = 16 h reached"));
        QCOMPARE(combo->currentText(), QString("0110 = 16 h reached"));
    }

    void GaugeDrawsMarksAndPointsUpAtMidScale()
    {
        QLabel label;
        label.resize(200, 200);
        QLineEdit value;
        TANumEdit edit(&value, nullptr, -1e9, 1e9, 1);
        TAnzeigeRund gauge(&label, &edit, 0, 120, 12, 0.01, 0);
        const QImage& img = gauge.Image();
        QCOMPARE(img.size(), QSize(200, 200));
        // Background, dial and the 13 red marks.
        QCOMPARE(QColor(img.pixel(1, 1)), QColor(160, 160, 160));
        QCOMPARE(QColor(img.pixel(150, 60)), QColor(128, 128, 128));
        for (int i = 0; i <= 12; ++i) {
            const TGaugePoint m = gauge.Geometry().Mark(i);
            QCOMPARE(QColor(img.pixel(m.X, m.Y)), QColor(255, 0, 0));
        }
        // Raw 6000 x 0.01 = 60 km/h: the needle runs straight up from the centre.
        gauge.SetValue(6000);
        QCOMPARE(value.text(), QString("  60.00"));
        QCOMPARE(edit.GetNumber(), 60.0);
        for (int y = 30; y <= 95; y += 5) QCOMPARE(QColor(gauge.Image().pixel(99, y)), QColor(255, 0, 0));
        // The needle at 0 was painted over in dial grey (its tip at the lower left).
        QCOMPARE(QColor(gauge.Image().pixel(55, 144)), QColor(128, 128, 128));
        QVERIFY(!label.pixmap().isNull());
    }
};

const QColor ControlsTest::kRed(255, 0, 0);
const QColor ControlsTest::kGreen(0, 128, 0);
const QColor ControlsTest::kBlack(0, 0, 0);

QTEST_MAIN(ControlsTest)
#include "controls_test.moc"
