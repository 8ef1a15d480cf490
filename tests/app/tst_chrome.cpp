// The main window's look and chrome, driven on the real window: placement and
// colours read back from grab(), dragging with synthetic mouse events, the
// glyph buttons, the hover feedback and the about dialog.
#include "PelorinForm.h"
#include "VantorAbout.h"

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScreen>
#include <QSplitter>
#include <QTimer>
#include <QDir>
#include <QtTest>

#include <functional>

using pelorin::PelorinForm;
using pelorin::VantorAbout;

namespace {

const QColor Black(0, 0, 0);

// Whether the rectangle is centred on the screen, to the pixel.
bool centredOn(const QRect& screen, const QRect& window) {
    const QPoint off = window.center() - screen.center();
    return qAbs(off.x()) <= 1 && qAbs(off.y()) <= 1;
}

// Sends a mouse event with the buttons held as given, as the toolkit does for
// moves that follow a press.
void sendMouse(QWidget* widget, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons) {
    QMouseEvent event(type, pos, widget->mapToGlobal(pos), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

void sendEnter(QWidget* widget) {
    const QPoint pos = widget->rect().center();
    QEnterEvent event(pos, pos, widget->mapToGlobal(pos));
    QApplication::sendEvent(widget, &event);
}

void sendLeave(QWidget* widget) {
    QEvent event(QEvent::Leave);
    QApplication::sendEvent(widget, &event);
}

// Runs the check on the modal dialog once it is up, then closes it through its
// close glyph. A dialog that never gets closed is rejected after a while, so a
// broken close cannot hang the suite.
void onModalDialog(std::function<void(VantorAbout*)> check) {
    QTimer::singleShot(0, [check] {
        auto* dialog = qobject_cast<VantorAbout*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        QPointer<VantorAbout> guard(dialog);
        check(dialog);
        if (guard && guard->isVisible())
            QTest::mouseClick(guard->findChild<QLabel*>("Close"), Qt::LeftButton);
        if (guard && guard->isVisible())
            guard->reject();
    });
}

}  // namespace

class TstChrome : public QObject {
    Q_OBJECT

    PelorinForm* form = nullptr;

    template <typename T = QWidget>
    T* child(const QString& name) const {
        T* found = form->findChild<T*>(name);
        if (!found)
            qFatal("no control %s", qPrintable(name));
        return found;
    }

    QRect inWindow(const QWidget* widget) const {
        return QRect(widget->mapTo(form, QPoint(0, 0)), widget->size());
    }

private slots:
    void init() {
        form = new PelorinForm;
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form));
    }
    void cleanup() {
        delete form;
        form = nullptr;
    }

    void frameless_fixed_centred() {
        QVERIFY(form->windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(form->size(), QSize(995, 557));
        QCOMPARE(form->frameGeometry(), form->geometry());
        QCOMPARE(form->minimumSize(), form->maximumSize());
        QVERIFY(centredOn(form->screen()->availableGeometry(), form->geometry()));
        QCOMPARE(form->windowTitle(), QString("PELORIN | Vantor v2.5.1"));
        const QList<QSize> sizes = form->windowIcon().availableSizes();
        for (int size : {16, 24, 32, 48, 256})
            QVERIFY2(sizes.contains(QSize(size, size)), qPrintable(QString::number(size)));
        QCOMPARE(child<QLabel>("Logo")->pixmap().size(), QSize(512, 512));
    }

    // Window coordinates of each control. Controls that size themselves to
    // their text are checked for position and for fitting their text.
    void placement_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("rect");
        QTest::addColumn<bool>("autoSize");
        QTest::newRow("TopBar") << "TopBar" << QRect(1, 1, 993, 53) << false;
        QTest::newRow("OptionsBar") << "OptionsBar" << QRect(1, 54, 993, 26) << false;
        QTest::newRow("Border") << "Border" << QRect(0, 0, 995, 557) << false;
        QTest::newRow("splitContainer1") << "splitContainer1" << QRect(1, 85, 993, 440) << false;
        QTest::newRow("Panel1") << "Panel1" << QRect(1, 85, 493, 440) << false;
        QTest::newRow("Panel2") << "Panel2" << QRect(495, 85, 499, 440) << false;
        QTest::newRow("SassEditor") << "SassEditor" << QRect(5, 89, 485, 432) << false;
        QTest::newRow("CssEditor") << "CssEditor" << QRect(499, 89, 491, 432) << false;
        QTest::newRow("Footer") << "Footer" << QRect(1, 530, 993, 26) << false;
        QTest::newRow("Logo") << "Logo" << QRect(13, 8, 40, 40) << false;
        QTest::newRow("Beta") << "Beta" << QRect(229, 15, 0, 0) << true;
        QTest::newRow("ExportsFolderLabel") << "ExportsFolderLabel" << QRect(639, 3, 0, 0) << true;
        QTest::newRow("CopyrightLabel") << "CopyrightLabel" << QRect(770, 3, 0, 0) << true;
        QTest::newRow("Minimize") << "Minimize" << QRect(921, 1, 0, 0) << true;
        QTest::newRow("Title") << "Title" << QRect(58, 17, 0, 0) << true;
        QTest::newRow("MessageBox") << "MessageBox" << QRect(1, 54, 0, 0) << true;
    }
    void placement() {
        QFETCH(QString, name);
        QFETCH(QRect, rect);
        QFETCH(bool, autoSize);
        QWidget* widget = child(name);
        QVERIFY(widget->isVisible());
        if (autoSize) {
            QCOMPARE(inWindow(widget).topLeft(), rect.topLeft());
            QCOMPARE(widget->size(), widget->sizeHint());
        } else {
            QCOMPARE(inWindow(widget), rect);
        }
    }

    void dockedControls() {
        // The close glyph against the strip's right edge, over its full height.
        QLabel* close = child<QLabel>("Close");
        QCOMPARE(inWindow(close).right(), 993);
        QCOMPARE(inWindow(close).top(), 1);
        QCOMPARE(close->height(), 53);
        QCOMPARE(close->width(), close->sizeHint().width());
        // The status line right of the footer, following its text, with only the compiler's
        // name right of it, against the footer's right edge.
        QLabel* status = child<QLabel>("Status");
        QLabel* engine = child<QLabel>("EngineLabel");
        QCOMPARE(inWindow(engine).right(), 993);
        QCOMPARE(inWindow(status).right(), inWindow(engine).left() - 1);
        QCOMPARE(inWindow(status).top(), 530);
        QCOMPARE(status->height(), 26);
        QCOMPARE(status->width(), status->sizeHint().width());
        status->setText("Compiled in 123456.8 seconds");
        QApplication::processEvents();
        QCOMPARE(status->width(), status->sizeHint().width());
        QCOMPARE(inWindow(status).right(), inWindow(engine).left() - 1);
        QCOMPARE(inWindow(engine).right(), 993);
        // The import folder leftmost.
        QCOMPARE(inWindow(child<QLabel>("ImportFolderLabel")).left(), 1);
        // The message line grows with the compiler's text.
        QLabel* message = child<QLabel>("MessageBox");
        QPlainTextEdit* sass = child<QPlainTextEdit>("SassEditor");
        sass->setPlainText("a { b: ; }");
        QApplication::processEvents();
        QVERIFY(!message->text().isEmpty());
        QCOMPARE(message->width(), message->sizeHint().width());
    }

    // The first child added lies in front: Qt paints a parent's children in
    // list order, so each list is the add order reversed.
    void stacking_data() {
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QStringList>("backToFront");
        QTest::newRow("window") << "" << QStringList{"Border", "OptionsBar", "TopBar"};
        QTest::newRow("TopBar") << "TopBar"
                                << QStringList{"Close", "Title", "Logo", "Minimize", "CopyrightLabel",
                                               "ExportsFolderLabel", "Beta"};
        QTest::newRow("Border") << "Border" << QStringList{"Footer", "splitContainer1"};
    }
    void stacking() {
        QFETCH(QString, parent);
        QFETCH(QStringList, backToFront);
        QWidget* container = parent.isEmpty() ? form : child(parent);
        QStringList order;
        for (QObject* object : container->children())
            if (object->isWidgetType() && !static_cast<QWidget*>(object)->isWindow() && !object->objectName().isEmpty())
                order << object->objectName();
        QCOMPARE(order, backToFront);
        // Beta is drawn over the title where they meet.
        QLabel* title = child<QLabel>("Title");
        QLabel* beta = child<QLabel>("Beta");
        title->resize(300, title->height());
        QCOMPARE(child("TopBar")->childAt(beta->geometry().center()), beta);
        title->adjustSize();
    }

    // Colours at points inside each area of the window, away from any text.
    void palette_data() {
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<QColor>("color");
        QTest::newRow("frame top") << QPoint(500, 0) << Black;
        QTest::newRow("frame left") << QPoint(0, 300) << Black;
        QTest::newRow("frame right") << QPoint(994, 300) << Black;
        QTest::newRow("frame bottom") << QPoint(500, 556) << Black;
        QTest::newRow("title strip") << QPoint(400, 45) << QColor(50, 50, 50);
        QTest::newRow("title strip top") << QPoint(600, 1) << QColor(50, 50, 50);
        QTest::newRow("close glyph area") << QPoint(990, 50) << QColor(50, 50, 50);
        QTest::newRow("message strip") << QPoint(900, 70) << QColor(40, 40, 40);
        QTest::newRow("message strip bottom") << QPoint(900, 79) << QColor(40, 40, 40);
        QTest::newRow("gap above editors") << QPoint(500, 82) << QColor(21, 21, 21);
        QTest::newRow("left panel padding") << QPoint(3, 300) << QColor(21, 21, 21);
        QTest::newRow("splitter line") << QPoint(494, 300) << QColor(30, 30, 30);
        QTest::newRow("left of splitter") << QPoint(493, 300) << QColor(21, 21, 21);
        QTest::newRow("right of splitter") << QPoint(495, 300) << QColor(21, 21, 21);
        QTest::newRow("SCSS editor") << QPoint(470, 510) << QColor(21, 21, 21);
        QTest::newRow("CSS editor") << QPoint(960, 515) << QColor(21, 21, 21);  // left of its scroll bar
        QTest::newRow("gap below editors") << QPoint(500, 527) << QColor(21, 21, 21);
        QTest::newRow("footer") << QPoint(300, 540) << QColor(43, 43, 43);
        QTest::newRow("footer bottom") << QPoint(300, 555) << QColor(43, 43, 43);
    }
    void palette() {
        QFETCH(QPoint, at);
        QFETCH(QColor, color);
        const QImage image = form->grab().toImage();
        QCOMPARE(image.size(), QSize(995, 557));
        QCOMPARE(image.pixelColor(at), color);
    }

    void textColours() {
        QCOMPARE(child("Title")->palette().color(QPalette::WindowText), QColor(204, 204, 204));
        QCOMPARE(child("Beta")->palette().color(QPalette::WindowText), QColor(204, 204, 204));
        QCOMPARE(child("Close")->palette().color(QPalette::WindowText), QColor(204, 204, 204));
        QCOMPARE(child("ExportsFolderLabel")->palette().color(QPalette::WindowText), QColor(115, 115, 115));
        QCOMPARE(child("CopyrightLabel")->palette().color(QPalette::WindowText), QColor(115, 115, 115));
        QCOMPARE(child("MessageBox")->palette().color(QPalette::WindowText), QColor(255, 160, 122));
        QCOMPARE(child("Status")->palette().color(QPalette::WindowText), QColor(169, 169, 169));
        for (const char* name : {"SassEditor", "CssEditor"}) {
            const QPalette palette = child(name)->palette();
            QCOMPARE(palette.color(QPalette::Base), QColor(21, 21, 21));
            QCOMPARE(palette.color(QPalette::Text), QColor(180, 180, 180));
        }
    }

    void fonts_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("family");
        QTest::addColumn<qreal>("points");
        QTest::addColumn<bool>("bold");
        QTest::newRow("Title") << "Title" << "Segoe UI" << 12.0 << false;
        QTest::newRow("ExportsFolderLabel") << "ExportsFolderLabel" << "Segoe UI" << 8.25 << false;
        QTest::newRow("CopyrightLabel") << "CopyrightLabel" << "Segoe UI" << 8.25 << false;
        QTest::newRow("Status") << "Status" << "Segoe UI" << 8.25 << false;
        QTest::newRow("Minimize") << "Minimize" << "Segoe MDL2 Assets" << 12.0 << true;
        QTest::newRow("Close") << "Close" << "Segoe MDL2 Assets" << 12.0 << true;
        QTest::newRow("MessageBox") << "MessageBox" << "Consolas" << 8.25 << false;
        QTest::newRow("SassEditor") << "SassEditor" << "Consolas" << 9.75 << false;
        QTest::newRow("CssEditor") << "CssEditor" << "Consolas" << 9.75 << false;
    }
    void fonts() {
        QFETCH(QString, name);
        QFETCH(QString, family);
        QFETCH(qreal, points);
        QFETCH(bool, bold);
        const QFont font = child(name)->font();
        QCOMPARE(font.families().value(0), family);
        QVERIFY2(font.families().size() > 1, "no stand-in for a missing family");
        QCOMPARE(font.pointSizeF(), points);
        QCOMPARE(font.bold(), bold);
        QVERIFY(!font.underline());
    }

    void textsAndToolTips() {
        QCOMPARE(child<QLabel>("Title")->text(), QString("PELORIN | Vantor"));
        QCOMPARE(child<QLabel>("Beta")->text(), QString("Beta"));
        QCOMPARE(child<QLabel>("ExportsFolderLabel")->text(), QString("Open Exports Folder"));
        QCOMPARE(child<QLabel>("CopyrightLabel")->text(), QString("About Vantor"));
        QCOMPARE(child<QLabel>("Minimize")->text(), QString("-"));
        QCOMPARE(child<QLabel>("Close")->text(), QString("X"));
        QCOMPARE(child("Minimize")->toolTip(), QString("Minimize"));
        QCOMPARE(child("Close")->toolTip(), QString("Close"));
        QCOMPARE(child("EngineLabel")->toolTip(), QString("The compiler: click to choose libsass or Dart Sass"));
        QCOMPARE(child("WarningCountLabel")->toolTip(), QString("Go to the first warning (F8 goes to the next)"));
        QCOMPARE(child("ConvertWithDartSass")->toolTip(),
                 QString("Choose Dart Sass as the compiler and convert the text with it"));
        QVERIFY(child("ImportFolderLabel")->toolTip().contains(QDir::toNativeSeparators(QDir::currentPath())));
        const QStringList withTips{"Minimize", "Close", "EngineLabel", "WarningCountLabel", "ConvertWithDartSass",
                                   "ImportFolderLabel"};
        for (QWidget* widget : form->findChildren<QWidget*>())
            if (!withTips.contains(widget->objectName()))
                QVERIFY2(widget->toolTip().isEmpty(), qPrintable(widget->objectName()));
    }

    void editors() {
        auto* sass = child<QPlainTextEdit>("SassEditor");
        auto* css = child<QPlainTextEdit>("CssEditor");
        QCOMPARE(sass->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QCOMPARE(css->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QVERIFY(css->isReadOnly());
        QCOMPARE(sass->frameShape(), QFrame::NoFrame);
        // Tab inserts a tab in the SCSS editor, and moves on from the CSS editor.
        sass->setFocus();
        sass->moveCursor(QTextCursor::End);
        QTest::keyClick(sass, Qt::Key_Tab);
        QVERIFY(sass->toPlainText().endsWith("}\t"));
        QVERIFY(sass->hasFocus());
        css->setFocus();
        QTest::keyClick(css, Qt::Key_Tab);
        QVERIFY(!css->hasFocus());
        QCOMPARE(css->toPlainText().count('\t'), 0);
    }

    // A drag moves the window by exactly the mouse's travel, from the first
    // move on, whichever handle and button.
    void drag_data() {
        QTest::addColumn<QString>("handle");
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<QPoint>("press");
        for (const char* name : {"TopBar", "Logo", "Title"}) {
            const QPoint press = QString(name) == "TopBar" ? QPoint(450, 40) : QPoint(7, 9);
            QTest::newRow(qPrintable(QString(name) + " left")) << name << Qt::LeftButton << press;
            QTest::newRow(qPrintable(QString(name) + " right")) << name << Qt::RightButton << press;
        }
    }
    void drag() {
        QFETCH(QString, handle);
        QFETCH(Qt::MouseButton, button);
        QFETCH(QPoint, press);
        QWidget* widget = child(handle);
        const QPoint start = form->pos();
        const QPoint mouse = widget->mapToGlobal(press);
        QTest::mousePress(widget, button, {}, press);
        QCOMPARE(form->pos(), start);
        for (QPoint travel : {QPoint(1, 0), QPoint(37, -12), QPoint(-140, 85), QPoint(3, 3)}) {
            QTest::mouseMove(widget, widget->mapFromGlobal(mouse + travel));
            QCOMPARE(form->pos(), start + travel);
        }
        QTest::mouseRelease(widget, button, {}, widget->mapFromGlobal(mouse + QPoint(3, 3)));
        QCOMPARE(form->pos(), start + QPoint(3, 3));
        // After the release the mouse no longer carries the window.
        sendMouse(widget, QEvent::MouseMove, press + QPoint(50, 50), Qt::NoButton, Qt::NoButton);
        QCOMPARE(form->pos(), start + QPoint(3, 3));
    }

    void noDragElsewhere_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<Qt::MouseButton>("button");
        for (const char* name : {"Beta", "ExportsFolderLabel", "CopyrightLabel", "Minimize", "Close",
                                 "OptionsBar", "MessageBox", "Border", "SassEditor", "CssEditor", "Footer",
                                 "Status"}) {
            QTest::newRow(qPrintable(QString(name) + " left")) << name << Qt::LeftButton;
            QTest::newRow(qPrintable(QString(name) + " right")) << name << Qt::RightButton;
        }
    }
    void noDragElsewhere() {
        QFETCH(QString, name);
        QFETCH(Qt::MouseButton, button);
        QWidget* widget = child(name);
        QPoint press = widget->rect().center();
        if (auto* editor = qobject_cast<QPlainTextEdit*>(widget)) {
            widget = editor->viewport();
            press = widget->rect().center();
        } else if (name == "Border") {
            press = QPoint(500, 82);  // the gap between the message strip and the editors
        }
        const QPoint start = form->pos();
        QTest::mousePress(widget, button, {}, press);
        QTest::mouseMove(widget, press + QPoint(30, 20));
        QTest::mouseMove(widget, press + QPoint(250, 120));
        // Released away from the control, so that it is no click.
        QTest::mouseRelease(widget, button, {}, press + QPoint(250, 120));
        QCOMPARE(form->pos(), start);
        QVERIFY(form->isVisible());
        QVERIFY(!QApplication::activeModalWidget());
    }

    void doubleClickOnTitleStrip() {
        QWidget* topBar = child("TopBar");
        const QRect before = form->geometry();
        QTest::mouseDClick(topBar, Qt::LeftButton, {}, QPoint(450, 40));
        QCOMPARE(form->windowState(), Qt::WindowNoState);
        QCOMPARE(form->geometry(), before);
    }

    void splitterMovesEditorsOnly() {
        auto* splitter = child<QSplitter>("splitContainer1");
        QWidget* handle = splitter->handle(1);
        // The line is one pixel; the toolkit widens only the invisible grab area.
        QCOMPARE(handle->contentsRect().width(), 1);
        const QPoint press = handle->rect().center();
        QTest::mousePress(handle, Qt::LeftButton, {}, press);
        QTest::mouseMove(handle, press + QPoint(60, 0));
        QTest::mouseRelease(handle, Qt::LeftButton, {}, press + QPoint(60, 0));
        const int left = child("Panel1")->width();
        QVERIFY2(left > 493 + 50, qPrintable(QString::number(left)));
        QCOMPARE(left + 1 + child("Panel2")->width(), 993);
        QCOMPARE(form->size(), QSize(995, 557));
    }

    void glyphHover_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("Minimize") << "Minimize";
        QTest::newRow("Close") << "Close";
    }
    void glyphHover() {
        QFETCH(QString, name);
        QWidget* glyph = child(name);
        // A corner of the padding, clear of the glyph itself.
        const QPoint probe = inWindow(glyph).topLeft() + QPoint(2, 2);
        QCOMPARE(form->grab().toImage().pixelColor(probe), QColor(50, 50, 50));
        sendEnter(glyph);
        QCOMPARE(form->grab().toImage().pixelColor(probe), QColor(68, 68, 68));
        sendLeave(glyph);
        QCOMPARE(form->grab().toImage().pixelColor(probe), QColor(50, 50, 50));
    }

    void linkHover_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("ExportsFolderLabel") << "ExportsFolderLabel";
        QTest::newRow("CopyrightLabel") << "CopyrightLabel";
    }
    void linkHover() {
        QFETCH(QString, name);
        QWidget* link = child(name);
        const QSize size = link->size();
        QCOMPARE(link->cursor().shape(), Qt::ArrowCursor);
        sendEnter(link);
        QVERIFY(link->font().underline());
        QCOMPARE(link->font().pointSizeF(), 8.25);
        QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(link->palette().color(QPalette::WindowText), QColor(115, 115, 115));
        QCOMPARE(link->size(), size);
        sendLeave(link);
        QVERIFY(!link->font().underline());
        QCOMPARE(link->font().pointSizeF(), 8.25);
        QCOMPARE(link->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(link->palette().color(QPalette::WindowText), QColor(115, 115, 115));
    }

    void minimize() {
        QTest::mouseClick(child("Minimize"), Qt::LeftButton);
        QTRY_VERIFY(form->isMinimized());
        QVERIFY(form->isVisible());
    }

    // Each click on "About Vantor" shows a new modal dialog, centred; its close
    // glyph hides it and hands control back.
    void aboutDialog() {
        QLabel* about = child<QLabel>("CopyrightLabel");
        QPointer<VantorAbout> first;
        bool seen = false;
        onModalDialog([&](VantorAbout* dialog) {
            seen = true;
            first = dialog;
            QVERIFY(dialog->isVisible());
            QVERIFY(dialog->isModal());
            QCOMPARE(dialog->windowModality(), Qt::ApplicationModal);
            QVERIFY(centredOn(dialog->screen()->availableGeometry(), dialog->geometry()));
            // Dragged away before it is closed.
            const QPoint centred = dialog->pos();
            QWidget* logo = dialog->findChild<QWidget*>("Logo");
            const QPoint mouse = logo->mapToGlobal(QPoint(10, 10));
            QTest::mousePress(logo, Qt::LeftButton, {}, QPoint(10, 10));
            QTest::mouseMove(logo, logo->mapFromGlobal(mouse + QPoint(-60, 40)));
            QTest::mouseRelease(logo, Qt::LeftButton, {}, logo->mapFromGlobal(mouse + QPoint(-60, 40)));
            QCOMPARE(dialog->pos(), centred + QPoint(-60, 40));
        });
        QTest::mouseClick(about, Qt::LeftButton);
        QVERIFY(seen);
        QVERIFY2(!first, "the dialog outlives its showing");
        QVERIFY(!QApplication::activeModalWidget());
        QVERIFY(form->isVisible());

        seen = false;
        onModalDialog([&](VantorAbout* dialog) {
            seen = true;
            QVERIFY(centredOn(dialog->screen()->availableGeometry(), dialog->geometry()));
            QCOMPARE(dialog->findChild<QLabel*>("Title")->text(), QString("PELORIN | Vantor v3.0.1"));
        });
        QTest::mouseClick(about, Qt::LeftButton);
        QVERIFY(seen);
        QVERIFY(!QApplication::activeModalWidget());
    }

    void closeEndsTheEventLoop() {
        QTimer::singleShot(0, [this] { QTest::mouseClick(child("Close"), Qt::LeftButton); });
        // A close that does not end the loop fails here instead of hanging.
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
        guard.start(5000);
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!QApplication::activeModalWidget());
    }
};

QTEST_MAIN(TstChrome)
#include "tst_chrome.moc"
