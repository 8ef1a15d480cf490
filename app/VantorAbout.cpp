#include "VantorAbout.h"

#include "Chrome.h"
#include "ChromeLabel.h"
#include "DragHandles.h"
#include "VantorVersion.h"

#include <QDesktopServices>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QUrl>
#include <QWindow>

#include <initializer_list>

#ifndef VANTOR_WEBSITE_URL
#error "VANTOR_WEBSITE_URL must be defined by the build"
#endif
#ifndef VANTOR_LIBSASS_URL
#error "VANTOR_LIBSASS_URL must be defined by the build"
#endif

namespace pelorin {
namespace {

const QString WebsiteAddress = QStringLiteral(VANTOR_WEBSITE_URL);
const QString LibsassAddress = QStringLiteral(VANTOR_LIBSASS_URL);
const QString CopyrightNotice = QString::fromUtf8("\u00a9 2026 PELORIN. All rights reserved.");

}  // namespace

VantorAbout::VantorAbout() {
    InitializeComponent();
}

VantorAbout::~VantorAbout() = default;

void VantorAbout::InitializeComponent() {
    using namespace chrome;

    Logo = new QLabel;
    Title = new QLabel;
    Close = new ChromeLabel(QAccessible::Button);
    CopyrightLabel = new QLabel;
    Border = new QFrame;
    WebUrl = new ChromeLabel(QAccessible::Link);
    Description = new QLabel;
    LibsassLink = new ChromeLabel(QAccessible::Link);

    setUpLink(WebUrl);
    for (QLabel* label : {CopyrightLabel, Description})
        setUpNoticeLabel(label);

    WebUrl->setObjectName("WebUrl");
    WebUrl->setText(WebsiteAddress);
    WebUrl->setToolTip("Open Website");
    WebUrl->setAccessibleName(QString());
    WebUrl->move(137, 193);

    CopyrightLabel->setObjectName("CopyrightLabel");
    CopyrightLabel->setText(CopyrightNotice);
    CopyrightLabel->move(105, 168);

    Logo->setObjectName("Logo");
    Logo->setGeometry(180, 29, 100, 99);
    Logo->setScaledContents(true);
    Logo->setPixmap(logoImage());

    Title->setObjectName("Title");
    // A fixed text, "PELORIN | Vantor v3.0.1": the release's version (the main window's caption
    // names v2.5.1 on purpose).
    Title->setText("PELORIN | Vantor v" VANTOR_VERSION);
    Title->setFont(uiFont(12));
    Title->move(119, 140);

    // Border's children, placed inside its frame.
    Border->setObjectName("Border");
    setUpBorder(Border, QSize(460, 290));
    const QPoint inside = Border->contentsRect().topLeft();

    // A link label: underlined text in the link colour, the hand cursor over
    // it, Silver while it is held; it takes focus and Return or Space follows it.
    LibsassLink->setObjectName("LibsassLink");
    LibsassLink->setText("Libsass - Sass Compiler");
    LibsassLink->setFont(uiFont(8.25, true));
    setForeground(LibsassLink, MutedLink);
    LibsassLink->setActiveColor(Silver);
    LibsassLink->setCursor(Qt::PointingHandCursor);
    addChild(Border, LibsassLink);

    Description->setObjectName("Description");
    Description->setText("PELORIN | Vantor written in c++ and ");
    Description->move(inside + QPoint(49, 234));
    addChild(Border, Description);

    Close->setObjectName("Close");
    Close->setText("X");
    setUpGlyph(Close);
    // The dialog's text colour, which Border's frame colour would otherwise hide.
    setForeground(Close, TitleText);
    Close->setToolTip("Close");
    Close->move(inside + QPoint(422, 0));
    addChild(Border, Close);

    for (QLabel* label : std::initializer_list<QLabel*>{LibsassLink, Description, Close})
        label->adjustSize();
    // The link continues the description's sentence on its text row: it starts
    // where the description's text (with its closing blank) ends, on the row
    // below the description's top padding. Measured here, since the fonts differ
    // between desktops.
    const QMargins padding = Description->contentsMargins();
    LibsassLink->move(Description->pos() +
                      QPoint(padding.left() + Description->fontMetrics().horizontalAdvance(Description->text()),
                             padding.top()));

    // Window's children, in front of the frame.
    addChild(this, WebUrl);
    addChild(this, CopyrightLabel);
    addChild(this, Logo);
    addChild(this, Title);
    addChild(this, Border);
    for (QLabel* label : std::initializer_list<QLabel*>{WebUrl, CopyrightLabel, Title})
        label->adjustSize();

    // Drag handles; the chrome labels and the description keep their presses to themselves.
    dragHandles = new DragHandles(this);
    dragHandles->setObjectName("dragHandles");
    for (QWidget* handle : {static_cast<QWidget*>(Logo), static_cast<QWidget*>(Title),
                            static_cast<QWidget*>(CopyrightLabel), static_cast<QWidget*>(Border),
                            static_cast<QWidget*>(this)})
        dragHandles->add(handle);
    connect(dragHandles, &DragHandles::mouseDown, this, &VantorAbout::TopBar_MouseDown);
    connect(dragHandles, &DragHandles::mouseMove, this, &VantorAbout::TopBar_MouseMove);
    connect(dragHandles, &DragHandles::mouseUp, this, &VantorAbout::TopBar_MouseUp);
    Description->setAttribute(Qt::WA_NoMousePropagation);
    connect(Close, &ChromeLabel::clicked, this, &VantorAbout::Close_Click);
    connect(Close, &ChromeLabel::mouseEntered, this, &VantorAbout::Close_MouseEnter);
    connect(Close, &ChromeLabel::mouseLeft, this, &VantorAbout::Close_MouseLeave);
    connect(WebUrl, &ChromeLabel::clicked, this, &VantorAbout::WebUrl_Click);
    connect(WebUrl, &ChromeLabel::mouseEntered, this, &VantorAbout::WebUrl_MouseEnter);
    connect(WebUrl, &ChromeLabel::mouseLeft, this, &VantorAbout::WebUrl_MouseLeave);
    connect(LibsassLink, &ChromeLabel::clicked, this, &VantorAbout::LibsassLink_LinkClicked);

    // What screen readers announce; the labels with text are announced by it
    // (the web address by its own, with "Open Website" as its description).
    Logo->setAccessibleName("PELORIN logo");
    Close->setAccessibleName("Close");
    Border->setAccessibleName("Product details");
    setAccessibleName("About Vantor");

    // Window: frameless, fixed size, centred on its screen where it fits.
    setObjectName("VantorAbout");
    setWindowTitle("VantorAbout");
    setForeground(this, TitleText);
    setUpFramelessWindow(this, Qt::Dialog, QSize(460, 290), DialogBackground);

    // Keyboard: the close glyph, then the two links, and round again. The
    // close glyph has the focus when the dialog opens, so Return or Space
    // closes it as a click does; Esc closes it too (the dialog's own reject,
    // which hides it).
    setTabOrder(Close, WebUrl);
    setTabOrder(WebUrl, LibsassLink);
    Close->setFocus();
}

void VantorAbout::TopBar_MouseDown(QWidget*, QMouseEvent* event) { dragHandles->press(event); }
void VantorAbout::TopBar_MouseMove(QWidget* sender, QMouseEvent* event) { dragHandles->drag(sender, event); }
void VantorAbout::TopBar_MouseUp(QWidget*, QMouseEvent*) { dragHandles->release(); }

void VantorAbout::Close_Click() {
    // Hiding ends the modal showing; the caller owns the dialog.
    hide();
}

void VantorAbout::Close_MouseEnter() { Close->setHovered(true); }
void VantorAbout::Close_MouseLeave() { Close->setHovered(false); }

void VantorAbout::WebUrl_Click() {
    openAddress(WebsiteAddress);
}

void VantorAbout::WebUrl_MouseEnter() { WebUrl->setHovered(true); }
void VantorAbout::WebUrl_MouseLeave() { WebUrl->setHovered(false); }

void VantorAbout::LibsassLink_LinkClicked() {
    openAddress(LibsassAddress);
}

void VantorAbout::openAddress(const QString& address) {
    if (QDesktopServices::openUrl(QUrl(address)))
        return;
    QMessageBox box(QMessageBox::Warning, "Vantor", "This address could not be opened:\n" + address,
                    QMessageBox::Ok, this);
    box.setObjectName("OpenAddressFailed");
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    box.exec();
}

}  // namespace pelorin
