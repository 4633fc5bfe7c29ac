#pragma once
// Keeps the mouse wheel from changing a value the user is not working on. Inside a
// scrolling list the wheel scrolls the list; a combo box, spin box or slider under the
// pointer takes the wheel only while it has the keyboard focus (clicked or tabbed
// into), and the wheel no longer gives it the focus.
//
// Install guards the controls below a widget as they are at that moment.

#include <QObject>

class QWidget;

class TWheelGuard final : public QObject {
    Q_OBJECT
public:
    // Guards every combo box, spin box and slider below root; the guard is a child of root.
    static TWheelGuard* Install(QWidget* root);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit TWheelGuard(QObject* parent) : QObject(parent) {}
};
