#include "CodeEditor.h"
#include "FindBar.h"
#include "OpenForm.h"
#include "Options.h"
#include "PelorinForm.h"

#include <QAccessible>
#include <QApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QToolButton>
#include <QToolTip>
#include <QtTest>

using pelorin::CodeEditor;
using pelorin::FindBar;
using pelorin::PelorinForm;

namespace {

// Whether the library reports warnings for this text (before it does, the
// tests that need them skip).
bool libraryWarns(const char* scss = "@warn \"x\";") {
    VantorCompiler::CompilerOptions o;
    o.input = sass_copy_c_string(scss);
    VantorCompiler::compile(o);
    const bool warns = VantorCompiler::warning_count() > 0;
    VantorCompiler::free_memory();
    return warns;
}

// Warnings on lines 2 and 4, the first too long to be shown whole after its
// short line; the rule on line 5 has an undefined variable at column 8.
const QString Problems = QStringLiteral(
    "$first: \"the first of two warnings, long enough that it cannot be shown whole after its line\";\n"
    "@warn $first;\n"
    "x { y: z; }\n"
    "@warn \"the second\";\n"
    "d { e: $nope; }\n");

}  // namespace

class TstFirstHourMarks : public QObject {
    Q_OBJECT

    PelorinForm* form = nullptr;
    CodeEditor* sass = nullptr;
    CodeEditor* css = nullptr;
    QLabel* message = nullptr;

    template <typename T = QWidget>
    T* child(QWidget* parent, const char* name) {
        auto* w = parent->findChild<T*>(name);
        if (!w)
            qFatal("no %s", name);
        return w;
    }
    FindBar* barOf(CodeEditor* editor) { return child<FindBar>(form, editor == sass ? "SassFindBar" : "CssFindBar"); }
    QLineEdit* findField(FindBar* bar) { return child<QLineEdit>(bar, "findField"); }
    QString result(FindBar* bar) { return child<QLabel>(bar, "resultLabel")->text(); }

    void setSource(const QString& text, int caret = 0) {
        sass->setPlainText(text);
        QTextCursor cursor = sass->textCursor();
        cursor.setPosition(caret);
        sass->setTextCursor(cursor);
    }
    // The caret's place, 1-based.
    static std::pair<int, int> caretOf(const QPlainTextEdit* editor) {
        const QTextCursor caret = editor->textCursor();
        return {caret.blockNumber() + 1, caret.positionInBlock() + 1};
    }
    // A row of line `line` (1-based) in viewport coordinates, the view's whole width.
    static QRect lineRow(const QPlainTextEdit* editor, int line) {
        QTextCursor cursor(editor->document()->findBlockByNumber(line - 1));
        const QRect caret = editor->cursorRect(cursor);
        return QRect(0, caret.top(), editor->viewport()->width(), caret.height());
    }
    // Sends a tool tip request to the editor's viewport at `at`.
    static void hover(QPlainTextEdit* editor, QPoint at) {
        QHelpEvent request(QEvent::ToolTip, at, editor->viewport()->mapToGlobal(at));
        QApplication::sendEvent(editor->viewport(), &request);
    }
    // Where the tool tip shows on the screen.
    static QRect toolTipGeometry() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->inherits("QTipLabel") && w->isVisible())
                return w->geometry();
        }
        return QRect();
    }

private slots:
    void init() {
        QVERIFY(openForm(form, sass, css));
        message = form->findChild<QLabel*>("MessageBox");
        QVERIFY(message);
        sass->setFocus();
    }
    void cleanup() {
        QToolTip::hideText();
        delete form;
        form = nullptr;
    }

    // The dimmed text after a warned line is cut at the view's edge; hovering it
    // shows the warning whole. Hovering the line's own text or an unwarned line
    // shows nothing, the error's line its error.
    void hoveringAWarningShowsItWhole() {
        if (!libraryWarns())
            QSKIP("the library reports no warnings");
        setSource(Problems);
        const QStringList texts = sass->warningsAt(2);
        QCOMPARE(texts.size(), 1);
        QVERIFY2(texts.first().contains("cannot be shown whole after its line"), qPrintable(texts.first()));

        QTextCursor end(sass->document()->findBlockByNumber(1));
        end.movePosition(QTextCursor::EndOfBlock);
        const QRect lineEnd = sass->cursorRect(end);
        const QRect row = lineRow(sass, 2);
        QVERIFY(lineEnd.right() + 100 < row.right());
        for (const int x : {lineEnd.right() + 80, row.right() - 12}) {
            hover(sass, QPoint(x, row.center().y()));
            QTRY_VERIFY(QToolTip::isVisible());
            QCOMPARE(QToolTip::text(), texts.first());
            hover(sass, QPoint(lineEnd.left() / 2, row.center().y()));
            QTRY_VERIFY(!QToolTip::isVisible());
        }
        const QRect plain = lineRow(sass, 3);
        hover(sass, QPoint(lineEnd.right() + 80, plain.center().y()));
        QTest::qWait(50);
        QVERIFY(!QToolTip::isVisible());
        // The error's line, marked all along, tells its error.
        QCOMPARE(sass->errorLine(), 5);
        hover(sass, QPoint(row.center().x(), lineRow(sass, 5).center().y()));
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), "Error: " + message->text());
    }

    // F8 and Shift+F8 go round the warnings and the error in text order,
    // wrapping at the ends, from either editor: the caret goes to the place,
    // a tool tip there shows the whole text and the editor's accessible
    // description says it (what a screen reader reads out; the offscreen
    // platform cannot turn accessibility on, so the change is read back, not
    // caught as an event). The message line keeps the error.
    void f8WalksTheProblems() {
        if (!libraryWarns())
            QSKIP("the library reports no warnings");
        setSource(Problems);
        QCOMPARE(sass->warningLines(), QList<int>({2, 4}));
        QCOMPARE(sass->errorLine(), 5);
        const QString error = message->text();
        QCOMPARE(error, QString("Undefined variable: \"$nope\"."));
        const QString first = sass->warningsAt(2).first();
        const QString second = sass->warningsAt(4).first();
        const QString errorTip = "Error: " + error;

        QAccessibleInterface* editorForReaders = QAccessible::queryAccessibleInterface(sass);
        QVERIFY(editorForReaders);

        struct Step {
            Qt::KeyboardModifiers modifiers;
            int line;
            int column;
            QString text;
        };
        const QList<Step> steps{
            {Qt::NoModifier, 2, 1, first}, {Qt::NoModifier, 4, 1, second},      {Qt::NoModifier, 5, 8, errorTip},
            {Qt::NoModifier, 2, 1, first}, {Qt::ShiftModifier, 5, 8, errorTip}, {Qt::ShiftModifier, 4, 1, second},
        };
        const int conversions = form->conversionCount();
        const QString text = sass->toPlainText();
        for (const Step& step : steps) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_F8, step.modifiers);
            QCOMPARE(caretOf(sass), std::make_pair(step.line, step.column));
            QVERIFY(sass->hasFocus());
            QTRY_VERIFY(QToolTip::isVisible());
            QCOMPARE(QToolTip::text(), step.text);
            // Shown at the caret, not where the mouse happens to be.
            const QRect caret = sass->cursorRect();
            const QPoint caretOnScreen = sass->viewport()->mapToGlobal(caret.bottomLeft());
            const QRect tip = toolTipGeometry();
            QVERIFY2(qAbs(tip.top() - caretOnScreen.y()) < 3 * caret.height() &&
                         qAbs(tip.left() - caretOnScreen.x()) < 3 * caret.height(),
                     qPrintable(QString("tip at %1,%2, caret at %3,%4")
                                    .arg(tip.left())
                                    .arg(tip.top())
                                    .arg(caretOnScreen.x())
                                    .arg(caretOnScreen.y())));
            QCOMPARE(editorForReaders->text(QAccessible::Description), step.text);
            QCOMPARE(message->text(), error);
        }
        QCOMPARE(sass->toPlainText(), text);
        QCOMPARE(form->conversionCount(), conversions);

        // From the CSS editor the SCSS editor takes the focus.
        css->setFocus();
        QTest::keyClick(css, Qt::Key_F8);
        QCOMPARE(caretOf(sass), std::make_pair(5, 8));
        QVERIFY(sass->hasFocus());

        // Moving on takes the tool tip away and gives the editor its own description back.
        QTest::keyClick(sass, Qt::Key_Home);
        QCOMPARE(editorForReaders->text(QAccessible::Description), QString("SCSS input"));
        QTRY_VERIFY(!QToolTip::isVisible());
    }

    // The entry the footer's warning count uses: the first warning, past an
    // error before it; nothing to go to without warnings. F8 then goes on from there.
    void goToFirstWarning() {
        if (!libraryWarns())
            QSKIP("the library reports no warnings");
        setSource("a { b: $nope; }\n@warn \"late\";\n");
        // libsass stops at the error: nothing after it warns.
        QVERIFY(sass->warningLines().isEmpty());
        QVERIFY(!sass->goToFirstWarning());
        QCOMPARE(caretOf(sass), std::make_pair(1, 1));

        setSource("@warn \"early\";\n\n@warn \"late\";\n", 20);
        QVERIFY(sass->goToFirstWarning());
        QCOMPARE(caretOf(sass), std::make_pair(1, 1));
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), QString("WARNING: early"));
        QTest::keyClick(sass, Qt::Key_F8);
        QCOMPARE(caretOf(sass), std::make_pair(3, 1));

        // Without any problem F8 goes nowhere.
        setSource("a { b: c; }", 4);
        QTest::keyClick(sass, Qt::Key_F8);
        QCOMPARE(caretOf(sass), std::make_pair(1, 5));
        QVERIFY(!sass->goToProblem(true));
    }

    // Replace All says how many it replaced where the count of matches shows,
    // until the next search or step.
    void replaceAllSaysHowMany() {
        setSource("a { b: red; c: red; d: red; }");
        FindBar* bar = barOf(sass);
        QTest::keyClick(sass, Qt::Key_H, Qt::ControlModifier);
        QTest::keyClicks(findField(bar), "red");
        QTest::keyClicks(child<QLineEdit>(bar, "replaceField"), "blue");
        QCOMPARE(result(bar), QString("1 of 3"));
        child<QToolButton>(bar, "replaceAllButton")->click();
        QCOMPARE(sass->toPlainText(), QString("a { b: blue; c: blue; d: blue; }"));
        QCOMPARE(result(bar), QString("3 replaced"));
        QCOMPARE(QAccessible::queryAccessibleInterface(child<QLabel>(bar, "resultLabel"))->text(QAccessible::Name),
                 QString("3 replaced"));
        findField(bar)->setText("blue");
        QCOMPARE(result(bar), QString("1 of 3"));
        child<QToolButton>(bar, "replaceAllButton")->click();
        QCOMPARE(result(bar), QString("3 replaced"));
        QCOMPARE(sass->toPlainText(), QString("a { b: blue; c: blue; d: blue; }"));
    }

    // While the find bar shows, the text starts below it: the first line
    // stays in view and a click on it, under the bar's columns, reaches it.
    // Closing the bar gives the room back.
    void findBarLeavesTheFirstLine_data() {
        QTest::addColumn<QString>("editor");
        QTest::newRow("SCSS") << "SassEditor";
        QTest::newRow("CSS") << "CssEditor";
    }
    void findBarLeavesTheFirstLine() {
        QFETCH(QString, editor);
        auto* e = child<CodeEditor>(form, qPrintable(editor));
        setSource(".first-line-of-the-text-reaching-under-the-find-bar-on-the-right { colour: red; }\n" +
                  QString("a { b: c; }\n").repeated(60));
        const QRect viewportBefore = e->viewport()->geometry();
        const QRect gutterBefore = child(e, "gutter")->geometry();
        FindBar* bar = barOf(e);
        e->setFocus();
        QTest::keyClick(e, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(bar->isVisible());
        QTest::keyClicks(findField(bar), "zzz");
        QCoreApplication::processEvents();

        const QRect row = lineRow(e, 1);
        QVERIFY(row.top() >= 0);
        const QRect rowInPane(e->viewport()->mapTo(bar->parentWidget(), row.topLeft()), row.size());
        QVERIFY2(!bar->geometry().intersects(rowInPane), "the bar covers the first line");
        // The gutter's numbers stay beside their lines.
        QWidget* gutter = child(e, "gutter");
        QCOMPARE(gutter->mapTo(e, QPoint(0, 0)).y(), e->viewport()->mapTo(e, QPoint(0, 0)).y());

        const int underBar = e->viewport()->mapFrom(bar->parentWidget(), bar->geometry().center()).x();
        const QPoint target(underBar, row.center().y());
        const QPoint inForm = e->viewport()->mapTo(form, target);
        QCOMPARE(form->childAt(inForm), e->viewport());
        QTest::mouseClick(e->viewport(), Qt::LeftButton, {}, target);
        QCOMPARE(e->textCursor().blockNumber(), 0);

        e->setFocus();
        QTest::keyClick(e, Qt::Key_Escape);
        QVERIFY(!bar->isVisible());
        QCOMPARE(e->viewport()->geometry(), viewportBefore);
        QCOMPARE(gutter->geometry(), gutterBefore);
    }

    // A search that finds nothing leaves no earlier match selected.
    void noResultsClearsTheMatch_data() { findBarLeavesTheFirstLine_data(); }
    void noResultsClearsTheMatch() {
        QFETCH(QString, editor);
        auto* e = child<CodeEditor>(form, qPrintable(editor));
        setSource("a { b: red; }\nc { d: red; }");
        e->moveCursor(QTextCursor::Start);
        FindBar* bar = barOf(e);
        e->setFocus();
        QTest::keyClick(e, Qt::Key_F, Qt::ControlModifier);
        QTest::keyClicks(findField(bar), "red");
        QCOMPARE(e->textCursor().selectedText(), QString("red"));
        const int at = e->textCursor().selectionStart();
        QTest::keyClicks(findField(bar), "x");
        QCOMPARE(result(bar), QString("No results"));
        QVERIFY(!e->textCursor().hasSelection());
        QCOMPARE(e->textCursor().position(), at);
        // Found again, selected again.
        QTest::keyClick(findField(bar), Qt::Key_Backspace);
        QCOMPARE(e->textCursor().selectedText(), QString("red"));
        QCOMPARE(e->textCursor().selectionStart(), at);
    }

    // After an error is fixed the CSS view is where it was, scrolled and
    // highlighted, without being filled again; its find bar, gutter and text
    // follow.
    void cssViewComesBackWhereItWas() {
        QString scss;
        for (int i = 0; i < 2000; ++i)
            scss += QString(".r%1 { width: %1px; color: red; }\n").arg(i);
        setSource(scss);
        const QString before = css->toPlainText();
        QScrollBar* bar = css->verticalScrollBar();
        bar->setValue(bar->maximum() / 2);
        QCoreApplication::processEvents();
        const int scrolled = bar->value();
        QVERIFY(scrolled > 1000);
        const int top = css->firstShownBlock().blockNumber();
        const int gutterWidth = child(css, "gutter")->width();
        QTextDocument* shown = css->document();
        QVERIFY(!css->firstShownBlock().layout()->formats().isEmpty());
        QSignalSpy edits(shown, &QTextDocument::contentsChange);

        css->setFocus();
        FindBar* finder = barOf(css);
        QTest::keyClick(css, Qt::Key_F, Qt::ControlModifier);
        QTest::keyClicks(findField(finder), ".r1000 ");
        QCOMPARE(result(finder), QString("1 of 1"));
        bar->setValue(scrolled);
        const QTextCursor caret = css->textCursor();

        sass->setFocus();
        sass->moveCursor(QTextCursor::End);
        QTest::keyClicks(sass, ".x {");
        QVERIFY(!message->text().isEmpty());
        QCOMPARE(css->toPlainText(), QString());
        QCOMPARE(css->currentText(), QString());
        QCOMPARE(result(finder), QString("No results"));
        QVERIFY(child(css, "gutter")->width() < gutterWidth);
        // Zoomed while the error shows: the text comes back in the new size.
        css->setFocus();
        QTest::keyClick(css, Qt::Key_Equal, Qt::ControlModifier);
        sass->setFocus();
        QTest::keyClicks(sass, "}");
        QCOMPARE(message->text(), QString());

        QCOMPARE(css->toPlainText(), before);
        QCOMPARE(css->currentText(), before);
        QCOMPARE(css->firstShownBlock().blockNumber(), top);
        QCOMPARE(bar->value(), scrolled);
        QCOMPARE(css->textCursor().anchor(), caret.anchor());
        QCOMPARE(css->textCursor().position(), caret.position());
        QCOMPARE(css->document(), shown);
        QCOMPARE(edits.count(), 0);
        QCOMPARE(css->document()->defaultFont(), css->font());
        css->setFocus();
        QTest::keyClick(css, Qt::Key_0, Qt::ControlModifier);
        sass->setFocus();
        QCOMPARE(css->firstShownBlock().blockNumber(), top);
        QCOMPARE(child(css, "gutter")->width(), gutterWidth);
        QCOMPARE(result(finder), QString("1 of 1"));
        css->grab();
        QVERIFY(!css->firstShownBlock().layout()->formats().isEmpty());

        // The next conversion edits the same document in place.
        sass->moveCursor(QTextCursor::Start);
        QTest::keyClicks(sass, ".top { a: b }");
        QTest::keyClick(sass, Qt::Key_Return);
        QVERIFY(css->toPlainText().startsWith(".top {\n    a: b;\n}\n"));
        QCOMPARE(css->currentText(), css->toPlainText());
        QCOMPARE(css->document(), shown);
        QCOMPARE(result(finder), QString("1 of 1"));
        QCOMPARE(css->textCursor().selectedText(), QString(".r1000 "));
    }

    // The window after F8 with its tool tip, and the find bar over the text,
    // saved where VANTOR_SCREENSHOTS points.
    void screenshot() {
        const QString folder = qEnvironmentVariable("VANTOR_SCREENSHOTS");
        if (folder.isEmpty())
            QSKIP("VANTOR_SCREENSHOTS not set");
        setSource(Problems);
        QTest::keyClick(sass, Qt::Key_F8);
        QTRY_VERIFY(QToolTip::isVisible());
        QVERIFY(form->grab().save(folder + "/problem-window.png"));
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->inherits("QTipLabel") && w->isVisible())
                QVERIFY(w->grab().save(folder + "/problem-tooltip.png"));
        }
        QTest::keyClick(sass, Qt::Key_F, Qt::ControlModifier);
        QTest::keyClicks(findField(barOf(sass)), "warn");
        QVERIFY(form->grab().save(folder + "/findbar-above-text.png"));
    }
};

QTEST_MAIN(TstFirstHourMarks)
#include "tst_firsthour_marks.moc"
