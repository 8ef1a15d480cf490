#pragma once

#include <QDialog>

class QEvent;
class QFrame;
class QLabel;
class QMouseEvent;

namespace pelorin {

class ChromeLabel;
class DragHandles;

// The about dialog: logo, product title, copyright notice, the product's web
// address and a one-line description ending in a link to libsass. Frameless
// like the main window and dragged by its logo, title, notice or free area.
class VantorAbout : public QDialog {
    Q_OBJECT

public:
    VantorAbout();
    ~VantorAbout() override;

private:
    void InitializeComponent();

    void TopBar_MouseDown(QWidget* sender, QMouseEvent* event);
    void TopBar_MouseMove(QWidget* sender, QMouseEvent* event);
    void TopBar_MouseUp(QWidget* sender, QMouseEvent* event);
    void Close_Click();
    void Close_MouseEnter();
    void Close_MouseLeave();
    void WebUrl_Click();
    void WebUrl_MouseEnter();
    void WebUrl_MouseLeave();
    void LibsassLink_LinkClicked();

    // Hands the address to the desktop; says so, with the address, if the
    // desktop cannot open it.
    void openAddress(const QString& address);

    QLabel* Logo = nullptr;
    QLabel* Title = nullptr;
    ChromeLabel* Close = nullptr;
    QLabel* CopyrightLabel = nullptr;
    QFrame* Border = nullptr;
    ChromeLabel* WebUrl = nullptr;
    QLabel* Description = nullptr;
    ChromeLabel* LibsassLink = nullptr;
    // Reports the mouse on the logo, the title, the notice, the frame and the
    // dialog itself to the TopBar_ handlers.
    DragHandles* dragHandles = nullptr;
};

}  // namespace pelorin
