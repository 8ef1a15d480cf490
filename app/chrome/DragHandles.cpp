#include "DragHandles.h"

#include "Chrome.h"

#include <QEvent>
#include <QMouseEvent>
#include <QWidget>

namespace pelorin {

DragHandles::DragHandles(QWidget* window) : QObject(window), window_(window) {}

void DragHandles::add(QWidget* handle) {
    handle->installEventFilter(this);
}

void DragHandles::press(QMouseEvent* event) {
    if (!chrome::beginDrag(window_))
        return;
    dragging_ = true;
    offset_ = event->position().toPoint();
}

void DragHandles::drag(QWidget* handle, QMouseEvent* event) {
    if (dragging_)
        window_->move(chrome::dragTarget(window_, handle, event, offset_));
}

void DragHandles::release() {
    dragging_ = false;
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
