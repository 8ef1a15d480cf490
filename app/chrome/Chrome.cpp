#include "Chrome.h"

#include "ChromeLabel.h"
#include "ScreenPlacement.h"

#include <QAbstractScrollArea>
#include <QFrame>
#include <QLabel>

#include <QGuiApplication>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTextDocument>
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

QString plainToolTip(const QString& text) {
    return Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal) : text;
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

void setUpNoticeLabel(QLabel* label) {
    label->setContentsMargins(5, 5, 5, 5);
    label->setFont(uiFont(8.25));
    setForeground(label, MutedLink);
    label->setCursor(Qt::ArrowCursor);
}

void setUpLink(ChromeLabel* link) {
    setUpNoticeLabel(link);
    link->setHoverUnderline(true);
}

void setUpGlyph(ChromeLabel* glyph) {
    glyph->setContentsMargins(10, 4, 10, 6);
    glyph->setAlignment(Qt::AlignCenter);
    glyph->setFont(glyphFont());
    glyph->setHoverBackground(GlyphHover);
}

void setUpBorder(QFrame* border, QSize size) {
    border->setGeometry(QRect(QPoint(0, 0), size));
    border->setFrameStyle(QFrame::Box | QFrame::Plain);
    border->setLineWidth(1);
    setForeground(border, FrameLine);
}

void setUpFramelessWindow(QWidget* window, Qt::WindowFlags flags, QSize size, const QColor& background) {
    window->setWindowFlags(flags | Qt::FramelessWindowHint);
    window->setWindowIcon(vantorIcon());
    setBackground(window, background);
    window->setFixedSize(size);
    window->move(placeOnScreen(window));
}

void setUpScrollBars(QAbstractScrollArea* area) {
    // Set on the bars themselves, so the area's own drawing is left to its style.
    const QString sheet =
        QString(
            "QScrollBar { background: %1; border: none; margin: 0; }"
            "QScrollBar:vertical { width: 12px; }"
            "QScrollBar:horizontal { height: 12px; }"
            "QScrollBar::handle { background: %2; border-radius: 3px; }"
            "QScrollBar::handle:vertical { min-height: 24px; margin: 2px 3px; }"
            "QScrollBar::handle:horizontal { min-width: 24px; margin: 3px 2px; }"
            "QScrollBar::handle:hover { background: %3; }"
            "QScrollBar::handle:pressed { background: %4; }"
            "QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; border: none; background: none; }"
            "QScrollBar::add-page, QScrollBar::sub-page { background: none; }")
            .arg(ScrollTrack.name(), ScrollThumb.name(), ScrollThumbHover.name(), ScrollThumbPressed.name());
    for (QScrollBar* bar : {area->verticalScrollBar(), area->horizontalScrollBar()})
        bar->setStyleSheet(sheet);
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
