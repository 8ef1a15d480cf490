#pragma once

#include <QAccessible>
#include <QColor>
#include <QLabel>

namespace pelorin {

// A label of the windows' own chrome that acts like a control: a left click
// released over it, or Return, Enter or Space while it has the focus, emits
// clicked(); the mouse entering and leaving emit mouseEntered() and
// mouseLeft(). Presses are kept, so they never reach a drag handle behind it.
// While it has the keyboard focus it draws a thin light outline inside its
// own rectangle, so neither its size nor its look at rest changes. Screen
// readers see it with the role given (a button or a link) and can press it.
class ChromeLabel : public QLabel {
    Q_OBJECT

public:
    explicit ChromeLabel(QAccessible::Role role = QAccessible::Button, QWidget* parent = nullptr);

    QAccessible::Role accessibleRole() const { return role_; }

    // The text colour while the left button is held on it, as a link shows
    // it; invalid (the default) keeps the colour unchanged.
    void setActiveColor(const QColor& color) { activeColor_ = color; }

    // The looks setHovered() turns on while the mouse is over it: a background
    // colour, as the glyph buttons show (transparent again at rest), and an
    // underline with the hand cursor, as the links show (the arrow at rest).
    // Neither is set by default.
    void setHoverBackground(const QColor& color) { hoverBackground_ = color; }
    void setHoverUnderline(bool on) { hoverUnderline_ = on; }
    // Shows the hover looks set, or the look at rest. The windows call it from
    // their handlers of mouseEntered() and mouseLeft().
    void setHovered(bool on);

    // Whether the focus outline is shown: the label has the focus and got it
    // from the keyboard or the program, not from a click or the window
    // becoming active.
    bool showsFocus() const;

public slots:
    // Acts as a click does.
    void click();

signals:
    void clicked();
    void mouseEntered();
    void mouseLeft();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    // Paints the label's text, under the focus outline; QLabel's own painting
    // unless a subclass shows its text otherwise.
    virtual void paintText(QPaintEvent* event);

private:
    void setHeld(bool held);

    QAccessible::Role role_;
    QColor activeColor_;
    QColor restColor_;
    QColor hoverBackground_;
    bool hoverUnderline_ = false;
    bool held_ = false;
    bool keyboardFocus_ = false;
};

}  // namespace pelorin
