// Renders the main window and the about dialog off screen and saves them as
// main-window.png, main-window-error.png (a compiler error marked in the
// editor), main-window-long-message.png (a message cut with an ellipsis),
// main-window-warnings.png (@warn and @debug at their lines),
// main-window-focus.png (the keyboard focus on "About Vantor"),
// main-window-refusal.png (libsass refusing @use, with the way to Dart Sass),
// about-dialog.png and about-dialog-focus.png (the focus on the web address)
// in the folder given as argument. On a real display server (under Xvfb:
// QT_QPA_PLATFORM=xcb xvfb-run -s "-screen 0 1280x800x24" vantor-screenshots FOLDER)
// it also saves compiler-menu.png: the SCSS editor's menu open on its Compiler
// submenu, taken from the screen, since menus are windows of their own.
#include "PelorinForm.h"
#include "VantorAbout.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDeadlineTimer>
#include <QDir>
#include <QGuiApplication>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTest>
#include <QTextBlock>
#include <QStyleFactory>
#include <QTextStream>

#include <cstdlib>

namespace {

bool save(QWidget& window, const QDir& folder, const QString& name) {
    window.show();
    QApplication::processEvents();
    const QString path = folder.filePath(name);
    if (!window.grab().save(path)) {
        QTextStream(stderr) << "vantor-screenshots: cannot write " << path << "\n";
        return false;
    }
    QTextStream(stdout) << path << "\n";
    window.hide();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        QTextStream(stderr) << "usage: vantor-screenshots FOLDER\n";
        return 2;
    }
    if (!std::getenv("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    QApplication app(argc, argv);

    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(folder.path())) {
        QTextStream(stderr) << "vantor-screenshots: cannot create " << folder.path() << "\n";
        return 1;
    }
    pelorin::PelorinForm window;
    pelorin::VantorAbout about;
    bool ok = save(window, folder, "main-window.png") && save(about, folder, "about-dialog.png");
    if (ok) {
        auto* sass = window.findChild<QPlainTextEdit*>("SassEditor");
        QTextCursor cursor = sass->document()->find("40%");
        cursor.insertText("$amount");
        ok = save(window, folder, "main-window-error.png");
    }
    if (ok) {
        // A message longer than the strip, cut with an ellipsis.
        auto* sass = window.findChild<QPlainTextEdit*>("SassEditor");
        QTextCursor cursor = sass->document()->find("$amount");
        cursor.insertText("40%");
        cursor = sass->document()->find("button {");
        cursor.insertText("@error \"" + QString("A long message: the line shows what fits and ends in an ellipsis; ")
                              .repeated(3) + "\";\nbutton {");
        ok = save(window, folder, "main-window-long-message.png");
        // Warnings drawn at their lines (as soon as the library reports them).
        sass->undo();
        cursor = sass->document()->find("button {");
        cursor.insertText("@warn \"buttons move to .btn\";\nbutton {");
        cursor = sass->document()->find("&:hover {");
        cursor.insertText("@debug 2;\n    &:hover {");
        ok = ok && save(window, folder, "main-window-warnings.png");
    }
    if (ok) {
        // A fresh window, whose focus shows once it is active.
        pelorin::PelorinForm focused;
        focused.show();
        focused.activateWindow();
        QDeadlineTimer deadline(2000);
        while (!focused.isActiveWindow() && !deadline.hasExpired())
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        focused.findChild<QWidget*>("CopyrightLabel")->setFocus(Qt::TabFocusReason);
        ok = save(focused, folder, "main-window-focus.png");
    }
    if (ok) {
        pelorin::VantorAbout focusedAbout;
        focusedAbout.show();
        focusedAbout.activateWindow();
        QDeadlineTimer deadline(2000);
        while (!focusedAbout.isActiveWindow() && !deadline.hasExpired())
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        focusedAbout.findChild<QWidget*>("WebUrl")->setFocus(Qt::TabFocusReason);
        ok = save(focusedAbout, folder, "about-dialog-focus.png");
    }
    if (ok) {
        pelorin::PelorinForm refused;
        auto* sass = refused.findChild<QPlainTextEdit*>("SassEditor");
        sass->setPlainText("@use \"sass:math\";\n\n.grid {\n    width: math.div(100%, 3);\n}\n");
        ok = save(refused, folder, "main-window-refusal.png");
    }
    if (ok && QGuiApplication::platformName() == "xcb") {
        pelorin::PelorinForm window2;
        window2.show();
        window2.activateWindow();
        QDeadlineTimer deadline(3000);
        while (!window2.isActiveWindow() && !deadline.hasExpired())
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        auto* sass = window2.findChild<QPlainTextEdit*>("SassEditor");
        auto* editorMenu = window2.findChild<QMenu*>("EditorOptions");
        auto* compiler = window2.findChild<QMenu*>("compilerToolStripMenuItem");
        sass->setFocus();
        QTextCursor caret(sass->document()->findBlockByNumber(6));
        sass->setTextCursor(caret);
        QContextMenuEvent request(QContextMenuEvent::Keyboard, QPoint(), QPoint());
        QApplication::sendEvent(sass, &request);
        QTest::qWait(300);
        QTest::keyClick(editorMenu, Qt::Key_Up);
        QTest::keyClick(editorMenu, Qt::Key_Right);
        QTest::qWait(300);
        QTest::keyClick(compiler, Qt::Key_Down);
        QTest::qWait(500);
        const QRect area = window2.frameGeometry().united(editorMenu->geometry()).united(compiler->geometry());
        const QPixmap shot = window2.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
        const QString path = folder.filePath("compiler-menu.png");
        ok = shot.save(path);
        QTextStream(ok ? stdout : stderr) << (ok ? path : "vantor-screenshots: cannot write " + path) << "\n";
        editorMenu->close();
    }
    return ok ? 0 : 1;
}
