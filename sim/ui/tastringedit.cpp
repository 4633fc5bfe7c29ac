#include "sim/ui/tastringedit.h"

#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace {

TAStringEdit::TKind KindOf(QWidget* control)
{
    if (qobject_cast<QLineEdit*>(control)) return TAStringEdit::TKind::Edit;
    if (qobject_cast<QComboBox*>(control)) return TAStringEdit::TKind::Combo;
    if (qobject_cast<QPlainTextEdit*>(control) || qobject_cast<QTextEdit*>(control))
        return TAStringEdit::TKind::Memo;
    return TAStringEdit::TKind::None;
}

QColor ColourOf(TEditColour colour)
{
    switch (colour) {
    case TEditColour::Red: return QColor(255, 0, 0);
    case TEditColour::Green: return QColor(0, 128, 0);
    case TEditColour::Black: break;
    }
    return QColor(0, 0, 0);
}

}  // namespace

TAStringEdit::TAStringEdit(QWidget* control, TNotify notify, int16_t minLength, int16_t maxLength)
    : TAStringEdit(control, std::move(notify), std::make_unique<TLengthRule>(minLength, maxLength))
{
    Commit(ControlText());
    editing_ = false;
}

TAStringEdit::TAStringEdit(QWidget* control, TNotify notify, std::unique_ptr<TEditRule> rule)
    : QObject(control), control_(control), kind_(KindOf(control)), notify_(std::move(notify)),
      rule_(std::move(rule))
{
    Attach();
}

std::unique_ptr<TAStringEdit> TAStringEdit::WithRule(QWidget* control, TNotify notify, std::unique_ptr<TEditRule> rule)
{
    std::unique_ptr<TAStringEdit> edit(new TAStringEdit(control, std::move(notify), std::move(rule)));
    edit->Commit(edit->ControlText());
    edit->editing_ = false;
    return edit;
}

TAStringEdit::~TAStringEdit() = default;

void TAStringEdit::Attach()
{
    if (control_) control_->installEventFilter(this);
}

TAString TAStringEdit::ControlText() const
{
    switch (kind_) {
    case TKind::Edit: return TAString(static_cast<QLineEdit*>(control_)->text().toStdString());
    case TKind::Combo: return TAString(static_cast<QComboBox*>(control_)->currentText().toStdString());
    case TKind::Memo:
        if (auto* plain = qobject_cast<QPlainTextEdit*>(control_)) return TAString(plain->toPlainText().toStdString());
        return TAString(static_cast<QTextEdit*>(control_)->toPlainText().toStdString());
    case TKind::None: break;
    }
    return TAString();
}

void TAStringEdit::SetControlText(const TAString& text)
{
    unchanged_ = text;
    const QString q = QString::fromStdString(text.str());
    switch (kind_) {
    case TKind::Edit: static_cast<QLineEdit*>(control_)->setText(q); break;
    case TKind::Combo: {
        auto* combo = static_cast<QComboBox*>(control_);
        if (combo->isEditable()) {
            combo->setEditText(q);
        } else {
            combo->setCurrentIndex(combo->findText(q));
        }
        break;
    }
    case TKind::Memo:
        if (auto* plain = qobject_cast<QPlainTextEdit*>(control_)) {
            plain->setPlainText(q);
        } else {
            static_cast<QTextEdit*>(control_)->setPlainText(q);
        }
        break;
    case TKind::None: break;
    }
}

void TAStringEdit::Paint(TEditColour colour)
{
    colour_ = colour;
    if (!control_ || kind_ == TKind::None) return;
    QPalette palette = control_->palette();
    palette.setColor(QPalette::Text, ColourOf(colour));
    palette.setColor(QPalette::WindowText, ColourOf(colour));
    palette.setColor(QPalette::ButtonText, ColourOf(colour));
    control_->setPalette(palette);
    if (auto* combo = qobject_cast<QComboBox*>(control_); combo && combo->lineEdit())
        combo->lineEdit()->setPalette(palette);
}

bool TAStringEdit::Commit(const TAString& text)
{
    if (!editing_) SetControlText(text);
    const TAString shown = ControlText();
    if (!IsValid(shown)) {
        Paint(TEditColour::Red);
        return false;
    }
    committed_ = text;
    OnCommitted(text);
    Paint(EditColour(true, shown, committed_));
    return true;
}

void TAStringEdit::UserCommit()
{
    Commit(ControlText());
    unchanged_ = ControlText();
    if (notify_) notify_(control_);
    editing_ = false;
}

void TAStringEdit::EndEditing()
{
    if (ControlText() != unchanged_) {
        UserCommit();
        return;
    }
    editing_ = false;
    const TAString shown = ControlText();
    Paint(EditColour(IsValid(shown), shown, committed_));
}

bool TAStringEdit::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != control_) return false;
    switch (event->type()) {
    case QEvent::FocusIn:
        editing_ = true;
        unchanged_ = ControlText();
        break;
    case QEvent::FocusOut:
        EndEditing();
        break;
    case QEvent::KeyRelease: {
        const int key = static_cast<QKeyEvent*>(event)->key();
        editing_ = true;
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && kind_ != TKind::Memo) {
            EndEditing();
            break;
        }
        if (key == Qt::Key_Escape) SetControlText(committed_);
        const TAString shown = ControlText();
        Paint(EditColour(IsValid(shown), shown, committed_));
        break;
    }
    default:
        break;
    }
    return false;
}

TANumEdit::TANumEdit(QWidget* control, TNotify notify, double min, double max, double step)
    : TAStringEdit(control, std::move(notify), std::make_unique<TNumberRule>(min, max)), step_(step)
{
    Commit(ControlText());
}

void TANumEdit::OnCommitted(const TAString& text)
{
    number_ = TNumberRule::ValueOf(text);
}
