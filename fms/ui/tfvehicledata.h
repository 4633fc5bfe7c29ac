#pragma once
// The data monitor window: a table of every signal of the catalogue with its value,
// unit, state spelled out, the bytes of its field, its group and the age of the frame
// that carried it last (TSignalTableModel over the run engine's TSignalMonitor, so it
// shows what left on the bus for every source, a replayed log too). The value column
// keeps the one-letter code of a value that is not valid ("e"); the state column
// spells it out ("error"). A filter field keeps the rows whose name, group, PGN or SPN
// match as the user types. The main tick refreshes it during a run and empties it when
// a run starts; rows change in place. Modeless; hidden and shown as needed.
//
// Object names: "L_ActualData", "L_Requests" beside the heading with the run's J1939
// requests ("Requests: 3 received, 2 answered, 1 refused"), "L_AddressClaim" under it
// with the simulated vehicle's address claim as the status panel words it ("Address
// claim: claimed 0x00, NAME 1000000000000001"), "E_Filter", the table "TV_Signals" and
// the button "B_Hide".

#include "engine/trunmonitor.h"

#include <QWidget>

class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class TBusFmsStandard;
class TSignalFilterModel;
class TSignalTableModel;

class TFVehicleData : public QWidget, public TRunMonitor {
    Q_OBJECT
public:
    // The designed height; the window is as wide as its columns need.
    static constexpr int InitialHeight = 484;

    explicit TFVehicleData(QWidget* parent = nullptr);

    // With nullptr every row is emptied (the start of a run). The values themselves
    // come from ShowSignals: the catalogue holds what the simulation meant to send,
    // the monitor what left.
    void ShowValues(const TBusFmsStandard* catalogue) override;
    void ShowSignals(const TSignalMonitor& monitor) override;
    void ShowRequests(const TRequestCounts& counts) override;
    void ShowAddressClaim(const TAString& state) override;

    void B_HideClick() { hide(); }

    // Rows of the catalogue, and of them the ones the filter shows.
    int RowCount() const;
    int ShownRows() const;
    const TSignalTableModel& Model() const { return *model_; }
    QTableView* View() const { return view_; }
    // The text of a column of catalogue row `row`, as the table shows it.
    QString Text(int row, int column) const;

protected:
    // Escape: Hide.
    void keyPressEvent(QKeyEvent* event) override;

private:
    TSignalTableModel* model_ = nullptr;
    TSignalFilterModel* proxy_ = nullptr;
    QTableView* view_ = nullptr;
    QLineEdit* filter_ = nullptr;
    QLabel* requests_ = nullptr;
    QLabel* claim_ = nullptr;
    QPushButton* hide_ = nullptr;
};
