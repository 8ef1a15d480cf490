#include "Options.h"
#include "CodeEditor.h"
#include "DocumentText.h"
#include "ElidedLabel.h"
#include "LongLine.h"
#include "PelorinForm.h"
#include "ChromeLabel.h"

#include <QAccessible>
#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QtTest>

using pelorin::PelorinForm;

namespace {

const QString SampleCss = QStringLiteral(
    "/** sass/scss code */\n"
    "button {\n"
    "    display: flex;\n"
    "    border: none;\n"
    "    padding: 7px 12px;\n"
    "    margin-left: 16px;\n"
    "    font-family: inherit;\n"
    "    color: #4f1a35;\n"
    "    background: #e1a1c1;\n"
    "}\n"
    "\n"
    "button:hover {\n"
    "    background: #edc7da;\n"
    "}\n"
    "\n"
    "button:focus {\n"
    "    outline: none;\n"
    "}\n");

const QRegularExpression CompiledIn(QStringLiteral("^Compiled in \\d+(\\.\\d+)? seconds$"));

// Whether the library reports warnings for this text (before it does, the
// window tests that need them skip).
bool libraryWarns(const char* scss = "@warn \"x\";") {
    VantorCompiler::CompilerOptions o;
    o.input = sass_copy_c_string(scss);
    VantorCompiler::compile(o);
    const bool warns = VantorCompiler::warning_count() > 0;
    VantorCompiler::free_memory();
    return warns;
}

// The longest line of a text.
qsizetype longestLine(const QString& text) {
    qsizetype longest = 0;
    for (const QStringView line : QStringView(text).split(u'\n'))
        longest = qMax(longest, line.size());
    return longest;
}

}  // namespace

class TstPelorinForm : public QObject {
    Q_OBJECT

    PelorinForm* form = nullptr;
    QPlainTextEdit* sass = nullptr;
    QPlainTextEdit* css = nullptr;
    QLabel* message = nullptr;
    QLabel* status = nullptr;

    // Replaces the SCSS text as one edit, as a paste would.
    void setSource(const QString& text) {
        sass->selectAll();
        sass->insertPlainText(text);
    }

private slots:
    void init() {
        form = new PelorinForm;
        sass = form->findChild<QPlainTextEdit*>("SassEditor");
        css = form->findChild<QPlainTextEdit*>("CssEditor");
        message = form->findChild<QLabel*>("MessageBox");
        status = form->findChild<QLabel*>("Status");
        QVERIFY(sass && css && message && status);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form));
    }
    void cleanup() {
        delete form;
        form = nullptr;
    }

    void sampleConvertedOnStart() {
        QCOMPARE(form->conversionCount(), 1);
        QCOMPARE(css->toPlainText(), SampleCss);
        QCOMPARE(message->text(), QString());
        QVERIFY2(CompiledIn.match(status->text()).hasMatch(), qPrintable(status->text()));
        QVERIFY(css->isReadOnly());
        QVERIFY(!sass->isReadOnly());
        // Byte for byte the sample: nine spaces before the hover background, no final line break.
        const QString text = sass->toPlainText();
        QVERIFY(text.startsWith("/** sass/scss code */\n\n$color-base: #ce679b;\n"));
        QVERIFY(text.contains("\n         background: lighten($color-base, 25%);\n"));
        QVERIFY(text.endsWith("    }\n}"));
        QCOMPARE(text.count('\n'), 20);
        // The options record starts at its defaults.
        QCOMPARE(options.output_style, 2);
        QCOMPARE(options.indent_type, 0);
        QCOMPARE(options.indent_width, 4);
        QCOMPARE(options.source_map_embed, false);
    }

    void oneConversionPerChange() {
        sass->setFocus();
        sass->moveCursor(QTextCursor::End);
        QTest::keyClick(sass, Qt::Key_Return);
        QTest::keyClicks(sass, "a{b:c}");
        QCOMPARE(form->conversionCount(), 1 + 7);
        QVERIFY(css->toPlainText().endsWith("a {\n    b: c;\n}\n"));

        // Caret moves and selections leave the text as it was.
        QTest::keyClick(sass, Qt::Key_Left);
        QTest::keyClick(sass, Qt::Key_Home);
        QTest::keyClick(sass, Qt::Key_End, Qt::ShiftModifier);
        QTest::keyClick(sass, Qt::Key_Up);
        sass->selectAll();
        QCOMPARE(form->conversionCount(), 8);

        QTest::keyClick(sass, Qt::Key_Backspace);
        QCOMPARE(form->conversionCount(), 9);
        // Setting the same text again changes nothing.
        sass->setPlainText(sass->toPlainText());
        QCOMPARE(form->conversionCount(), 9);
    }

    void surroundingWhiteSpaceIsTrimmed_data() {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::newRow("ascii") << QString(" \t\n\r\n  ") << QString("\n\n \t");
        QTest::newRow("no-break space") << QString(u'\u00a0') << QString(u'\u00a0');
        QTest::newRow("ideographic space") << QString(u'\u3000') << QString(u'\u2003');
        QTest::newRow("line separators") << QString(u'\u2028') << QString(u'\u2029');
    }
    void surroundingWhiteSpaceIsTrimmed() {
        QFETCH(QString, before);
        QFETCH(QString, after);
        // Untrimmed, libsass would keep the non-ASCII spaces as part of the selector;
        // inner white space does reach it.
        setSource(before + "a {\n  b: c  d;\n}" + after);
        QCOMPARE(css->toPlainText(), QString("a {\n    b: c  d;\n}\n"));
        QCOMPARE(message->text(), QString());
    }

    void onlyWhiteSpace() {
        setSource("  \n\t \n");
        QCOMPARE(css->toPlainText(), QString());
        QCOMPARE(message->text(), QString());
        QVERIFY(CompiledIn.match(status->text()).hasMatch());
    }

    void errorShownThenCleared() {
        setSource("a {\n  b: ;\n}");
        QCOMPARE(message->text(), QString("style declaration must contain a value"));
        QCOMPARE(css->toPlainText(), QString());
        QVERIFY2(CompiledIn.match(status->text()).hasMatch(), qPrintable(status->text()));

        // Typing the missing value fixes it on the next keystroke.
        QTextCursor cursor = sass->textCursor();
        cursor.setPosition(sass->toPlainText().indexOf(';'));
        sass->setTextCursor(cursor);
        QTest::keyClicks(sass, "x");
        QCOMPARE(message->text(), QString());
        QCOMPARE(css->toPlainText(), QString("a {\n    b: x;\n}\n"));
    }

    void nonAsciiRoundTrip() {
        setSource(QString::fromUtf8("a { content: \"é→✓\"; }"));
        QCOMPARE(css->toPlainText(), QString::fromUtf8("@charset \"UTF-8\";\na {\n    content: \"é→✓\";\n}\n"));
        QCOMPARE(sass->toPlainText(), QString::fromUtf8("a { content: \"é→✓\"; }"));
    }

    void endlessLoopStoppedAtTheLimit() {
        const QString loop = "$i: 3; @while $i > 0 { .w#{$i} { z: $i } }";
        setSource(loop.chopped(1));
        QTest::keyClicks(sass, "}");
        QCOMPARE(message->text(), QString("Compilation stopped after 2 seconds: the stylesheet does not finish "
                                          "(an endless @while or a very large @for?)"));
        QCOMPARE(sass->toPlainText(), loop);
        QCOMPARE(css->toPlainText(), QString());
        QVERIFY2(CompiledIn.match(status->text()).hasMatch(), qPrintable(status->text()));

        // The edit that ends the loop converts as usual.
        QTextCursor cursor = sass->textCursor();
        cursor.setPosition(loop.size() - 1);
        cursor.insertText("$i: $i - 1; ");
        QCOMPARE(message->text(), QString());
        QCOMPARE(css->toPlainText(), QString(".w3 {\n    z: 3;\n}\n\n.w2 {\n    z: 2;\n}\n\n.w1 {\n    z: 1;\n}\n"));
    }

    void compilerCrashLeavesTheText() {
        const QString crash = "a{b:selector-nest(\"&\")}";
        setSource(crash);
        QCOMPARE(message->text(), QString("The Sass compiler failed on this input (SIGSEGV). Your text is unchanged."));
        QCOMPARE(sass->toPlainText(), crash);
        QCOMPARE(css->toPlainText(), QString());
        setSource("a { b: c }");
        QCOMPARE(message->text(), QString());
        QCOMPARE(css->toPlainText(), QString("a {\n    b: c;\n}\n"));
    }

    void failureTextOfTheLibraryIsShownAsCss() {
        const int saved = options.indent_width;
        options.indent_width = -1;
        setSource("a { b: c }");
        options.indent_width = saved;
        QCOMPARE(css->toPlainText(), QString("ERROR : Unhandled compiler error occurred please contact supplier"));
        QCOMPARE(message->text(), QString());
        QCOMPARE(sass->toPlainText(), QString("a { b: c }"));
    }

    // The compiler counts in the trimmed text; the mark lands in the editor's own text.
    void errorPositionMarkedAndReachable_data() {
        QTest::addColumn<QString>("scss");
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("column");
        QTest::newRow("no surrounding space") << "a {\n  b: $nope;\n}" << 2 << 6;
        QTest::newRow("leading blank lines") << "\n\n\na {\n  b: $nope;\n}\n\n" << 5 << 6;
        QTest::newRow("leading spaces on the first line") << "    a { b: $nope; }" << 1 << 12;
    }
    void errorPositionMarkedAndReachable() {
        QFETCH(QString, scss);
        QFETCH(int, line);
        QFETCH(int, column);
        auto* editor = form->findChild<pelorin::CodeEditor*>("SassEditor");
        QVERIFY(editor);
        setSource(scss);
        QCOMPARE(message->text(), QString("Undefined variable: \"$nope\"."));
        QCOMPARE(editor->errorLine(), line);
        QCOMPARE(message->toolTip(), QString("Go to line %1, column %2").arg(line).arg(column));

        sass->moveCursor(QTextCursor::Start);
        css->setFocus();
        QTest::mouseClick(message, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(sass->hasFocus());
        const QTextCursor caret = sass->textCursor();
        QCOMPARE(caret.blockNumber() + 1, line);
        QCOMPARE(caret.positionInBlock() + 1, column);
        QCOMPARE(sass->toPlainText().mid(caret.position(), 5), QString("$nope"));
        QCOMPARE(sass->toPlainText(), scss);

        // The next good conversion takes the mark and the hint away.
        setSource("a { b: c }");
        QCOMPARE(editor->errorLine(), 0);
        QCOMPARE(message->toolTip(), QString());
    }

    // A @use the compiler would copy into the CSS is refused: no CSS, the rule
    // named in the message, its line marked, and the click goes to it.
    void moduleRuleRefusedAndReachable() {
        auto* editor = form->findChild<pelorin::CodeEditor*>("SassEditor");
        QVERIFY(editor);
        const QString scss = "\n$w: 10px;\n.a {\n  @use \"sass:math\";\n  width: math.div($w, 3);\n}";
        setSource(scss);
        QVERIFY2(message->text().startsWith("@use is not supported by libsass"), qPrintable(message->text()));
        QCOMPARE(css->toPlainText(), QString());
        QCOMPARE(editor->errorLine(), 4);
        // The message is longer than the strip: the tool tip holds all of it and the place.
        QVERIFY2(message->toolTip().endsWith("Go to line 4, column 3"), qPrintable(message->toolTip()));

        sass->moveCursor(QTextCursor::Start);
        css->setFocus();
        QTest::mouseClick(message, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(sass->hasFocus());
        const QTextCursor caret = sass->textCursor();
        QCOMPARE(caret.blockNumber() + 1, 4);
        QCOMPARE(sass->toPlainText().mid(caret.position(), 4), QString("@use"));
        QCOMPARE(sass->toPlainText(), scss);
    }

    void cssViewStaysPutAcrossConversions() {
        QString scss;
        for (int i = 0; i < 300; ++i)
            scss += QString(".r%1 { width: %1px; }\n").arg(i);
        setSource(scss);
        // A selection before the change survives too.
        QTextCursor selection = css->textCursor();
        selection.setPosition(0);
        selection.setPosition(4, QTextCursor::KeepAnchor);
        css->setTextCursor(selection);
        QScrollBar* bar = css->verticalScrollBar();
        QVERIFY(bar->maximum() > 100);
        bar->setValue(bar->maximum() / 2);
        const int scrolled = bar->value();

        // One edit that keeps the stylesheet valid (a half-typed rule would empty the CSS).
        sass->moveCursor(QTextCursor::End);
        sass->insertPlainText(".last { a: b }");
        QVERIFY(css->toPlainText().endsWith(".last {\n    a: b;\n}\n"));
        QVERIFY(css->toPlainText().startsWith(".r0 {\n    width: 0px;\n}\n"));
        QCOMPARE(bar->value(), scrolled);
        QCOMPARE(css->textCursor().selectedText(), QString(".r0 "));
        // The read-only view keeps no undo history of its own updates.
        QVERIFY(!css->document()->isUndoAvailable());
    }

    void highlightingConvertsNothing() {
        // The highlighters' first passes are queued; let them run.
        QTest::qWait(50);
        QCOMPARE(form->conversionCount(), 1);
        const int before = form->conversionCount();
        sass->moveCursor(QTextCursor::Start);
        QTest::keyClicks(sass, "/*");
        QCOMPARE(form->conversionCount(), before + 2);
        QTest::qWait(20);
        QCOMPARE(form->conversionCount(), before + 2);
    }

    // An error while a rule is half typed empties the view; the next good
    // conversion brings the reader back where they were.
    void cssViewKeepsItsPlaceAcrossAnError() {
        QString scss;
        for (int i = 0; i < 300; ++i)
            scss += QString(".r%1 { width: %1px; }\n").arg(i);
        setSource(scss);
        QScrollBar* bar = css->verticalScrollBar();
        bar->setValue(bar->maximum() / 2);
        const int scrolled = bar->value();
        QVERIFY(scrolled > 100);
        const int at = int(css->toPlainText().indexOf(".r150 {"));
        QTextCursor selection = css->textCursor();
        selection.setPosition(at);
        selection.setPosition(at + 5, QTextCursor::KeepAnchor);
        css->setTextCursor(selection);
        bar->setValue(scrolled);

        sass->setFocus();
        sass->moveCursor(QTextCursor::End);
        QTest::keyClicks(sass, ".last {");
        QVERIFY(!message->text().isEmpty());
        QCOMPARE(css->toPlainText(), QString());
        QTest::keyClicks(sass, " a: b");
        QCOMPARE(css->toPlainText(), QString());
        QTest::keyClicks(sass, " }");
        QCOMPARE(message->text(), QString());
        QVERIFY(css->toPlainText().endsWith(".r299 {\n    width: 299px;\n}\n\n.last {\n    a: b;\n}\n"));
        QCOMPARE(bar->value(), scrolled);
        QCOMPARE(css->textCursor().selectedText(), QString(".r150"));
        QCOMPARE(css->textCursor().selectionStart(), at);
        QVERIFY(!css->document()->isUndoAvailable());
    }

    // A selection that overlapped the replaced part is cleared, one before or
    // after it stays on its text, one on the whole text stays on the whole.
    void cssSelectionNeverSurvivesAsAFragment_data() {
        QTest::addColumn<QString>("selected");  // the text selected before the change
        QTest::addColumn<QString>("after");     // what is selected after it
        QTest::newRow("before the change") << "border: none;" << "border: none;";
        QTest::newRow("after the change") << "outline: none;" << "outline: none;";
        QTest::newRow("overlapping the change") << "flex;\n    border" << "";
        QTest::newRow("inside the change") << "fle" << "";
        QTest::newRow("round the change") << "display: flex;\n    border" << "";
    }
    void cssSelectionNeverSurvivesAsAFragment() {
        QFETCH(QString, selected);
        QFETCH(QString, after);
        const int at = int(css->toPlainText().indexOf(selected));
        QVERIFY(at >= 0);
        QTextCursor selection = css->textCursor();
        selection.setPosition(at);
        selection.setPosition(at + int(selected.size()), QTextCursor::KeepAnchor);
        css->setTextCursor(selection);

        QTextCursor edit = sass->textCursor();
        const int flex = int(sass->toPlainText().indexOf("flex;"));
        edit.setPosition(flex);
        edit.setPosition(flex + 4, QTextCursor::KeepAnchor);
        edit.insertText("grid");
        QVERIFY(css->toPlainText().contains("display: grid;"));
        QCOMPARE(css->textCursor().selectedText(), QString(after).replace(u'\n', QChar::ParagraphSeparator));
    }

    // "Select All and Copy", then another output style: the whole new text is
    // selected and copied, never a lone "}".
    void wholeSelectionStaysWhole() {
        form->findChild<QAction*>("CssEditorCtxSAllCopy")->trigger();
        for (const char* style : {"compactToolStripMenuItem", "compressedToolStripMenuItem"}) {
            form->findChild<QAction*>(style)->trigger();
            const QTextCursor selection = css->textCursor();
            QCOMPARE(selection.selectionStart(), 0);
            QCOMPARE(selection.selectionEnd(), int(css->toPlainText().size()));
            form->findChild<QAction*>("CssEditorCtxCopy")->trigger();
            QCOMPARE(QGuiApplication::clipboard()->text(), css->toPlainText());
        }
        // Through an error too.
        setSource("a { b: c }");
        form->findChild<QAction*>("CssEditorCtxSAllCopy")->trigger();
        setSource("a { b: c");
        QCOMPARE(css->toPlainText(), QString());
        setSource("a { b: d }");
        QCOMPARE(css->textCursor().selectedText(), css->toPlainText().replace(u'\n', QChar::ParagraphSeparator));
        form->findChild<QAction*>("expandedToolStripMenuItem")->trigger();
    }

    // libsass would read only up to a NUL and convert the rest silently: the
    // text is refused, with an error at the NUL's place.
    void nulCharacterRefused() {
        auto* editor = form->findChild<pelorin::CodeEditor*>("SassEditor");
        const QString scss = "\n  a { b: c; }\nd {" + QString(QChar(0)) + " e: f; }";
        setSource(scss);
        QCOMPARE(pelorin::documentText(*sass->document()), scss);
        QCOMPARE(form->conversionCount(), 2);
        QCOMPARE(message->text(), QString("The text holds a NUL character (line 3, column 4), which the compiler "
                                          "cannot read: remove it to convert the text."));
        QCOMPARE(css->toPlainText(), QString());
        QVERIFY2(CompiledIn.match(status->text()).hasMatch(), qPrintable(status->text()));
        QCOMPARE(editor->errorLine(), 3);
        QCOMPARE(message->toolTip(), QString("Go to line 3, column 4"));
        sass->moveCursor(QTextCursor::Start);
        QTest::mouseClick(message, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(sass->textCursor().blockNumber(), 2);
        QCOMPARE(sass->textCursor().positionInBlock(), 3);

        // Deleting it converts as usual.
        QTest::keyClick(sass, Qt::Key_Delete);
        QCOMPARE(message->text(), QString());
        QCOMPARE(css->toPlainText(), QString("a {\n    b: c;\n}\n\nd {\n    e: f;\n}\n"));
        QCOMPARE(editor->errorLine(), 0);
    }

    // The conversion's warnings show at their lines of the editor's text,
    // painted only; the message and status lines say what they said before.
    void warningsShownAtTheirLines() {
        if (!libraryWarns())
            QSKIP("the library reports no warnings yet: warning_count() is 0 for @warn \"x\";");
        auto* editor = form->findChild<pelorin::CodeEditor*>("SassEditor");
        const QString scss = "\n\n  a { b: c; }\n@warn \"careful\";\n\n@debug 2;\nd { e: f; }";
        setSource(scss);
        QCOMPARE(message->text(), QString());
        QVERIFY2(CompiledIn.match(status->text()).hasMatch(), qPrintable(status->text()));
        QCOMPARE(css->toPlainText(), QString("a {\n    b: c;\n}\n\nd {\n    e: f;\n}\n"));
        QCOMPARE(editor->warningLines(), QList<int>({4, 6}));
        QCOMPARE(editor->warningsAt(4), QStringList({"WARNING: careful"}));
        QCOMPARE(editor->warningsAt(6), QStringList({"DEBUG: 2"}));

        // Converting again (an option) shows them again and touches nothing else.
        const int undoSteps = sass->document()->availableUndoSteps();
        const int conversions = form->conversionCount();
        form->findChild<QAction*>("expandedToolStripMenuItem")->trigger();
        form->grab();
        QCOMPARE(form->conversionCount(), conversions + 1);
        QCOMPARE(pelorin::documentText(*sass->document()), scss);
        QCOMPARE(sass->document()->availableUndoSteps(), undoSteps);
        QCOMPARE(editor->warningLines(), QList<int>({4, 6}));

        // Warnings raised before an error show with it; the message is the error alone.
        setSource("@warn \"first\";\na { b: $nope; }");
        QCOMPARE(message->text(), QString("Undefined variable: \"$nope\"."));
        QCOMPARE(editor->warningLines(), QList<int>({1}));
        QCOMPARE(editor->warningsAt(1), QStringList({"WARNING: first"}));

        // The next conversion replaces them, or clears them.
        setSource("a { b: c; }\n\n@warn \"only\";");
        QCOMPARE(editor->warningLines(), QList<int>({3}));
        setSource("a { b: c; }");
        QCOMPARE(editor->warningLines(), QList<int>());
    }

    // The footer counts the warnings, the ones past those kept included, and goes to the
    // first in the text (the count of those not kept shows on line 1); hidden at none.
    void warningCountInTheFooter_data() {
        QTest::addColumn<QString>("scss");
        QTest::addColumn<QString>("count");
        QTest::addColumn<int>("firstLine");
        QTest::newRow("none") << "a { b: c; }" << QString() << 0;
        QTest::newRow("one") << "a { b: c; }\n\n@warn \"x\";" << "1 warning" << 3;
        QTest::newRow("two") << "a { b: c; }\n@debug 1;\n@warn \"x\";" << "2 warnings" << 2;
        QTest::newRow("past those kept") << "a { b: c; }\n@for $i from 1 through 150 { @warn \"w#{$i}\"; }"
                                         << "150 warnings" << 1;
        QTest::newRow("before an error") << "@warn \"first\";\na { b: $nope; }" << "1 warning" << 1;
    }
    void warningCountInTheFooter() {
        QFETCH(QString, scss);
        QFETCH(QString, count);
        QFETCH(int, firstLine);
        auto* label = form->findChild<pelorin::ChromeLabel*>("WarningCountLabel");
        QVERIFY(label);
        QVERIFY(!label->isVisible());
        setSource(scss);
        QCOMPARE(label->isVisible(), !count.isEmpty());
        if (count.isEmpty())
            return;
        QCOMPARE(label->text(), count);
        QCOMPARE(QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name), count);
        // Left of the status line.
        QVERIFY(label->geometry().right() < status->x());
        sass->moveCursor(QTextCursor::End);
        css->setFocus();
        QTest::mouseClick(label, Qt::LeftButton, {}, label->rect().center());
        QVERIFY(sass->hasFocus());
        QCOMPARE(sass->textCursor().blockNumber() + 1, firstLine);
        // Return on it does the same.
        sass->moveCursor(QTextCursor::End);
        label->setFocus(Qt::TabFocusReason);
        QTest::keyClick(label, Qt::Key_Return);
        QCOMPARE(sass->textCursor().blockNumber() + 1, firstLine);
        QCOMPARE(sass->toPlainText(), scss);
        setSource("a { b: c; }");
        QVERIFY(!label->isVisible());
    }

    // An error inside an @import'ed partial: the message names the partial and its line,
    // the tool tip also the @import's place, and the click goes to the @import.
    void errorInAnImportedFile() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(QDir(dir.path()).mkpath("partials"));
        QFile partial(dir.filePath("partials/_broken.scss"));
        QVERIFY(partial.open(QIODevice::WriteOnly));
        partial.write("a {\n  b: c;\n  d: $nope;\n}\n");
        partial.close();
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        setSource("\n.x { y: z }\n@import \"partials/broken\";\n");
        QVERIFY(QDir::setCurrent(previous));
        QCOMPARE(message->text(), QString("Undefined variable: \"$nope\". (in partials/_broken.scss, line 3)"));
        const QRegularExpression tip(
            "^In (.*_broken\\.scss), imported at line 3, column (\\d+)\nGo to line 3, column (\\d+)$");
        const QRegularExpressionMatch match = tip.match(message->toolTip());
        QVERIFY2(match.hasMatch(), qPrintable(message->toolTip()));
        auto* editor = form->findChild<pelorin::CodeEditor*>("SassEditor");
        QCOMPARE(editor->errorLine(), 3);
        sass->moveCursor(QTextCursor::Start);
        QTest::mouseClick(message, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(sass->textCursor().blockNumber(), 2);
    }

    // A message wider than the strip, or of several lines, is shown cut with an
    // ellipsis; text() stays whole and the tool tip holds all of it.
    void longMessageShownCut() {
        auto* label = form->findChild<pelorin::ElidedLabel*>("MessageBox");
        QVERIFY(label);
        QCOMPARE(label->textFormat(), Qt::PlainText);
        const QString words = QString("a very long message ").repeated(20) + "<b>end</b>";
        setSource("a { b: c; }\n@error \"" + words + "\";");
        QCOMPARE(message->text(), words);
        QVERIFY(label->isElided());
        QVERIFY(label->shownText().endsWith(QChar(0x2026)));
        QVERIFY(words.startsWith(label->shownText().chopped(1)));
        // Plain text in the tool tip too, though it holds something like markup.
        const QRegularExpressionMatch column = QRegularExpression("column (\\d+)</p>$").match(message->toolTip());
        QVERIFY2(column.hasMatch(), qPrintable(message->toolTip()));
        QCOMPARE(message->toolTip(), Qt::convertFromPlainText(words + "\nGo to line 2, column " + column.captured(1),
                                                              Qt::WhiteSpaceNormal));
        QCoreApplication::processEvents();
        QVERIFY(label->geometry().right() <= label->parentWidget()->width());
        QVERIFY(label->height() < 26);

        setSource("@error \"first line\\a second line\";");
        QCOMPARE(message->text(), QString("first line\nsecond line"));
        QVERIFY(label->isElided());
        QCOMPARE(label->shownText(), "first line" + QString(QChar(0x2026)));
        QVERIFY(message->toolTip().startsWith(message->text() + "\nGo to line 1, column "));
        QVERIFY(label->height() < 26);

        // A short message fits again, with the tool tip as before.
        setSource("a {\n  b: $nope;\n}");
        QVERIFY(!label->isElided());
        QCOMPARE(label->shownText(), message->text());
        QCOMPARE(message->toolTip(), QString("Go to line 2, column 6"));
    }

    // Lines with no break opportunity wrap anywhere (word-boundary wrapping is
    // quadratic on them); ordinary CSS keeps word wrap. Their speed is measured in bench_window.
    void longLinesWrapAnywhere() {
        auto* cssEditor = form->findChild<pelorin::CodeEditor*>("CssEditor");
        auto* sassEditor = form->findChild<pelorin::CodeEditor*>("SassEditor");
        QString scss;
        for (int i = 0; i < 1500; ++i)
            scss += QString(".r%1 { width: %1px; }\n").arg(i);
        setSource(scss);
        QCOMPARE(cssEditor->document()->defaultTextOption().wrapMode(), QTextOption::WrapAtWordBoundaryOrAnywhere);
        QAction* map = form->findChild<QAction*>("sourceMapEmbedToolStripMenuItem");
        map->trigger();
        QVERIFY(css->toPlainText().contains("sourceMappingURL=data:application/json;base64,"));
        QVERIFY(longestLine(css->toPlainText()) > pelorin::LongLineLength);
        QCOMPARE(cssEditor->document()->defaultTextOption().wrapMode(), QTextOption::WrapAnywhere);
        const QTextBlock mapLine = cssEditor->document()->lastBlock();
        QVERIFY(mapLine.text().startsWith("/*# sourceMappingURL="));
        cssEditor->document()->documentLayout()->blockBoundingRect(mapLine);  // lays it out
        QVERIFY(mapLine.layout()->lineCount() > 10);
        map->trigger();
        QCOMPARE(cssEditor->document()->defaultTextOption().wrapMode(), QTextOption::WrapAtWordBoundaryOrAnywhere);

        // A pasted one-line selector in the SCSS editor, and its CSS.
        setSource(".a" + QString(20000, u'b') + " { c: d }");
        QCOMPARE(sassEditor->document()->defaultTextOption().wrapMode(), QTextOption::WrapAnywhere);
        QCOMPARE(cssEditor->document()->defaultTextOption().wrapMode(), QTextOption::WrapAnywhere);
        setSource("a { b: c }");
        QCOMPARE(sassEditor->document()->defaultTextOption().wrapMode(), QTextOption::WrapAtWordBoundaryOrAnywhere);
        QCOMPARE(cssEditor->document()->defaultTextOption().wrapMode(), QTextOption::WrapAtWordBoundaryOrAnywhere);
    }
};

QTEST_MAIN(TstPelorinForm)
#include "tst_pelorinform.moc"
