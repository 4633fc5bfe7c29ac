#include "support/ui/twheelguard.h"

#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QEvent>
#include <QWidget>

TWheelGuard* TWheelGuard::Install(QWidget* root)
{
    auto* guard = new TWheelGuard(root);
    const auto guardOne = [guard](QWidget* w) {
        if (w->focusPolicy() == Qt::WheelFocus) w->setFocusPolicy(Qt::StrongFocus);
        w->installEventFilter(guard);
    };
    for (QComboBox* w : root->findChildren<QComboBox*>()) guardOne(w);
    for (QAbstractSpinBox* w : root->findChildren<QAbstractSpinBox*>()) guardOne(w);
    // The scroll bars of the list are sliders too, and must keep scrolling it.
    for (QAbstractSlider* w : root->findChildren<QAbstractSlider*>())
        if (w->inherits("QSlider")) guardOne(w);
    return guard;
}

bool TWheelGuard::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::Wheel) return false;
    auto* w = qobject_cast<QWidget*>(watched);
    if (!w || w->hasFocus()) return false;
    // Ignored and filtered: the control never sees the wheel, and the application
    // offers it to the parents, the scrolling list among them.
    event->ignore();
    return true;
}
