#include "CodeEditor.h"
#include "FindBar.h"
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
    // A row of line `line` (1-based) in viewport coordinates, the view's whole width.
    static QRect lineRow(const QPlainTextEdit* editor, int line) {
        QTextCursor cursor(editor->document()->findBlockByNumber(line - 1));
        const QRect caret = editor->cursorRect(cursor);
        return QRect(0, caret.top(), editor->viewport()->width(), caret.height());
    }

private slots:
    void init() {
        options = VantorCompiler::CompilerOptions();
        form = new PelorinForm;
        sass = form->findChild<CodeEditor*>("SassEditor");
        css = form->findChild<CodeEditor*>("CssEditor");
        message = form->findChild<QLabel*>("MessageBox");
        QVERIFY(sass && css && message);
        form->show();
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form));
        sass->setFocus();
    }
    void cleanup() {
        QToolTip::hideText();
        delete form;
        form = nullptr;
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

};

QTEST_MAIN(TstFirstHourMarks)
#include "tst_firsthour_marks.moc"
