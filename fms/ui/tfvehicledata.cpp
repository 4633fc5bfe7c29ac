#include "fms/ui/tfvehicledata.h"

#include "engine/tsignalmonitor.h"
#include "fms/ui/tsignaltablemodel.h"
#include "support/ui/tscreenfit.h"
#include "support/ui/tqtext.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace {

using qv::Q;

// The widest texts a column shows as the simulation starts: its vehicle identification
// with its end mark, a state spelled out. (The 41 tell-tale digits show whole in the hint.)
constexpr const char* WidestValue = "Vehicle_ID_0001_abcdefg*";
constexpr const char* WidestState = "parameter specific";

}  // namespace

TFVehicleData::TFVehicleData(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName("TFVehicleData");
    setWindowTitle("Tessmar - Data Monitor");
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);

    auto* heading = new QLabel("Actual Data", this);
    heading->setObjectName("L_ActualData");
    requests_ = new QLabel(Q(TRequestCounts().Text()), this);
    requests_->setObjectName("L_Requests");
    requests_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    claim_ = new QLabel("Address claim: off", this);
    claim_->setObjectName("L_AddressClaim");
    claim_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // The longest state (a lost address and the winner's NAME) must not widen the window.
    claim_->setMinimumWidth(0);
    claim_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    filter_ = new QLineEdit(this);
    filter_->setObjectName("E_Filter");
    filter_->setPlaceholderText("Filter: name, group, PGN or SPN");
    filter_->setClearButtonEnabled(true);

    model_ = new TSignalTableModel(this);
    proxy_ = new TSignalFilterModel(this);
    proxy_->setSourceModel(model_);
    view_ = new QTableView(this);
    view_->setObjectName("TV_Signals");
    view_->setModel(proxy_);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setWordWrap(false);
    view_->verticalHeader()->hide();
    view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + 6);
    // Name, value and group share what the window's width leaves (elided, whole in
    // their hints), so the table never scrolls sideways, at any font size.
    view_->horizontalHeader()->setStretchLastSection(false);
    // Columns as wide as their longest fixed text; values and states as wide as the
    // widest ones the run brings, so that the columns do not jump while it runs.
    view_->resizeColumnsToContents();
    const QFontMetrics fm = view_->fontMetrics();
    view_->setColumnWidth(TSignalTableModel::colValue, fm.horizontalAdvance(WidestValue) + 16);
    view_->setColumnWidth(TSignalTableModel::colState, fm.horizontalAdvance(WidestState) + 16);
    view_->setColumnWidth(TSignalTableModel::colRaw, fm.horizontalAdvance("FF FF FF FF") + 16);
    view_->setColumnWidth(TSignalTableModel::colAge, fm.horizontalAdvance("0000.0 s") + 16);
    int width = 2 * view_->frameWidth() + view_->verticalScrollBar()->sizeHint().width() + 16 + 8;
    for (int c = 0; c < TSignalTableModel::ColumnCount; ++c) width += view_->columnWidth(c);
    for (int c : {TSignalTableModel::colName, TSignalTableModel::colValue, TSignalTableModel::colGroup})
        view_->horizontalHeader()->setSectionResizeMode(c, QHeaderView::Stretch);

    hide_ = new QPushButton("Hide", this);
    hide_->setObjectName("B_Hide");
    hide_->setMinimumWidth(75);
    connect(hide_, &QPushButton::clicked, this, [this] { B_HideClick(); });
    connect(filter_, &QLineEdit::textChanged, this, [this](const QString& text) { proxy_->SetFilter(text); });

    auto* top = new QHBoxLayout;
    top->addWidget(heading);
    top->addStretch(1);
    top->addWidget(requests_);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(hide_);
    bottom->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addLayout(top);
    layout->addWidget(claim_);
    layout->addWidget(filter_);
    layout->addWidget(view_, 1);
    layout->addLayout(bottom);

    resize(width, InitialHeight);
    TScreenFit::TopLeft(*this);
    TScreenFit::Keep(*this);
}

int TFVehicleData::RowCount() const
{
    return model_->rowCount();
}

int TFVehicleData::ShownRows() const
{
    return proxy_->rowCount();
}

QString TFVehicleData::Text(int row, int column) const
{
    return model_->data(model_->index(row, column)).toString();
}

void TFVehicleData::ShowRequests(const TRequestCounts& counts)
{
    const QString text = Q(counts.Text());
    if (requests_->text() != text) requests_->setText(text);
}

void TFVehicleData::ShowAddressClaim(const TAString& state)
{
    const QString text = "Address claim: " + Q(state);
    if (claim_->text() == text) return;
    claim_->setText(text);
    claim_->setToolTip(text);
}

void TFVehicleData::keyPressEvent(QKeyEvent* event)
{
    // Escape hides the monitor as its button does.
    if (event->key() == Qt::Key_Escape) {
        B_HideClick();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TFVehicleData::ShowValues(const TBusFmsStandard* catalogue)
{
    if (!catalogue) model_->Empty();
}

void TFVehicleData::ShowSignals(const TSignalMonitor& monitor)
{
    model_->Refresh(monitor.Snapshot());
}
