// The chrome's parts on their own, without a window of the program: a label's
// hover looks and the drag handles moving the window they belong to.
#include "Chrome.h"
#include "ChromeLabel.h"
#include "DragHandles.h"

#include <QMouseEvent>
#include <QtTest>

using pelorin::ChromeLabel;
using pelorin::DragHandles;
namespace chrome = pelorin::chrome;

namespace {

void sendMouse(QWidget* widget, QEvent::Type type, QPoint local, QPoint global) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, local, global, type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

}  // namespace

class TstChromeParts : public QObject {
    Q_OBJECT

private slots:
    // The window follows the mouse from the press on a handle until the
    // release, by exactly the distance the mouse went; moves before the press
    // or after the release leave it alone.
    void handlesMoveTheirWindow() {
        QWidget window;
        window.setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
        window.setGeometry(100, 100, 200, 100);
        auto* handle = new QWidget(&window);
        handle->setGeometry(20, 10, 50, 20);
        auto* handles = new DragHandles(&window);
        handles->add(handle);
        connect(handles, &DragHandles::mouseDown, handles, [handles](QWidget*, QMouseEvent* e) { handles->press(e); });
        connect(handles, &DragHandles::mouseMove, handles, [handles](QWidget* h, QMouseEvent* e) { handles->drag(h, e); });
        connect(handles, &DragHandles::mouseUp, handles, [handles]() { handles->release(); });
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QPoint start = window.pos();
        const QPoint pressAt(5, 5);
        const QPoint global = handle->mapToGlobal(pressAt);

        sendMouse(handle, QEvent::MouseMove, pressAt, global + QPoint(40, 40));
        QCOMPARE(window.pos(), start);
        sendMouse(handle, QEvent::MouseButtonPress, pressAt, global);
        sendMouse(handle, QEvent::MouseMove, pressAt + QPoint(30, 20), global + QPoint(30, 20));
        QCOMPARE(window.pos(), start + QPoint(30, 20));
        sendMouse(handle, QEvent::MouseMove, pressAt + QPoint(30, 20), global + QPoint(-10, 35));
        QCOMPARE(window.pos(), start + QPoint(-10, 35));
        sendMouse(handle, QEvent::MouseButtonRelease, pressAt, global + QPoint(-10, 35));
        sendMouse(handle, QEvent::MouseMove, pressAt, global + QPoint(90, 90));
        QCOMPARE(window.pos(), start + QPoint(-10, 35));
    }

    // setHovered() turns on the looks the label was given and nothing else,
    // and setHovered(false) brings the look at rest back.
    void hoverLooks_data() {
        QTest::addColumn<bool>("background");
        QTest::addColumn<bool>("underline");
        QTest::newRow("glyph") << true << false;
        QTest::newRow("link") << false << true;
        QTest::newRow("neither") << false << false;
    }
    void hoverLooks() {
        QFETCH(bool, background);
        QFETCH(bool, underline);
        ChromeLabel label;
        label.setText("X");
        label.setFont(chrome::uiFont(8.25));
        if (background)
            label.setHoverBackground(chrome::GlyphHover);
        label.setHoverUnderline(underline);

        label.setHovered(true);
        QCOMPARE(label.autoFillBackground(), background);
        if (background)
            QCOMPARE(label.palette().color(QPalette::Window), chrome::GlyphHover);
        QCOMPARE(label.font().underline(), underline);
        QCOMPARE(label.cursor().shape(), underline ? Qt::PointingHandCursor : Qt::ArrowCursor);

        label.setHovered(false);
        QVERIFY(!label.autoFillBackground());
        QCOMPARE(label.font(), chrome::uiFont(8.25));
        QCOMPARE(label.cursor().shape(), Qt::ArrowCursor);
    }
};

QTEST_MAIN(TstChromeParts)
#include "tst_chromeparts.moc"
