#include "fms/ui/tfvalidflagmanip.h"

#include "engine/terrorreporter.h"
#include "fms/tbusfmsstandard.h"
#include "support/tbaseerror.h"
#include "support/ui/tscreenfit.h"
#include "support/ui/twheelguard.h"
#include "support/ui/tqtext.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>

#include <algorithm>

namespace {

// The designed geometry (pixels); a larger font moves the columns apart and the rows
// further down, so that every name and every choice is shown whole.
constexpr int ScrollLeft = 8;
constexpr int ScrollTop = 24;
constexpr int RowPitch = 24;
constexpr int RowTop = 16;
constexpr int LabelLeft = 8;
constexpr int BoxLeft = 208;
constexpr int BoxWidth = 145;
constexpr int BoxHeight = 21;
constexpr int ScrollWidth = 385;
constexpr int Gap = 8;
constexpr const char* RowProperty = "row";

using qv::Q;
using qv::T;

}  // namespace

TFValidFlagManip::TFValidFlagManip(QWidget* parent) : QWidget(parent, Qt::Window)
{
    Build();
}

TFValidFlagManip::TFValidFlagManip(const TBusFmsStandard& catalogue, QWidget* parent)
    : QWidget(parent, Qt::Window), manip_(catalogue)
{
    Build();
}

void TFValidFlagManip::Build()
{
    setObjectName("TFValidFlagManip");
    setWindowTitle("Tessmar - Valid Manipulation - Config");
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);

    filter_ = new QLineEdit(this);
    filter_->setObjectName("E_Filter");
    filter_->setPlaceholderText("Filter: name, group, PGN or SPN");
    filter_->setClearButtonEnabled(true);
    connect(filter_, &QLineEdit::textChanged, this, [this](const QString& text) { SetFilter(text); });

    auto* nameHeading = new QLabel("Measured Value Name", this);
    nameHeading->setObjectName("L_MeasuredValueName");
    auto* rangeHeading = new QLabel("Range Name", this);
    rangeHeading->setObjectName("L_RangeName");

    scroll_ = new QScrollArea(this);
    scroll_->setObjectName("SB_Rows");
    scroll_->setWidgetResizable(false);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto* rows = new QWidget;
    rows_ = rows;
    const int n = manip_.RowCount();
    // The catalogue's group, PGN and SPN of each row, by its name.
    const std::vector<TSignalRow> catalogueRows = TSignalMonitor::CatalogueRows();
    shown_.assign(static_cast<std::size_t>(n), true);
    for (int i = 0; i < n; ++i) {
        TSignalRow row;
        row.Name = manip_.Row(i).Name;
        for (const TSignalRow& c : catalogueRows)
            if (c.Name == row.Name) row = c;
        signals_.push_back(row);
    }
    boxes_.reserve(static_cast<std::size_t>(n));
    std::vector<QLabel*>& labels = labels_;
    outOfRange_.assign(static_cast<std::size_t>(n), false);
    for (int i = 0; i < n; ++i) {
        const TValidManip::TRow& row = manip_.Row(i);
        auto* label = new QLabel(Q(row.Name), rows);
        label->setObjectName(QString("L_Name%1").arg(i));
        label->resize(label->sizeHint());
        labels.push_back(label);
        auto* box = new QComboBox(rows);
        box->setObjectName(QString("C_Range%1").arg(i));
        box->setEditable(true);
        box->setInsertPolicy(QComboBox::NoInsert);
        box->setProperty(RowProperty, i);
        for (const TAString& item : row.Items)
            box->addItem(Q(item));
        box->setCurrentIndex(0);
        const auto changed = [this, box] {
            try {
                OnRangeChange(box);
            } catch (const TBaseError& e) {
                if (errors_)
                    errors_->ShowError(e);
            }
        };
        connect(box, &QComboBox::currentIndexChanged, this, changed);
        connect(box, &QComboBox::editTextChanged, this, changed);
        boxes_.push_back(box);
    }

    // Columns and rows as designed, or wider and taller where the texts need it: every
    // name fits left of the boxes, every choice (all the rows' items) fits in a box
    // (measured as the style will draw them).
    rows->ensurePolished();
    int nameWidth = 0;
    int boxWidth = BoxWidth;
    int boxHeight = BoxHeight;
    for (QLabel* label : labels)
        nameWidth = std::max(nameWidth, label->width());
    for (QComboBox* box : boxes_) {
        // Until it is first shown a combo box gives its items' width as its minimum only.
        boxWidth = std::max({boxWidth, box->sizeHint().width(), box->minimumSizeHint().width()});
        boxHeight = std::max(boxHeight, box->sizeHint().height());
    }
    const int boxLeft = std::max(BoxLeft, LabelLeft + nameWidth + Gap);
    const int pitch = std::max(RowPitch, boxHeight + 3);
    for (int i = 0; i < n; ++i) {
        const int y = pitch * i + RowTop;
        QLabel* label = labels[static_cast<std::size_t>(i)];
        label->move(LabelLeft, y + (boxHeight - label->height()) / 2);
        boxes_[static_cast<std::size_t>(i)]->setGeometry(boxLeft, y, boxWidth, boxHeight);
    }
    rows->resize(boxLeft + boxWidth + Gap, pitch * n + RowTop + Gap);
    boxLeft_ = boxLeft;
    boxWidth_ = boxWidth;
    boxHeight_ = boxHeight;
    pitch_ = pitch;
    scroll_->setWidget(rows);
    TWheelGuard::Install(rows);

    // The filter field above the headings.
    const int filterTop = 4;
    const int filterHeight = filter_->sizeHint().height();
    const int headingsTop = filterTop + filterHeight;
    scrollTop_ = headingsTop + std::max(ScrollTop, nameHeading->sizeHint().height() + 8);
    scrollWidth_ = std::max(ScrollWidth, rows->width() + 2 * scroll_->frameWidth() +
                                             scroll_->verticalScrollBar()->sizeHint().width());
    filter_->setGeometry(ScrollLeft, filterTop, scrollWidth_, filterHeight);
    nameHeading->move(2 * ScrollLeft, headingsTop + (scrollTop_ - headingsTop - nameHeading->sizeHint().height()) / 2);
    rangeHeading->move(ScrollLeft + boxLeft, nameHeading->y());
    nameHeading->resize(nameHeading->sizeHint());
    rangeHeading->resize(rangeHeading->sizeHint());

    panel_ = new QWidget(this);
    panel_->setObjectName("P_Buttons");
    auto* buttons = new QHBoxLayout(panel_);
    buttons->setContentsMargins(2 * ScrollLeft, 3, FixedWidth - ScrollLeft - ScrollWidth, 4);
    autoapply_ = new QCheckBox("Autoapply", panel_);
    autoapply_->setObjectName("CB_Autoapply");
    apply_ = new QPushButton("Apply", panel_);
    apply_->setObjectName("B_Apply");
    apply_->setEnabled(false);
    auto* ok = new QPushButton("OK", panel_);
    ok->setObjectName("B_OK");
    auto* cancel = new QPushButton("Cancel", panel_);
    cancel->setObjectName("B_Cancel");
    buttons->addWidget(autoapply_);
    buttons->addStretch(1);
    for (QPushButton* b : {apply_, ok, cancel}) {
        b->setMinimumWidth(75);
        // Enter on a focused button presses that button, as in every dialog.
        b->setAutoDefault(true);
        buttons->addWidget(b);
    }
    connect(autoapply_, &QCheckBox::clicked, this, [this] { CB_AutoapplyClick(); });
    connect(apply_, &QPushButton::clicked, this, [this] { B_ApplyClick(); });
    connect(ok, &QPushButton::clicked, this, [this] { B_OKClick(); });
    connect(cancel, &QPushButton::clicked, this, [this] { B_CancelClick(); });

    const int width = std::max(FixedWidth, ScrollLeft + scrollWidth_ + (FixedWidth - ScrollLeft - ScrollWidth));
    setFixedWidth(width);
    resize(width, InitialHeight);
    // The screen's top left corner; a screen lower than the window cuts it to its height,
    // so that the buttons stay in view.
    TScreenFit::TopLeft(*this);
    TScreenFit::Keep(*this);
    Layout();
}

void TFValidFlagManip::Layout()
{
    const int h = height();
    scroll_->setGeometry(ScrollLeft, scrollTop_, scrollWidth_, std::max(0, h - scrollTop_ - 42));
    panel_->setGeometry(0, h - 32, width(), 32);
}

void TFValidFlagManip::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Layout();
}

void TFValidFlagManip::keyPressEvent(QKeyEvent* event)
{
    // Enter is OK and Escape is Cancel, wherever the focus is (a focused button takes
    // Enter itself).
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        B_OKClick();
        return;
    case Qt::Key_Escape:
        B_CancelClick();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void TFValidFlagManip::Execute(TBusFmsStandard& catalogue)
{
    manip_.Execute(catalogue);
    // A value outside its range stays "o" under "Valid Signal": its row says so.
    const int n = std::min(catalogue.SignalCount(), static_cast<int>(labels_.size()));
    for (int i = 0; i < n; ++i) {
        const TMeasVal* value = catalogue.Signal(i).MeasVal.get();
        const bool out = value && value->State == msOutOfRange;
        const auto k = static_cast<std::size_t>(i);
        if (out == outOfRange_[k])
            continue;
        outOfRange_[k] = out;
        QLabel* label = labels_[k];
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, out ? QColor(255, 0, 0) : this->palette().color(QPalette::WindowText));
        label->setPalette(palette);
        label->setToolTip(out ? "o: outside its range, sent as the nearest end of it" : QString());
    }
}

void TFValidFlagManip::SetFilter(const QString& filter)
{
    const std::string text = filter.toUtf8().toStdString();
    int shown = 0;
    for (std::size_t i = 0; i < boxes_.size(); ++i) {
        const bool match = TSignalMonitor::Matches(signals_[i], text);
        shown_[i] = match;
        labels_[i]->setVisible(match);
        boxes_[i]->setVisible(match);
        if (!match) continue;
        const int y = pitch_ * shown + RowTop;
        labels_[i]->move(LabelLeft, y + (boxHeight_ - labels_[i]->height()) / 2);
        boxes_[i]->setGeometry(boxLeft_, y, boxWidth_, boxHeight_);
        ++shown;
    }
    rows_->resize(rows_->width(), pitch_ * shown + RowTop + Gap);
}

bool TFValidFlagManip::RowShown(int row) const
{
    return row >= 0 && row < static_cast<int>(shown_.size()) && shown_[static_cast<std::size_t>(row)];
}

bool TFValidFlagManip::ShowsOutOfRange(int row) const
{
    return row >= 0 && row < static_cast<int>(outOfRange_.size()) && outOfRange_[static_cast<std::size_t>(row)];
}

void TFValidFlagManip::OnRangeChange(QObject* sender)
{
    auto* box = qobject_cast<QComboBox*>(sender);
    bool isRow = false;
    const int row = box ? box->property(RowProperty).toInt(&isRow) : -1;
    if (!isRow || row < 0 || row >= static_cast<int>(boxes_.size()) || boxes_[static_cast<std::size_t>(row)] != box)
        throw TBaseError("TFValidFlagManip::OnRangeChange", "CastError");

    // What the box has selected: its current item while the text still reads as that
    // item; typing something else leaves no item selected.
    const QString text = box->currentText();
    const int current = box->currentIndex();
    const int selected = current >= 0 && box->itemText(current) == text ? current : TValidManip::NoItem;
    manip_.Change(row, selected, T(text));
    apply_->setEnabled(manip_.ApplyEnabled());
}

void TFValidFlagManip::B_ApplyClick()
{
    manip_.Apply();
    apply_->setEnabled(manip_.ApplyEnabled());
}

void TFValidFlagManip::B_OKClick()
{
    B_ApplyClick();
    hide();
}

void TFValidFlagManip::B_CancelClick()
{
    manip_.Cancel();
    ShowPending();
    hide();
}

void TFValidFlagManip::CB_AutoapplyClick()
{
    manip_.SetAutoapply(autoapply_->isChecked());
    apply_->setEnabled(manip_.ApplyEnabled());
}

void TFValidFlagManip::ShowPending()
{
    for (std::size_t i = 0; i < boxes_.size(); ++i) {
        QComboBox* box = boxes_[i];
        const QSignalBlocker quiet(box);
        box->setCurrentIndex(manip_.Row(static_cast<int>(i)).Pending);
        if (box->currentIndex() < 0)
            box->setEditText(QString());
    }
}
