#include "DragHandles.h"

#include <QEvent>
#include <QMouseEvent>
#include <QWidget>

namespace pelorin {

DragHandles::DragHandles(QObject* parent) : QObject(parent) {}

void DragHandles::add(QWidget* handle) {
    handle->installEventFilter(this);
}

bool DragHandles::eventFilter(QObject* watched, QEvent* event) {
    auto* handle = static_cast<QWidget*>(watched);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        // A double click is a second press: it neither maximises nor restores.
        emit mouseDown(handle, static_cast<QMouseEvent*>(event));
        return true;
    case QEvent::MouseMove:
        emit mouseMove(handle, static_cast<QMouseEvent*>(event));
        return true;
    case QEvent::MouseButtonRelease:
        emit mouseUp(handle, static_cast<QMouseEvent*>(event));
        return true;
    default:
        return QObject::eventFilter(watched, event);
    }
}

}  // namespace pelorin
