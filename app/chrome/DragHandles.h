#pragma once

#include <QObject>
#include <QPoint>

class QEvent;
class QMouseEvent;
class QWidget;

namespace pelorin {

// The drag handles of a frameless window: every mouse press, move and
// release on a widget added here is reported by the signals below, with the
// widget that received it, and goes no further, so it reaches neither the
// widget's own handling nor its parent. The window's handlers of those
// signals hand them back to press(), drag() and release(), which move the
// window.
class DragHandles : public QObject {
    Q_OBJECT

public:
    // `window` is the frameless window the handles move; it owns them.
    explicit DragHandles(QWidget* window);

    void add(QWidget* handle);

    // A press on a handle: hands the move to the compositor where clients may
    // not place windows, else starts a drag from the press position.
    void press(QMouseEvent* event);
    // A mouse move over the pressed handle: the window follows the mouse.
    void drag(QWidget* handle, QMouseEvent* event);
    void release();

signals:
    void mouseDown(QWidget* sender, QMouseEvent* event);
    void mouseMove(QWidget* sender, QMouseEvent* event);
    void mouseUp(QWidget* sender, QMouseEvent* event);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* window_;
    bool dragging_ = false;
    QPoint offset_;  // the press position in the pressed handle
};

}  // namespace pelorin
