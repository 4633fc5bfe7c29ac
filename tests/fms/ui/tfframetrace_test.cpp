// The frame trace window over the run engine's trace: the list in order with the
// transfers reassembled beneath their last frame, fixed mode, the filter, pause, and a
// list that falls behind the trace.
#include "fms/ui/tfframetrace.h"
#include "fms/ui/tfasttext.h"

#include "logs/tcanlogreader.h"
#include "engine/tframetrace.h"
#include "runharness.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QTableView>
#include <QtTest>

namespace {

using W = TFFrameTrace;

// EEC1 twice 290 ms apart, CCVS, and a VIN of 11 bytes in a broadcast transfer.
const char* const Log = "000.0010 0CF00400FFFFFFE02EFFFFFF\n"
                        "000.0010 18FEF100F3003211FFFFFFFF\n"
                        "000.0020 18ECFF00200B0002FFECFE00\n"
                        "000.0120 18EBFF000157444231323334\n"
                        "000.0220 18EBFF00023536372AFFFFFF\n"
                        "000.3000 0CF00400FFFFFF002FFFFFFF\n";

QString Cell(const TFFrameTrace& w, int row, int column)
{
    const QAbstractItemModel* m = w.View()->model();
    return m->index(row, column).data().toString();
}

QStringList Column(const TFFrameTrace& w, int column)
{
    QStringList r;
    for (int row = 0; row < w.View()->model()->rowCount(); ++row) r << Cell(w, row, column);
    return r;
}

// The rightmost column of img with ink (a pixel darker than mid grey); -1 for none.
int InkRight(const QImage& img)
{
    for (int x = img.width() - 1; x >= 0; --x)
        for (int y = 0; y < img.height(); ++y)
            if (qGray(img.pixel(x, y)) < 128) return x;
    return -1;
}

// text painted black on white from x = 10, cut at width when width > 0.
QImage Painted(const TFastText& t, const QString& text, qreal width)
{
    QImage img(600, 40, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setPen(Qt::black);
    if (width > 0)
        t.DrawCut(p, QPointF(10, 28), text, width);
    else
        t.Draw(p, QPointF(10, 28), text);
    return img;
}

void Replay(TRunHarness& run)
{
    run.engine.Controls.Simulation = false;
    run.engine.Controls.InternalLog = true;
    run.engine.InternalLines = TCanLogReader::Parse(Log);
    run.engine.Start();
    run.RunFor(500);
}

}  // namespace

class TFFrameTraceTest : public QObject {
    Q_OBJECT

private slots:
    void FramesInOrderWithTheTransferBeneath()
    {
        TRunHarness run;
        TFFrameTrace w(run.engine.Trace());
        QCOMPARE(w.windowTitle(), QString("Tessmar - Frame Trace"));
        Replay(run);
        w.Poll();
        QCOMPARE(Column(w, W::colId), (QStringList{"0CF00400", "18FEF100", "18ECFF00", "18EBFF00", "18EBFF00", "",
                                                   "0CF00400"}));
        QCOMPARE(Column(w, W::colDirection), (QStringList{"Tx", "Tx", "Tx", "Tx", "Tx", "Tx", "Tx"}));
        QCOMPARE(Column(w, W::colPgn), (QStringList{"61444", "65265", "60416", "60160", "60160", "65260", "61444"}));
        QCOMPARE(Cell(w, 0, W::colTime), QString("0.0010"));
        QCOMPARE(Cell(w, 0, W::colSource), QString("00"));
        QCOMPARE(Cell(w, 0, W::colLength), QString("8"));
        QCOMPARE(Cell(w, 0, W::colData), QString("FF FF FF E0 2E FF FF FF"));
        QCOMPARE(Cell(w, 0, W::colGroup), QString("Electronic Engine Controller #1"));
        QCOMPARE(Cell(w, 2, W::colGroup), QString("TP.CM"));
        // The transfer, beneath the frame that completed it: the announced 11 bytes.
        QCOMPARE(Cell(w, 5, W::colTime), Cell(w, 4, W::colTime));
        QCOMPARE(Cell(w, 5, W::colLength), QString("11"));
        QCOMPARE(Cell(w, 5, W::colData), QString("57 44 42 31 32 33 34 35 36 37 2A"));
        QCOMPARE(Cell(w, 5, W::colGroup), QString("reassembled: Vehicle Identification"));
        QCOMPARE(w.findChild<QLabel*>("L_Status")->text(), QString("6 frames"));

        // Only what comes later is added.
        w.Poll();
        QCOMPARE(w.View()->model()->rowCount(), 7);
    }

    void FixedModeShowsOneRowPerIdentifierWithCountAndPeriod()
    {
        TRunHarness run;
        TFFrameTrace w(run.engine.Trace());
        Replay(run);
        w.Poll();
        QTest::mouseClick(w.findChild<QCheckBox*>("CB_Fixed"), Qt::LeftButton);
        QCOMPARE(Column(w, W::colId), (QStringList{"0CF00400", "18FEF100", "18ECFF00", "18EBFF00", ""}));
        QCOMPARE(Column(w, W::colCount), (QStringList{"2", "1", "1", "2", "1"}));
        // EEC1 at 1 ms and 300 ms; the log's TP.DT frames at 12 and 22 ms.
        QCOMPARE(Column(w, W::colPeriod), (QStringList{"299.0", "", "", "10.0", ""}));
        QCOMPARE(Cell(w, 0, W::colData), QString("FF FF FF 00 2F FF FF FF"));   // the last one
        QCOMPARE(Cell(w, 4, W::colGroup), QString("reassembled: Vehicle Identification"));

        // The same identifier again updates its row in place.
        QSignalSpy inserted(w.View()->model(), &QAbstractItemModel::rowsInserted);
        QSignalSpy changed(w.View()->model(), &QAbstractItemModel::dataChanged);
        run.engine.Start();
        run.RunFor(500);
        w.Poll();
        QCOMPARE(inserted.count(), 0);
        QVERIFY(changed.count() > 0);
        QCOMPARE(Column(w, W::colCount), (QStringList{"4", "2", "2", "4", "2"}));

        QTest::mouseClick(w.findChild<QCheckBox*>("CB_Fixed"), Qt::LeftButton);
        QCOMPARE(w.View()->model()->rowCount(), 14);
    }

    void FilterByIdentifierPgnAndDirection()
    {
        TRunHarness run;
        TFFrameTrace w(run.engine.Trace());
        Replay(run);
        w.Poll();
        auto* filter = w.findChild<QLineEdit*>("E_Filter");
        QTest::keyClicks(filter, "f004");
        QCOMPARE(Column(w, W::colId), (QStringList{"0CF00400", "0CF00400"}));
        filter->clear();
        QTest::keyClicks(filter, "65260");   // the VIN's PGN: its transfer
        QCOMPARE(Column(w, W::colGroup), QStringList{"reassembled: Vehicle Identification"});
        filter->clear();
        QTest::keyClicks(filter, "18EB");
        QCOMPARE(Column(w, W::colId), (QStringList{"18EBFF00", "18EBFF00"}));
        filter->clear();
        auto* direction = w.findChild<QComboBox*>("C_Direction");
        direction->setCurrentIndex(direction->findText("Rx"));
        QCOMPARE(w.View()->model()->rowCount(), 0);
        direction->setCurrentIndex(direction->findText("Tx"));
        QCOMPARE(w.View()->model()->rowCount(), 7);
        // The filter holds for the frames that come later too.
        QTest::keyClicks(filter, "FEF1");
        run.engine.Start();
        run.RunFor(500);
        w.Poll();
        QCOMPARE(Column(w, W::colId), (QStringList{"18FEF100", "18FEF100"}));
    }

    // Frames of one identifier recur; the filter's verdict on each identifier holds for
    // all of its frames, for the frames that come later, and never passes from a
    // standard identifier to an extended one with the same number.
    void FilterHoldsForEveryFrameOfAnIdentifierOfEitherKind()
    {
        TFrameTrace trace;
        TFFrameTrace w(trace);
        auto add = [&trace](int64_t ms, uint32_t id, bool extended) {
            trace.Append(ms % 2 ? TTraceFrame::Rx : TTraceFrame::Tx, ms * 1000, id, extended, 8, {});
        };
        for (int64_t ms : {1, 2}) {
            add(10 * ms + 1, 0x00000100, true);
            add(10 * ms + 2, 0x100, false);
            add(10 * ms + 3, 0x18FEF100, true);
        }
        w.Poll();
        const struct {
            const char* Text;
            QStringList Ids;   // before and after the later frames (the same again)
        } cases[] = {
            {"100", {"00000100", "100", "18FEF100", "00000100", "100", "18FEF100"}},
            {"00000", {"00000100", "00000100"}},
            {"FEF1", {"18FEF100", "18FEF100"}},
            {"65265", {"18FEF100", "18FEF100"}},   // the PGN; a standard identifier has none
            {"ENGINE", {}},
            {"", {"00000100", "100", "18FEF100", "00000100", "100", "18FEF100"}},
        };
        auto* filter = w.findChild<QLineEdit*>("E_Filter");
        for (const auto& c : cases) {
            filter->setText(c.Text);
            QCOMPARE(Column(w, W::colId), c.Ids);
        }
        // Later frames under a filter already set.
        filter->setText("00000");
        add(41, 0x100, false);
        add(42, 0x00000100, true);
        add(43, 0x100, false);
        w.Poll();
        QCOMPARE(Column(w, W::colId), (QStringList{"00000100", "00000100", "00000100"}));
        QCOMPARE(Column(w, W::colTime), (QStringList{"0.0110", "0.0210", "0.0420"}));
    }

    void PauseStopsTheListAndResumeGoesOnWhereItStopped()
    {
        TRunHarness run;
        TFFrameTrace w(run.engine.Trace());
        Replay(run);
        w.Poll();
        QTest::mouseClick(w.findChild<QCheckBox*>("CB_Pause"), Qt::LeftButton);
        run.engine.Start();
        run.RunFor(500);
        w.Poll();
        QCOMPARE(w.View()->model()->rowCount(), 7);
        QCOMPARE(w.findChild<QLabel*>("L_Status")->text(), QString("6 frames, paused"));
        QTest::mouseClick(w.findChild<QCheckBox*>("CB_Pause"), Qt::LeftButton);
        w.Poll();
        QCOMPARE(w.View()->model()->rowCount(), 14);
        QCOMPARE(w.Missed(), 0u);
    }

    void AListBehindTheTraceCountsWhatItMissedAndKeepsTheNewest()
    {
        TFrameTrace trace(4);
        TFFrameTrace w(trace);
        for (uint32_t k = 1; k <= 10; ++k)
            trace.Append(TTraceFrame::Tx, 1000 * k, 0x18FEF100 + k, true, 8, {});
        w.Poll();
        QCOMPARE(w.Missed(), 6u);
        QCOMPARE(Column(w, W::colId), (QStringList{"18FEF107", "18FEF108", "18FEF109", "18FEF10A"}));
        QCOMPARE(w.findChild<QLabel*>("L_Status")->text(), QString("4 frames, 6 missed (the trace held no more)"));
        // The list itself holds as many frames as the trace: the oldest leave.
        for (uint32_t k = 11; k <= 13; ++k)
            trace.Append(TTraceFrame::Rx, 1000 * k, 0x100 + k, false, 1, {static_cast<uint8_t>(k)});
        w.Poll();
        QCOMPARE(Column(w, W::colId), (QStringList{"18FEF10A", "10B", "10C", "10D"}));
        QCOMPARE(Cell(w, 1, W::colDirection), QString("Rx"));
        QCOMPARE(Cell(w, 1, W::colPgn), QString());
        QCOMPARE(Cell(w, 1, W::colData), QString("0B"));
    }

    // The list's cells and the plots' labels are painted from a glyph table instead of
    // laid-out text: they measure as the font does, never spill over their width, and
    // text outside printable ASCII still comes out.
    void CheapTextMeasuresAsTheFontAndStaysInsideItsWidth()
    {
        QFont font("Monospace");
        font.setPixelSize(14);
        TFastText t;
        t.SetFont(font);
        const QFontMetricsF metrics(font);
        const struct {
            QString Text;
            qreal Cut;   // 0: uncut
        } cases[] = {
            {"18FEF100", 0},
            {"F3 15 00 0C 2E FF FF FF", 0},
            {"reassembled: Vehicle Identification", 0},
            {QString::fromUtf8("Coolant [\xC2\xB0""C]"), 0},
            {"Electronic Engine Controller #1", 120},
            {"Electronic Engine Controller #1", 9},
            {QString::fromUtf8("Fuel temperature [\xC2\xB0""C]"), 80},
            {"65265", 200},
        };
        for (const auto& c : cases) {
            const QString& text = c.Text;
            const QImage img = Painted(t, text, c.Cut);
            const int right = InkRight(img);
            const qreal width = metrics.horizontalAdvance(text);
            if (c.Cut == 0 || width <= c.Cut) {
                // Whole: as wide as the font measures it, and the ink ends there.
                QVERIFY2(qAbs(t.Width(text) - width) <= 1.0, qPrintable(text));
                QVERIFY2(right > 10 + width - metrics.averageCharWidth() - 2 && right <= 10 + width + 1, qPrintable(text));
            } else {
                // Cut: nothing beyond the width.
                QVERIFY2(right <= 10 + c.Cut, qPrintable(QString("%1 cut at %2: ink at %3").arg(text).arg(c.Cut).arg(right)));
                if (c.Cut >= 3 * metrics.averageCharWidth()) QVERIFY2(right > 10 + c.Cut / 2, qPrintable(text));
            }
        }
        QCOMPARE(t.Width(QString()), 0.0);
    }
};

QTEST_MAIN(TFFrameTraceTest)
#include "tfframetrace_test.moc"
