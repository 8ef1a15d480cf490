#pragma once

#include <QObject>

class QEvent;
class QMouseEvent;
class QWidget;

namespace pelorin {

// The drag handles of a frameless window: every mouse press, move and
// release on a widget added here is reported by the signals below, with the
// widget that received it, and goes no further, so it reaches neither the
// widget's own handling nor its parent.
class DragHandles : public QObject {
    Q_OBJECT

public:
    explicit DragHandles(QObject* parent = nullptr);

    void add(QWidget* handle);

signals:
    void mouseDown(QWidget* sender, QMouseEvent* event);
    void mouseMove(QWidget* sender, QMouseEvent* event);
    void mouseUp(QWidget* sender, QMouseEvent* event);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace pelorin
