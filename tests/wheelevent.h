#pragma once
// The mouse wheel as the window system turns it in a window test: one notch towards
// the user over the middle of a widget, delivered to the widget under the pointer
// there. Marked as coming from the window system, so the application offers it to the
// parents when the widget ignores it (a scroll area then scrolls).

#include <QApplication>
#include <QWheelEvent>
#include <QWidget>
#include <QtTest/qtestspontaneevent.h>

inline void WheelDown(QWidget* over)
{
    const QPoint centre = over->rect().center();
    QWidget* target = over->childAt(centre) ? over->childAt(centre) : over;
    const QPoint at = target->mapFrom(over, centre);
    QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    // sendEvent would mark it as the program's own; notify takes it as it is.
    QSpontaneKeyEvent::setSpontaneous(&event);
    qApp->notify(target, &event);
}
