#include "Chrome.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

namespace pelorin::chrome {
namespace {

const QStringList SansFamilies{"Segoe UI", "DejaVu Sans", "Noto Sans"};
const QStringList MonoFamilies{"Consolas", "DejaVu Sans Mono", "Noto Sans Mono"};

QFont font(const QStringList& families, QFont::StyleHint hint, qreal pointSize) {
    QFont f;
    f.setFamilies(families);
    f.setStyleHint(hint);
    f.setPointSizeF(pointSize);
    return f;
}

}  // namespace

QFont uiFont(qreal pointSize, bool underline) {
    QFont f = font(SansFamilies, QFont::SansSerif, pointSize);
    f.setUnderline(underline);
    return f;
}

QFont codeFont(qreal pointSize) {
    QFont f = font(MonoFamilies, QFont::Monospace, pointSize);
    f.setFixedPitch(true);
    return f;
}

QFont glyphFont() {
    QStringList families = SansFamilies;
    families.prepend("Segoe MDL2 Assets");
    QFont f = font(families, QFont::SansSerif, 12);
    f.setBold(true);
    return f;
}

QIcon vantorIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 256})
        icon.addFile(QString(":/icons/vantor-%1.png").arg(size), QSize(size, size));
    return icon;
}

QPixmap logoImage() {
    return QPixmap(":/images/logo.png");
}

void setBackground(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, color);
    widget->setPalette(palette);
    widget->setAutoFillBackground(color.alpha() != 0);
}

void setForeground(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    widget->setPalette(palette);
}

void addChild(QWidget* parent, QWidget* child) {
    child->setParent(parent);
    child->lower();
}

bool systemMovesWindows() {
    return QGuiApplication::platformName().startsWith("wayland");
}

bool beginDrag(QWidget* window) {
    return !(systemMovesWindows() && window->windowHandle() && window->windowHandle()->startSystemMove());
}

QPoint dragTarget(QWidget* window, QWidget* handle, const QMouseEvent* event, QPoint offset) {
    // Taken from the event's own screen position, which stays right even while
    // an earlier move of the window has not been reported back yet.
    return event->globalPosition().toPoint() - handle->mapTo(window, QPoint(0, 0)) - offset;
}

}  // namespace pelorin::chrome
