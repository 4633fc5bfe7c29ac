#include "fms/ui/tfframetrace.h"

#include "engine/tframetrace.h"
#include "engine/ttransportassembler.h"
#include "fms/tbusfmsstandard.h"
#include "fms/ui/tfasttext.h"
#include "support/ui/tqtext.h"
#include "support/ui/tscreenfit.h"

#include <QAbstractTableModel>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <array>
#include <deque>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

namespace {

using TMessage = TTransportAssembler::TMessage;

// One line of the list: a frame, or the message a transfer carried (beneath the frame
// that completed it, with that frame's time, direction and sequence number).
struct TRow {
    TTraceFrame Frame;
    std::shared_ptr<const TMessage> Transfer;   // nullptr: a frame
    uint64_t Count = 1;                         // Fixed mode: frames of this identifier
    int64_t Period = -1;                        // Fixed mode: µs between its last two; -1 none
};

using qv::Q;

QString Hex(uint32_t v, int digits)
{
    return QString("%1").arg(v, digits, 16, QChar('0')).toUpper();
}

uint32_t PgnOf(const TRow& r)
{
    return r.Transfer ? r.Transfer->Pgn : r.Frame.Pgn();
}

QString GroupOf(const TRow& r)
{
    if (!r.Transfer) return Q(r.Frame.GroupName());
    const TAString name = r.Transfer->Pgn <= 0xFFFF ? TBusFmsStandard::GetPgnName(r.Transfer->Pgn << 8, 0) : "";
    return "reassembled: " + (name == TAString("Not Fms") || name.IsEmpty() ? QString("PGN %1").arg(r.Transfer->Pgn)
                                                                             : Q(name));
}

QString IdOf(const TRow& r)
{
    if (r.Transfer) return QString();
    return r.Frame.Extended ? Hex(r.Frame.Id, 8) : Hex(r.Frame.Id, 3);
}

QString DataOf(const TRow& r)
{
    if (!r.Transfer) return Q(r.Frame.DataText());
    QString text;
    text.reserve(static_cast<qsizetype>(r.Transfer->Data.size()) * 3);
    for (std::size_t k = 0; k < r.Transfer->Data.size(); ++k) {
        if (k > 0) text += ' ';
        text += Hex(r.Transfer->Data[k], 2);
    }
    return text;
}

QString Cell(const TRow& r, int column)
{
    switch (column) {
    case TFFrameTrace::colTime: return QString::number(static_cast<double>(r.Frame.Time) / 1e6, 'f', 4);
    case TFFrameTrace::colDirection: return r.Frame.Direction == TTraceFrame::Rx ? "Rx" : "Tx";
    case TFFrameTrace::colId: return IdOf(r);
    case TFFrameTrace::colPgn: return r.Frame.Extended ? QString::number(PgnOf(r)) : QString();
    case TFFrameTrace::colSource:
        return r.Transfer ? Hex(r.Transfer->Source, 2) : (r.Frame.Extended ? Hex(r.Frame.SourceAddress(), 2) : QString());
    case TFFrameTrace::colLength:
        return QString::number(r.Transfer ? static_cast<qulonglong>(r.Transfer->Data.size()) : r.Frame.Length);
    case TFFrameTrace::colData: return DataOf(r);
    case TFFrameTrace::colGroup: return GroupOf(r);
    case TFFrameTrace::colCount: return QString::number(r.Count);
    case TFFrameTrace::colPeriod:
        return r.Period < 0 ? QString() : QString::number(static_cast<double>(r.Period) / 1e3, 'f', 1);
    default: return QString();
    }
}

const char* const Headers[TFFrameTrace::ColumnCount] = {"Time (s)", "Dir", "Identifier", "PGN", "SA",
                                                          "Len", "Data", "Group", "Count", "Period (ms)"};

struct TFilter {
    QString Text;    // upper case, trimmed
    int Direction = 0;   // 0 both, 1 Tx, 2 Rx

    bool Accepts(const TRow& r) const
    {
        if (Direction == 1 && r.Frame.Direction != TTraceFrame::Tx) return false;
        if (Direction == 2 && r.Frame.Direction != TTraceFrame::Rx) return false;
        if (Text.isEmpty()) return true;
        // What the text matches depends only on the identifier of a frame (its hex, PGN
        // and group) or the PGN of a transfer: each is formatted and matched once, and a
        // list of 100,000 frames is filtered by looking their verdicts up.
        const uint64_t extended = r.Frame.Extended ? 1 : 0;
        const uint64_t key = r.Transfer ? (uint64_t{1} << 40 | extended << 39 | r.Transfer->Pgn)
                                        : (extended << 32 | r.Frame.Id);
        if (const auto it = verdicts_.find(key); it != verdicts_.end()) return it->second;
        const uint32_t pgn = PgnOf(r);
        const bool match = IdOf(r).contains(Text) || (r.Frame.Extended && QString::number(pgn).contains(Text)) ||
                           (r.Frame.Extended && Hex(pgn, 4).contains(Text)) || GroupOf(r).toUpper().contains(Text);
        // Bounded: a bus of ever new identifiers does not grow it without end.
        if (verdicts_.size() >= 65536) verdicts_.clear();
        verdicts_.emplace(key, match);
        return match;
    }

private:
    mutable std::unordered_map<uint64_t, bool> verdicts_;
};

// Paints a cell's text left aligned and vertically centred, cut with "…" when wider
// than the cell, on the selection's colours when its row is selected, without laying
// the text out: the list repaints as the frames come.
class TFastTextDelegate final : public QStyledItemDelegate {
public:
    explicit TFastTextDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QString text = index.data(Qt::DisplayRole).toString();
        const bool selected = option.state & QStyle::State_Selected;
        const QPalette::ColorGroup group = !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
                                           : (option.state & QStyle::State_Active) ? QPalette::Active
                                                                                   : QPalette::Inactive;
        if (selected) painter->fillRect(option.rect, option.palette.brush(group, QPalette::Highlight));
        if (text.isEmpty()) return;
        text_.SetFont(option.font);
        constexpr int Margin = 3;   // as the style's item text margin
        const QRectF box = QRectF(option.rect).adjusted(Margin, 0, -Margin, 0);
        const qreal baseline = box.top() + (box.height() - text_.Height()) / 2 + text_.Ascent();
        const QPen pen = painter->pen();
        painter->setPen(option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        text_.DrawCut(*painter, QPointF(box.left(), baseline), text, box.width());
        painter->setPen(pen);
    }

private:
    mutable TFastText text_;
};

// The rows of either mode as a table: the columns of a frame, the data bytes in full as
// the tooltip of their cell. A mode says how many rows it shows and which they are.
class TRowModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : static_cast<int>(Shown()); }
    int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : Columns(); }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole)) return {};
        const TRow& r = RowAt(static_cast<std::size_t>(index.row()));
        if (role == Qt::ToolTipRole) return index.column() == TFFrameTrace::colData ? DataOf(r) : QVariant();
        return Cell(r, index.column());
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= Columns()) return {};
        return QString(Headers[section]);
    }

protected:
    virtual std::size_t Shown() const = 0;
    virtual const TRow& RowAt(std::size_t row) const = 0;
    virtual int Columns() const = 0;
};

}  // namespace

// Every frame in order, the filtered ones shown; at most the trace's capacity of frames.
class TFFrameTrace::TListModel final : public TRowModel {
public:
    explicit TListModel(std::size_t capacity, QObject* parent) : TRowModel(parent), capacity_(capacity) {}

    void Add(const std::vector<TRow>& rows)
    {
        std::vector<TRow> accepted;
        for (const TRow& r : rows) {
            all_.push_back(r);
            if (!r.Transfer) ++frames_;
            if (filter_.Accepts(r)) accepted.push_back(r);
        }
        if (!accepted.empty()) {
            const int first = static_cast<int>(shown_.size());
            beginInsertRows(QModelIndex(), first, first + static_cast<int>(accepted.size()) - 1);
            shown_.insert(shown_.end(), accepted.begin(), accepted.end());
            endInsertRows();
        }
        // The oldest frames (and the transfers they completed) leave beyond the capacity.
        while (frames_ > capacity_) {
            if (!all_.front().Transfer) --frames_;
            all_.pop_front();
        }
        while (!all_.empty() && all_.front().Transfer) all_.pop_front();
        const uint64_t oldest = all_.empty() ? UINT64_MAX : all_.front().Frame.Seq;
        std::size_t gone = 0;
        while (gone < shown_.size() && shown_[gone].Frame.Seq < oldest) ++gone;
        if (gone > 0) {
            beginRemoveRows(QModelIndex(), 0, static_cast<int>(gone) - 1);
            shown_.erase(shown_.begin(), shown_.begin() + static_cast<std::ptrdiff_t>(gone));
            endRemoveRows();
        }
    }
    void SetFilter(const TFilter& filter)
    {
        beginResetModel();
        filter_ = filter;
        shown_.clear();
        for (const TRow& r : all_)
            if (filter_.Accepts(r)) shown_.push_back(r);
        endResetModel();
    }
    void Clear()
    {
        beginResetModel();
        all_.clear();
        shown_.clear();
        frames_ = 0;
        endResetModel();
    }

private:
    std::size_t Shown() const override { return shown_.size(); }
    const TRow& RowAt(std::size_t row) const override { return shown_[row]; }
    int Columns() const override { return colGroup + 1; }

    std::size_t capacity_;
    std::size_t frames_ = 0;
    std::deque<TRow> all_;
    std::deque<TRow> shown_;
    TFilter filter_;
};

// One row per identifier and direction (and per transfer's PGN, source and direction),
// in the order they first came, updated in place.
class TFFrameTrace::TFixedModel final : public TRowModel {
public:
    explicit TFixedModel(QObject* parent) : TRowModel(parent) {}

    void Add(const std::vector<TRow>& rows)
    {
        int low = INT32_MAX;
        int high = -1;
        std::vector<int> added;
        for (const TRow& r : rows) {
            const uint64_t key = KeyOf(r);
            auto it = index_.find(key);
            if (it == index_.end()) {
                const int at = static_cast<int>(all_.size());
                all_.push_back(r);
                index_.emplace(key, at);
                allToShown_.push_back(-1);
                if (filter_.Accepts(r)) added.push_back(at);
                continue;
            }
            TRow& row = all_[static_cast<std::size_t>(it->second)];
            // A new run starts its times at 0 again: no period across runs.
            row.Period = r.Frame.Time >= row.Frame.Time ? r.Frame.Time - row.Frame.Time : -1;
            row.Count += 1;
            row.Frame = r.Frame;
            row.Transfer = r.Transfer;
            const int shown = allToShown_[static_cast<std::size_t>(it->second)];
            if (shown >= 0) {
                low = std::min(low, shown);
                high = std::max(high, shown);
            }
        }
        if (high >= 0) emit dataChanged(index(low, 0), index(high, ColumnCount - 1));
        if (!added.empty()) {
            const int first = static_cast<int>(shown_.size());
            beginInsertRows(QModelIndex(), first, first + static_cast<int>(added.size()) - 1);
            for (int at : added) {
                allToShown_[static_cast<std::size_t>(at)] = static_cast<int>(shown_.size());
                shown_.push_back(at);
            }
            endInsertRows();
        }
    }
    void SetFilter(const TFilter& filter)
    {
        beginResetModel();
        filter_ = filter;
        shown_.clear();
        for (std::size_t i = 0; i < all_.size(); ++i) {
            allToShown_[i] = -1;
            if (filter_.Accepts(all_[i])) {
                allToShown_[i] = static_cast<int>(shown_.size());
                shown_.push_back(static_cast<int>(i));
            }
        }
        endResetModel();
    }
    void Clear()
    {
        beginResetModel();
        all_.clear();
        shown_.clear();
        allToShown_.clear();
        index_.clear();
        endResetModel();
    }

private:
    std::size_t Shown() const override { return shown_.size(); }
    const TRow& RowAt(std::size_t row) const override { return all_[static_cast<std::size_t>(shown_[row])]; }
    int Columns() const override { return ColumnCount; }

    static uint64_t KeyOf(const TRow& r)
    {
        const uint64_t dir = r.Frame.Direction == TTraceFrame::Rx ? 1 : 0;
        if (r.Transfer)
            return uint64_t{1} << 50 | dir << 48 | static_cast<uint64_t>(r.Transfer->Pgn) << 16 |
                   static_cast<uint64_t>(r.Transfer->Source) << 8 | r.Transfer->Destination;
        return dir << 48 | static_cast<uint64_t>(r.Frame.Extended ? 1 : 0) << 40 | r.Frame.Id;
    }

    std::vector<TRow> all_;
    std::vector<int> shown_;
    std::vector<int> allToShown_;
    std::map<uint64_t, int> index_;
    TFilter filter_;
};

TFFrameTrace::TFFrameTrace(const TFrameTrace& trace, QWidget* parent) : QWidget(parent, Qt::Window), trace_(trace)
{
    setObjectName("TFFrameTrace");
    setWindowTitle("Tessmar - Frame Trace");

    filter_ = new QLineEdit(this);
    filter_->setObjectName("E_Filter");
    filter_->setPlaceholderText("Filter: identifier, PGN or group");
    filter_->setClearButtonEnabled(true);
    direction_ = new QComboBox(this);
    direction_->setObjectName("C_Direction");
    direction_->addItems({"Tx and Rx", "Tx", "Rx"});
    pause_ = new QCheckBox("&Pause", this);
    pause_->setObjectName("CB_Pause");
    fixedMode_ = new QCheckBox("&Fixed", this);
    fixedMode_->setObjectName("CB_Fixed");
    fixedMode_->setToolTip("One row per identifier, updated in place, with its count and period");
    auto* clear = new QPushButton("C&lear", this);
    clear->setObjectName("B_Clear");

    view_ = new QTableView(this);
    view_->setObjectName("TV_Frames");
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setWordWrap(false);
    view_->verticalHeader()->hide();
    // Fixed row heights: a list of 100,000 rows is never measured row by row.
    view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + 4);
    view_->horizontalHeader()->setStretchLastSection(true);
    view_->setFont(QFont("Monospace"));
    view_->setItemDelegate(new TFastTextDelegate(view_));

    list_ = new TListModel(trace.Capacity(), this);
    fixed_ = new TFixedModel(this);
    view_->setModel(list_);

    status_ = new QLabel(this);
    status_->setObjectName("L_Status");
    auto* hide = new QPushButton("Hide", this);
    hide->setObjectName("B_Hide");

    auto* top = new QHBoxLayout;
    top->addWidget(filter_, 1);
    top->addWidget(direction_);
    top->addWidget(pause_);
    top->addWidget(fixedMode_);
    top->addWidget(clear);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(status_, 1);
    bottom->addWidget(hide);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(view_, 1);
    layout->addLayout(bottom);

    timer_ = new QTimer(this);
    timer_->setInterval(PollIntervalMs);
    connect(timer_, &QTimer::timeout, this, [this] { Poll(); });
    connect(filter_, &QLineEdit::textChanged, this, [this] { FilterChanged(); });
    connect(direction_, &QComboBox::currentIndexChanged, this, [this] { FilterChanged(); });
    connect(fixedMode_, &QCheckBox::toggled, this, [this] { ModeChanged(); });
    connect(pause_, &QCheckBox::toggled, this, [this] { ShowStatus(); });
    connect(clear, &QPushButton::clicked, this, [this] { Clear(); });
    connect(hide, &QPushButton::clicked, this, [this] { this->hide(); });

    // Only what comes from now on: the window shows the bus from the moment it exists.
    last_ = trace_.Last();
    resize(900, 500);
    TScreenFit::Centre(*this);
    TScreenFit::Keep(*this);
    ShowStatus();
}

TFFrameTrace::~TFFrameTrace() = default;

void TFFrameTrace::Poll()
{
    if (pause_->isChecked()) return;
    TFrameTrace::TBatch batch = trace_.Since(last_);
    last_ = batch.Until;
    missed_ += batch.Missed;
    if (batch.Frames.empty()) {
        if (batch.Missed > 0) ShowStatus();
        return;
    }
    std::vector<TRow> rows;
    rows.reserve(batch.Frames.size() + 8);
    for (const TTraceFrame& f : batch.Frames) {
        rows.push_back(TRow{f, nullptr});
        TTransportAssembler& a = assemblers_[f.Direction == TTraceFrame::Rx ? 1 : 0];
        if (auto message = a.Frame(f.Id, f.Extended, f.Length, f.Data))
            rows.push_back(TRow{f, std::make_shared<const TMessage>(std::move(*message))});
    }
    taken_ += batch.Frames.size();
    QScrollBar* bar = view_->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    list_->Add(rows);
    fixed_->Add(rows);
    if (atEnd && view_->model() == list_) view_->scrollToBottom();
    ShowStatus();
}

void TFFrameTrace::Clear()
{
    list_->Clear();
    fixed_->Clear();
    for (TTransportAssembler& a : assemblers_) a.Clear();
    taken_ = 0;
    missed_ = 0;
    ShowStatus();
}

void TFFrameTrace::FilterChanged()
{
    TFilter f;
    f.Text = filter_->text().trimmed().toUpper();
    f.Direction = direction_->currentIndex();
    list_->SetFilter(f);
    fixed_->SetFilter(f);
}

void TFFrameTrace::ModeChanged()
{
    view_->setModel(fixedMode_->isChecked() ? static_cast<QAbstractItemModel*>(fixed_)
                                            : static_cast<QAbstractItemModel*>(list_));
}

void TFFrameTrace::ShowStatus()
{
    QString text = QString("%1 frames").arg(taken_);
    if (missed_ > 0) text += QString(", %1 missed (the trace held no more)").arg(missed_);
    if (pause_->isChecked()) text += ", paused";
    status_->setText(text);
}

void TFFrameTrace::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    timer_->start();
}

void TFFrameTrace::hideEvent(QHideEvent* event)
{
    timer_->stop();
    QWidget::hideEvent(event);
}

void TFFrameTrace::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        hide();
        return;
    }
    QWidget::keyPressEvent(event);
}
