#include "dialogs/CenterWindow.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace {

LONG Place(LONG origin, LONG extent, LONG size, LONG low, LONG high) {
    LONG v = origin + (extent - size) / 2;
    if (v < low)
        v = low;
    else if (v + size > high)
        v = high - size;
    return v;
}

RECT ToRect(const QRect& r) {
    return RECT{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

} // namespace

POINT CenterWindowOrigin(LONG width, LONG height, const RECT& over, const RECT& work) {
    return POINT{Place(over.left, over.right - over.left, width, work.left, work.right),
                 Place(over.top, over.bottom - over.top, height, work.top, work.bottom)};
}

void CenterWindow(QWidget* window, QWidget* over) {
    if (window == nullptr || over == nullptr)
        return;
    QScreen* screen = over->screen() ? over->screen() : QGuiApplication::primaryScreen();
    const QRect work = screen ? screen->availableGeometry() : QRect(0, 0, 640, 480);
    const QRect frame = window->frameGeometry();
    const POINT p =
        CenterWindowOrigin(frame.width(), frame.height(), ToRect(over->frameGeometry()), ToRect(work));
    window->move(p.x, p.y);
}
