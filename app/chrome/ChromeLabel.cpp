#include "ChromeLabel.h"

#include "Chrome.h"

#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace pelorin {
namespace {

// The focus outline: the title text's light grey, which stands out on the
// title strip, the message strip and the dialog background alike.
const QColor FocusOutline = chrome::TitleText;

// What a screen reader sees of a chrome label: its role, its name (the
// accessible name, else its text, else its description) and a press action.
class ChromeLabelAccessible : public QAccessibleWidget {
public:
    explicit ChromeLabelAccessible(ChromeLabel* label) : QAccessibleWidget(label, label->accessibleRole()) {}

    QString text(QAccessible::Text t) const override {
        QString value = QAccessibleWidget::text(t);
        if (t == QAccessible::Name && value.isEmpty())
            value = label()->text();
        if (t == QAccessible::Name && value.isEmpty())
            value = QAccessibleWidget::text(QAccessible::Description);
        return value;
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        if (role() == QAccessible::Link)
            s.linked = true;
        return s;
    }

    QStringList actionNames() const override { return QStringList{pressAction()} + QAccessibleWidget::actionNames(); }

    void doAction(const QString& name) override {
        if (name == pressAction())
            label()->click();
        else
            QAccessibleWidget::doAction(name);
    }

private:
    ChromeLabel* label() const { return static_cast<ChromeLabel*>(widget()); }
};

QAccessibleInterface* chromeLabelAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String(ChromeLabel::staticMetaObject.className()) && object && object->isWidgetType())
        return new ChromeLabelAccessible(static_cast<ChromeLabel*>(object));
    return nullptr;
}

}  // namespace

ChromeLabel::ChromeLabel(QAccessible::Role role, QWidget* parent) : QLabel(parent), role_(role) {
    static const bool factoryInstalled = (QAccessible::installFactory(chromeLabelAccessible), true);
    Q_UNUSED(factoryInstalled);
    // Reached by Tab; a click acts without taking the focus from the editor.
    setFocusPolicy(Qt::TabFocus);
}

bool ChromeLabel::showsFocus() const {
    return keyboardFocus_ && hasFocus();
}

void ChromeLabel::click() {
    emit clicked();
}

void ChromeLabel::setHeld(bool down) {
    if (held_ == down || !activeColor_.isValid())
        return;
    held_ = down;
    if (held_)
        restColor_ = palette().color(QPalette::WindowText);
    chrome::setForeground(this, held_ ? activeColor_ : restColor_);
}

void ChromeLabel::setHovered(bool on) {
    if (hoverBackground_.isValid())
        chrome::setBackground(this, on ? hoverBackground_ : chrome::Transparent);
    if (hoverUnderline_) {
        QFont underlined = font();
        underlined.setUnderline(on);
        setFont(underlined);
        setCursor(on ? Qt::PointingHandCursor : Qt::ArrowCursor);
    }
}

void ChromeLabel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        setHeld(true);
    event->accept();
}

void ChromeLabel::mouseDoubleClickEvent(QMouseEvent* event) {
    mousePressEvent(event);
}

void ChromeLabel::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton)
        return;
    setHeld(false);
    if (rect().contains(event->position().toPoint()))
        emit clicked();
}

void ChromeLabel::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    const bool plain = !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (plain && (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space)) {
        event->accept();
        if (!event->isAutoRepeat())
            click();
        return;
    }
    QLabel::keyPressEvent(event);
}

void ChromeLabel::enterEvent(QEnterEvent* event) {
    QLabel::enterEvent(event);
    emit mouseEntered();
}

void ChromeLabel::leaveEvent(QEvent* event) {
    QLabel::leaveEvent(event);
    emit mouseLeft();
}

void ChromeLabel::focusInEvent(QFocusEvent* event) {
    // A dialog about to be shown announces its first focus before it has it;
    // only the focus actually taken counts.
    const Qt::FocusReason reason = hasFocus() ? event->reason() : Qt::NoFocusReason;
    switch (reason) {
    case Qt::TabFocusReason:
    case Qt::BacktabFocusReason:
    case Qt::ShortcutFocusReason:
    case Qt::OtherFocusReason:
        keyboardFocus_ = true;
        break;
    case Qt::MouseFocusReason:
        keyboardFocus_ = false;
        break;
    default:
        // The window coming back, or a menu closing: as it was before.
        break;
    }
    QLabel::focusInEvent(event);
    update();
}

void ChromeLabel::focusOutEvent(QFocusEvent* event) {
    QLabel::focusOutEvent(event);
    update();
}

void ChromeLabel::paintText(QPaintEvent* event) { QLabel::paintEvent(event); }

void ChromeLabel::paintEvent(QPaintEvent* event) {
    paintText(event);
    if (!showsFocus())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(FocusOutline, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 2, 2);
}

}  // namespace pelorin
