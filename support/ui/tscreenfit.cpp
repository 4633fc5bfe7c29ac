#include "support/ui/tscreenfit.h"

#include "support/twindowplacement.h"

#include <QGuiApplication>
#include <QEvent>
#include <QMargins>
#include <QScreen>
#include <QStyle>
#include <QWidget>

#include <vector>

namespace {

TScreenRect ToScreenRect(const QRect& r)
{
    return {r.left(), r.top(), r.width(), r.height()};
}

// Frame width on each side of the client area: as the window system reports it once
// the window has been shown; before that, a title bar where windows are decorated.
QMargins FrameOf(const QWidget& window)
{
    const QRect frame = window.frameGeometry();
    const QRect client = window.geometry();
    const QMargins known(client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                         frame.bottom() - client.bottom());
    if (!known.isNull()) return known;
    const QString platform = QGuiApplication::platformName();
    if (platform == "offscreen" || platform == "minimal") return {};
    return {0, window.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &window), 0, 0};
}

class TOnShow final : public QObject {
public:
    explicit TOnShow(QWidget& window) : QObject(&window) { window.installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show) TScreenFit::Apply(*static_cast<QWidget*>(watched));
        return false;
    }
};

QRect PrimaryArea()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

}  // namespace

void TScreenFit::Apply(QWidget& window)
{
    std::vector<TScreenRect> areas;
    int primary = 0;
    const QList<QScreen*> screens = QGuiApplication::screens();
    for (QScreen* s : screens) {
        if (s == QGuiApplication::primaryScreen()) primary = static_cast<int>(areas.size());
        areas.push_back(ToScreenRect(s->availableGeometry()));
    }
    if (areas.empty()) return;

    const QMargins frame = FrameOf(window);
    const QRect client = window.geometry();
    const QRect outer = client.marginsAdded(frame);
    const TScreenRect placed = TWindowPlacement::Place(ToScreenRect(outer), areas, primary);
    const QSize size(placed.Width - frame.left() - frame.right(), placed.Height - frame.top() - frame.bottom());
    if (size != client.size()) {
        // A fixed size is limited as well; the window's minimum must not hold it above the screen.
        window.setMinimumSize(window.minimumSize().boundedTo(size));
        window.setMaximumSize(window.maximumSize().boundedTo(size));
        window.resize(size);
    }
    window.move(placed.Left, placed.Top);   // move() places the frame of a top-level window
}

void TScreenFit::Keep(QWidget& window)
{
    new TOnShow(window);
}

void TScreenFit::TopLeft(QWidget& window)
{
    const QRect area = PrimaryArea();
    window.move(area.topLeft());
    Apply(window);
}

void TScreenFit::Centre(QWidget& window)
{
    const QRect area = PrimaryArea();
    const QMargins frame = FrameOf(window);
    const QSize outer = window.size().grownBy(frame);
    window.move(area.center() - QPoint(outer.width() / 2, outer.height() / 2));
    Apply(window);
}
