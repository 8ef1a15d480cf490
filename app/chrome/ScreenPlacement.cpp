#include "ScreenPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace pelorin {

QPoint placeOnScreen(const QSize& window, const QRect& available) {
    const int x = window.width() <= available.width()
                      ? available.left() + (available.width() - window.width()) / 2
                      : available.right() + 1 - window.width();
    const int y = window.height() <= available.height()
                      ? available.top() + (available.height() - window.height()) / 2
                      : available.top();
    return QPoint(x, y);
}

QPoint placeOnScreen(const QWidget* window) {
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    return placeOnScreen(window->size(), screen->availableGeometry());
}

}  // namespace pelorin
