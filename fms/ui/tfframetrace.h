#pragma once
// The frame trace window: the frames on the bus as they leave and arrive (time,
// direction, identifier, PGN, source address, length, data, group name), read from
// the run engine's TFrameTrace in batches on a timer, so the run never waits for the
// list. The list holds the last TFrameTrace::DefaultCapacity frames; the broadcast and
// connection transfers appear reassembled in a row of their own beneath the frame
// that completed them.
//
// "Fixed" shows one row per identifier and direction instead, updated in place, with
// the number of its frames and the time between its last two (ms). "Pause" stops
// taking frames; on resume the list goes on from where it stopped, and what the trace
// no longer held is counted as missed in the status line. The filter keeps the rows
// whose identifier (hex), PGN (decimal or hex) or group name contains the text, in the
// chosen direction.
//
// Object names: "E_Filter", "C_Direction" (items "Tx and Rx", "Tx", "Rx"),
// "CB_Pause", "CB_Fixed", "TV_Frames", "L_Status", "B_Clear", "B_Hide".

#include "engine/ttransportassembler.h"

#include <QWidget>

#include <array>
#include <cstdint>

class QCheckBox;
class QComboBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QTableView;
class QTimer;
class TFrameTrace;

class TFFrameTrace : public QWidget {
    Q_OBJECT
public:
    static constexpr int PollIntervalMs = 250;   // four times a second, as the plots
    // Columns of the list; Fixed mode adds Count and Period.
    enum TColumn { colTime, colDirection, colId, colPgn, colSource, colLength, colData, colGroup, colCount,
                   colPeriod, ColumnCount };

    explicit TFFrameTrace(const TFrameTrace& trace, QWidget* parent = nullptr);
    ~TFFrameTrace() override;

    // Takes the frames the trace got since the last call into the list (the timer calls
    // it while the window is shown and not paused).
    void Poll();
    // Empties the list; the frames that come from now on fill it again.
    void Clear();

    QTableView* View() const { return view_; }
    // Frames the list did not get because the trace no longer held them.
    uint64_t Missed() const { return missed_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    class TListModel;
    class TFixedModel;

    void FilterChanged();
    void ModeChanged();
    void ShowStatus();

    const TFrameTrace& trace_;
    uint64_t last_ = 0;     // sequence number of the last frame taken
    uint64_t missed_ = 0;
    uint64_t taken_ = 0;
    TListModel* list_ = nullptr;
    TFixedModel* fixed_ = nullptr;
    QLineEdit* filter_ = nullptr;
    QComboBox* direction_ = nullptr;
    QCheckBox* pause_ = nullptr;
    QCheckBox* fixedMode_ = nullptr;
    QTableView* view_ = nullptr;
    QLabel* status_ = nullptr;
    QTimer* timer_ = nullptr;
    // Each direction's transfers are rebuilt from that direction's frames (Tx, Rx).
    std::array<TTransportAssembler, 2> assemblers_;
};
