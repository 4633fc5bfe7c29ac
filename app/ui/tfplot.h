#pragma once
// The plot window "Tessmar - Plot": the values of the signals picked, over time, live.
// One plot per unit ("PV_<unit>", TPlotView), one above the other; each signal a line of
// its own colour. While a run goes on the time axis scrolls with it, showing the latest
// Span(); "Pause" ("B_Pause") holds the view where it is (the values go on being kept)
// and the scroll bar under the plots ("SB_Time") then moves it through the run; moving
// the scroll bar pauses too. "Zoom in" and "Zoom out" ("B_ZoomIn", "B_ZoomOut") halve and
// double the span, and so does the wheel over a plot, around the pointer; "All"
// ("B_ZoomAll") shows the whole run kept and pauses. The pointer over a plot puts a
// cursor line at its time in every plot, and "L_Cursor" reads out the value each signal
// had then (the last one sent at or before it).
//
// Signals are picked in the data monitor, or here in "C_AddSignal" with "B_AddSignal";
// "B_RemoveSignals" removes them all. "Export CSV..." ("B_ExportCsv") writes every
// value kept of the signals plotted (TPlotStore::Csv); "Export PNG..." ("B_ExportPng")
// the picture of the plots as shown. The file name is asked through the user query; the
// line "L_PlotStatus" says what was written, or why not, and when older values were
// dropped to keep the window's memory bounded.
//
// The values come from the feed, which the window calls on its refresh timer
// (RefreshMs) to append what was sent since its last call; the view is then repainted
// (not while paused). Everything runs on the window thread.

#include "app/ui/tuserquery.h"
#include "engine/tplotstore.h"

#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <vector>

class QAbstractItemView;
class QComboBox;
class QLabel;
class QPushButton;
class QScrollBar;
class QVBoxLayout;
class TPlotFeed;
class TPlotView;

class TFPlot : public QWidget {
    Q_OBJECT
public:
    static constexpr int64_t DefaultSpan = 30000000;     // µs
    static constexpr int64_t MinSpan = 100000;           // 0.1 s
    static constexpr int64_t MaxSpan = 3600000000LL;     // 1 h
    static constexpr int RefreshMs = 250;   // four times a second, as the frame trace

    explicit TFPlot(TUserQuery& query, QWidget* parent = nullptr);

    // The signals offered in C_AddSignal: those the feed can plot.
    void SetCatalogue(const TPlotFeed& feed);
    // feed appends to the store what was sent since its last call; restart makes it
    // pass over what it has not read yet (a new run starts).
    void SetFeed(std::function<void(TPlotStore&)> feed, std::function<void()> restart = {})
    {
        feed_ = std::move(feed);
        restart_ = std::move(restart);
    }

    // The data monitor's list: its rows get "Plot" in their context menu (also Ctrl+P),
    // which plots the selected signals and shows this window. Its rows are the signals
    // in catalogue order behind any proxy (a filter).
    void PickFrom(QAbstractItemView& view);
    // Plots the signals of these catalogue indices that the feed can plot, and says in
    // L_PlotStatus which ones were passed over and why. Returns how many were added.
    int PlotPicked(const std::vector<int>& indices);

    // Starts plotting a signal (its catalogue index); false when it is plotted already.
    bool Plot(int index, const TAString& name, const TAString& unit);
    void Unplot(int index);
    void UnplotAll();
    TPlotStore& Store() { return store_; }
    const TPlotStore& Store() const { return store_; }
    // A run started: every series starts again and the view follows the run.
    void RunStarted();

    // The feed, then the view; what the refresh timer does.
    void Refresh();
    void SetPaused(bool paused);
    bool Paused() const { return paused_; }
    int64_t Span() const { return span_; }
    // The span becomes factor times as long (within MinSpan .. MaxSpan), keeping anchor
    // (µs) at its place on the axis; following the run, the latest time stays at the right.
    void ZoomBy(double factor, int64_t anchor);
    void ZoomAll();
    // The time range shown, µs.
    int64_t ViewFrom() const { return viewTo_ - span_; }
    int64_t ViewTo() const { return viewTo_; }
    // Shows the range ending at to and pauses (the scroll bar does this).
    void ShowUntil(int64_t to);

    // The cursor at time in every plot, and its readout.
    void SetCursorTime(int64_t time);
    void ClearCursor();
    QString CursorText() const;

    // The plots, one per unit in the order the units were first picked.
    const std::vector<TPlotView*>& Plots() const { return plots_; }

    // Writes the file and says so in L_PlotStatus; false (with the reason there) when it
    // could not be written.
    bool ExportCsv(const TAString& fileName);
    bool ExportPng(const TAString& fileName);
    void B_ExportCsvClick();
    void B_ExportPngClick();
    void B_AddSignalClick();
    QString StatusText() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void RebuildPlots();
    void UpdateView();
    void UpdateScrollBar();
    void ShowStatus(const QString& text, bool problem);

    TUserQuery& query_;
    TPlotStore store_;
    std::function<void(TPlotStore&)> feed_;
    std::function<void()> restart_;
    QTimer refresh_;
    bool paused_ = false;
    int64_t span_ = DefaultSpan;
    int64_t viewTo_ = DefaultSpan;
    bool cursor_ = false;
    int64_t cursorTime_ = 0;
    bool updatingBar_ = false;
    QString lastExport_;
    bool exportProblem_ = false;
    std::vector<TPlotView*> plots_;
    struct TOffered {
        int Index;
        TAString Name;
        TAString Unit;
    };
    std::vector<TOffered> offered_;
    const TPlotFeed* offeredBy_ = nullptr;

    QPushButton* B_Pause = nullptr;
    QPushButton* B_ZoomIn = nullptr;
    QPushButton* B_ZoomOut = nullptr;
    QPushButton* B_ZoomAll = nullptr;
    QPushButton* B_ExportCsv = nullptr;
    QPushButton* B_ExportPng = nullptr;
    QComboBox* C_AddSignal = nullptr;
    QPushButton* B_AddSignal = nullptr;
    QPushButton* B_RemoveSignals = nullptr;
    QWidget* P_Plots = nullptr;
    QVBoxLayout* plotColumn_ = nullptr;
    QScrollBar* SB_Time = nullptr;
    QLabel* L_Cursor = nullptr;
    QLabel* L_PlotStatus = nullptr;
};
