#include "fms/ui/tsignaltablemodel.h"

#include "support/ui/tqtext.h"

namespace {

using qv::Q;

const char* const Headers[TSignalTableModel::ColumnCount] = {"Signal", "Value", "Unit", "State",
                                                              "Raw bytes", "Group", "Age"};

}  // namespace

TSignalTableModel::TSignalTableModel(QObject* parent) : QAbstractTableModel(parent)
{
    rows_ = TSignalMonitor::CatalogueRows();
}

void TSignalTableModel::Refresh(const TSignalMonitor::TSnapshot& snapshot)
{
    now_ = snapshot.Now;
    if (snapshot.Rows.size() != rows_.size()) {
        beginResetModel();
        rows_ = snapshot.Rows;
        endResetModel();
        return;
    }
    const int n = static_cast<int>(rows_.size());
    int first = -1;
    auto flush = [&](int end) {
        if (first >= 0) emit dataChanged(index(first, colValue), index(end - 1, colRaw));
        first = -1;
    };
    for (int i = 0; i < n; ++i) {
        TSignalRow& mine = rows_[static_cast<std::size_t>(i)];
        const TSignalRow& theirs = snapshot.Rows[static_cast<std::size_t>(i)];
        mine.LastFrame = theirs.LastFrame;
        if (mine.Changed == theirs.Changed && mine.Value == theirs.Value && mine.StateName == theirs.StateName &&
            mine.Raw == theirs.Raw) {
            flush(i);
            continue;
        }
        mine = theirs;
        if (first < 0) first = i;
    }
    flush(n);
    if (n > 0) emit dataChanged(index(0, colAge), index(n - 1, colAge));
}

void TSignalTableModel::Empty()
{
    TSignalMonitor::TSnapshot empty;
    empty.Rows = TSignalMonitor::CatalogueRows();
    for (std::size_t i = 0; i < empty.Rows.size() && i < rows_.size(); ++i)
        empty.Rows[i].Changed = rows_[i].Changed + 1;
    Refresh(empty);
}

int TSignalTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TSignalTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString TSignalTableModel::AgeText(const TSignalRow& row, int64_t now)
{
    if (row.LastFrame < 0) return QString();
    return QString::number(static_cast<double>(std::max<int64_t>(now - row.LastFrame, 0)) / 1e6, 'f', 1) + " s";
}

QVariant TSignalTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
    const TSignalRow& r = rows_[static_cast<std::size_t>(index.row())];
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
        case colName: return Q(r.Name);
        case colValue: return Q(r.Value);
        case colUnit: return Q(r.Unit);
        case colState: return Q(r.StateName);
        case colRaw: return Q(r.Raw);
        case colGroup: return Q(r.Group);
        case colAge: return AgeText(r, now_);
        default: return {};
        }
    }
    if (role == Qt::ToolTipRole) {
        switch (index.column()) {
        case colValue: return Q(r.Value);
        case colState: return r.StateCode.IsEmpty() ? Q(r.StateName) : Q(r.StateName) + " (" + Q(r.StateCode) + ")";
        case colName:
            return QString("%1\nPGN %2 (%3)%4").arg(Q(r.Name)).arg(r.Pgn).arg(QString::number(r.Pgn, 16).toUpper())
                .arg(r.Spn > 0 ? QString(", SPN %1").arg(r.Spn) : QString());
        case colRaw: return Q(r.Raw);
        default: return {};
        }
    }
    if (role == Qt::TextAlignmentRole && (index.column() == colValue || index.column() == colAge))
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant TSignalTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Vertical) return section + 1;
    return section >= 0 && section < ColumnCount ? QString(Headers[section]) : QVariant();
}

TSignalFilterModel::TSignalFilterModel(QObject* parent) : QSortFilterProxyModel(parent)
{
    // Rows are filtered by their signal, which never changes: a value update needs no
    // new filtering.
    setDynamicSortFilter(false);
}

void TSignalFilterModel::SetFilter(const QString& text)
{
    const std::string next = text.toUtf8().toStdString();
    if (next == filter_) return;
    filter_ = next;
    invalidateFilter();
}

bool TSignalFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    if (sourceParent.isValid()) return false;
    const auto* model = static_cast<const TSignalTableModel*>(sourceModel());
    return TSignalMonitor::Matches(model->Row(sourceRow), filter_);
}
