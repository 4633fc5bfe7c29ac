#include "fms/ui/tfvalidflagmanip.h"

#include "app/terrorreporter.h"
#include "fms/tbusfmsstandard.h"
#include "support/tbaseerror.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QSignalBlocker>

namespace {

constexpr int ScrollTop = 24;
constexpr int RowPitch = 24;
constexpr int RowTop = 16;
constexpr int BoxWidth = 145;
constexpr const char* RowProperty = "row";

QString Q(const TAString& s)
{
    return QString::fromUtf8(s.c_str(), s.Length());
}

TAString T(const QString& s)
{
    return TAString(s.toUtf8().toStdString());
}

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

    auto* nameHeading = new QLabel("Measured Value Name", this);
    nameHeading->setObjectName("L_MeasuredValueName");
    nameHeading->move(16, 4);
    auto* rangeHeading = new QLabel("Range Name", this);
    rangeHeading->setObjectName("L_RangeName");
    rangeHeading->move(216, 4);

    scroll_ = new QScrollArea(this);
    scroll_->setObjectName("SB_Rows");
    scroll_->setWidgetResizable(false);
    auto* rows = new QWidget;
    const int n = manip_.RowCount();
    boxes_.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        const TValidManip::TRow& row = manip_.Row(i);
        const int y = RowPitch * i + RowTop;
        auto* label = new QLabel(Q(row.Name), rows);
        label->setObjectName(QString("L_Name%1").arg(i));
        label->move(8, y + 3);
        auto* box = new QComboBox(rows);
        box->setObjectName(QString("C_Range%1").arg(i));
        box->setEditable(true);
        box->setInsertPolicy(QComboBox::NoInsert);
        box->setGeometry(208, y, BoxWidth, 21);
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
    rows->resize(208 + BoxWidth + 8, RowPitch * n + RowTop + 8);
    scroll_->setWidget(rows);

    panel_ = new QWidget(this);
    panel_->setObjectName("P_Buttons");
    autoapply_ = new QCheckBox("Autoapply", panel_);
    autoapply_->setObjectName("CB_Autoapply");
    autoapply_->move(16, 6);
    apply_ = new QPushButton("Apply", panel_);
    apply_->setObjectName("B_Apply");
    apply_->setGeometry(136, 3, 75, 25);
    apply_->setEnabled(false);
    auto* ok = new QPushButton("OK", panel_);
    ok->setObjectName("B_OK");
    ok->setGeometry(224, 3, 75, 25);
    auto* cancel = new QPushButton("Cancel", panel_);
    cancel->setObjectName("B_Cancel");
    cancel->setGeometry(312, 3, 75, 25);
    connect(autoapply_, &QCheckBox::clicked, this, [this] { CB_AutoapplyClick(); });
    connect(apply_, &QPushButton::clicked, this, [this] { B_ApplyClick(); });
    connect(ok, &QPushButton::clicked, this, [this] { B_OKClick(); });
    connect(cancel, &QPushButton::clicked, this, [this] { B_CancelClick(); });

    setFixedWidth(FixedWidth);
    resize(FixedWidth, InitialHeight);
    move(0, 0);
    Layout();
}

void TFValidFlagManip::Layout()
{
    const int h = height();
    scroll_->setGeometry(8, ScrollTop, 385, std::max(0, h - ScrollTop - 42));
    panel_->setGeometry(0, h - 32, FixedWidth, 32);
}

void TFValidFlagManip::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Layout();
}

void TFValidFlagManip::Execute(TBusFmsStandard& catalogue)
{
    manip_.Execute(catalogue);
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
