// Every window's texts are shown whole and every window lies on the screen, at the
// font and scale this test process runs with: QV_FONT_SCALE enlarges the application
// font as a desktop's 125 % or 150 % font setting does; QT_SCALE_FACTOR scales
// everything, which leaves a small laptop screen fewer (logical) pixels.
//
// A text counts as whole when its widget is at least as large as the widget says it
// needs for it (sizeHint: a label's text, a button's caption, a combo box's longest
// item), when a field's text fits inside its frame, and when no parent cuts the widget
// off. Inside a scrolling list only the width counts: the list scrolls up and down
// and must not need to scroll sideways.

#include "logs/tcanlogreader.h"
#include "engine/trunengine.h"
#include "app/ui/tcanchanneldialog.h"
#include "app/ui/tfbformueber.h"
#include "app/ui/tfoptions.h"
#include "app/ui/tfquorvella.h"
#include "app/ui/tquorvellaapp.h"
#include "fakeuserquery.h"
#include "simulationapp.h"
#include "fms/ui/tfvalidflagmanip.h"
#include "fms/ui/tfvehicledata.h"
#include "fms/ui/tsignaltablemodel.h"
#include "sim/ui/cockpitscreenshot.h"
#include "sim/ui/tfsim_lkw.h"
#include "support/tbaseerror.h"
#include "support/txmlelement.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <memory>
#include <thread>

namespace {

QString Describe(const QWidget* w)
{
    QString text;
    if (auto* l = qobject_cast<const QLabel*>(w)) text = l->text();
    else if (auto* b = qobject_cast<const QAbstractButton*>(w)) text = b->text();
    else if (auto* c = qobject_cast<const QComboBox*>(w)) text = c->currentText();
    else if (auto* e = qobject_cast<const QLineEdit*>(w)) text = e->text();
    else if (auto* g = qobject_cast<const QGroupBox*>(w)) text = g->title();
    return QString("%1 \"%2\" (%3 x %4)").arg(w->objectName(), text).arg(w->width()).arg(w->height());
}

// What the widget needs to show its text whole, or an empty size for widgets
// without text of their own.
bool TextFits(const QWidget* w, QString& why)
{
    if (auto* l = qobject_cast<const QLabel*>(w)) {
        if (l->text().isEmpty() || !l->pixmap().isNull()) return true;
        const QSize need = l->sizeHint();
        if (l->text().contains(QChar(0x2026))) why = "shortened";
        else if (l->width() < need.width() || l->height() < l->fontMetrics().height())
            why = QString("needs %1 x %2").arg(need.width()).arg(need.height());
        return why.isEmpty();
    }
    if (auto* b = qobject_cast<const QPushButton*>(w)) {
        // The caption and the style's margins; a push button's size hint adds a
        // minimum width that short captions ("...") do not need.
        QString caption = b->text();
        caption.remove('&');
        const int need = std::min(b->sizeHint().width(),
                                  b->fontMetrics().horizontalAdvance(caption) +
                                      2 * b->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, b));
        if (b->width() < need || b->height() < b->fontMetrics().height())
            why = QString("needs %1 for its caption").arg(need);
        return why.isEmpty();
    }
    if (auto* b = qobject_cast<const QAbstractButton*>(w)) {
        if (b->text().isEmpty()) return true;
        const QSize need = b->sizeHint();
        if (b->width() < need.width() || b->height() < b->fontMetrics().height())
            why = QString("needs %1 x %2").arg(need.width()).arg(need.height());
        return why.isEmpty();
    }
    if (auto* c = qobject_cast<const QComboBox*>(w)) {
        // The size hint covers every item, not only the one shown.
        const QSize need = c->sizeHint();
        if (c->width() < need.width()) why = QString("needs %1 for its items").arg(need.width());
        return why.isEmpty();
    }
    if (auto* e = qobject_cast<const QLineEdit*>(w)) {
        if (e->parentWidget() && qobject_cast<const QComboBox*>(e->parentWidget())) return true;
        // Frame and text margins take 2 + 2 pixels a side.
        const int need = e->fontMetrics().horizontalAdvance(e->text()) + 8;
        if (e->width() < need) why = QString("needs %1 for its text").arg(need);
        return why.isEmpty();
    }
    if (auto* p = qobject_cast<const QProgressBar*>(w)) {
        // Its text drawn on the bar, within a few pixels of its edges.
        if (!p->isTextVisible()) return true;
        const int need = p->fontMetrics().horizontalAdvance(p->text()) + 8;
        if (p->width() < need || p->height() < p->fontMetrics().height())
            why = QString("needs %1 for \"%2\"").arg(need).arg(p->text());
        return why.isEmpty();
    }
    if (auto* g = qobject_cast<const QGroupBox*>(w)) {
        const int need = g->fontMetrics().horizontalAdvance(g->title()) + 8;
        if (g->width() < need) why = QString("needs %1 for its title").arg(need);
        return why.isEmpty();
    }
    return true;
}

// Whether a parent cuts w off; inside a scrolling list only at the sides.
bool InsideItsParents(const QWidget* w, const QWidget* window, QString& why)
{
    for (const QWidget* a = w->parentWidget(); a && a != window->parentWidget(); a = a->parentWidget()) {
        const QRect r(w->mapTo(a, QPoint(0, 0)), w->size());
        const auto* area = a->parentWidget() ? qobject_cast<const QAbstractScrollArea*>(a->parentWidget()) : nullptr;
        const bool viewport = area && area->viewport() == a;
        const bool inside = viewport ? r.left() >= 0 && r.right() <= a->width() - 1 + area->horizontalScrollBar()->maximum()
                                     : a->rect().contains(r);
        if (!inside) {
            why = QString("cut off by %1 at %2,%3 %4 x %5")
                      .arg(a->objectName().isEmpty() ? a->metaObject()->className() : a->objectName())
                      .arg(r.x())
                      .arg(r.y())
                      .arg(r.width())
                      .arg(r.height());
            return false;
        }
        if (viewport) return true;   // the list scrolls; its own frame is the area's business
    }
    return true;
}

QStringList Problems(QWidget& window)
{
    QStringList problems;
    const QRect area = window.screen()->availableGeometry();
    if (!area.contains(window.frameGeometry()))
        problems << QString("%1 lies off the usable screen area").arg(window.objectName());
    for (const QAbstractScrollArea* list : window.findChildren<QAbstractScrollArea*>()) {
        if (!list->isVisibleTo(&window) || !list->horizontalScrollBar()->isVisible()) continue;
        // Only the cockpit's body may scroll sideways, on a screen narrower than it needs.
        if (list->objectName() != "SB_Window" || window.width() < area.width() - 8)
            problems << QString("%1 scrolls sideways").arg(list->objectName());
    }
    for (const QWidget* w : window.findChildren<QWidget*>()) {
        if (!w->isVisibleTo(&window)) continue;
        QString why;
        if (!TextFits(w, why) || !InsideItsParents(w, &window, why)) problems << Describe(w) + ": " + why;
    }
    return problems;
}

void Show(QWidget& window)
{
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QApplication::processEvents();
}

}  // namespace

class TWindowTextTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    TFakeUserQuery query_;
    std::unique_ptr<TQuorvellaApp> app_;

    static void Expect(QWidget& window)
    {
        const QStringList problems = Problems(window);
        QVERIFY2(problems.isEmpty(), qPrintable(window.objectName() + ": " + problems.join("; ")));
    }

private slots:
    void initTestCase()
    {
        std::setlocale(LC_NUMERIC, "C");
        qInfo("font %s %g pt, screen %dx%d", qPrintable(QApplication::font().family()),
              QApplication::font().pointSizeF(), QGuiApplication::primaryScreen()->availableGeometry().width(),
              QGuiApplication::primaryScreen()->availableGeometry().height());
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        app_ = StartSimulationApp(query_, *dir_);
        QVERIFY(app_ != nullptr);
        QVERIFY(query_.Boxes.empty());
    }

    void cleanupTestCase() { app_.reset(); }

    void mainWindowDuringARunWithAnOutputLog()
    {
        query_.SaveAnswers.push_back(TAString(dir_->filePath("a long output log name.asc").toStdString()));
        app_->MainWindow().findChild<QAbstractButton*>("CB_LogFile")->click();
        app_->MainWindow().B_StartStopClick();
        QTRY_VERIFY_WITH_TIMEOUT(app_->Engine().SimTime() >= 300000, 10000);
        Expect(app_->MainWindow());
        app_->MainWindow().B_StartStopClick();
        Expect(app_->MainWindow());
    }

    void cockpitDuringADrive()
    {
        PrepareCockpitScreenshot(app_->Cockpit());
        Show(app_->Cockpit());
        Expect(app_->Cockpit());
        auto* values = app_->Cockpit().findChild<QAbstractScrollArea*>("SB_MeasuredValues");
        QVERIFY(!values->horizontalScrollBar()->isVisible());
        // Every control in view without scrolling the window, on a short screen too
        // (there the gauges are smaller): the driving controls, the value fields and
        // "Hide" at the bottom.
        auto* body = app_->Cockpit().findChild<QAbstractScrollArea*>("SB_Window");
        QVERIFY(!body->verticalScrollBar()->isVisible());
        QVERIFY(!body->horizontalScrollBar()->isVisible());
        for (const char* name : {"TB_Accel", "TB_Gang", "E_FzgID", "E_InFuEc", "CB_Manual", "B_Beenden"}) {
            auto* w = app_->Cockpit().findChild<QWidget*>(name);
            const QRect shown(w->mapTo(body->viewport(), QPoint(0, 0)), w->size());
            QVERIFY2(body->viewport()->rect().contains(shown), name);
        }
        QVERIFY(app_->Cockpit().findChild<QWidget*>("ImgTacho")->height() >= 90);
    }

    void monitorWithTheValuesOfARun()
    {
        app_->MainWindow().B_StartStopClick();
        // The monitor shows what left: the VIN's transfer ends about 0.4 s into the run
        // and the monitor is refreshed every 0.2 s.
        QTRY_VERIFY_WITH_TIMEOUT(app_->Engine().SimTime() >= 1000000, 10000);
        app_->MainWindow().B_StartStopClick();
        Show(app_->VehicleData());
        QVERIFY(!app_->VehicleData().Text(10, TSignalTableModel::colValue).isEmpty());   // the VIN
        Expect(app_->VehicleData());
    }

    void validityWindowWithEveryChoice()
    {
        TFValidFlagManip& w = app_->ValidFlagManip();
        // The longest choice shown in a box of its own.
        for (int row = 0; row < w.Manip().RowCount(); ++row) {
            QComboBox* box = w.RangeBox(row);
            if (box->count() > 5) box->setCurrentIndex(5);   // "FB = Parameter specific"
        }
        Show(w);
        Expect(w);
        w.B_CancelClick();
    }

    void optionsWindow()
    {
        Show(app_->Options());
        Expect(app_->Options());
        app_->Options().hide();
    }

    void canDialogForEveryDriver()
    {
        TFCanChannel& d = app_->CanChannelDialog().Window();
        const struct {
            const char* identifier;
            const char* caption;
        } drivers[] = {{"Vector3.2", "Vector Informatik GmbH (VCANL 3.2)"},
                       {"Vci2.0", "IXXAT GmbH (VCI 2.x)"},
                       {"Vci3.0", "IXXAT GmbH (VCI 3.x)"},
                       {"Simulation", "Simulation"},
                       {"QtCanBus", "Qt CAN bus (SocketCAN, PEAK, virtual CAN)"}};
        for (const auto& driver : drivers) {
            TXmlElement key(driver.identifier);
            key["DriverName"]("<TEXT>") = driver.caption;
            key["CardType"]("<TEXT>") = "USBtoCAN_Compact";
            key["Baudrate"]("<TEXT>") = "1000000";
            key["Comm[0]"]("<TEXT>") = "SOC 192.168.100.200 30000 30001 1";
            d.Fill(key);
            Show(d);
            const QStringList problems = Problems(d);
            QVERIFY2(problems.isEmpty(), qPrintable(QString(driver.identifier) + ": " + problems.join("; ")));
            d.hide();
        }
    }

    void aboutBox()
    {
        TFBFormUeber& about = app_->About();
        about.ShowInfo(TFQuorvella::ProgName, TFQuorvella::Version);   // the fake user closes it at once
        Show(about);
        Expect(about);
        about.hide();
    }

    // The progress bar and Cancel stand in for the file name and "...": whole at every
    // scale; a file name too long for the bar keeps its beginning and end, and the
    // count stays.
    void mainWindowWhileALargeLogLoads()
    {
        TFQuorvella& main = app_->MainWindow();
        std::atomic<bool> reading{false};
        main.SetLogReader([&](const TAString& name, const TCanLogReader::TControl& control) -> TCanLog {
            control.Progress(2, 5);
            reading = true;
            while (!control.Cancel->load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            throw TBaseError("", "Logfile Read Error", name + ": loading stopped before the end of the file");
        });
        main.findChild<QRadioButton*>("RB_CanLog")->click();
        auto* bar = main.findChild<QProgressBar*>("PB_LogLoad");
        const QString longName = "the whole week on the test track, engine and doors, 2,000,000 frames.asc";
        for (const QString& name : {QString("drive-2M.asc"), longName}) {
            reading = false;
            main.LoadUserLog(TAString(dir_->filePath(name).toStdString()));
            QTRY_VERIFY_WITH_TIMEOUT(reading.load(), 10000);
            QTRY_COMPARE_WITH_TIMEOUT(bar->value(), 400, 10000);
            QVERIFY(bar->isVisible());
            QVERIFY(main.findChild<QWidget*>("B_LogLoadCancel")->isVisible());
            Expect(main);
            QVERIFY2(bar->text().startsWith("Loading ") && bar->text().endsWith(": 40%"), qPrintable(bar->text()));
            // The long name is wider than any main window here.
            const bool whole = bar->text() == "Loading " + name + ": 40%";
            QVERIFY2(name == longName ? !whole && bar->text().contains(QChar(0x2026))
                                      : whole || bar->text().contains(QChar(0x2026)),
                     qPrintable(bar->text()));
            QCOMPARE(bar->toolTip(), name);
            main.B_LogLoadCancelClick();
            QTRY_VERIFY_WITH_TIMEOUT(!main.LoadingUserLog(), 10000);
        }
        main.findChild<QRadioButton*>("RB_Simulation")->click();
    }
};

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    const double scale = qEnvironmentVariable("QV_FONT_SCALE").toDouble();
    if (scale > 0) {
        QFont font = QApplication::font();
        font.setPointSizeF(font.pointSizeF() * scale);
        QApplication::setFont(font);
    }
    TWindowTextTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "windowtext_test.moc"
