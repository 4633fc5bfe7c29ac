#include "app/ui/tfoptions.h"

#include "engine/toptionseditor.h"
#include "app/ui/tuserquery.h"
#include "engine/tsettingsfile.h"
#include "fms/tbusfmsstandard.h"
#include "support/txmlelement.h"
#include "support/ui/tscreenfit.h"
#include "support/ui/tqtext.h"

#include <QCheckBox>
#include <QEvent>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <vector>

namespace {

using qv::Q;
using qv::T;

}  // namespace

TFOptions::TFOptions(const TBusFmsStandard& catalogue, TFrameOptions& applied, TUserQuery& query, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      applied_(applied), query_(query)
{
    setObjectName("TFOptions");
    setWindowTitle("Tessmar - Manipulation - Options");

    auto* frameOptions = new QGroupBox("CAN frame options", this);
    auto* srcLabel = new QLabel("Source address ( Hex )", frameOptions);
    E_SourceAdr = new QLineEdit("x00", frameOptions);
    E_SourceAdr->setObjectName("E_SourceAdr");
    E_SourceAdr->setToolTip("Source address for all CAN messages");
    srcLabel->setBuddy(E_SourceAdr);
    auto* prioLabel = new QLabel("Priority", frameOptions);
    E_Prio = new QLineEdit("6", frameOptions);
    E_Prio->setObjectName("E_Prio");
    E_Prio->setToolTip("Priority for all CAN messages");
    prioLabel->setBuddy(E_Prio);
    auto* fields = new QGridLayout(frameOptions);
    fields->addWidget(srcLabel, 0, 0);
    fields->addWidget(E_SourceAdr, 0, 1);
    fields->addWidget(prioLabel, 1, 0);
    fields->addWidget(E_Prio, 1, 1);
    fields->setColumnStretch(2, 1);
    for (QLineEdit* e : {E_SourceAdr, E_Prio})
        e->setFixedWidth(std::max(80, e->fontMetrics().horizontalAdvance("x00000") + 16));

    auto* frames = new QGroupBox("Delivered CAN frames", this);
    CLB_Frames = new QListWidget(frames);
    CLB_Frames->setObjectName("CLB_Frames");
    CLB_Frames->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    CLB_Frames->setToolTip("Posibility to stop sending CAN frames ( not FMS-Standard )");
    auto* list = new QVBoxLayout(frames);
    list->addWidget(CLB_Frames);

    B_OK = new QPushButton("OK", this);
    B_OK->setObjectName("B_OK");
    B_Apply = new QPushButton("Apply", this);
    B_Apply->setObjectName("B_Apply");
    B_Apply->setEnabled(false);
    B_Cancel = new QPushButton("Cancel", this);
    B_Cancel->setObjectName("B_Cancel");
    auto* control = new QGroupBox("Control API", this);
    control->setObjectName("GB_Control");
    CB_Control = new QCheckBox("Serve the HTTP control API", control);
    CB_Control->setObjectName("CB_Control");
    CB_Control->setToolTip("Tests drive the run over HTTP: GET /status, PUT /model/NAME, POST /scenario, ...");
    E_ControlPort = new QLineEdit("8080", control);
    E_ControlPort->setObjectName("E_ControlPort");
    E_ControlPort->setFixedWidth(std::max(80, E_ControlPort->fontMetrics().horizontalAdvance("000000") + 16));
    E_ControlAddress = new QLineEdit(control);
    E_ControlAddress->setObjectName("E_ControlAddress");
    E_ControlAddress->setPlaceholderText("127.0.0.1");
    E_ControlAddress->setToolTip("The address it listens on; empty: the loopback address only");
    E_ControlToken = new QLineEdit(control);
    E_ControlToken->setObjectName("E_ControlToken");
    E_ControlToken->setToolTip("A file holding the bearer token every request must carry (needed for any "
                               "address but the loopback address)");
    auto* controlFields = new QGridLayout(control);
    controlFields->addWidget(CB_Control, 0, 0, 1, 2);
    const struct {
        const char* caption;
        QLineEdit* edit;
    } controlRows[] = {{"Port", E_ControlPort}, {"Address", E_ControlAddress}, {"Token file", E_ControlToken}};
    int controlRow = 1;
    for (const auto& r : controlRows) {
        auto* caption = new QLabel(r.caption, control);
        caption->setBuddy(r.edit);
        controlFields->addWidget(caption, controlRow, 0);
        controlFields->addWidget(r.edit, controlRow, 1, Qt::AlignLeft);
        ++controlRow;
    }
    E_ControlAddress->setMinimumWidth(E_ControlAddress->fontMetrics().horizontalAdvance("000.000.000.000") + 16);
    E_ControlToken->setMinimumWidth(E_ControlAddress->minimumWidth() * 2);
    controlFields->setColumnStretch(2, 1);
    control->setEnabled(false);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    for (QPushButton* b : {B_OK, B_Apply, B_Cancel}) {
        b->setMinimumSize(90, 26);
        // Enter on a focused button presses that button; elsewhere it is OK.
        b->setAutoDefault(true);
        buttons->addWidget(b);
        buttons->addStretch(1);
    }

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(8, 8, 8, 8);
    column->addWidget(frameOptions);
    column->addWidget(frames, 1);
    column->addWidget(control);
    column->addLayout(buttons);
    column->activate();
    setFixedSize(minimumSizeHint().expandedTo(QSize(ClientWidth, ClientHeight)));

    FormCreate(catalogue);

    connect(E_Prio, &QLineEdit::textChanged, this, &TFOptions::E_PrioChange);
    connect(E_SourceAdr, &QLineEdit::textChanged, this, &TFOptions::E_SourceAdrChange);
    // A check mark set from the keyboard is an edit as much as one set by a click.
    connect(CLB_Frames, &QListWidget::itemChanged, this, &TFOptions::CB_FormClick);
    connect(B_Apply, &QPushButton::clicked, this, &TFOptions::B_ApplyClick);
    connect(B_OK, &QPushButton::clicked, this, &TFOptions::B_OKClick);
    connect(B_Cancel, &QPushButton::clicked, this, &TFOptions::B_CancelClick);
    connect(CB_Control, &QCheckBox::toggled, this, &TFOptions::CB_FormClick);
    for (QLineEdit* e : {E_ControlPort, E_ControlAddress, E_ControlToken})
        connect(e, &QLineEdit::textEdited, this, &TFOptions::CB_FormClick);
    connect(E_ControlPort, &QLineEdit::textChanged, this, [this] {
        bool ok = false;
        const uint port = E_ControlPort->text().trimmed().toUInt(&ok);
        SetTextColour(E_ControlPort, ok && port >= 1 && port <= 65535);
    });
    E_SourceAdr->installEventFilter(this);
    E_Prio->installEventFilter(this);
    CLB_Frames->viewport()->installEventFilter(this);
}

void TFOptions::FormCreate(const TBusFmsStandard& catalogue)
{
    TScreenFit::TopLeft(*this);
    TScreenFit::Keep(*this);
    applied_ = TFrameOptions{};
    CLB_Frames->clear();
    for (const TAString& text : TOptionsEditor::FrameItems(catalogue)) {
        auto* item = new QListWidgetItem(Q(text), CLB_Frames);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Checked);
    }
}

void TFOptions::keyPressEvent(QKeyEvent* event)
{
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

bool TFOptions::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress
        && (watched == E_SourceAdr || watched == E_Prio || watched == CLB_Frames->viewport()))
        CB_FormClick();
    return QWidget::eventFilter(watched, event);
}

void TFOptions::CB_FormClick()
{
    B_Apply->setEnabled(true);
}

void TFOptions::SetTextColour(QLineEdit* edit, bool ok)
{
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Text, ok ? Qt::black : Qt::red);
    edit->setPalette(palette);
}

void TFOptions::E_PrioChange()
{
    B_Apply->setEnabled(true);
    SetTextColour(E_Prio, TOptionsEditor::PriorityTextOk(T(E_Prio->text())));
}

void TFOptions::E_SourceAdrChange()
{
    B_Apply->setEnabled(true);
    SetTextColour(E_SourceAdr, TOptionsEditor::SourceAddressTextOk(T(E_SourceAdr->text())));
}

void TFOptions::Apply()
{
    std::vector<bool> checked;
    for (int i = 0; i < CLB_Frames->count(); ++i) checked.push_back(CLB_Frames->item(i)->checkState() == Qt::Checked);
    const TOptionsApplied edited =
        TOptionsEditor::Apply(T(E_SourceAdr->text()), T(E_Prio->text()), checked);
    if (edited.SourceAddressText) E_SourceAdr->setText(Q(*edited.SourceAddressText));
    if (edited.PriorityText) E_Prio->setText(Q(*edited.PriorityText));
    if (edited.NotConform)
        query_.Message(this, TOptionsEditor::NotConformCaption, TOptionsEditor::NotConformText, TUserQuery::icNone);
    B_Apply->setEnabled(false);
    applied_ = edited.Options;
    ApplyControl();
}

void TFOptions::SetControl(TXmlElement& config, std::function<void()> changed)
{
    config_ = &config;
    controlChanged_ = std::move(changed);
    findChild<QWidget*>("GB_Control")->setEnabled(true);
    const bool applyEnabled = B_Apply->isEnabled();
    ShowControl();
    B_Apply->setEnabled(applyEnabled);
}

void TFOptions::ShowControl()
{
    if (!config_) return;
    const TSettingsFile::TControlSettings control = TSettingsFile::Control(*config_);
    CB_Control->setChecked(control.Enabled);
    E_ControlPort->setText(QString::number(control.Port));
    E_ControlAddress->setText(Q(control.Address));
    E_ControlToken->setText(Q(control.TokenFile));
}

void TFOptions::ApplyControl()
{
    if (!config_) return;
    const TSettingsFile::TControlSettings before = TSettingsFile::Control(*config_);
    TSettingsFile::TControlSettings after = before;
    after.Enabled = CB_Control->isChecked();
    // A port that is none keeps the one applied, as a bad source address does.
    bool ok = false;
    const uint port = E_ControlPort->text().trimmed().toUInt(&ok);
    if (ok && port >= 1 && port <= 65535) after.Port = static_cast<uint16_t>(port);
    E_ControlPort->setText(QString::number(after.Port));
    after.Address = T(E_ControlAddress->text().trimmed());
    after.TokenFile = T(E_ControlToken->text().trimmed());
    const bool same = after.Enabled == before.Enabled && after.Port == before.Port && after.Address == before.Address &&
                      after.TokenFile == before.TokenFile && before.Problem.IsEmpty();
    if (same) return;
    TSettingsFile::SetControl(*config_, after);
    if (controlChanged_) controlChanged_();
}

void TFOptions::B_ApplyClick()
{
    Apply();
}

void TFOptions::B_OKClick()
{
    Apply();
    hide();
}

void TFOptions::B_CancelClick()
{
    // Showing the applied values again is no edit: the Apply button stays as it was.
    const bool applyEnabled = B_Apply->isEnabled();
    E_SourceAdr->setText(Q(TOptionsEditor::SourceAddressText(applied_.SourceAddress)));
    E_Prio->setText(Q(TOptionsEditor::PriorityText(applied_.Priority)));
    for (int i = 0; i < CLB_Frames->count() && i < TFrameOptions::MaxFlags; ++i)
        CLB_Frames->item(i)->setCheckState(applied_.FrameFlags[static_cast<size_t>(i)] ? Qt::Checked : Qt::Unchecked);
    ShowControl();
    B_Apply->setEnabled(applyEnabled);
    hide();
}
