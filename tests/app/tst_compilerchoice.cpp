// The compiler choice on the real window: the Compiler submenu by its actions
// and by keyboard, the output styles Dart Sass lacks, the message line's way
// from libsass's refusal of @use to a Dart Sass conversion, the footer's
// engine name, an engine that cannot run, and the rest of the window (drops,
// warnings, errors, the CPU-time stop) on Dart Sass.
#include "Options.h"
#include "PelorinForm.h"
#include "CodeEditor.h"
#include "ElidedLabel.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QToolTip>
#include <QtTest>

#include <memory>

using pelorin::CodeEditor;
using pelorin::ElidedLabel;
using pelorin::PelorinForm;

namespace {

const QString UseMath = "@use \"sass:math\";\na { b: math.div(10px, 4); }\n";
const QString UseMathCss = "a {\n    b: 2.5px;\n}\n";

// Sets an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value) : name_(name), had_(qEnvironmentVariableIsSet(name)) {
        old_ = qgetenv(name);
        qputenv(name, value);
    }
    ~ScopedEnv() {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }

private:
    const char* name_;
    bool had_;
    QByteArray old_;
};

}  // namespace

class TstCompilerChoice : public QObject {
    Q_OBJECT

    PelorinForm* form = nullptr;
    CodeEditor* sass = nullptr;
    QPlainTextEdit* css = nullptr;
    ElidedLabel* message = nullptr;
    QString startFolder;

    void makeForm() {
        options = VantorCompiler::CompilerOptions();
        form = new PelorinForm;
        sass = form->findChild<CodeEditor*>("SassEditor");
        css = form->findChild<QPlainTextEdit*>("CssEditor");
        message = form->findChild<ElidedLabel*>("MessageBox");
        QVERIFY(sass && css && message);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form));
        QApplication::setActiveWindow(form);
    }
    template <typename T>
    T* child(const char* name) {
        auto* c = form->findChild<T*>(name);
        if (!c)
            qFatal("no child %s", name);
        return c;
    }
    QAction* action(const char* name) { return child<QAction>(name); }
    QMenu* menu(const char* name) { return child<QMenu>(name); }
    QWidget* link() { return child<QWidget>("ConvertWithDartSass"); }
    QLabel* engineLabel() { return child<QLabel>("EngineLabel"); }
    QStringList checked(const char* menuName) {
        QStringList names;
        for (const QAction* a : menu(menuName)->actions())
            if (a->isChecked())
                names << a->objectName();
        return names;
    }
    void setSource(const QString& text) {
        sass->selectAll();
        sass->insertPlainText(text);
    }
    static void needDartSass() {
        if (const char* problem = VantorCompiler::engine_error(VantorCompiler::DartSass))
            QSKIP(problem);
    }

private slots:
    void initTestCase() { startFolder = QDir::currentPath(); }
    void init() { makeForm(); }
    void cleanup() {
        QApplication::closeAllWindows();
        delete form;
        form = nullptr;
        options = VantorCompiler::CompilerOptions();
        QDir::setCurrent(startFolder);
    }

    void submenuAndFooterAtStart() {
        QStringList texts;
        for (const QAction* a : menu("EditorOptions")->actions())
            texts << (a->isSeparator() ? QString("-") : a->text());
        QCOMPARE(texts.mid(texts.size() - 4), QStringList({"-", "Source Map Embed", "-", "Compiler"}));
        QCOMPARE(menu("EditorOptions")->actions().last()->menu(), menu("compilerToolStripMenuItem"));
        QStringList entries;
        for (const QAction* a : menu("compilerToolStripMenuItem")->actions())
            entries << a->objectName() + "=" + a->text();
        QCOMPARE(entries, QStringList({"libsassToolStripMenuItem=libsass 3.6.5",
                                       "dartSassToolStripMenuItem=" + QString(VantorCompiler::engine_error(
                                                                          VantorCompiler::DartSass)
                                                                          ? "Dart Sass (not available)"
                                                                          : "Dart Sass 1.108.2")}));
        QCOMPARE(checked("compilerToolStripMenuItem"), QStringList{"libsassToolStripMenuItem"});
        QCOMPARE(engineLabel()->text(), QString("libsass 3.6.5"));
        // Far right of the footer, right of the status line.
        const QWidget* footer = child<QWidget>("Footer");
        const QLabel* status = child<QLabel>("Status");
        QCOMPARE(engineLabel()->geometry().right(), footer->width() - 1);
        QVERIFY(status->geometry().right() < engineLabel()->x());
        QVERIFY(status->text().startsWith("Compiled in "));
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(engineLabel());
        QCOMPARE(a->text(QAccessible::Name), QString("Compiler: libsass 3.6.5"));
        QCOMPARE(a->role(), QAccessible::ButtonMenu);
    }

    // Each entry chosen by its action: the value, the conversion, then the marks and the footer.
    void chooseByAction() {
        needDartSass();
        setSource(UseMath);
        QCOMPARE(int(VantorCompiler::CompilerOptions().engine), int(VantorCompiler::Libsass));
        QVERIFY(css->toPlainText().isEmpty());
        const int before = form->conversionCount();
        action("dartSassToolStripMenuItem")->trigger();
        QCOMPARE(form->conversionCount(), before + 1);
        QCOMPARE(int(options.engine), int(VantorCompiler::DartSass));
        QCOMPARE(css->toPlainText(), UseMathCss);
        QCOMPARE(message->text(), QString());
        QCOMPARE(checked("compilerToolStripMenuItem"), QStringList{"dartSassToolStripMenuItem"});
        QCOMPARE(engineLabel()->text(), QString("Dart Sass 1.108.2"));
        // Choosing the checked entry again converts again and keeps one check.
        action("dartSassToolStripMenuItem")->trigger();
        QCOMPARE(form->conversionCount(), before + 2);
        QCOMPARE(checked("compilerToolStripMenuItem"), QStringList{"dartSassToolStripMenuItem"});
        action("libsassToolStripMenuItem")->trigger();
        QCOMPARE(int(options.engine), int(VantorCompiler::Libsass));
        QCOMPARE(checked("compilerToolStripMenuItem"), QStringList{"libsassToolStripMenuItem"});
        QCOMPARE(engineLabel()->text(), QString("libsass 3.6.5"));
        QVERIFY(css->toPlainText().isEmpty());
        QVERIFY(message->text().contains("is not supported by libsass"));
        // The text is the user's, untouched by every switch.
        QCOMPARE(sass->toPlainText(), UseMath);
    }

    // Shift+F10 opens the menu at the caret; Up from the top reaches the Compiler submenu first.
    void chooseByKeyboard() {
        needDartSass();
        sass->setFocus();
        QTRY_VERIFY(sass->hasFocus());
        QMenu* editorMenu = menu("EditorOptions");
        QMenu* compiler = menu("compilerToolStripMenuItem");
        QTest::keyClick(sass, Qt::Key_F10, Qt::ShiftModifier);
        QTRY_VERIFY(editorMenu->isVisible());
        QTest::keyClick(editorMenu, Qt::Key_Up);
        QCOMPARE(editorMenu->activeAction(), compiler->menuAction());
        QTest::keyClick(editorMenu, Qt::Key_Right);
        QTRY_VERIFY(compiler->isVisible());
        QCOMPARE(compiler->activeAction(), action("libsassToolStripMenuItem"));
        QTest::keyClick(compiler, Qt::Key_Down);
        QCOMPARE(compiler->activeAction(), action("dartSassToolStripMenuItem"));
        QTest::keyClick(compiler, Qt::Key_Return);
        QTRY_VERIFY(!editorMenu->isVisible());
        QCOMPARE(int(options.engine), int(VantorCompiler::DartSass));
        QCOMPARE(checked("compilerToolStripMenuItem"), QStringList{"dartSassToolStripMenuItem"});
        QCOMPARE(engineLabel()->text(), QString("Dart Sass 1.108.2"));
    }

    // The footer's engine name opens the Compiler submenu, by click and by Return.
    void engineLabelOpensTheSubmenu_data() {
        QTest::addColumn<bool>("byKeyboard");
        QTest::newRow("click") << false;
        QTest::newRow("Return") << true;
    }
    void engineLabelOpensTheSubmenu() {
        QFETCH(bool, byKeyboard);
        QMenu* compiler = menu("compilerToolStripMenuItem");
        if (byKeyboard) {
            engineLabel()->setFocus(Qt::TabFocusReason);
            QTRY_VERIFY(engineLabel()->hasFocus());
            QTest::keyClick(engineLabel(), Qt::Key_Return);
        } else {
            QTest::mouseClick(engineLabel(), Qt::LeftButton, Qt::NoModifier, engineLabel()->rect().center());
        }
        QTRY_VERIFY(compiler->isVisible());
        // Opened above the label, with the engine in effect active for the arrows.
        QVERIFY(compiler->geometry().bottom() <= engineLabel()->mapToGlobal(QPoint(0, 0)).y());
        QCOMPARE(compiler->activeAction(), action("libsassToolStripMenuItem"));
        compiler->close();
    }

    // Dart Sass lacks Nested and Compact: they are disabled while it is chosen, and a check
    // on one moves to Expanded, the style then in effect. Back on libsass the style stays.
    void stylesDartSassLacks_data() {
        QTest::addColumn<QString>("style");
        QTest::addColumn<QString>("onDartSass");
        QTest::newRow("Nested") << "nestedToolStripMenuItem" << "expandedToolStripMenuItem";
        QTest::newRow("Compact") << "compactToolStripMenuItem" << "expandedToolStripMenuItem";
        QTest::newRow("Expanded") << "expandedToolStripMenuItem" << "expandedToolStripMenuItem";
        QTest::newRow("Compressed") << "compressedToolStripMenuItem" << "compressedToolStripMenuItem";
    }
    void stylesDartSassLacks() {
        needDartSass();
        QFETCH(QString, style);
        QFETCH(QString, onDartSass);
        setSource("a { b: c; d { e: f; } }");
        action(qPrintable(style))->trigger();
        const QString libsassCss = css->toPlainText();
        action("dartSassToolStripMenuItem")->trigger();
        QCOMPARE(checked("outputStyleToolStripMenuItem"), QStringList{onDartSass});
        QCOMPARE(int(options.output_style), int(onDartSass == "compressedToolStripMenuItem" ? VantorCompiler::Compressed
                                                                                           : VantorCompiler::Expanded));
        QCOMPARE(message->text(), QString());
        QCOMPARE(css->toPlainText(), QString(onDartSass == "compressedToolStripMenuItem" ? "a{b:c}a d{e:f}\n"
                                                                                        : "a {\n    b: c;\n}\na d {\n    e: f;\n}\n"));
        for (const char* lacking : {"nestedToolStripMenuItem", "compactToolStripMenuItem"}) {
            QVERIFY(!action(lacking)->isEnabled());
            QCOMPARE(action(lacking)->toolTip(), QString("Dart Sass writes Expanded and Compressed CSS"));
        }
        QVERIFY(action("expandedToolStripMenuItem")->isEnabled());
        // A disabled item does nothing when triggered.
        action("nestedToolStripMenuItem")->trigger();
        QCOMPARE(checked("outputStyleToolStripMenuItem"), QStringList{onDartSass});
        action("libsassToolStripMenuItem")->trigger();
        for (const char* lacking : {"nestedToolStripMenuItem", "compactToolStripMenuItem"})
            QVERIFY(action(lacking)->isEnabled());
        QCOMPARE(checked("outputStyleToolStripMenuItem"), QStringList{onDartSass});
        if (onDartSass == style)
            QCOMPARE(css->toPlainText(), libsassCss);
        // Indent settings apply to Dart Sass's output too.
        action("dartSassToolStripMenuItem")->trigger();
        action("expandedToolStripMenuItem")->trigger();
        action("tabsToolStripMenuItem")->trigger();
        action("toolStripMenuItem2")->trigger();
        QCOMPARE(css->toPlainText(), QString("a {\n\tb: c;\n}\na d {\n\te: f;\n}\n"));
    }

    // libsass refuses @use; the link at the message's end converts with Dart Sass, by mouse
    // or from the keyboard, and goes with the refusal.
    void refusalLinkConverts_data() {
        QTest::addColumn<bool>("byKeyboard");
        QTest::newRow("mouse") << false;
        QTest::newRow("keyboard") << true;
    }
    void refusalLinkConverts() {
        needDartSass();
        QFETCH(bool, byKeyboard);
        setSource(UseMath);
        QWidget* convert = link();
        QVERIFY(convert->isVisible());
        QVERIFY(message->text().startsWith("@use is not supported by libsass; Dart Sass converts it"));
        // The line is cut to leave the link its room, right after it and inside the strip.
        QVERIFY(message->isElided());
        QVERIFY(message->shownText().startsWith("@use is not supported by libsass; Dart Sass converts it"));
        QCOMPARE(convert->x(), message->geometry().right() + 1);
        QVERIFY(convert->geometry().right() < child<QWidget>("OptionsBar")->width());
        QVERIFY(message->toolTip().contains("global functions instead"));
        QAccessibleInterface* line = QAccessible::queryAccessibleInterface(message);
        QCOMPARE(line->text(QAccessible::Description), message->text());
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(convert);
        QCOMPARE(a->text(QAccessible::Name), QString("Convert with Dart Sass"));
        QCOMPARE(a->role(), QAccessible::Link);
        if (byKeyboard) {
            sass->setFocus();
            QTRY_VERIFY(sass->hasFocus());
            // A Tab stop right after the SCSS editor while it shows.
            QTest::keyClick(sass, Qt::Key_Tab, Qt::ControlModifier);
            QTRY_VERIFY(convert->hasFocus());
            QTest::keyClick(convert, Qt::Key_Return);
        } else {
            QTest::mouseClick(convert, Qt::LeftButton, Qt::NoModifier, convert->rect().center());
        }
        QCOMPARE(int(options.engine), int(VantorCompiler::DartSass));
        QCOMPARE(checked("compilerToolStripMenuItem"), QStringList{"dartSassToolStripMenuItem"});
        QCOMPARE(css->toPlainText(), UseMathCss);
        QCOMPARE(message->text(), QString());
        QVERIFY(!convert->isVisible());
        if (byKeyboard)
            QTRY_VERIFY(sass->hasFocus());
        QCOMPARE(sass->toPlainText(), UseMath);
        // Hidden, it is no Tab stop: Ctrl+Tab goes from the SCSS editor to the CSS editor.
        sass->setFocus();
        QTest::keyClick(sass, Qt::Key_Tab, Qt::ControlModifier);
        QTRY_VERIFY(css->hasFocus());
    }

    // With VANTOR_DART_SASS at an empty folder Dart Sass cannot run: its entry says so and is
    // disabled with the reason, and the refusal offers no link but says why.
    void dartSassNotAvailable() {
        delete form;
        form = nullptr;
        QTemporaryDir empty;
        QVERIFY(empty.isValid());
        ScopedEnv env("VANTOR_DART_SASS", empty.path().toUtf8());
        const QString problem = QString::fromUtf8(VantorCompiler::engine_error(VantorCompiler::DartSass));
        QVERIFY(!problem.isEmpty());
        makeForm();
        QAction* entry = action("dartSassToolStripMenuItem");
        QCOMPARE(entry->text(), QString("Dart Sass (not available)"));
        QVERIFY(!entry->isEnabled());
        QCOMPARE(entry->toolTip(), problem);
        setSource(UseMath);
        QVERIFY(!link()->isVisibleTo(form));
        QVERIFY2(message->text().contains("cannot run here (" + problem + ")"), qPrintable(message->text()));
        entry->trigger();
        QCOMPARE(int(options.engine), int(VantorCompiler::Libsass));
        QCOMPARE(checked("compilerToolStripMenuItem"), QStringList{"libsassToolStripMenuItem"});
    }

    // A dropped file whose folder holds the partials it loads with @use and @forward.
    void droppedFileUsesItsPartials() {
        needDartSass();
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        QDir(folder.path()).mkpath("partials");
        auto write = [&](const QString& name, const QByteArray& bytes) {
            QFile file(folder.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bytes);
        };
        write("partials/_colors.scss", "$brand: #336699 !default;\n");
        write("partials/_index.scss", "@forward \"colors\";\n");
        write("main.scss", "@use \"partials\" as p;\n.a { color: p.$brand; }\n");
        action("dartSassToolStripMenuItem")->trigger();
        auto mime = std::make_unique<QMimeData>();
        mime->setUrls({QUrl::fromLocalFile(folder.filePath("main.scss"))});
        const QPoint at = sass->viewport()->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(sass->viewport(), &enter);
        QDropEvent drop(QPointF(at), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(sass->viewport(), &drop);
        QCOMPARE(message->text(), QString());
        QCOMPARE(css->toPlainText(), QString(".a {\n    color: #336699;\n}\n"));
        // An error inside the partial marks the @use line and names the partial.
        write("partials/_colors.scss", "$brand: #336699 !default;\n$broken: 1px + 1em;\n");
        setSource(sass->toPlainText() + " ");
        QCOMPARE(sass->errorLine(), 1);
        QVERIFY(css->toPlainText().isEmpty());
    }

    // Warnings at their lines and an error switched between engines: each engine's own
    // message and mark, and the text kept.
    void switchWhileAnErrorShows() {
        needDartSass();
        const QString text = "$x: 1;\n@warn \"careful\";\n.a {\n  b: $undefined;\n}\n";
        setSource(text);
        QVERIFY(message->text().contains("Undefined variable"));
        QCOMPARE(sass->errorLine(), 4);
        QCOMPARE(sass->warningLines(), QList<int>{2});
        action("dartSassToolStripMenuItem")->trigger();
        QVERIFY2(message->text().startsWith("Undefined variable."), qPrintable(message->text()));
        QCOMPARE(sass->errorLine(), 4);
        QCOMPARE(sass->warningLines(), QList<int>{2});
        QVERIFY(sass->warningsAt(2).constFirst().startsWith("WARNING: careful"));
        QVERIFY(css->toPlainText().isEmpty());
        // Fixed on Dart Sass, then back to libsass: no error on either.
        setSource("$x: 1;\n.a {\n  b: $x;\n}\n");
        QCOMPARE(message->text(), QString());
        QCOMPARE(sass->errorLine(), 0);
        QCOMPARE(css->toPlainText(), QString(".a {\n    b: 1;\n}\n"));
        action("libsassToolStripMenuItem")->trigger();
        QCOMPARE(message->text(), QString());
        QCOMPARE(css->toPlainText(), QString(".a {\n    b: 1;\n}\n"));
        // A refusal shown, then Dart Sass chosen from the menu: the link goes with it.
        setSource(UseMath);
        QVERIFY(link()->isVisible());
        action("dartSassToolStripMenuItem")->trigger();
        QVERIFY(!link()->isVisible());
        QCOMPARE(css->toPlainText(), UseMathCss);
    }

    // An endless loop on Dart Sass stops at the CPU-time limit; the text stays as typed and
    // the next edit converts again.
    void endlessLoopStopsOnDartSass() {
        needDartSass();
        action("dartSassToolStripMenuItem")->trigger();
        const QString loop = "$i: 0;\n@while true { $i: $i + 1; }\n";
        setSource(loop);
        QVERIFY2(message->text().startsWith("Compilation stopped after"), qPrintable(message->text()));
        QCOMPARE(sass->toPlainText(), loop);
        QVERIFY(css->toPlainText().isEmpty());
        QVERIFY(!link()->isVisibleTo(form));
        setSource("a { b: c; }");
        QCOMPARE(message->text(), QString());
        QCOMPARE(css->toPlainText(), QString("a {\n    b: c;\n}\n"));
    }
};

QTEST_MAIN(TstCompilerChoice)
#include "tst_compilerchoice.moc"
