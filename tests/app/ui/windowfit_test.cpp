// The windows on small screens at the scale this process runs with (QT_SCALE_FACTOR=1.5
// on a 1366 x 768 or a 1024 x 768 screen leaves 910 x 512 or 683 x 512 logical pixels):
// no control is squeezed below the size it needs (its minimumSizeHint), every control
// lies inside the window's width (the window may scroll up and down, never sideways),
// and the window lies on the screen. The main window is tried at rest and while a
// user log loads (the progress bar and Cancel shown), the cockpit with every door.

#include "logs/tcanlogreader.h"
#include "app/ui/tfquorvella.h"
#include "app/ui/tquorvellaapp.h"
#include "fakeuserquery.h"
#include "simulationapp.h"
#include "sim/ui/tfsim_lkw.h"
#include "support/tbaseerror.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <clocale>
#include <memory>
#include <thread>

namespace {

bool IsControl(const QWidget* w)
{
    if (qobject_cast<const QScrollBar*>(w)) return false;
    if (auto* l = qobject_cast<const QLabel*>(w)) return !l->text().isEmpty() || !l->pixmap().isNull();
    return qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QLineEdit*>(w) ||
           qobject_cast<const QComboBox*>(w) || qobject_cast<const QProgressBar*>(w) ||
           qobject_cast<const QAbstractSlider*>(w) || qobject_cast<const QGroupBox*>(w);
}

QString Describe(const QWidget* w)
{
    return QString("%1 (%2) %3 x %4 at %5,%6")
        .arg(w->objectName(), w->metaObject()->className())
        .arg(w->width())
        .arg(w->height())
        .arg(w->x())
        .arg(w->y());
}

// The smallest size the layout should give w: its minimum size where one is set, else
// its minimumSizeHint; no need in a direction its size policy ignores.
QSize Need(const QWidget* w)
{
    QSize need = w->minimumSizeHint();
    if (w->minimumWidth() > 0) need.setWidth(w->minimumWidth());
    if (w->minimumHeight() > 0) need.setHeight(w->minimumHeight());
    if (w->sizePolicy().horizontalPolicy() == QSizePolicy::Ignored) need.setWidth(0);
    if (w->sizePolicy().verticalPolicy() == QSizePolicy::Ignored) need.setHeight(0);
    return need;
}

QStringList Problems(QWidget& window)
{
    QStringList problems;
    const QRect screen = window.screen()->availableGeometry();
    if (!screen.contains(window.frameGeometry()))
        problems << QString("the window lies off the usable screen area");
    // A window too large for the screen scrolls up and down in "SB_Window"; one without
    // it must hold every control within its own area.
    auto* frame = window.findChild<QAbstractScrollArea*>("SB_Window");
    if (frame && frame->horizontalScrollBar()->maximum() > 0)
        problems << QString("the window scrolls sideways by %1").arg(frame->horizontalScrollBar()->maximum());
    QWidget* body = frame ? frame->viewport() : &window;
    for (const QWidget* w : window.findChildren<QWidget*>()) {
        if (!w->isVisibleTo(&window) || !IsControl(w)) continue;
        const QSize need = Need(w);
        if (w->width() < need.width() || w->height() < need.height())
            problems << Describe(w) + QString(": needs %1 x %2").arg(need.width()).arg(need.height());
        // Inside the window's width: in view without scrolling sideways.
        if (!body->isAncestorOf(w)) continue;
        const QPoint at = w->mapTo(body, QPoint(0, 0));
        if (at.x() < 0 || at.x() + w->width() > body->width())
            problems << Describe(w) + QString(": beyond the window's width %1").arg(body->width());
        if (!frame && (at.y() < 0 || at.y() + w->height() > body->height()))
            problems << Describe(w) + QString(": beyond the window's height %1").arg(body->height());
    }
    return problems;
}

void Expect(QWidget& window)
{
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QApplication::processEvents();
    const QStringList problems = Problems(window);
    QVERIFY2(problems.isEmpty(), qPrintable(window.objectName() + ": " + problems.join("; ")));
}

}  // namespace

class TWindowFitTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    TFakeUserQuery query_;
    std::unique_ptr<TQuorvellaApp> app_;

private slots:
    void initTestCase()
    {
        std::setlocale(LC_NUMERIC, "C");
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        qInfo("screen %dx%d logical pixels", area.width(), area.height());
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        app_ = StartSimulationApp(query_, *dir_);
        QVERIFY(app_ != nullptr);
    }

    void cleanupTestCase() { app_.reset(); }

    void mainWindowKeepsEveryControlWhole() { Expect(app_->MainWindow()); }

    // The file field gives way to the progress bar and Cancel: both whole, and the
    // buttons below them too.
    void mainWindowWhileALogLoadsKeepsEveryControlWhole()
    {
        TFQuorvella& main = app_->MainWindow();
        std::atomic<bool> reading{false};
        main.SetLogReader([&](const TAString& name, const TCanLogReader::TControl& control) -> TCanLog {
            control.Progress(1, 2);
            reading = true;
            while (!control.Cancel->load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            throw TBaseError("", "Logfile Read Error", name + ": loading stopped before the end of the file");
        });
        main.findChild<QRadioButton*>("RB_CanLog")->click();
        main.LoadUserLog(TAString(dir_->filePath("drive.asc").toStdString()));
        QTRY_VERIFY_WITH_TIMEOUT(reading.load(), 10000);
        QVERIFY(main.findChild<QWidget*>("PB_LogLoad")->isVisible());
        QVERIFY(main.findChild<QWidget*>("B_LogLoadCancel")->isVisible());
        Expect(main);
        main.B_LogLoadCancelClick();
        QTRY_VERIFY_WITH_TIMEOUT(!main.LoadingUserLog(), 10000);
        main.findChild<QRadioButton*>("RB_Simulation")->click();
    }

    // The cockpit: every control whole and within the window's width, the ten doors of
    // every row among them.
    void cockpitKeepsEveryDoorInView()
    {
        TFSim_Lkw& cockpit = app_->Cockpit();
        Expect(cockpit);
        for (const char* row : {"C_DCL", "C_DCO", "C_DCE"})
            for (int door = 1; door <= 10; ++door)
                QVERIFY2(cockpit.findChild<QWidget*>(QString("%1%2").arg(row).arg(door))->isVisible(),
                         qPrintable(QString("%1%2").arg(row).arg(door)));
        cockpit.hide();
    }
};

QTEST_MAIN(TWindowFitTest)
#include "windowfit_test.moc"
