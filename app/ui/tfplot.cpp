#include "app/ui/tfplot.h"

#include "app/ui/tplotview.h"
#include "engine/tplotfeed.h"
#include "fms/tbusfmsstandard.h"
#include "fms/tfmsmeasval.h"
#include "support/ui/tqtext.h"

#include <QAbstractItemView>
#include <QAbstractProxyModel>
#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

using qv::Q;

namespace {

QString Seconds(int64_t micros)
{
    return QString::number(static_cast<double>(micros) / 1e6, 'f', 3);
}

// A value as read out: up to 10 significant digits (1500, 812.125), or the state letter.
QString Reading(const TSeriesPoint& p)
{
    return p.HasValue() ? QString::number(p.Value, 'g', 10) : QString(QChar(p.State != 0 ? p.State : '*'));
}

}  // namespace

TFPlot::TFPlot(TUserQuery& query, QWidget* parent) : QWidget(parent, Qt::Window), query_(query)
{
    setObjectName("TFPlot");
    setWindowTitle("Tessmar - Plot");

    auto button = [this](const char* name, const char* caption, const char* hint) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(name);
        b->setToolTip(hint);
        return b;
    };
    B_Pause = button("B_Pause", "&Pause", "Hold the view; the values go on being kept");
    B_Pause->setCheckable(true);
    B_ZoomIn = button("B_ZoomIn", "Zoom &in", "Half the time span (or the wheel over a plot)");
    B_ZoomOut = button("B_ZoomOut", "Zoom &out", "Twice the time span (or the wheel over a plot)");
    B_ZoomAll = button("B_ZoomAll", "&All", "The whole run kept");
    B_ExportCsv = button("B_ExportCsv", "Export &CSV...", "Every value kept of the signals plotted, as CSV");
    B_ExportPng = button("B_ExportPng", "Export P&NG...", "The plots as shown, as a PNG picture");
    C_AddSignal = new QComboBox(this);
    C_AddSignal->setObjectName("C_AddSignal");
    C_AddSignal->setToolTip("A signal to plot (signals can also be picked in the data monitor)");
    B_AddSignal = button("B_AddSignal", "Plo&t", "Plot the signal chosen");
    B_RemoveSignals = button("B_RemoveSignals", "&Remove all", "Stop plotting every signal");

    P_Plots = new QWidget(this);
    P_Plots->setObjectName("P_Plots");
    plotColumn_ = new QVBoxLayout(P_Plots);
    plotColumn_->setContentsMargins(0, 0, 0, 0);
    plotColumn_->setSpacing(2);
    SB_Time = new QScrollBar(Qt::Horizontal, this);
    SB_Time->setObjectName("SB_Time");
    SB_Time->setToolTip("Move through the run (pauses the view)");
    L_Cursor = new QLabel(this);
    L_Cursor->setObjectName("L_Cursor");
    L_Cursor->setTextInteractionFlags(Qt::TextSelectableByMouse);
    L_Cursor->setWordWrap(true);
    L_PlotStatus = new QLabel(this);
    L_PlotStatus->setObjectName("L_PlotStatus");
    L_PlotStatus->setWordWrap(true);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(6, 6, 6, 6);
    auto* tools = new QHBoxLayout;
    for (QWidget* w : {static_cast<QWidget*>(B_Pause), static_cast<QWidget*>(B_ZoomIn), static_cast<QWidget*>(B_ZoomOut),
                       static_cast<QWidget*>(B_ZoomAll)})
        tools->addWidget(w);
    tools->addStretch(1);
    tools->addWidget(B_ExportCsv);
    tools->addWidget(B_ExportPng);
    column->addLayout(tools);
    auto* pick = new QHBoxLayout;
    pick->addWidget(C_AddSignal, 1);
    pick->addWidget(B_AddSignal);
    pick->addWidget(B_RemoveSignals);
    column->addLayout(pick);
    column->addWidget(P_Plots, 1);
    column->addWidget(SB_Time);
    column->addWidget(L_Cursor);
    column->addWidget(L_PlotStatus);

    connect(B_Pause, &QPushButton::clicked, this, [this](bool checked) { SetPaused(checked); });
    connect(B_ZoomIn, &QPushButton::clicked, this, [this] { ZoomBy(0.5, viewTo_ - span_ / 2); });
    connect(B_ZoomOut, &QPushButton::clicked, this, [this] { ZoomBy(2.0, viewTo_ - span_ / 2); });
    connect(B_ZoomAll, &QPushButton::clicked, this, &TFPlot::ZoomAll);
    connect(B_ExportCsv, &QPushButton::clicked, this, &TFPlot::B_ExportCsvClick);
    connect(B_ExportPng, &QPushButton::clicked, this, &TFPlot::B_ExportPngClick);
    connect(B_AddSignal, &QPushButton::clicked, this, &TFPlot::B_AddSignalClick);
    connect(B_RemoveSignals, &QPushButton::clicked, this, &TFPlot::UnplotAll);
    connect(SB_Time, &QScrollBar::valueChanged, this, [this](int ms) {
        if (!updatingBar_) ShowUntil(static_cast<int64_t>(ms) * 1000 + span_);
    });
    connect(&refresh_, &QTimer::timeout, this, &TFPlot::Refresh);

    resize(720, 520);
    RebuildPlots();
    ShowStatus(QString(), false);
}

void TFPlot::SetCatalogue(const TPlotFeed& feed)
{
    offeredBy_ = &feed;
    offered_.clear();
    C_AddSignal->clear();
    const TBusFmsStandard& catalogue = feed.Catalogue();
    for (int i = 0; i < catalogue.SignalCount(); ++i) {
        if (!feed.Plottable(i)) continue;
        const TFmsMeasVal& s = catalogue.Signal(i);
        offered_.push_back({i, s.Name, s.Unit});
        C_AddSignal->addItem(Q(s.Name) + (s.Unit.IsEmpty() ? QString() : QString(" [%1]").arg(Q(s.Unit))), i);
    }
}

void TFPlot::PickFrom(QAbstractItemView& view)
{
    auto* action = new QAction("Plot", &view);
    action->setObjectName("A_Plot");
    action->setToolTip("Plot the selected signals over time");
    action->setShortcut(QKeySequence("Ctrl+P"));
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    view.addAction(action);
    view.setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(action, &QAction::triggered, this, [this, &view] {
        std::vector<int> picked;
        if (view.selectionModel())
            for (QModelIndex index : view.selectionModel()->selectedRows()) {
                while (auto* proxy = qobject_cast<const QAbstractProxyModel*>(index.model()))
                    index = proxy->mapToSource(index);
                picked.push_back(index.row());
            }
        std::sort(picked.begin(), picked.end());
        PlotPicked(picked);
        show();
        raise();
    });
}

int TFPlot::PlotPicked(const std::vector<int>& indices)
{
    int added = 0;
    QStringList passed;
    for (int index : indices) {
        const auto it = std::find_if(offered_.begin(), offered_.end(), [index](const TOffered& o) { return o.Index == index; });
        if (it != offered_.end()) {
            added += Plot(it->Index, it->Name, it->Unit) ? 1 : 0;
        } else if (offeredBy_ && index >= 0 && index < offeredBy_->Catalogue().SignalCount()) {
            passed << Q(offeredBy_->Catalogue().Signal(index).Name);
        }
    }
    lastExport_ = passed.isEmpty() ? QString()
                                   : QString("Not plotted, as they have no number on an axis: %1").arg(passed.join(", "));
    ShowStatus(lastExport_, !passed.isEmpty());
    return added;
}

bool TFPlot::Plot(int index, const TAString& name, const TAString& unit)
{
    if (!store_.Add(index, name, unit)) return false;
    RebuildPlots();
    if (!refresh_.isActive()) refresh_.start(RefreshMs);
    return true;
}

void TFPlot::Unplot(int index)
{
    if (store_.Remove(index)) RebuildPlots();
}

void TFPlot::UnplotAll()
{
    store_.RemoveAll();
    refresh_.stop();
    RebuildPlots();
}

void TFPlot::RunStarted()
{
    if (restart_) restart_();
    store_.ClearSeries();
    viewTo_ = span_;
    SetPaused(false);
}

void TFPlot::RebuildPlots()
{
    for (TPlotView* view : plots_) delete view;
    plots_.clear();
    for (const TAString& unit : store_.Units()) {
        auto* view = new TPlotView(store_, unit, P_Plots);
        plotColumn_->addWidget(view, 1);
        connect(view, &TPlotView::CursorMoved, this, [this](qint64 t) { SetCursorTime(t); });
        connect(view, &TPlotView::CursorLeft, this, &TFPlot::ClearCursor);
        connect(view, &TPlotView::ZoomRequested, this, [this](double f, qint64 anchor) { ZoomBy(f, anchor); });
        view->show();
        plots_.push_back(view);
    }
    UpdateView();
}

void TFPlot::Refresh()
{
    if (feed_) feed_(store_);
    if (!paused_) viewTo_ = std::max(span_, store_.LatestTime());
    UpdateView();
}

void TFPlot::SetPaused(bool paused)
{
    paused_ = paused;
    if (B_Pause->isChecked() != paused) B_Pause->setChecked(paused);
    B_Pause->setText(paused ? "Resume (&P)" : "&Pause");
    if (!paused) viewTo_ = std::max(span_, store_.LatestTime());
    UpdateView();
}

void TFPlot::ZoomBy(double factor, int64_t anchor)
{
    const int64_t span = std::clamp<int64_t>(static_cast<int64_t>(std::llround(static_cast<double>(span_) * factor)),
                                             MinSpan, MaxSpan);
    if (paused_) {
        // The anchor keeps its place: its share of the span before and after stays.
        const double share = static_cast<double>(anchor - ViewFrom()) / static_cast<double>(span_);
        const int64_t from = anchor - static_cast<int64_t>(std::llround(share * static_cast<double>(span)));
        viewTo_ = from + span;
    }
    span_ = span;
    if (!paused_) viewTo_ = std::max(span_, store_.LatestTime());
    UpdateView();
}

void TFPlot::ZoomAll()
{
    const int64_t from = store_.EarliestTime();
    const int64_t to = store_.LatestTime();
    span_ = std::clamp<int64_t>(to - from, MinSpan, MaxSpan);
    viewTo_ = std::max(to, from + span_);
    SetPaused(true);
}

void TFPlot::ShowUntil(int64_t to)
{
    viewTo_ = to;
    SetPaused(true);
}

void TFPlot::UpdateView()
{
    for (TPlotView* view : plots_) view->SetRange(ViewFrom(), ViewTo());
    UpdateScrollBar();
    if (cursor_) L_Cursor->setText(CursorText());
    if (lastExport_.isEmpty()) ShowStatus(QString(), false);
}

void TFPlot::UpdateScrollBar()
{
    // In ms: the first view starts at the earliest value kept, the last ends at the latest.
    updatingBar_ = true;
    const int64_t first = store_.EarliestTime();
    const int64_t last = std::max(first, store_.LatestTime() - span_);
    SB_Time->setRange(static_cast<int>(first / 1000), static_cast<int>(std::max(first, last) / 1000));
    SB_Time->setPageStep(static_cast<int>(span_ / 1000));
    SB_Time->setSingleStep(std::max(1, static_cast<int>(span_ / 10000)));
    SB_Time->setValue(static_cast<int>(ViewFrom() / 1000));
    updatingBar_ = false;
}

void TFPlot::SetCursorTime(int64_t time)
{
    cursor_ = true;
    cursorTime_ = time;
    for (TPlotView* view : plots_) view->SetCursorTime(time);
    L_Cursor->setText(CursorText());
}

void TFPlot::ClearCursor()
{
    cursor_ = false;
    for (TPlotView* view : plots_) view->ClearCursor();
    L_Cursor->clear();
}

QString TFPlot::CursorText() const
{
    if (!cursor_) return QString();
    QStringList parts{Seconds(cursorTime_) + " s"};
    for (const auto& s : store_.Signals()) {
        const TSeriesPoint* p = s->Series.AtOrBefore(cursorTime_);
        QString part = Q(s->Name) + ": " + (p ? Reading(*p) : QString("-"));
        if (p && p->HasValue() && !s->Unit.IsEmpty()) part += " " + Q(s->Unit);
        parts << part;
    }
    return parts.join("   ");
}

QString TFPlot::StatusText() const
{
    return L_PlotStatus->text();
}

void TFPlot::ShowStatus(const QString& text, bool problem)
{
    QString line = text;
    if (line.isEmpty()) {
        std::size_t points = 0;
        for (const auto& s : store_.Signals()) points += s->Series.Size();
        line = store_.Signals().empty() ? QString("No signal plotted: pick one in the data monitor or above")
                                        : QString("%1 signals, %2 values kept").arg(store_.Signals().size()).arg(points);
        if (store_.Dropped() > 0)
            line += QString("; %1 older values dropped (the window keeps the last %2 of each signal)")
                        .arg(store_.Dropped())
                        .arg(TSignalSeries::DefaultCapacity);
        if (store_.OutOfOrder() > 0)
            line += QString("; %1 values earlier than the latest one not plotted").arg(store_.OutOfOrder());
        if (store_.Missed() > 0)
            line += QString("; %1 frames left faster than the plot could read them: their values are missing")
                        .arg(store_.Missed());
        problem = store_.Dropped() > 0 || store_.OutOfOrder() > 0 || store_.Missed() > 0;
    }
    // Set only when it changes: a new palette repaints and relays the window out.
    const QColor colour = problem ? QColor(Qt::red) : this->palette().color(QPalette::WindowText);
    if (L_PlotStatus->palette().color(QPalette::WindowText) != colour) {
        QPalette palette = L_PlotStatus->palette();
        palette.setColor(QPalette::WindowText, colour);
        L_PlotStatus->setPalette(palette);
    }
    if (L_PlotStatus->text() != line) L_PlotStatus->setText(line);
}

bool TFPlot::ExportCsv(const TAString& fileName)
{
    const std::string csv = store_.Csv(INT64_MIN, INT64_MAX);
    QSaveFile file(Q(fileName));
    const bool ok = file.open(QIODevice::WriteOnly) &&
                    file.write(csv.data(), static_cast<qint64>(csv.size())) == static_cast<qint64>(csv.size()) &&
                    file.commit();
    if (ok) {
        const auto rows = std::count(csv.begin(), csv.end(), '\n') - 1;
        lastExport_ = QString("%1 rows of %2 signals written to %3").arg(rows).arg(store_.Signals().size()).arg(Q(fileName));
    } else {
        lastExport_ = QString("CSV not written to %1: %2").arg(Q(fileName), file.errorString());
    }
    ShowStatus(lastExport_, !ok);
    return ok;
}

bool TFPlot::ExportPng(const TAString& fileName)
{
    const QPixmap picture = P_Plots->grab();
    QSaveFile file(Q(fileName));
    const bool ok = file.open(QIODevice::WriteOnly) && picture.save(&file, "PNG") && file.commit();
    lastExport_ = ok ? QString("Picture of %1 x %2 pixels written to %3").arg(picture.width()).arg(picture.height()).arg(Q(fileName))
                     : QString("PNG not written to %1: %2").arg(Q(fileName), file.errorString());
    ShowStatus(lastExport_, !ok);
    return ok;
}

void TFPlot::B_ExportCsvClick()
{
    const std::optional<TAString> name =
        query_.SaveFileName(this, {"Export plot data", "plot.csv", "csv", "CSV files|*.csv|All files|*"});
    if (name) ExportCsv(*name);
}

void TFPlot::B_ExportPngClick()
{
    const std::optional<TAString> name =
        query_.SaveFileName(this, {"Export plot picture", "plot.png", "png", "PNG pictures|*.png|All files|*"});
    if (name) ExportPng(*name);
}

void TFPlot::B_AddSignalClick()
{
    const int i = C_AddSignal->currentIndex();
    if (i < 0 || static_cast<std::size_t>(i) >= offered_.size()) return;
    const TOffered& o = offered_[static_cast<std::size_t>(i)];
    Plot(o.Index, o.Name, o.Unit);
}

void TFPlot::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        hide();
        return;
    }
    QWidget::keyPressEvent(event);
}
