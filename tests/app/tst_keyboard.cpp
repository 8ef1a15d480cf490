// The windows from the keyboard and through the accessibility interface, on
// the real windows: the focus order, Tab and Ctrl+Tab, the chrome labels'
// focus outline and activation by Return, Enter and Space, the about dialog's
// keys, the context menus from the Menu key, Ctrl+Q, what a screen reader is
// told, the exact window titles and the desktop file name.
#include "ApplicationSetup.h"
#include "PelorinForm.h"
#include "VantorAbout.h"

#include <QAccessible>
#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextBlock>
#include <QTimer>
#include <QWindow>
#include <QtTest>

#include <functional>

using pelorin::PelorinForm;
using pelorin::VantorAbout;

// Stands in for the desktop's file browser and web browser.
class UrlCapture : public QObject {
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void open(const QUrl& url) { urls << url; }
};

namespace {

const QColor TitleStrip(50, 50, 50);

// Runs the check on the modal dialog once it is up; a dialog still shown
// afterwards is rejected, so a failing check cannot hang the suite.
void onModalDialog(std::function<void(VantorAbout*)> check) {
    QTimer::singleShot(0, [check] {
        auto* dialog = qobject_cast<VantorAbout*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        QPointer<VantorAbout> guard(dialog);
        check(dialog);
        if (guard && guard->isVisible())
            guard->reject();
    });
}

// Runs the application's event loop until something ends it, or fails after
// five seconds; returns the loop's exit code.
int runEventLoop() {
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    guard.start(5000);
    return QApplication::exec();
}

QString focusName() {
    QWidget* focused = QApplication::focusWidget();
    return focused ? focused->objectName() : QString("(none)");
}

// Pixels of the label that are lighter than anything its text or background
// draws at rest: the focus outline.
int outlinePixels(QWidget* label) {
    const QImage image = label->grab().toImage();
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((x < 3 || y < 3 || x >= image.width() - 3 || y >= image.height() - 3) &&
                qGray(image.pixel(x, y)) > 150)
                ++count;
    return count;
}

}  // namespace

class TstKeyboard : public QObject {
    Q_OBJECT

    PelorinForm* form = nullptr;
    UrlCapture browser;

    template <typename T = QWidget>
    T* child(const QString& name) const {
        T* found = form->findChild<T*>(name);
        if (!found)
            qFatal("no control %s", qPrintable(name));
        return found;
    }

    void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* target = QApplication::focusWidget();
        QVERIFY(target);
        QTest::keyClick(target, Qt::Key(key), modifiers);
    }

private slots:
    void initTestCase() {
        pelorin::setUpApplication();
        QDesktopServices::setUrlHandler("file", &browser, "open");
        QDesktopServices::setUrlHandler("https", &browser, "open");
    }
    void cleanupTestCase() {
        QDesktopServices::unsetUrlHandler("file");
        QDesktopServices::unsetUrlHandler("https");
    }
    void init() {
        browser.urls.clear();
        form = new PelorinForm;
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form));
    }
    void cleanup() {
        delete form;
        form = nullptr;
    }

    void opensWithTheScssEditorFocused() {
        QCOMPARE(focusName(), QString("SassEditor"));
    }

    // Tab and Shift+Tab go round every control, except that Tab inserts a tab
    // in the SCSS editor; Ctrl+Tab and Ctrl+Shift+Tab go round from anywhere.
    // Leaving the SCSS editor never inserts anything.
    void focusOrder_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("from");
        QTest::addColumn<QStringList>("order");
        const QStringList forward{"CssEditor", "EngineLabel", "ExportsFolderLabel", "CopyrightLabel",
                                  "Minimize", "Close", "SassEditor"};
        const QStringList backward{"Minimize", "CopyrightLabel", "ExportsFolderLabel", "EngineLabel", "CssEditor",
                                   "SassEditor"};
        QTest::newRow("Tab") << int(Qt::Key_Tab) << int(Qt::NoModifier) << "CssEditor" << forward.mid(1);
        QTest::newRow("Shift+Tab") << int(Qt::Key_Backtab) << int(Qt::ShiftModifier) << "SassEditor"
                                   << QStringList{"Close"} + backward;
        QTest::newRow("Ctrl+Tab") << int(Qt::Key_Tab) << int(Qt::ControlModifier) << "SassEditor" << forward;
        QTest::newRow("Ctrl+Shift+Tab") << int(Qt::Key_Tab) << int(Qt::ControlModifier | Qt::ShiftModifier)
                                        << "SassEditor" << QStringList{"Close"} + backward;
        QTest::newRow("Ctrl+Shift+Backtab") << int(Qt::Key_Backtab) << int(Qt::ControlModifier | Qt::ShiftModifier)
                                            << "SassEditor" << QStringList{"Close"} + backward;
    }
    void focusOrder() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, from);
        QFETCH(QStringList, order);
        const QString text = child<QPlainTextEdit>("SassEditor")->toPlainText();
        const int conversions = form->conversionCount();
        child(from)->setFocus(Qt::OtherFocusReason);
        QStringList visited;
        for (int i = 0; i < order.size(); ++i) {
            press(key, Qt::KeyboardModifiers(modifiers));
            visited << focusName();
        }
        QCOMPARE(visited, order);
        QCOMPARE(child<QPlainTextEdit>("SassEditor")->toPlainText(), text);
        QCOMPARE(form->conversionCount(), conversions);
    }

    // A label reached from the keyboard shows a light outline inside its own
    // rectangle; its size, text and look at rest stay as designed.
    void focusOutline_data() {
        QTest::addColumn<QString>("name");
        for (const char* name : {"ExportsFolderLabel", "CopyrightLabel", "Minimize", "Close"})
            QTest::newRow(name) << name;
    }
    void focusOutline() {
        QFETCH(QString, name);
        auto* label = child<QLabel>(name);
        const QSize size = label->size();
        QCOMPARE(outlinePixels(label), 0);
        child("CssEditor")->setFocus(Qt::OtherFocusReason);
        while (focusName() != name)
            press(Qt::Key_Tab);
        const int outline = outlinePixels(label);
        QVERIFY2(outline > label->width() + label->height(), qPrintable(QString::number(outline)));
        QCOMPARE(label->size(), size);
        // Its corner inside the outline keeps the strip's colour.
        QCOMPARE(label->grab().toImage().pixelColor(3, 3), TitleStrip);
        press(Qt::Key_Tab);
        QCOMPARE(outlinePixels(label), 0);
    }

    // Return, Enter and Space on a focused label do what a click does.
    void activation_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("key");
        for (const char* name : {"ExportsFolderLabel", "CopyrightLabel", "Minimize", "Close"})
            for (auto [key, keyName] : {std::pair{Qt::Key_Return, "Return"}, std::pair{Qt::Key_Enter, "Enter"},
                                        std::pair{Qt::Key_Space, "Space"}})
                QTest::newRow(qPrintable(QString(name) + " " + keyName)) << name << int(key);
    }
    void activation() {
        QFETCH(QString, name);
        QFETCH(int, key);
        QWidget* label = child(name);
        label->setFocus(Qt::TabFocusReason);
        QCOMPARE(focusName(), name);
        if (name == "ExportsFolderLabel") {
            press(key);
            QCOMPARE(browser.urls.size(), 1);
            QVERIFY(browser.urls.first().isLocalFile());
        } else if (name == "CopyrightLabel") {
            bool shown = false;
            onModalDialog([&](VantorAbout* dialog) { shown = dialog->isVisible(); });
            press(key);
            QVERIFY(shown);
            QVERIFY(!QApplication::activeModalWidget());
        } else if (name == "Minimize") {
            press(key);
            QTRY_VERIFY(form->isMinimized());
        } else {
            QTimer::singleShot(0, [&] { QTest::keyClick(label, Qt::Key(key)); });
            QCOMPARE(runEventLoop(), 0);
        }
    }

    void ctrlQEndsTheEventLoop() {
        QTimer::singleShot(0, [] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Q, Qt::ControlModifier); });
        QCOMPARE(runEventLoop(), 0);
    }

    // The Menu key and Shift+F10 open the focused editor's own menu at its caret.
    void contextMenuFromKeyboard_data() {
        QTest::addColumn<QString>("editor");
        QTest::addColumn<QString>("menu");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        for (auto [editor, menu] : {std::pair{"SassEditor", "EditorOptions"}, std::pair{"CssEditor", "CssEditorOptions"}}) {
            QTest::newRow(qPrintable(QString(editor) + " Menu")) << editor << menu << int(Qt::Key_Menu) << int(Qt::NoModifier);
            QTest::newRow(qPrintable(QString(editor) + " Shift+F10"))
                << editor << menu << int(Qt::Key_F10) << int(Qt::ShiftModifier);
        }
    }
    void contextMenuFromKeyboard() {
        QFETCH(QString, editor);
        QFETCH(QString, menu);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        auto* edit = child<QPlainTextEdit>(editor);
        auto* popup = child<QMenu>(menu);
        edit->setFocus(Qt::OtherFocusReason);
        QTextCursor caret(edit->document()->findBlockByNumber(4));
        caret.movePosition(QTextCursor::EndOfBlock);
        edit->setTextCursor(caret);
        const QPoint at = edit->viewport()->mapToGlobal(edit->cursorRect().center());
        press(key, Qt::KeyboardModifiers(modifiers));
        QTRY_VERIFY(popup->isVisible());
        QVERIFY2((popup->pos() - at).manhattanLength() <= 2,
                 qPrintable(QString("menu at %1,%2, caret at %3,%4")
                                .arg(popup->x()).arg(popup->y()).arg(at.x()).arg(at.y())));
        popup->close();
        QTRY_VERIFY(!popup->isVisible());
    }

    void menuKeyElsewhereOpensNothing() {
        child("Minimize")->setFocus(Qt::TabFocusReason);
        press(Qt::Key_Menu);
        QApplication::processEvents();
        QVERIFY(!QApplication::activePopupWidget());
        QVERIFY(form->isVisible());
    }

    // The about dialog: its close glyph has the focus when it opens (without an
    // outline until the keyboard moves it); Tab goes round it and both links,
    // Return and Space act, Esc closes.
    void aboutDialogFromKeyboard() {
        browser.urls.clear();
        QStringList visited;
        int outlineAtOpen = -1;
        QList<QUrl> opened;
        onModalDialog([&](VantorAbout* dialog) {
            QVERIFY(QTest::qWaitForWindowActive(dialog));
            outlineAtOpen = outlinePixels(dialog->findChild<QWidget*>("Close"));
            visited << focusName();
            for (int i = 0; i < 3; ++i) {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                visited << focusName();
            }
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
            visited << focusName();
            // The libsass link, then the web address, from the keyboard.
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
            opened = browser.urls;
            QVERIFY(dialog->isVisible());
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        });
        child("CopyrightLabel")->setFocus(Qt::TabFocusReason);
        press(Qt::Key_Return);
        QCOMPARE(visited, (QStringList{"Close", "WebUrl", "LibsassLink", "Close", "LibsassLink"}));
        QCOMPARE(outlineAtOpen, 0);
        QCOMPARE(opened, (QList<QUrl>{QUrl(VANTOR_LIBSASS_URL), QUrl(VANTOR_WEBSITE_URL)}));
        // Esc ended the modal showing; the main window goes on.
        QVERIFY(!QApplication::activeModalWidget());
        QVERIFY(form->isVisible());
    }

    void aboutDialogCloseGlyphFromKeyboard_data() {
        QTest::addColumn<int>("key");
        QTest::newRow("Return") << int(Qt::Key_Return);
        QTest::newRow("Space") << int(Qt::Key_Space);
    }
    void aboutDialogCloseGlyphFromKeyboard() {
        QFETCH(int, key);
        VantorAbout dialog;
        QTimer::singleShot(0, [&] {
            QTest::keyClick(dialog.findChild<QWidget*>("Close"), Qt::Key(key));
        });
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, &dialog, &QDialog::accept);
        guard.start(5000);
        QCOMPARE(dialog.exec(), int(QDialog::Rejected));
        QVERIFY(guard.isActive());
    }

    // What a screen reader is told of each control.
    void accessibility_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("role");
        QTest::addColumn<QString>("accessibleName");
        QTest::addColumn<QString>("description");
        QTest::newRow("SassEditor") << "SassEditor" << int(QAccessible::EditableText) << "SCSS editor" << "SCSS input";
        QTest::newRow("CssEditor") << "CssEditor" << int(QAccessible::EditableText) << "CSS editor" << "CSS output";
        QTest::newRow("Status") << "Status" << int(QAccessible::StaticText) << "Compiled in" << "Compile time";
        QTest::newRow("MessageBox") << "MessageBox" << int(QAccessible::StaticText) << "Compiler message"
                                    << "Compiler message";
        QTest::newRow("Minimize") << "Minimize" << int(QAccessible::Button) << "Minimize" << "Minimize";
        QTest::newRow("Close") << "Close" << int(QAccessible::Button) << "Close" << "Close";
        QTest::newRow("ExportsFolderLabel") << "ExportsFolderLabel" << int(QAccessible::Link) << "Open Exports Folder"
                                            << "";
        QTest::newRow("CopyrightLabel") << "CopyrightLabel" << int(QAccessible::Link) << "About Vantor" << "";
        QTest::newRow("Title") << "Title" << int(QAccessible::StaticText) << "PELORIN | Vantor" << "";
        QTest::newRow("Logo") << "Logo" << int(QAccessible::Graphic) << "PELORIN logo" << "";
    }
    void accessibility() {
        QFETCH(QString, name);
        QFETCH(int, role);
        QFETCH(QString, accessibleName);
        QFETCH(QString, description);
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(child(name));
        QVERIFY(iface && iface->isValid());
        QCOMPARE(int(iface->role()), role);
        // The status line is named by its text, which says the time.
        QVERIFY2(iface->text(QAccessible::Name).startsWith(accessibleName), qPrintable(iface->text(QAccessible::Name)));
        QCOMPARE(iface->text(QAccessible::Description), description);
    }

    // The message line is named by the compiler's text while there is one.
    void messageLineNamedByItsText() {
        auto* sass = child<QPlainTextEdit>("SassEditor");
        sass->selectAll();
        sass->insertPlainText("a { b: $nope; }");
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(child("MessageBox"));
        QCOMPARE(iface->text(QAccessible::Name), QString("Undefined variable: \"$nope\"."));
        QCOMPARE(iface->text(QAccessible::Description), QString("Compiler message"));
    }

    // Every control of both windows has a name; the chrome labels can be pressed.
    void everyControlNamed() {
        QWidgetList widgets{form};
        for (QWidget* w : form->findChildren<QWidget*>())
            if (!w->objectName().isEmpty() && !w->objectName().startsWith("qt_") && w->objectName() != "gutter" &&
                !w->isWindow())
                widgets << w;
        VantorAbout dialog;
        widgets << &dialog;
        widgets << dialog.findChildren<QWidget*>();
        for (QWidget* w : widgets) {
            QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
            QVERIFY2(iface, qPrintable(w->objectName()));
            QVERIFY2(!iface->text(QAccessible::Name).trimmed().isEmpty(), qPrintable(w->objectName()));
        }
        QCOMPARE(QAccessible::queryAccessibleInterface(&dialog)->text(QAccessible::Name), QString("About Vantor"));
        QCOMPARE(dialog.windowTitle(), QString("VantorAbout"));
        QAccessibleInterface* web = QAccessible::queryAccessibleInterface(dialog.findChild<QWidget*>("WebUrl"));
        QCOMPARE(int(web->role()), int(QAccessible::Link));
        QCOMPARE(web->text(QAccessible::Name), QString(VANTOR_WEBSITE_URL));
        QCOMPARE(web->text(QAccessible::Description), QString("Open Website"));
        QCOMPARE(int(QAccessible::queryAccessibleInterface(dialog.findChild<QWidget*>("LibsassLink"))->role()),
                 int(QAccessible::Link));
        QCOMPARE(int(QAccessible::queryAccessibleInterface(dialog.findChild<QWidget*>("Close"))->role()),
                 int(QAccessible::Button));
    }

    void pressActionActsAsAClick() {
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(child("Minimize"));
        QAccessibleActionInterface* actions = iface->actionInterface();
        QVERIFY(actions);
        QVERIFY(actions->actionNames().contains(QAccessibleActionInterface::pressAction()));
        actions->doAction(QAccessibleActionInterface::pressAction());
        QTRY_VERIFY(form->isMinimized());
    }

    // The desktop shows the titles as they are, with nothing appended, and
    // matches the windows to the installed desktop entry.
    void windowTitlesAndDesktopEntry() {
        QCOMPARE(form->windowTitle(), QString("PELORIN | Vantor v2.5.1"));
        QCOMPARE(form->windowHandle()->title(), QString("PELORIN | Vantor v2.5.1"));
        VantorAbout dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.windowHandle()->title(), QString("VantorAbout"));
        // No display name of its own, which the desktop would append to each title.
        QCOMPARE(QGuiApplication::applicationDisplayName(), QGuiApplication::applicationName());
        QCOMPARE(QGuiApplication::desktopFileName(), QString("io.pelorin.Vantor"));
        QCOMPARE(QGuiApplication::applicationName(), QString("Vantor"));
    }
};

QTEST_MAIN(TstKeyboard)
#include "tst_keyboard.moc"
