#pragma once
// The data monitor's table: one row per signal of TSignalMonitor in catalogue order,
// with the columns below. Refresh takes a snapshot and tells the views only what
// changed: dataChanged for the rows whose value, state or bytes changed since the last
// snapshot (runs of neighbouring rows together) and for the age column; never a reset
// after the first, so the table neither flickers nor loses its scroll position or
// selection. A proxy (TSignalFilterModel) filters the rows as the user types.

#include "engine/tsignalmonitor.h"

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>

#include <vector>

class TSignalTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum TColumn { colName, colValue, colUnit, colState, colRaw, colGroup, colAge, ColumnCount };

    explicit TSignalTableModel(QObject* parent = nullptr);

    // Takes the rows of snapshot (the first call and one with another row count
    // reset the model, later ones change rows in place).
    void Refresh(const TSignalMonitor::TSnapshot& snapshot);
    // Every row back to "no frame yet" (the start of a run).
    void Empty();

    const TSignalRow& Row(int row) const { return rows_.at(static_cast<std::size_t>(row)); }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    // Display: the texts; ToolTip: the whole value, and the state with its code
    // ("error (e)"); TextAlignment: numbers right-aligned.
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The age column's text for a row at time now (µs): "0.2 s"; empty without a frame.
    static QString AgeText(const TSignalRow& row, int64_t now);

private:
    std::vector<TSignalRow> rows_;
    int64_t now_ = 0;
};

// Keeps the rows whose signal matches the filter text (TSignalMonitor::Matches).
class TSignalFilterModel : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit TSignalFilterModel(QObject* parent = nullptr);
    void SetFilter(const QString& text);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    std::string filter_;
};
